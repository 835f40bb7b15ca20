#include "tests/support/read_fault.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace testing_support {

ScopedReadFault::ScopedReadFault(const std::filesystem::path& file, int allowedReads) {
    fd_ = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC, O_RDONLY | O_LARGEFILE);
    if (fd_ < 0) {
        reason_ = std::string("fanotify permission events are not available here: ") + std::strerror(errno);
        return;
    }
    if (::fanotify_mark(fd_, FAN_MARK_ADD, FAN_ACCESS_PERM, AT_FDCWD, file.c_str()) != 0 ||
        ::pipe(stop_) != 0) {
        reason_ = std::string("fanotify cannot watch reads of the file: ") + std::strerror(errno);
        ::close(fd_);
        fd_ = -1;
        return;
    }
    answerer_ = std::thread([this, allowedReads] { Answer(allowedReads); });
}

ScopedReadFault::~ScopedReadFault() {
    if (fd_ < 0)
        return;
    (void)!::write(stop_[1], "x", 1);
    answerer_.join();
    ::close(stop_[0]);
    ::close(stop_[1]);
    ::close(fd_);
}

void ScopedReadFault::Answer(int allowedReads) {
    alignas(fanotify_event_metadata) char buffer[4096];
    int allowed = 0;
    while (true) {
        pollfd watched[2] = {{fd_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0 && errno != EINTR)
            return;
        if ((watched[1].revents & POLLIN) != 0)
            return;
        if ((watched[0].revents & POLLIN) == 0)
            continue;
        const ssize_t length = ::read(fd_, buffer, sizeof buffer);
        if (length <= 0)
            continue;
        auto* event = reinterpret_cast<fanotify_event_metadata*>(buffer);
        for (ssize_t left = length; FAN_EVENT_OK(event, left); event = FAN_EVENT_NEXT(event, left)) {
            fanotify_response response{event->fd, FAN_ALLOW};
            if ((event->mask & FAN_ACCESS_PERM) != 0 && allowed++ >= allowedReads) {
                response.response = FAN_DENY;
                ++refused_;
            }
            (void)!::write(fd_, &response, sizeof response);
            if (event->fd >= 0)
                ::close(event->fd);
        }
    }
}

}  // namespace testing_support
