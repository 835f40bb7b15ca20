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
    // The rename goes through no link: not the add-in folder (from the folder argument down, as the
    // copy before it), nor either name, so that nothing is renamed outside the named folders.
    const auto unsafe = [](platform::EntryKind kind) {
        return kind == platform::EntryKind::Link || kind == platform::EntryKind::Unknown;
    };
    if (!NoLinkBelowNamedFolders(addinTargetFolder) || unsafe(platform::EntryKindOf(oldName)) ||
        unsafe(platform::EntryKindOf(newName))) {
        run_report::NoteOutcome(u"a link, or an entry that cannot be examined, lies on the way");
        return step.End(false);
    }
    const bool renamed = platform::RenameNoReplace(oldName, newName);
    run_report::NoteOutcome(renamed ? u"renamed to settings.xml" : platform::SystemErrorText(errno));
    return step.End(renamed);
}
