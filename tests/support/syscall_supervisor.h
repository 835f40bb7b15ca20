// Runs code in a child process whose calls of chosen system calls are each held until the test
// has answered them (seccomp user notification): the test can act at an exact moment of the
// child's work (make a folder, grow a file) and then let the call go on, or make the call fail or
// report a result without doing anything. Linux only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// One held system call: its number and its six arguments, as the child passed them.
struct HeldCall {
    int number;
    std::uint64_t arguments[6];
};

// How a held call ends: carried out as the child asked (proceed), or not carried out and
// returning error (a positive errno value) or, when error is 0, value.
struct CallAnswer {
    bool proceed = true;
    std::int64_t value = 0;
    int error = 0;
};

// Forks; the child holds every call of the listed system call numbers, then runs child() and exits
// with what it returns. Each held call is passed to answer() in the calling process. The child's
// exit code, or -1 when it could not be run or did not exit normally (126: the filter could not
// be installed).
// Why this system cannot run RunSupervised (its kernel, or a container's own filter, offers no
// system call filters, no supervisor for them, or no way to let a held call go on); empty when it
// can. Found out once, in a child process. Any other failure of the trial is left to the test
// itself to report, as a fault.
std::string SupervisionUnavailable();

// The same for a plain filter (seccomp filter mode, no supervisor).
std::string SyscallFiltersUnavailable();

int RunSupervised(const std::vector<int>& numbers, const std::function<int()>& child,
                  const std::function<CallAnswer(const HeldCall& call)>& answer);

}  // namespace testing_support
