#include "jobs/cd_nero.h"

#include <cerrno>

#include "jobs/copy_step.h"
#include "jobs/run_report.h"
#include "platform/platform.h"

bool CCDNero::CopyAddin() {
    run_report::CStepReport step(u"CopyAddin", addinSourceFolder);
    return step.End(CopyAddinTree(addinSourceFolder, addinTargetFolder));
}

// addinTargetFolder already ends in a backslash, so both names carry a doubled separator, which the
// file system reads as one.
bool CCDNero::RenameSettingsFile() {
    const std::u16string newName = addinTargetFolder + u"\\settings.xml";
    const std::u16string oldName = addinTargetFolder + u"\\sett.xml";
    run_report::CStepReport step(u"RenameSettingsFile", oldName);
    const bool renamed = platform::RenameNoReplace(oldName, newName);
    run_report::NoteOutcome(renamed ? u"renamed to settings.xml" : platform::SystemErrorText(errno));
    return step.End(renamed);
}
