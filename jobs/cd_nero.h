// The CD add-in job behind "/cdnero": installs the suite's database add-in for the disc-burning
// software.
#pragma once

#include <string>

class CCDNero {
public:
    CCDNero() = default;
    virtual ~CCDNero() = default;

    // Copies the whole add-in tree, empty subfolders included, into addinTargetFolder. A missing
    // source is not skipped: the copy runs and fails.
    bool CopyAddin();

    // Renames the copied "sett.xml" to "settings.xml" in addinTargetFolder. Fails when "sett.xml"
    // is missing or "settings.xml" already exists; an existing "settings.xml" is never replaced.
    bool RenameSettingsFile();

    std::u16string addinTargetFolder;
    std::u16string addinSourceFolder;
};
