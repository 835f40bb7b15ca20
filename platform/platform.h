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

// What an existence test learnt about a path.
enum class PathState {
    // The system says that nothing is there: the path itself, or a folder on its way, does not
    // exist (Windows: ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND; POSIX: ENOENT, or ENOTDIR where a
    // file stands in place of a folder of the path).
    Missing,
    // A file or folder is there (its attributes can be read).
    Present,
    // The test itself failed: access denied, a name too long for the system, a loop of links, an
    // unreachable network path, a name the system refuses... Something may be there.
    Unknown,
};

// Tests whether a file or folder exists at the path (Windows: GetFileAttributesW; POSIX: stat).
PathState PathStateOf(const std::u16string& path);

// The path made absolute against the process's working folder. A path that is absolute already
// comes back unchanged, character for character. Windows: a path is absolute when it starts with a
// drive letter, a colon and a separator, or with two separators (a network or device path);
// anything else ("data", ".\data", "\data" on the current drive, "C:data") is resolved by
// GetFullPathNameW, as any program started in the same working folder would resolve it. POSIX: a
// path is absolute when it starts with a separator ("/" or "\"); any other is joined to the
// working folder with "/". Empty when the path is empty or the working folder cannot be determined.
std::u16string AbsolutePath(const std::u16string& path);

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
// reported like files; "." and ".." never are. A missing folder (or a folder on its way that is
// missing) simply matches nothing and gives true. False when the folder is there, or cannot be
// examined, but cannot be listed to the end (access denied, a loop of links, a read error): what
// it holds is then unknown, never taken for nothing.
bool FindMatchingEntries(const std::u16string& pattern,
                         const std::function<void(const std::u16string& name)>& visit);

// Full path of the command interpreter that RunCommandInterpreter starts.
std::u16string CommandInterpreterPath();

// Starts the command interpreter hidden with the parameter string, in a fixed working folder that
// only administrators can write to (Windows: the system folder, where the interpreter finds the
// system's own XCOPY before anything else; POSIX: "/"), so that nothing in the tool's own working
// folder can be taken for a command. The parameters must therefore hold absolute paths only.
// Waits for it without a time limit and stores its exit code. False (exitCode untouched) when it
// could not be started or waited for.
bool RunCommandInterpreter(const std::u16string& parameters, std::uint32_t& exitCode);

// Renames a file; fails when the new name already exists or the old one does not, with errno set.
bool RenameNoReplace(const std::u16string& from, const std::u16string& to);

// Opens a file for reading with exclusive sharing (no other process may read or write it while it
// is open), reads it whole and closes it. One attempt; false when it cannot be opened, is not a
// regular file (refused at once: a FIFO or device is never waited for) or a read fails; bytes then
// hold nothing meaningful.
bool ReadFileExclusive(const std::u16string& path, std::string& bytes);

// Pauses the calling thread.
void SleepMilliseconds(unsigned milliseconds);

// The errno value of a file operation refused because the path names neither a regular file nor
// a folder (a FIFO, a device, a socket); SystemErrorText gives "Not a regular file" for it. It lies
// outside the range of every C library's own values.
inline constexpr int kErrorNotRegularFile = 0x4C56;

// Opens a byte stream by wide path, like the C library's fopen with mode "rb" or "wb". Only a
// regular file is opened, and nothing waits: a FIFO, device or socket fails at once with
// kErrorNotRegularFile, a folder with the system's own error. Null on failure, with errno set.
std::FILE* OpenFile(const std::u16string& path, const char* mode);

// The length in bytes of a file opened by OpenFile. False, with errno set, when it cannot be read.
bool FileLength(std::FILE* file, std::uint64_t& length);

// Replaces the file at path with the given bytes as one step: the bytes go to a temporary file in
// the same folder, are flushed to disk, and the temporary file then takes the place of the
// original. On failure the original is untouched, the temporary file is removed, errno is set
// and the result is false.
// - The file keeps its identity: on Windows its security descriptor, owner, attributes and
//   alternate data streams (ReplaceFileW); on POSIX its mode, and its owner and group where the
//   process may set them.
// - The temporary's name never exceeds the longest name the folder takes, whatever the target's.
// - A symbolic link at path is itself replaced by the new file; nothing is ever written through it
//   (the tool runs with installer rights over folders that users can write). A FIFO, device or
//   socket at path is refused at once (kErrorNotRegularFile), a folder with the system's error.
// - Saves of the same file by several processes at once all succeed, the last one's bytes
//   remaining. After a successful save the temporaries that ended saves of the same file left
//   behind (killed processes) are removed; one whose writer is still running is never touched.
bool ReplaceFileContents(const std::u16string& path, std::string_view bytes);

// The value of an environment variable of this process; false when it is not set.
bool EnvironmentValue(const std::u16string& name, std::u16string& value);

// A file opened by OpenAppendFile; kNoAppendFile when none is open.
using AppendFile = std::intptr_t;
inline constexpr AppendFile kNoAppendFile = -1;

// Opens a file for appending, creating it when missing. Refuses (kNoAppendFile) a path whose last
// component is a link, a folder, a device or anything else that is not a plain file: the tool runs
// elevated, and a report must not be written through a name some other user prepared.
AppendFile OpenAppendFile(const std::u16string& path);

// Adds the bytes at the end of the file, whatever other writers added meanwhile. They are handed
// to the system before it returns, so a process killed afterwards leaves them in the file. False
// when not all of them were written.
bool AppendToFile(AppendFile file, std::string_view bytes);

// Closes a file of OpenAppendFile; kNoAppendFile is ignored.
void CloseAppendFile(AppendFile file);

// The C library's message for an errno value, cut before its first carriage return or line feed;
// "Not a regular file" for kErrorNotRegularFile.
std::u16string SystemErrorText(int errorNumber);

}  // namespace platform
