// The services of the operating system that the tool uses, one implementation per platform
// (platform_posix.cpp, platform_win32.cpp). Everything here speaks UTF-16 text; conversion to
// the platform's own form happens inside the implementations only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

namespace platform {

// The longest path, in characters, that the tool forms in a buffer or hands to XCOPY: Windows
// keeps such paths in buffers of MAX_PATH (260) wide characters, the terminating zero included.
inline constexpr std::size_t kLongestPath = 259;

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

// Creates one folder (its parent must exist) that only administrators and the system may write
// to, for a folder whose contents later run into an installation with an installer's rights:
// Windows: a protected DACL (nothing inherited from the parent) giving full control to
// Administrators and SYSTEM and read & execute to Users, each inherited by the files and folders
// created below; POSIX: mode 0755 whatever the umask. A folder already there is left as it is.
// True when it created the folder or a folder was there already; false when the path holds
// something else or the folder could not be created with that protection (nothing is left behind
// then).
bool CreateProtectedFolder(const std::u16string& path);

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
