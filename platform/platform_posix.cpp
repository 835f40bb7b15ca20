// POSIX stand-ins for the Windows services the tool uses. Each does what the tool expects of the
// Windows service it replaces; the command interpreter lives in interpreter_posix.cpp.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>

#include "platform/platform.h"
#include "platform/posix_path.h"
#include "platform/save_temporary.h"
#include "platform/text.h"

namespace platform {

namespace {

// Creates every missing folder of a path, like "mkdir -p". True when the folder exists afterwards.
bool CreateFolders(const std::string& path) {
    std::string partial;
    std::size_t pos = 0;
    while (pos <= path.size()) {
        const std::size_t slash = path.find('/', pos);
        const std::size_t end = slash == std::string::npos ? path.size() : slash;
        partial = path.substr(0, end);
        if (!partial.empty() && ::mkdir(partial.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos)
            break;
        pos = slash + 1;
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

char16_t FoldAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

// Wildcard match with "*" (any run) and "?" (any one character), ASCII letter case ignored.
bool WildcardMatches(std::u16string_view pattern, std::u16string_view name) {
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t starP = std::u16string_view::npos;
    std::size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || FoldAscii(pattern[p]) == FoldAscii(name[n]))) {
            ++p, ++n;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*')
        ++p;
    return p == pattern.size();
}

// Calls visit with each entry of an open folder but "." and ".."; false when reading the folder
// failed part way, so that a folder read only in part never passes for one read whole.
bool ReadEntries(DIR* dir, const std::function<void(const dirent& entry)>& visit) {
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr)
            return errno == 0;
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            visit(*entry);
    }
}

// The temporaries of a save: the stem (save_temporary.h) and the six letters or digits that mkostemp
// chooses, hidden by a leading ".": ".CommonConfig.xml.lumvar-Ab12Cd".
constexpr std::size_t kUniqueLength = 6;

std::string TemporaryStem(const std::string& folder, std::string_view name) {
    // The longest name the folder takes, in bytes; 255 where the file system does not say.
    const long longest = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    return save_temporary::Stem<char>(name, '.', longest > 0 ? static_cast<std::size_t>(longest) : 255,
                                      kUniqueLength, 0);
}

// The errno for a file of this type that is to be read or replaced: 0 for a regular file.
int NotRegularError(mode_t mode) {
    if (S_ISREG(mode))
        return 0;
    return S_ISDIR(mode) ? EISDIR : kErrorNotRegularFile;
}

// A new temporary file beside the target, locked (flock) for as long as the descriptor stays open:
// the lock tells every other save that its writer is still running. -1 with errno on failure.
int CreateLockedTemporary(const std::string& folder, const std::string& stem, std::string& temporary) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folder + stem + "XXXXXX";
        const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0)
            return -1;
        // A clean-up of another save may have found the file between its creation and the lock: it
        // removes a temporary only while it holds the lock, so a file still under its name once this
        // save holds the lock is this save's for good.
        // A file system without locks keeps its stale temporaries: their clean-up cannot lock them.
        const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (!locked && errno != EWOULDBLOCK)
            return fd;
        struct stat opened {};
        struct stat named {};
        if (locked && ::fstat(fd, &opened) == 0 && ::lstat(temporary.c_str(), &named) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino)
            return fd;
        ::close(fd);
    }
    errno = EEXIST;
    return -1;
}

// Removes what saves of the same file left behind when their processes were killed between making
// their temporary files and renaming them: a stale temporary holds either old or half-written bytes
// and must not stay beside the file (a later copy of the folder would carry it along). A temporary
// whose lock is held belongs to a save still running, in this process or another, and stays.
void RemoveStaleTemporaries(const std::string& folder, const std::string& stem) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (!save_temporary::IsTemporary<char>(entry->d_name, stem, kUniqueLength, {}))
            continue;
        const int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened {};
        struct stat named {};
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            opened.st_dev == named.st_dev && opened.st_ino == named.st_ino)
            ::unlinkat(dirFd, entry->d_name, 0);
        ::close(fd);
    }
    ::closedir(dir);
}

// Gives the new file the owner, group and mode of the file it replaces. Owner and group are set
// where the process may (root always; others keep at least a group they belong to); the mode must
// be set. Owner first: a change of owner clears the set-user and set-group bits.
bool TakeIdentity(int fd, const struct stat& original) {
    if (::fchown(fd, original.st_uid, original.st_gid) != 0)
        static_cast<void>(::fchown(fd, static_cast<uid_t>(-1), original.st_gid));
    return ::fchmod(fd, original.st_mode & 07777) == 0;
}

}  // namespace

void HideConsole() {}

bool InitializeFramework() {
    return true;
}

std::u16string CommonAppDataFolder() {
    const char* configured = std::getenv("ProgramData");
    std::string folder = (configured != nullptr && *configured != '\0') ? configured : "/var/lib";
    while (folder.size() > 1 && folder.back() == '/')
        folder.pop_back();
    // Every copy asks for the folder; one stat answers when it is there already.
    struct stat info {};
    const bool present = ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (!present && !CreateFolders(folder))
        return {};
    return FromUtf8(folder);
}

PathState PathStateOf(const std::u16string& path) {
    // The system would test only the part before a NUL, another path.
    if (path.find(u'\0') != std::u16string::npos)
        return PathState::Unknown;
    struct stat info {};
    if (::stat(NativePath(path).c_str(), &info) == 0)
        return PathState::Present;
    // ENOTDIR: a file stands where the path needs a folder, so that folder does not exist.
    if (errno == ENOENT || errno == ENOTDIR)
        return PathState::Missing;
    return PathState::Unknown;
}

std::u16string AbsolutePath(const std::u16string& path) {
    if (path.empty())
        return {};
    if (path.front() == u'/' || path.front() == u'\\')
        return path;
    char* const current = ::getcwd(nullptr, 0);
    if (current == nullptr)
        return {};
    const std::string folder = current;
    std::free(current);
    // A working folder whose name is not UTF-8 has no faithful UTF-16 form.
    std::u16string absolute = FromUtf8(folder);
    if (folder.empty() || folder.front() != '/' || ToUtf8(absolute) != folder)
        return {};
    if (absolute.back() != u'/')
        absolute += u'/';
    return absolute + path;
}

namespace {

// A path as the system takes it, without separators at its end: "link/" would name what the link
// points to, "link" the link itself.
std::string EntryPath(const std::u16string& path) {
    std::string native = NativePath(path);
    while (native.size() > 1 && native.back() == '/')
        native.pop_back();
    return native;
}

EntryKind KindOfMode(mode_t mode) {
    if (S_ISREG(mode))
        return EntryKind::File;
    if (S_ISDIR(mode))
        return EntryKind::Folder;
    if (S_ISLNK(mode))
        return EntryKind::Link;
    return EntryKind::Other;
}

// Root stands for SYSTEM and Administrators; the other trusted owner is the tool's own account.
bool OwnedByTrustedAccount(const struct stat& info) {
    return info.st_uid == 0 || info.st_uid == ::geteuid();
}

// The folder itself, opened without following a link at its place; -1 when it is no folder. Only
// as a place (O_PATH): its own mode need not let this process read it.
int OpenFolderNoFollow(const std::string& folder) {
    return ::open(folder.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

// fchmod for a descriptor opened as a place, which fchmod itself refuses: its name below
// /proc/self/fd reaches the very folder the descriptor holds.
bool ChangeModeOf(int fd, mode_t mode) {
    return ::chmod(("/proc/self/fd/" + std::to_string(fd)).c_str(), mode) == 0;
}

}  // namespace

EntryKind EntryKindOf(const std::u16string& path) {
    struct stat info {};
    if (::lstat(EntryPath(path).c_str(), &info) == 0)
        return KindOfMode(info.st_mode);
    return errno == ENOENT || errno == ENOTDIR ? EntryKind::Missing : EntryKind::Unknown;
}

bool ListEntryKinds(const std::u16string& folder,
                    const std::function<void(const std::u16string& name, EntryKind kind)>& visit) {
    DIR* dir = ::opendir(NativePath(folder).c_str());
    if (dir == nullptr)
        return false;
    const int dirFd = ::dirfd(dir);
    const bool listed = ReadEntries(dir, [&](const dirent& entry) {
        EntryKind kind = EntryKind::Other;
        switch (entry.d_type) {
            case DT_REG:
                kind = EntryKind::File;
                break;
            case DT_DIR:
                kind = EntryKind::Folder;
                break;
            case DT_LNK:
                kind = EntryKind::Link;
                break;
            case DT_UNKNOWN: {
                // Some file systems do not say: ask for the entry itself.
                struct stat info {};
                kind = ::fstatat(dirFd, entry.d_name, &info, AT_SYMLINK_NOFOLLOW) == 0
                           ? KindOfMode(info.st_mode)
                           : EntryKind::Unknown;
                break;
            }
            default:
                break;
        }
        visit(FromUtf8(entry.d_name), kind);
    });
    ::closedir(dir);
    return listed;
}

bool CreateProtectedFolder(const std::u16string& path) {
    const std::string folder = EntryPath(path);
    // Created closed to everyone else; the mode is set again below, since mkdir's passes through
    // the umask and an existing folder may have any.
    const bool created = ::mkdir(folder.c_str(), 0700) == 0;
    if (!created && errno != EEXIST)
        return false;
    // Whatever is there now is examined through one descriptor of the folder itself, so it cannot
    // be swapped for a link between the test and the change.
    const int fd = OpenFolderNoFollow(folder);
    struct stat info {};
    bool ok = fd >= 0 && ::fstat(fd, &info) == 0 && OwnedByTrustedAccount(info) && ChangeModeOf(fd, 0700);
    const int savedErrno = errno;
    if (fd >= 0)
        ::close(fd);
    if (!ok && created)
        ::rmdir(folder.c_str());
    errno = savedErrno;
    return ok;
}

bool IsTrustedFolder(const std::u16string& path) {
    const int fd = OpenFolderNoFollow(EntryPath(path));
    if (fd < 0)
        return false;
    struct stat info {};
    const bool trusted = ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && OwnedByTrustedAccount(info);
    ::close(fd);
    return trusted;
}

bool FindMatchingEntries(const std::u16string& pattern,
                         const std::function<void(const std::u16string& name)>& visit) {
    const std::size_t cut = pattern.find_last_of(u"\\/");
    const std::u16string folder = cut == std::u16string::npos ? u"." : pattern.substr(0, cut + 1);
    const std::u16string wildcard = cut == std::u16string::npos ? pattern : pattern.substr(cut + 1);
    if (folder.find(u'\0') != std::u16string::npos)
        return false;
    DIR* dir = ::opendir(NativePath(folder).c_str());
    // Only "not found" is nothing there (ENOTDIR: a file stands where a folder of the path would).
    if (dir == nullptr)
        return errno == ENOENT || errno == ENOTDIR;
    const bool listed = ReadEntries(dir, [&](const dirent& entry) {
        const std::u16string name = FromUtf8(entry.d_name);
        if (WildcardMatches(wildcard, name))
            visit(name);
    });
    ::closedir(dir);
    return listed;
}

bool RenameNoReplace(const std::u16string& from, const std::u16string& to) {
    const std::string source = NativePath(from);
    const std::string target = NativePath(to);
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // File systems without RENAME_NOREPLACE: a hard link fails when the new name exists.
    if (::link(source.c_str(), target.c_str()) != 0)
        return false;
    return ::unlink(source.c_str()) == 0;
}

bool ReadFileExclusive(const std::u16string& path, std::string& bytes) {
    // Non-blocking, so that a FIFO never holds the open up; it is refused below.
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Another process that holds the file locked makes this open fail, as a file opened without
    // sharing does on Windows.
    struct stat info {};
    bool ok =
        ::fstat(fd, &info) == 0 && NotRegularError(info.st_mode) == 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    if (ok) {
        bytes.assign(static_cast<std::size_t>(info.st_size), '\0');
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0) {
                ok = false;
                break;
            }
            // The file ends sooner than it did when it was sized: what it holds now is read.
            if (got == 0)
                break;
            done += static_cast<std::size_t>(got);
        }
        bytes.resize(done);
    }
    const int savedErrno = errno;
    ::close(fd);
    errno = savedErrno;
    return ok;
}

void SleepMilliseconds(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::FILE* OpenFile(const std::u16string& path, const char* mode) {
    const bool reading = mode[0] == 'r';
    // Non-blocking, so that a FIFO never holds the open up; a writer's file is emptied only once it
    // is known to be a regular file.
    const std::string native = NativePath(path);
    const int fd =
        ::open(native.c_str(), (reading ? O_RDONLY : O_WRONLY | O_CREAT) | O_NONBLOCK | O_CLOEXEC, 0666);
    if (fd < 0) {
        // A socket, or a FIFO without a reader for a writer, cannot be opened at all.
        struct stat info {};
        if (errno == ENXIO && ::stat(native.c_str(), &info) == 0 && NotRegularError(info.st_mode) != 0)
            errno = NotRegularError(info.st_mode);
        return nullptr;
    }
    struct stat info {};
    int error = ::fstat(fd, &info) == 0 ? NotRegularError(info.st_mode) : errno;
    if (error == 0 && ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) != 0)
        error = errno;
    if (error == 0 && !reading && ::ftruncate(fd, 0) != 0)
        error = errno;
    std::FILE* file = error == 0 ? ::fdopen(fd, mode) : nullptr;
    if (file == nullptr) {
        if (error == 0)
            error = errno;
        ::close(fd);
        errno = error;
    }
    return file;
}

bool FileLength(std::FILE* file, std::uint64_t& length) {
    struct stat info {};
    if (::fstat(::fileno(file), &info) != 0)
        return false;
    length = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool ReplaceFileContents(const std::u16string& path, std::string_view bytes) {
    const std::string target = NativePath(path);
    const std::size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "./" : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);

    // What is there now decides what the new file takes over. A symbolic link is replaced itself:
    // nothing is written through it, and it passes nothing on.
    struct stat original {};
    bool replacing = false;
    if (::lstat(target.c_str(), &original) == 0) {
        if (!S_ISLNK(original.st_mode)) {
            const int error = NotRegularError(original.st_mode);
            if (error != 0) {
                errno = error;
                return false;
            }
            replacing = true;
        }
    } else if (errno != ENOENT) {
        return false;
    }

    const std::string stem = TemporaryStem(folder, name);
    std::string temporary;
    const int fd = CreateLockedTemporary(folder, stem, temporary);
    if (fd < 0)
        return false;

    bool ok = !replacing || TakeIdentity(fd, original);
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0) {
            if (wrote == 0)
                errno = ENOSPC;
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(wrote);
    }
    // The lock is held until the temporary has its final name; fsync has reported every write
    // error by then, so the close after the rename cannot lose data.
    ok = ok && ::fsync(fd) == 0;
    ok = ok && ::rename(temporary.c_str(), target.c_str()) == 0;
    if (!ok) {
        const int savedErrno = errno;
        ::unlink(temporary.c_str());
        ::close(fd);
        errno = savedErrno;
        return false;
    }
    ::close(fd);
    // The rename itself reaches the disk with the folder's entry.
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    RemoveStaleTemporaries(folder, stem);
    return true;
}

std::u16string SystemErrorText(int errorNumber) {
    if (errorNumber == kErrorNotRegularFile)
        return u"Not a regular file";
    std::u16string text = FromUtf8(std::strerror(errorNumber));
    const std::size_t cut = text.find_first_of(u"\r\n");
    if (cut != std::u16string::npos)
        text.resize(cut);
    return text;
}

bool EnvironmentValue(const std::u16string& name, std::u16string& value) {
    const char* found = std::getenv(ToUtf8(name).c_str());
    if (found == nullptr)
        return false;
    value = FromUtf8(found);
    return true;
}

AppendFile OpenAppendFile(const std::u16string& path) {
    // O_NONBLOCK keeps a named pipe without a reader from stalling the run; it is refused below
    // like every other thing that is not a plain file.
    const int fd =
        ::open(NativePath(path).c_str(),
               O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK, 0600);
    if (fd < 0)
        return kNoAppendFile;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return kNoAppendFile;
    }
    return fd;
}

bool AppendToFile(AppendFile file, std::string_view bytes) {
    if (file == kNoAppendFile)
        return false;
    const int fd = static_cast<int>(file);
    while (!bytes.empty()) {
        const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(wrote));
    }
    return true;
}

void CloseAppendFile(AppendFile file) {
    if (file != kNoAppendFile)
        ::close(static_cast<int>(file));
}

}  // namespace platform
