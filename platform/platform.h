// The services of the operating system that the tool uses, one implementation per platform
// (platform_posix.cpp, platform_win32.cpp). Everything here speaks UTF-16 text; conversion to
// the platform's own form happens inside the implementations only.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// Hides the console window of this process, if it has one. Never fails.
void HideConsole();

// Initialises whatever the runtime needs before a job runs. False makes the tool exit with 1
// before it looks at its arguments.
bool InitializeFramework();

// The machine's common application-data folder, created when missing, without a trailing
// separator. Empty when it cannot be determined.
std::u16string CommonAppDataFolder();

// True when a file or folder exists at the path (the attributes of the path can be read).
bool PathExists(const std::u16string& path);

// What a path names, looked at without following a link at the path itself (the folders on the
// way to it are followed). Link stands for a symbolic link, a junction or any other reparse point;
// Other for a device, FIFO or socket; Unknown for a path that could not be examined (access denied,
// too long, an unreachable share). Missing only when the path or a folder on its way is not there.
enum class EntryKind { Missing, File, Folder, Link, Other, Unknown };
EntryKind EntryKindOf(const std::u16string& path);

// Calls visit with the name and kind of every entry of a folder ("." and ".." never), kinds as
// EntryKindOf gives them, in the system's order. The folder itself is followed when it is a link.
// False when the folder could not be listed (it is missing, not a folder, or unreadable).
bool ListEntryKinds(const std::u16string& folder,
                    const std::function<void(const std::u16string& name, EntryKind kind)>& visit);

// The backup folder's rights: only SYSTEM, Administrators and the account running the tool may open
// it. Windows: a protected DACL (nothing inherited from the parent) giving full control to SYSTEM,
// Administrators and the running account, each inherited by the files and folders created below;
// POSIX: mode 0700 whatever the umask, so that nobody else can even pass through it to a saved file.
// A missing folder (its parent must exist) is created so; an existing folder owned by SYSTEM,
// Administrators or the running account gets these rights again. False, with nothing created or
// changed, when the path holds something else, a link or reparse point, or a folder owned by
// anyone else, or when the rights could not be set (a folder created here is removed again then).
bool CreateProtectedFolder(const std::u16string& path);

// True when the path is a folder itself (not a link or reparse point) owned by SYSTEM,
// Administrators or the account running the tool (POSIX: root or this process's user).
bool IsTrustedFolder(const std::u16string& path);

// Walks the entries of one folder that match a wildcard pattern such as folder + "*.crk", letter
// case ignored, calling visit with each entry's name (not its path). Folders whose names match are
// reported like files; "." and ".." never are. A missing folder simply matches nothing.
void FindMatchingEntries(const std::u16string& pattern,
                         const std::function<void(const std::u16string& name)>& visit);

// Full path of the command interpreter that RunCommandInterpreter starts.
std::u16string CommandInterpreterPath();

// Starts the command interpreter hidden with the parameter string, waits for it without a time
// limit and stores its exit code. False (exitCode untouched) when it could not be started or
// waited for.
bool RunCommandInterpreter(const std::u16string& parameters, std::uint32_t& exitCode);

// Renames a file; fails when the new name already exists or the old one does not.
bool RenameNoReplace(const std::u16string& from, const std::u16string& to);

// Opens a file for reading with exclusive sharing (no other process may read or write it while it
// is open), reads it whole and closes it. One attempt; false when it cannot be opened or read.
bool ReadFileExclusive(const std::u16string& path, std::string& bytes);

// Pauses the calling thread.
void SleepMilliseconds(unsigned milliseconds);

// Opens a byte stream by wide path, like the C library's fopen with mode "rb" or "wb".
// Null on failure, with errno set.
std::FILE* OpenFile(const std::u16string& path, const char* mode);

// Replaces the file at path with the given bytes as one step: the bytes go to a temporary file in
// the same folder, are flushed to disk, and the temporary file then takes the place of the
// original. On failure the original is untouched, the temporary file is removed, errno is set
// and the result is false.
bool ReplaceFileContents(const std::u16string& path, std::string_view bytes);

// The C library's message for an errno value, cut before its first carriage return or line feed.
std::u16string SystemErrorText(int errorNumber);

}  // namespace platform
