#include "tests/support/full_disk.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace testing_support {

ScopedTmpfs::ScopedTmpfs(const std::filesystem::path& where, const char* options) : where_(where) {
    std::filesystem::create_directories(where_);
    if (::geteuid() != 0) {
        reason_ = "not running as root, so no tmpfs can be mounted";
        return;
    }
    // In a mount namespace of this process's own, the mount vanishes with the process even when it
    // is killed before the destructor runs; where that is refused, it is a plain mount.
    static const bool privateMounts =
        ::unshare(CLONE_NEWNS) == 0 && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    static_cast<void>(privateMounts);
    if (::mount("tmpfs", where_.c_str(), "tmpfs", 0, options) != 0) {
        reason_ = std::string("mounting a tmpfs is not permitted here: ") + std::strerror(errno);
        return;
    }
    mounted_ = true;
}

ScopedTmpfs::~ScopedTmpfs() {
    if (mounted_)
        ::umount2(where_.c_str(), MNT_DETACH);
}

bool ScopedTmpfs::RemountReadOnly() const {
    return ::mount(nullptr, where_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0;
}

int FillFileSystem(const std::filesystem::path& file) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0)
        return errno;
    const std::string block(4096, 'f');
    int error = 0;
    while (error == 0) {
        if (::write(fd, block.data(), block.size()) < 0)
            error = errno;
    }
    ::close(fd);
    return error;
}

}  // namespace testing_support
