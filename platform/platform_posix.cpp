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
        if (slash == std::string::npos) break;
        pos = slash + 1;
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

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
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

// True for the name of a temporary file that ReplaceFileContents makes for the file called name:
// "." + name + ".lumvar-" + the six letters or digits that mkstemp chooses.
bool IsTemporaryOf(std::string_view entry, std::string_view name) {
    constexpr std::string_view kMarker = ".lumvar-";
    constexpr std::size_t kRandomLength = 6;
    if (entry.size() != 1 + name.size() + kMarker.size() + kRandomLength || entry.front() != '.')
        return false;
    entry.remove_prefix(1);
    if (entry.substr(0, name.size()) != name)
        return false;
    entry.remove_prefix(name.size());
    if (entry.substr(0, kMarker.size()) != kMarker)
        return false;
    entry.remove_prefix(kMarker.size());
    return std::all_of(entry.begin(), entry.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    });
}

// Removes what a save of the same file left behind when its process was killed between making its
// temporary file and renaming it: a stale temporary holds either old or half-written bytes and must
// not stay beside the file (a later copy of the folder would carry it along).
void RemoveStaleTemporaries(const std::string& folder, std::string_view name) {
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    const int dirFd = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        if (!IsTemporaryOf(entry->d_name, name)) continue;
        struct stat info {};
        if (::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode))
            ::unlinkat(dirFd, entry->d_name, 0);
    }
    ::closedir(dir);
}

}  // namespace

void HideConsole() {}

bool InitializeFramework() { return true; }

std::u16string CommonAppDataFolder() {
    const char* configured = std::getenv("ProgramData");
    std::string folder = (configured != nullptr && *configured != '\0') ? configured : "/var/lib";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    // Every copy asks for the folder; one stat answers when it is there already.
    struct stat info {};
    const bool present = ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    if (!present && !CreateFolders(folder)) return {};
    return FromUtf8(folder);
}

bool PathExists(const std::u16string& path) {
    struct stat info {};
    return ::stat(NativePath(path).c_str(), &info) == 0;
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
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        EntryKind kind = EntryKind::Other;
        switch (entry->d_type) {
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
                kind = ::fstatat(dirFd, entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0
                           ? KindOfMode(info.st_mode)
                           : EntryKind::Unknown;
                break;
            }
            default:
                break;
        }
        visit(FromUtf8(entry->d_name), kind);
    }
    ::closedir(dir);
    return true;
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

void FindMatchingEntries(const std::u16string& pattern,
                         const std::function<void(const std::u16string& name)>& visit) {
    const std::size_t cut = pattern.find_last_of(u"\\/");
    const std::u16string folder = cut == std::u16string::npos ? u"." : pattern.substr(0, cut + 1);
    const std::u16string wildcard = cut == std::u16string::npos ? pattern : pattern.substr(cut + 1);
    DIR* dir = ::opendir(NativePath(folder).c_str());
    if (dir == nullptr) return;
    while (const dirent* entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
        const std::u16string name = FromUtf8(entry->d_name);
        if (WildcardMatches(wildcard, name)) visit(name);
    }
    ::closedir(dir);
}

bool RenameNoReplace(const std::u16string& from, const std::u16string& to) {
    const std::string source = NativePath(from);
    const std::string target = NativePath(to);
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: a hard link fails when the new name exists.
    if (::link(source.c_str(), target.c_str()) != 0) return false;
    return ::unlink(source.c_str()) == 0;
}

bool ReadFileExclusive(const std::u16string& path, std::string& bytes) {
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // Another process that holds the file locked makes this open fail, as a file opened without
    // sharing does on Windows.
    struct stat info {};
    bool ok = ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    if (ok) {
        bytes.assign(static_cast<std::size_t>(info.st_size), '\0');
        std::size_t done = 0;
        while (ok && done < bytes.size()) {
            const ssize_t got = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            done += static_cast<std::size_t>(got);
        }
        bytes.resize(done);
    }
    ::close(fd);
    return ok;
}

void SleepMilliseconds(unsigned milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::FILE* OpenFile(const std::u16string& path, const char* mode) {
    return std::fopen(NativePath(path).c_str(), mode);
}

bool ReplaceFileContents(const std::u16string& path, std::string_view bytes) {
    const std::string target = NativePath(path);
    const std::size_t slash = target.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string temporary = folder + "." + name + ".lumvar-XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return false;

    bool ok = true;
    struct stat original {};
    if (::stat(target.c_str(), &original) == 0) ok = ::fchmod(fd, original.st_mode & 07777) == 0;
    std::size_t done = 0;
    while (ok && done < bytes.size()) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) {
            if (wrote == 0) errno = ENOSPC;
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(wrote);
    }
    ok = ok && ::fsync(fd) == 0;
    int savedErrno = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        savedErrno = errno;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        savedErrno = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        errno = savedErrno;
        return false;
    }
    // The rename itself reaches the disk with the folder's entry.
    const int dirFd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
    RemoveStaleTemporaries(folder, name);
    return true;
}

std::u16string SystemErrorText(int errorNumber) {
    std::u16string text = FromUtf8(std::strerror(errorNumber));
    const std::size_t cut = text.find_first_of(u"\r\n");
    if (cut != std::u16string::npos) text.resize(cut);
    return text;
}

}  // namespace platform
