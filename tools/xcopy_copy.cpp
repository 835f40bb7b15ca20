#include "tools/xcopy_copy.h"

#include <dirent.h>
#include <fcntl.h>
#include <setjmp.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

// Where this stand-in knowingly differs from the XCOPY of Windows (for the differential runs):
// - A folder source with nothing to copy succeeds (0); XCOPY documents 1 for "no files found".
// - Every entry is copied; XCOPY skips hidden and system files without /h (Wine counts names that
//   begin with a dot as hidden).
// - An existing read-only destination file is replaced; XCOPY needs /r for that.
// - "*" and "?" in the source are ordinary characters, not wildcards.
// - The destination is always a folder, even without /i and a trailing backslash, where XCOPY
//   would ask whether a single file's destination names a file or a folder.
// - Fifos, sockets and devices inside a source folder are passed over: they hold no file data;
//   named as the source, such a thing fails the run with 5.
// - A file copied into its own folder is rewritten in place (harmlessly, by the temporary name
//   and rename); XCOPY refuses with "File cannot be copied onto itself".
// - A name of the form ".<name>.lumvar-cmd.tmp" is the temporary name of <name>: copying <name>
//   removes a file of that name from the destination folder, also one copied there just before,
//   unless a copy of <name> running at the same time holds it locked.

namespace xcopy {

namespace {

// Files up to this size are verified with one read of each side; larger ones are compared in
// mapped windows of kWindow bytes, which reads the page cache without copying it. The maps earn
// their SIGBUS handling: comparing two cached 256 MiB files on ext4 took 61-75 ms mapped against
// 272-339 ms in 1 MiB block reads (4x), 64 MiB files 16-17 ms against 74-76 ms; on tmpfs, 512 MiB
// took 695 against 877 ms; at 4 MiB the two are even (median of 11-21 runs, 2-core VM under a
// load average of 14).
constexpr std::size_t kBlock = 1u << 20;
// A copy of a file holds its temporary locked (flock) from before the temporary has its name until
// it has been renamed; another copy of the same file running at the same time (a second restore)
// waits for the name up to kNameAttempts pauses of kNamePause.
constexpr int kNameAttempts = 5000;
constexpr std::chrono::microseconds kNamePause{200};
constexpr std::size_t kWindow = 64u << 20;

// Where a comparison of mapped files resumes when a file shrinks under its map (SIGBUS).
sigjmp_buf mapFault;

void OnMapFault(int) {
    ::siglongjmp(mapFault, 1);
}

// Compares two mapped ranges; false also when one of the files was cut short meanwhile.
bool SameMappedBytes(const void* a, const void* b, std::size_t length) {
    struct sigaction handler {};
    handler.sa_handler = OnMapFault;
    sigemptyset(&handler.sa_mask);
    struct sigaction previous {};
    if (::sigaction(SIGBUS, &handler, &previous) != 0)
        return false;
    volatile bool same = false;
    if (sigsetjmp(mapFault, 1) == 0)
        same = std::memcmp(a, b, length) == 0;
    ::sigaction(SIGBUS, &previous, nullptr);
    return same;
}

struct FolderId {
    dev_t device;
    ino_t inode;
    bool operator==(const FolderId&) const = default;
};

FolderId IdOf(const struct stat& info) {
    return {info.st_dev, info.st_ino};
}

// Closes a descriptor when it goes out of scope.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    Descriptor(Descriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    Descriptor& operator=(Descriptor&& other) noexcept {
        std::swap(fd_, other.fd_);
        return *this;
    }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Closes now and reports whether the close succeeded (a late write error shows here).
    bool Close() {
        const int fd = std::exchange(fd_, -1);
        return fd < 0 || ::close(fd) == 0;
    }

private:
    int fd_;
};

// Reads up to count bytes at offset, going on after short reads; the number read (less than count
// only at the end of the file), or -1 on error.
ssize_t ReadFully(int fd, char* buffer, std::size_t count, off_t offset) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pread(fd, buffer + done, count - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (n == 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

bool WriteFully(int fd, const char* buffer, std::size_t count, off_t offset) {
    std::size_t done = 0;
    while (done < count) {
        const ssize_t n = ::pwrite(fd, buffer + done, count - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// True for the errors by which the kernel says "this fast path does not apply here".
bool FastPathUnavailable(int error) {
    return error == ENOSYS || error == EXDEV || error == EINVAL || error == EOPNOTSUPP || error == ENOTSUP;
}

std::string_view LastComponent(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// One entry of a source folder, read before any of them is copied so that the folder's listing
// is not held open across the descent into its subfolders.
struct Entry {
    std::string name;
    unsigned char type;
};

// Removes the temporary name of a file in a destination folder unless a copy still running holds
// it (a regular file whose lock is held). True when the name is free afterwards.
bool RemoveEndedTemporary(int destination, const char* temporary) {
    const int fd = ::openat(destination, temporary, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        // Not a copy's temporary (a link, a socket, an unreadable file): in the way all the same.
        return ::unlinkat(destination, temporary, 0) == 0 || errno == ENOENT;
    }
    struct stat opened {};
    struct stat named {};
    // Removed only while still the file that was locked, not one linked there since by a running copy.
    if (::fstat(fd, &opened) == 0 && (!S_ISREG(opened.st_mode) || ::flock(fd, LOCK_EX | LOCK_NB) == 0) &&
        ::fstatat(destination, temporary, &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_ino == opened.st_ino && named.st_dev == opened.st_dev)
        ::unlinkat(destination, temporary, 0);
    ::close(fd);
    return ::fstatat(destination, temporary, &named, AT_SYMLINK_NOFOLLOW) != 0 && errno == ENOENT;
}

// Makes a file's temporary name free, waiting while a copy of the same file running at the same
// time holds it. False when it stays taken.
bool FreeTemporaryName(int destination, const char* temporary) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        if (RemoveEndedTemporary(destination, temporary))
            return true;
        std::this_thread::sleep_for(kNamePause);
    }
    return false;
}

// How giving an unnamed file its name ended.
enum class Publication {
    Done,
    Failed,
    Unlinkable,  // this process cannot link unnamed files here: copy through a named file instead
};

class Copier {
public:
    explicit Copier(const XcopyRequest& request) : request_(request) {
        // The mode given to open() is cut by the umask; fchmod is needed only when that cut
        // removes a bit the source has.
        umask_ = ::umask(0);
        ::umask(umask_);
    }

    XcopyOutcome Run();

private:
    XcopyOutcome CopySourceFolder(Descriptor source, const struct stat& sourceInfo);
    bool OpenDestination(Descriptor& folder, bool& created);
    bool DestinationInside(int destination, FolderId tree);
    bool CopyFolder(int source, int destination);
    bool ReadEntries(int folder, std::vector<Entry>& entries);
    bool CopyEntry(int source, int destination, const Entry& entry);
    bool CopySubfolder(int source, int destination, const char* name);
    bool CopyFile(int in, const struct stat& info, int destination, const char* name);
    bool CopyData(int in, int out, off_t size, off_t& written);
    bool SameContents(int in, int out, off_t size);
    bool SameMappedContents(int in, int out, off_t size, bool& compared);
    Descriptor CreateTemporary(int destination, mode_t mode, const std::string& temporary);
    Descriptor CreateUnnamed(int destination, mode_t mode);
    int LinkUnnamed(int out, int destination, const char* name);
    Publication Publish(Descriptor& out, int destination, const char* name, const std::string& temporary);

    const XcopyRequest& request_;
    mode_t umask_ = 0;
    bool tryCopyRange_ = true;
    bool trySendfile_ = true;
    bool tryUnnamed_ = true;
    bool linkThroughProc_ = false;
    FolderId destinationId_{};
    std::vector<FolderId> walk_;  // the source folders from the top down to the current one
    std::vector<char> sourceBuffer_;
    std::vector<char> copyBuffer_;
};

XcopyOutcome Copier::Run() {
    // O_NONBLOCK: a fifo given as the source must not hang the run; regular files ignore it.
    Descriptor source(::open(request_.source.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!source.valid()) {
        const int error = errno;
        if (error == ENOENT || error == ENOTDIR || error == ENAMETOOLONG || error == ELOOP) {
            return XcopyOutcome::SourceNotFound;
        }
        return XcopyOutcome::CopyFailed;
    }
    struct stat info;
    if (::fstat(source.get(), &info) != 0)
        return XcopyOutcome::CopyFailed;
    if (S_ISDIR(info.st_mode))
        return CopySourceFolder(std::move(source), info);
    if (!S_ISREG(info.st_mode))
        return XcopyOutcome::CopyFailed;

    Descriptor destination;
    bool created = false;
    if (!OpenDestination(destination, created))
        return XcopyOutcome::CopyFailed;
    const std::string name(LastComponent(request_.source));
    if (!CopyFile(source.get(), info, destination.get(), name.c_str()))
        return XcopyOutcome::CopyFailed;
    return XcopyOutcome::Copied;
}

XcopyOutcome Copier::CopySourceFolder(Descriptor source, const struct stat& sourceInfo) {
    Descriptor destination;
    bool created = false;
    if (!OpenDestination(destination, created))
        return XcopyOutcome::CopyFailed;
    struct stat destinationInfo;
    if (::fstat(destination.get(), &destinationInfo) != 0)
        return XcopyOutcome::CopyFailed;
    destinationId_ = IdOf(destinationInfo);

    // A folder copied onto itself, or a tree copied into one of its own subfolders, would
    // never end; XCOPY refuses both before copying anything.
    const FolderId sourceId = IdOf(sourceInfo);
    if (destinationId_ == sourceId ||
        (request_.subfolders && DestinationInside(destination.get(), sourceId))) {
        if (created)
            ::rmdir(request_.destination.c_str());
        return XcopyOutcome::CyclicCopy;
    }
    walk_.push_back(sourceId);
    return CopyFolder(source.get(), destination.get()) ? XcopyOutcome::Copied : XcopyOutcome::CopyFailed;
}

// Opens the destination folder, creating it and the folders above it when missing. Fails when a
// file stands where a folder must be, or a folder cannot be made.
bool Copier::OpenDestination(Descriptor& folder, bool& created) {
    const std::string& path = request_.destination;
    folder = Descriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid())
        return true;
    if (errno != ENOENT)
        return false;

    // Create each missing folder from the top down; an existing one is simply passed.
    for (std::size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string prefix = path.substr(0, end);
        if (!prefix.empty() && prefix.back() != '/' && ::mkdir(prefix.c_str(), 0777) != 0 &&
            errno != EEXIST) {
            return false;
        }
        if (end == std::string::npos)
            break;
    }
    created = true;
    folder = Descriptor(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return folder.valid();
}

// True when the folder tree is the destination folder itself or one of the folders above it.
bool Copier::DestinationInside(int destination, FolderId tree) {
    Descriptor current(::openat(destination, "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    FolderId previous = destinationId_;
    while (current.valid()) {
        struct stat info;
        if (::fstat(current.get(), &info) != 0)
            return false;
        const FolderId id = IdOf(info);
        if (id == tree)
            return true;
        if (id == previous)
            return false;  // ".." of the root is the root
        previous = id;
        current = Descriptor(::openat(current.get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
    }
    return false;
}

bool Copier::ReadEntries(int folder, std::vector<Entry>& entries) {
    alignas(8) char buffer[32768];
    while (true) {
        const ssize_t n = ::getdents64(folder, buffer, sizeof buffer);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        for (ssize_t at = 0; at < n;) {
            const auto* entry = reinterpret_cast<const struct dirent64*>(buffer + at);
            at += entry->d_reclen;
            const char* name = entry->d_name;
            if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
                continue;
            entries.push_back({name, entry->d_type});
        }
    }
}

// Copies the files of one source folder into one destination folder, then (with /e) each
// subfolder into a subfolder of the same name.
bool Copier::CopyFolder(int source, int destination) {
    std::vector<Entry> entries;
    if (!ReadEntries(source, entries))
        return false;
    std::vector<const Entry*> folders;
    for (Entry& entry : entries) {
        if (entry.type == DT_LNK || entry.type == DT_UNKNOWN) {
            // A link is copied as what it points to; a broken one has nothing to copy.
            struct stat info;
            if (::fstatat(source, entry.name.c_str(), &info, 0) != 0) {
                if (errno == ENOENT)
                    continue;
                return false;
            }
            entry.type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (entry.type == DT_DIR) {
            folders.push_back(&entry);
            continue;
        }
        if (entry.type == DT_REG && !CopyEntry(source, destination, entry))
            return false;
    }
    if (!request_.subfolders)
        return true;
    for (const Entry* folder : folders) {
        if (!CopySubfolder(source, destination, folder->name.c_str()))
            return false;
    }
    return true;
}

bool Copier::CopyEntry(int source, int destination, const Entry& entry) {
    Descriptor in(::openat(source, entry.name.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!in.valid())
        return false;
    struct stat info;
    if (::fstat(in.get(), &info) != 0)
        return false;
    // Replaced by something else since the listing: nothing to copy.
    if (!S_ISREG(info.st_mode))
        return true;
    return CopyFile(in.get(), info, destination, entry.name.c_str());
}

bool Copier::CopySubfolder(int source, int destination, const char* name) {
    Descriptor from(::openat(source, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!from.valid())
        return false;
    struct stat info;
    if (::fstat(from.get(), &info) != 0)
        return false;
    // Reached again through a link: the destination itself, or a folder that contains itself.
    const FolderId id = IdOf(info);
    if (id == destinationId_ || std::find(walk_.begin(), walk_.end(), id) != walk_.end())
        return false;

    if (::mkdirat(destination, name, 0777) != 0 && errno != EEXIST)
        return false;
    Descriptor to(::openat(destination, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!to.valid())
        return false;  // a file stands where the folder belongs
    walk_.push_back(id);
    const bool copied = CopyFolder(from.get(), to.get());
    walk_.pop_back();
    return copied;
}

// A file without a name in the destination folder (O_TMPFILE): nothing of it can be seen until
// Publish gives it its name, and nothing is left behind if the run dies first. Invalid when the
// file system has no such files; the copy then goes through the named temporary file.
Descriptor Copier::CreateUnnamed(int destination, mode_t mode) {
    if (!tryUnnamed_)
        return Descriptor();
    Descriptor out(::openat(destination, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
    if (!out.valid() && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL || errno == ENOENT))
        tryUnnamed_ = false;
    return out;
}

// Links an unnamed file under name: 0, or the errno of the failure. Before Linux 6.10 linking a
// descriptor itself (AT_EMPTY_PATH) needs a privilege and fails with ENOENT without it; the file's
// entry in /proc/self/fd links without one, and is used from then on.
int Copier::LinkUnnamed(int out, int destination, const char* name) {
    if (!linkThroughProc_) {
        if (::linkat(out, "", destination, name, AT_EMPTY_PATH) == 0)
            return 0;
        if (errno != ENOENT)
            return errno;
    }
    const std::string self = "/proc/self/fd/" + std::to_string(out);
    const int error = ::linkat(AT_FDCWD, self.c_str(), destination, name, AT_SYMLINK_FOLLOW) == 0 ? 0 : errno;
    if (error == 0 || error == EEXIST) {
        // The way through /proc reached the file.
        linkThroughProc_ = true;
        return error;
    }
    // Neither way links here (no privilege and no /proc): Unlinkable, unless the way through /proc
    // already worked and this failure is one of its own.
    return linkThroughProc_ || error != ENOENT ? error : -1;
}

// Gives the finished unnamed file its name. A new name is linked at once; an existing file is
// replaced by linking under the file's temporary name and renaming over it, so that it stays as it
// was until the new one is complete.
Publication Copier::Publish(Descriptor& out, int destination, const char* name,
                            const std::string& temporary) {
    int error = LinkUnnamed(out.get(), destination, name);
    if (error == 0) {
        if (out.Close())
            return Publication::Done;
        ::unlinkat(destination, name, 0);
        return Publication::Failed;
    }
    if (error != EEXIST)
        return error < 0 ? Publication::Unlinkable : Publication::Failed;
    // Locked before it has a name, so that no other copy ever takes the name away from it.
    if (::flock(out.get(), LOCK_EX) != 0)
        return Publication::Failed;
    for (int attempt = 0; attempt < kNameAttempts && error == EEXIST; ++attempt) {
        // Made again since this copy removed it: by a copy of the same file that was killed, or
        // one that runs at the same time and renames it shortly.
        if (!FreeTemporaryName(destination, temporary.c_str()))
            return Publication::Failed;
        error = LinkUnnamed(out.get(), destination, temporary.c_str());
    }
    if (error != 0)
        return Publication::Failed;
    const bool ok = ::renameat(destination, temporary.c_str(), destination, name) == 0;
    if (!ok)
        ::unlinkat(destination, temporary.c_str(), 0);
    // Closing lets go of the lock, once the temporary name is gone.
    return out.Close() && ok ? Publication::Done : Publication::Failed;
}

Descriptor Copier::CreateTemporary(int destination, mode_t mode, const std::string& temporary) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        Descriptor out(::openat(destination, temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode));
        if (out.valid()) {
            // A running copy of the same file that found the new name before the lock has removed it.
            struct stat opened {};
            struct stat named {};
            if (::flock(out.get(), LOCK_EX | LOCK_NB) == 0 && ::fstat(out.get(), &opened) == 0 &&
                ::fstatat(destination, temporary.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
                named.st_ino == opened.st_ino && named.st_dev == opened.st_dev)
                return out;
            continue;
        }
        // Made again since this copy removed it: by a copy of the same file that was killed, or
        // one that runs at the same time.
        if (errno != EEXIST || !FreeTemporaryName(destination, temporary.c_str()))
            return out;
    }
    return Descriptor();
}

bool Copier::CopyFile(int in, const struct stat& info, int destination, const char* name) {
    // A copy of this file killed while its temporary had a name left it behind; every copy of the
    // file removes it first (normally there is none), unless a copy running now holds it.
    const std::string temporary = CopyTemporaryName(name);
    static_cast<void>(RemoveEndedTemporary(destination, temporary.c_str()));
    if (!request_.overwrite) {
        struct stat existing;
        if (::fstatat(destination, name, &existing, AT_SYMLINK_NOFOLLOW) == 0)
            return false;
    }
    const mode_t mode = info.st_mode & 07777 & ~static_cast<mode_t>(S_ISUID | S_ISGID);
    Descriptor out = CreateUnnamed(destination, mode);
    const bool unnamed = out.valid();
    if (!unnamed)
        out = CreateTemporary(destination, mode, temporary);
    if (!out.valid())
        return false;

    off_t written = 0;
    const struct timespec times[2] = {{0, UTIME_OMIT}, info.st_mtim};
    bool ok = CopyData(in, out.get(), info.st_size, written);
    ok = ok && (!request_.verify || SameContents(in, out.get(), written));
    ok = ok && ((mode & umask_) == 0 || ::fchmod(out.get(), mode) == 0);
    ok = ok && ::futimens(out.get(), times) == 0;
    if (unnamed) {
        if (!ok)
            return false;
        switch (Publish(out, destination, name, temporary)) {
            case Publication::Done:
                return true;
            case Publication::Failed:
                return false;
            case Publication::Unlinkable:
                // Once more, through the named temporary file (the unnamed one goes with its
                // descriptor).
                out.Close();
                tryUnnamed_ = false;
                return CopyFile(in, info, destination, name);
        }
        return false;
    }
    // Renamed while still locked; closing lets go of the lock.
    ok = ok && ::renameat(destination, temporary.c_str(), destination, name) == 0;
    if (!ok)
        ::unlinkat(destination, temporary.c_str(), 0);
    return out.Close() && ok;
}

// Copies the file's data in the kernel when it can (copy_file_range, then sendfile), else through
// a buffer. Stops early if the source shrinks; written tells how much was copied.
bool Copier::CopyData(int in, int out, off_t size, off_t& written) {
    written = 0;
    while (written < size && tryCopyRange_) {
        loff_t from = written;
        loff_t to = written;
        const ssize_t n = ::copy_file_range(in, &from, out, &to, static_cast<std::size_t>(size - written), 0);
        if (n > 0) {
            written += n;
            continue;
        }
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (written != 0 || !FastPathUnavailable(errno))
            return false;
        tryCopyRange_ = false;
    }
    while (written < size && trySendfile_) {
        off_t from = written;
        const ssize_t n = ::sendfile(out, in, &from, static_cast<std::size_t>(size - written));
        if (n > 0) {
            written += n;
            continue;
        }
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        if (written != 0 || !FastPathUnavailable(errno))
            return false;
        trySendfile_ = false;
    }
    if (written < size)
        copyBuffer_.resize(kBlock);
    while (written < size) {
        const std::size_t want = static_cast<std::size_t>(std::min<off_t>(size - written, kBlock));
        const ssize_t n = ReadFully(in, copyBuffer_.data(), want, written);
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        if (!WriteFully(out, copyBuffer_.data(), static_cast<std::size_t>(n), written))
            return false;
        written += n;
    }
    return true;
}

// Reads the written file and its source back in large blocks and compares them; the source must
// also end where the copy ends.
bool Copier::SameContents(int in, int out, off_t size) {
    if (size > static_cast<off_t>(kBlock)) {
        bool compared = false;
        const bool same = SameMappedContents(in, out, size, compared);
        if (compared)
            return same;
    }
    const std::size_t largest = static_cast<std::size_t>(std::min<off_t>(size, kBlock));
    if (sourceBuffer_.size() < largest + 1)
        sourceBuffer_.resize(largest + 1);
    if (copyBuffer_.size() < largest)
        copyBuffer_.resize(largest);
    for (off_t offset = 0;;) {
        const std::size_t want = static_cast<std::size_t>(std::min<off_t>(size - offset, kBlock));
        const bool last = offset + static_cast<off_t>(want) == size;
        // On the last block one more byte is asked of the source: getting it means the source
        // is longer than the copy.
        const ssize_t fromSource = ReadFully(in, sourceBuffer_.data(), want + (last ? 1 : 0), offset);
        const ssize_t fromCopy = ReadFully(out, copyBuffer_.data(), want, offset);
        if (fromSource != static_cast<ssize_t>(want) || fromCopy != static_cast<ssize_t>(want))
            return false;
        if (want != 0 && std::memcmp(sourceBuffer_.data(), copyBuffer_.data(), want) != 0)
            return false;
        if (last)
            return true;
        offset += static_cast<off_t>(want);
    }
}

// Compares through memory maps, window by window; compared stays false when a window could not be
// mapped, and the caller then reads the files instead.
bool Copier::SameMappedContents(int in, int out, off_t size, bool& compared) {
    for (off_t offset = 0; offset < size;) {
        const std::size_t length = static_cast<std::size_t>(std::min<off_t>(size - offset, kWindow));
        void* source = ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, in, offset);
        if (source == MAP_FAILED)
            return false;
        void* copy = ::mmap(nullptr, length, PROT_READ, MAP_SHARED | MAP_POPULATE, out, offset);
        if (copy == MAP_FAILED) {
            ::munmap(source, length);
            return false;
        }
        const bool same = SameMappedBytes(source, copy, length);
        ::munmap(source, length);
        ::munmap(copy, length);
        if (!same) {
            compared = true;
            return false;
        }
        offset += static_cast<off_t>(length);
    }
    compared = true;
    // The source must end where the copy ends.
    char extra = 0;
    return ReadFully(in, &extra, 1, size) == 0;
}

}  // namespace

std::string CopyTemporaryName(std::string_view name) {
    constexpr std::string_view kSuffix = ".lumvar-cmd.tmp";
    constexpr std::size_t kNameMax = 255;
    constexpr std::size_t kHashDigits = 16;
    std::string temporary(1, '.');
    if (1 + name.size() + kSuffix.size() <= kNameMax) {
        temporary.append(name);
    } else {
        // Too long for the suffix: a shortened name and a 64-bit FNV-1a hash of the whole one.
        std::uint64_t hash = 14695981039346656037ull;
        for (const char c : name) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 1099511628211ull;
        }
        temporary.append(name.substr(0, kNameMax - 2 - kHashDigits - kSuffix.size()));
        temporary.push_back('~');
        for (int shift = 4 * (kHashDigits - 1); shift >= 0; shift -= 4)
            temporary.push_back("0123456789abcdef"[(hash >> shift) & 15]);
    }
    temporary.append(kSuffix);
    return temporary;
}

int ExitCodeOf(XcopyOutcome outcome) {
    switch (outcome) {
        case XcopyOutcome::Copied:
            return 0;
        case XcopyOutcome::SourceNotFound:
        case XcopyOutcome::CyclicCopy:
            return 4;
        case XcopyOutcome::CopyFailed:
            return 5;
    }
    return 5;
}

XcopyOutcome RunXcopy(const XcopyRequest& request) {
    return Copier(request).Run();
}

}  // namespace xcopy
