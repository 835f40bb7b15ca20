#include "tests/support/syscall_supervisor.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string>

namespace testing_support {

namespace {

// Installs a filter that holds the listed calls for a supervisor; the listening descriptor, or -1.
int HoldCalls(const std::vector<int>& numbers) {
    std::vector<sock_filter> filter;
    filter.push_back(BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)));
    for (std::size_t k = 0; k < numbers.size(); ++k) {
        // Jump to the last statement (hold) on a match; the one before it allows.
        const auto toHold = static_cast<unsigned char>(numbers.size() - k);
        filter.push_back(BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(numbers[k]), toHold, 0));
    }
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW));
    filter.push_back(BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_USER_NOTIF));
    const sock_fprog program = {static_cast<unsigned short>(filter.size()), filter.data()};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
        return -1;
    return static_cast<int>(
        ::syscall(__NR_seccomp, SECCOMP_SET_MODE_FILTER, SECCOMP_FILTER_FLAG_NEW_LISTENER, &program));
}

// One byte with room for one descriptor beside it, as a socket passes a descriptor on.
struct DescriptorMessage {
    char byte = 0;
    iovec data{&byte, 1};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};

    DescriptorMessage() {
        message.msg_iov = &data;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
    }
    DescriptorMessage(const DescriptorMessage&) = delete;
    DescriptorMessage& operator=(const DescriptorMessage&) = delete;
};

bool SendDescriptor(int socket, int fd) {
    DescriptorMessage sent;
    msghdr& message = sent.message;
    cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    std::memcpy(CMSG_DATA(header), &fd, sizeof(int));
    return ::sendmsg(socket, &message, 0) == 1;
}

int ReceiveDescriptor(int socket) {
    DescriptorMessage received;
    msghdr& message = received.message;
    if (::recvmsg(socket, &message, 0) != 1)
        return -1;
    const cmsghdr* header = CMSG_FIRSTHDR(&message);
    if (header == nullptr || header->cmsg_type != SCM_RIGHTS)
        return -1;
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(header), sizeof(int));
    return fd;
}

// Answers held calls until the child has ended.
void Supervise(int listener, pid_t child, const std::function<CallAnswer(const HeldCall& call)>& answer) {
    while (true) {
        pollfd wait{listener, POLLIN, 0};
        const int ready = ::poll(&wait, 1, 200);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready > 0 && (wait.revents & POLLIN) != 0) {
            seccomp_notif request{};
            if (::ioctl(listener, SECCOMP_IOCTL_NOTIF_RECV, &request) != 0)
                continue;  // the caller was interrupted meanwhile
            HeldCall call{request.data.nr, {}};
            std::memcpy(call.arguments, request.data.args, sizeof call.arguments);
            const CallAnswer reply = answer(call);
            seccomp_notif_resp response{};
            response.id = request.id;
            if (reply.proceed) {
                response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
            } else {
                response.val = reply.value;
                response.error = -reply.error;
            }
            ::ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, &response);
            continue;
        }
        if (ready > 0 && (wait.revents & (POLLHUP | POLLERR)) != 0)
            return;  // no process uses the filter any more
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
            info.si_pid == child)
            return;
    }
}

// Errors by which the system says that it has no such facility (too old a kernel, one built
// without it, a container's filter forbidding it, a supervisor already above this process).
bool FacilityMissing(int error) {
    return error == ENOSYS || error == EINVAL || error == EPERM || error == EACCES || error == EBUSY;
}

std::string Missing(const char* what, int error) {
    return std::string(what) + " not available here: " + std::strerror(error);
}

// The trial of SyscallFiltersUnavailable: a filter that allows everything.
std::string TryPlainFilter() {
    const pid_t pid = ::fork();
    if (pid < 0)
        return {};
    if (pid == 0) {
        sock_filter allow = BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW);
        const sock_fprog program = {1, &allow};
        if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
            ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)
            ::_exit(errno > 0 && errno < 256 ? errno : 255);
        ::_exit(0);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return {};
    const int error = WEXITSTATUS(status);
    return error != 0 && FacilityMissing(error) ? Missing("system call filters are", error) : std::string();
}

// The trial of SupervisionUnavailable: a child holds one getppid, which is let go on.
std::string TrySupervision() {
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return {};
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(sockets[0]);
        ::close(sockets[1]);
        return {};
    }
    if (pid == 0) {
        ::close(sockets[0]);
        const int listener = HoldCalls({SYS_getppid});
        if (listener < 0)
            ::_exit(errno > 0 && errno < 256 ? errno : 255);
        if (!SendDescriptor(sockets[1], listener))
            ::_exit(255);
        ::_exit(::syscall(SYS_getppid) > 0 ? 0 : 255);
    }
    ::close(sockets[1]);
    const int listener = ReceiveDescriptor(sockets[0]);
    ::close(sockets[0]);
    std::string reason;
    if (listener >= 0) {
        pollfd wait{listener, POLLIN, 0};
        seccomp_notif request{};
        if (::poll(&wait, 1, 10000) == 1 && ::ioctl(listener, SECCOMP_IOCTL_NOTIF_RECV, &request) == 0) {
            seccomp_notif_resp response{};
            response.id = request.id;
            response.flags = SECCOMP_USER_NOTIF_FLAG_CONTINUE;
            if (::ioctl(listener, SECCOMP_IOCTL_NOTIF_SEND, &response) != 0 && FacilityMissing(errno))
                reason = Missing("letting a held system call go on is", errno);
        }
        ::close(listener);
        // Closing the listener ends a call still held; the child is killed only if it still hangs.
        if (!reason.empty())
            ::kill(pid, SIGKILL);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return reason;
    const int error = WEXITSTATUS(status);
    if (listener < 0 && error != 0 && FacilityMissing(error))
        return Missing("system call filters with a supervisor are", error);
    return reason;
}

}  // namespace

std::string SupervisionUnavailable() {
    static const std::string reason = TrySupervision();
    return reason;
}

std::string SyscallFiltersUnavailable() {
    static const std::string reason = TryPlainFilter();
    return reason;
}

int RunSupervised(const std::vector<int>& numbers, const std::function<int()>& child,
                  const std::function<CallAnswer(const HeldCall& call)>& answer) {
    int sockets[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(sockets[0]);
        ::close(sockets[1]);
        return -1;
    }
    if (pid == 0) {
        ::close(sockets[0]);
        const int listener = HoldCalls(numbers);
        if (listener < 0 || !SendDescriptor(sockets[1], listener))
            ::_exit(126);
        ::close(listener);
        ::close(sockets[1]);
        ::_exit(child());
    }
    ::close(sockets[1]);
    const int listener = ReceiveDescriptor(sockets[0]);
    ::close(sockets[0]);
    if (listener >= 0) {
        Supervise(listener, pid, answer);
        ::close(listener);
    }
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

}  // namespace testing_support
