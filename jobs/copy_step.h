// The copy step: every copy the tool makes is one hidden run of the command interpreter with an
// "XCOPY" parameter string, waited for until it ends and judged by its exit code (0 is success).
// Three forms exist: into the backup folder, from the backup folder back into an installation, and
// the add-in tree copy of CCDNero.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Destination subfolders of the backup folder. The values are fixed: 0 to 5.
enum class BackupTarget : int {
    TargetRoot = 0,
    TargetData = 1,
    TargetDiesel = 2,
    TargetDataDiesel = 3,
    TargetGas = 4,
    TargetDataGas = 5,
};

// How a saved item comes back: from the backup folder itself, or from its Data subfolder with or
// without the subfolders of the item.
enum class CopyKind {
    SettingsFlat,
    DataFlat,
    DataTree,
};

// Starts the command interpreter. The platform's launcher is used unless a test has put another in
// its place (ScopedCommandLauncher).
class CommandLauncher {
public:
    virtual ~CommandLauncher() = default;

    // Runs the interpreter hidden with the parameter string and waits for it without a time limit.
    // False when it could not be started or waited for; exitCode is then left as it was.
    virtual bool Run(const std::u16string& parameters, std::uint32_t& exitCode) = 0;
};

// Puts a launcher in place of the current one for its own lifetime (tests record the parameter
// strings this way instead of starting anything).
class ScopedCommandLauncher {
public:
    explicit ScopedCommandLauncher(CommandLauncher& launcher);
    ~ScopedCommandLauncher();
    ScopedCommandLauncher(const ScopedCommandLauncher&) = delete;
    ScopedCommandLauncher& operator=(const ScopedCommandLauncher&) = delete;

private:
    CommandLauncher* previous_;
};

// The folder arguments of the running job, for its own lifetime. A copy never passes through a
// link: not below its source, not where it writes, and not on the way from a folder argument (or
// from the common application-data folder) down to its source or destination. The folder arguments
// themselves, and the folders above them, may be links: that is the caller's choice. Where no folder
// argument is known (a copy step called on its own), only the source and destination themselves and
// what lies below them are held to that.
class ScopedNamedFolders {
public:
    explicit ScopedNamedFolders(std::vector<std::u16string> folders);
    ~ScopedNamedFolders();
    ScopedNamedFolders(const ScopedNamedFolders&) = delete;
    ScopedNamedFolders& operator=(const ScopedNamedFolders&) = delete;

private:
    std::vector<std::u16string> folders_;
    const std::vector<std::u16string>* previous_;
};

// The exit code RunHiddenCommand reports when the interpreter could not be started: a launch that
// never happened must not pass for a copy that succeeded.
inline constexpr std::uint32_t kInterpreterNotStarted = 0xFFFFFFFFu;

// Runs the command interpreter hidden with the parameter string, waits for it and returns its exit
// code; kInterpreterNotStarted when it could not be run.
std::uint32_t RunHiddenCommand(const std::u16string& parameters);

// Backup form: copies one file or folder of the installed suite into the backup folder's subfolder
// for target. A source that does not exist is skipped and counts as success. Before the copy runs,
// the backup folder is made (or, when there already and owned by SYSTEM, Administrators or the
// running account, given again) the rights of platform::CreateProtectedFolder: only those accounts
// may open it. Fails without running anything when the common application-data folder is unknown,
// a path would break the command, a link lies on the copy's way (ScopedNamedFolders), or the backup
// folder is a link, is owned by anyone else, or cannot be made so. Only "not found" is absent: a
// source whose existence cannot be tested (access denied, a name too long, a loop of links, an
// unreachable network path) fails the step without running anything.
bool CopyToBackup(const std::u16string& source, BackupTarget target);

// Copy-back form: copies the saved item (a name inside the backup folder, or inside its Data
// subfolder for the two data kinds) into destination, a folder path ending in a backslash. A saved
// item that does not exist, or a backup folder that does not exist, is skipped and counts as
// success. Fails without running anything when the common application-data folder is unknown, the
// source path exceeds 259 characters, a path would break the command, a link lies on the copy's
// way (ScopedNamedFolders), or the backup folder is a link or owned by anyone but SYSTEM,
// Administrators or the running account, or when the saved item's existence cannot be tested (as
// in the backup form, only "not found" is absent).
bool CopyBack(const std::u16string& itemName, CopyKind kind, const std::u16string& destination);

// Add-in form: copies the whole tree of sourceFolder into targetFolder, without any existence test.
// Fails without running anything when a path would break the command or a link lies on the copy's
// way (ScopedNamedFolders).
bool CopyAddinTree(const std::u16string& sourceFolder, const std::u16string& targetFolder);

// True when no folder on path from the folder argument it lies in (ScopedNamedFolders) downward,
// nor path itself, is a link or reparse point or cannot be examined; without such a folder
// argument, path's own last name is tested. What does not exist ends the test.
bool NoLinkBelowNamedFolders(const std::u16string& path);

// True when the backup folder below the common application-data folder (commonFolder + "\\Lumvar")
// may be read: missing (nothing was saved, and every saved item reads as missing), or a folder of
// its own, not a link or reparse point, owned by SYSTEM, Administrators or the running account. A
// restore takes nothing from any other: its maker could have put any file in it.
bool IsReadableBackupFolder(const std::u16string& commonFolder);
