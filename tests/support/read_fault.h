// Read errors from the kernel itself, for tests that must see what a loader does when a read fails
// half-way through a file (a failing disk, a network share that drops): every read of one file
// after the first few fails with EPERM. Needs fanotify permission events, which need
// CAP_SYS_ADMIN; active() says whether it worked, reason() why not.
#pragma once

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>

namespace testing_support {

class ScopedReadFault {
public:
    // Reads of file by any process are let through allowedReads times, then refused.
    ScopedReadFault(const std::filesystem::path& file, int allowedReads);
    ~ScopedReadFault();
    ScopedReadFault(const ScopedReadFault&) = delete;
    ScopedReadFault& operator=(const ScopedReadFault&) = delete;

    bool active() const { return fd_ >= 0; }
    const std::string& reason() const { return reason_; }
    // Reads refused so far.
    int refused() const { return refused_.load(); }

private:
    void Answer(int allowedReads);

    int fd_ = -1;
    int stop_[2] = {-1, -1};
    std::atomic<int> refused_{0};
    std::string reason_;
    std::thread answerer_;
};

}  // namespace testing_support
