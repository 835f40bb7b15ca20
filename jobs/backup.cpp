#include "jobs/backup.h"

#include "jobs/run_report.h"
#include "platform/platform.h"

namespace {

struct MatchingFiles {
    const char16_t* extension;
    BackupTarget target;
};

// The settings files of a module folder land in its settings subfolder of the backup folder; its
// measurement files (the last row) land in the Data subfolder.
constexpr MatchingFiles kFumiFiles[] = {
    {u"crk", BackupTarget::TargetDiesel},     {u"ini", BackupTarget::TargetDiesel},
    {u"txt", BackupTarget::TargetDiesel},     {u"xml", BackupTarget::TargetDiesel},
    {u"opa", BackupTarget::TargetDataDiesel},
};

constexpr MatchingFiles kGasFiles[] = {
    {u"crk", BackupTarget::TargetGas},     {u"ini", BackupTarget::TargetGas},
    {u"txt", BackupTarget::TargetGas},     {u"xml", BackupTarget::TargetGas},
    {u"gas", BackupTarget::TargetDataGas},
};

}  // namespace

bool CBackup::SaveFumiFiles() {
    run_report::CStepReport step(u"SaveFumiFiles", fumiSource);
    bool result = true;
    for (const MatchingFiles& files : kFumiFiles) {
        result = CopyMatchingFiles(fumiSource, files.extension, files.target) && result;
    }
    return step.End(result);
}

bool CBackup::SaveGasFiles() {
    run_report::CStepReport step(u"SaveGasFiles", gasSource);
    bool result = true;
    for (const MatchingFiles& files : kGasFiles) {
        result = CopyMatchingFiles(gasSource, files.extension, files.target) && result;
    }
    return step.End(result);
}

bool CBackup::CopyMatchingFiles(const std::u16string& folder, const std::u16string& extension,
                                BackupTarget target) {
    bool result = true;
    // A folder that is there but cannot be listed fails the walk: its files would otherwise be
    // left out of a backup that reports success.
    const bool listed = platform::FindMatchingEntries(
        folder + u"*." + extension,
        [&](const std::u16string& name) { result = CopyToBackup(folder + name, target) && result; });
    return listed && result;
}

bool CBackup::CopyToBackup(const std::u16string& source, BackupTarget target) {
    run_report::CStepReport step(u"CopyToBackup", source);
    return step.End(::CopyToBackup(source, target));
}
