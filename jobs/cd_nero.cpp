#include "jobs/cd_nero.h"

#include "jobs/copy_step.h"
#include "platform/platform.h"

bool CCDNero::CopyAddin() {
    return CopyAddinTree(addinSourceFolder, addinTargetFolder);
}

// addinTargetFolder already ends in a backslash, so both names carry a doubled separator, which the
// file system reads as one.
bool CCDNero::RenameSettingsFile() {
    const std::u16string newName = addinTargetFolder + u"\\settings.xml";
    const std::u16string oldName = addinTargetFolder + u"\\sett.xml";
    return platform::RenameNoReplace(oldName, newName);
}
