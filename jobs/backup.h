// The backup job behind "/backup": saves the suite's settings files and its data folder into the
// backup folder, where the restore later finds them.
#pragma once

#include <string>

#include "jobs/copy_step.h"

class CBackup {
public:
    CBackup() = default;
    virtual ~CBackup() = default;

    // The matching settings files of the fumi folder go to the backup folder's "diesel", its "opa"
    // files to "Data\diesel". True when every copy succeeded or there was nothing to copy.
    bool SaveFumiFiles();

    // The matching settings files of the gas folder go to the backup folder's "gas", its "gas"
    // files to "Data\gas". True when every copy succeeded or there was nothing to copy.
    bool SaveGasFiles();

    // Copies every entry of folder (a path ending in a backslash) whose name ends in "." +
    // extension, letter case ignored, into target. Every entry is copied even after a failure; true
    // when every copy succeeded (also when nothing matched or the folder does not exist).
    bool CopyMatchingFiles(const std::u16string& folder, const std::u16string& extension,
                           BackupTarget target);

    // The backup form of the copy step.
    bool CopyToBackup(const std::u16string& source, BackupTarget target);

    std::u16string commonConfigSource;
    std::u16string dataSource;
    std::u16string fumiSource;
    std::u16string eobdIniSource;
    std::u16string gasSource;
    std::u16string oscilloIniSource;
    std::u16string dorvelIniSource;
    std::u16string wizardConfigSource;
};
