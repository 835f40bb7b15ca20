// Runs code in a child process whose calls of chosen system calls are each held until the test
// has answered them (seccomp user notification): the test can act at an exact moment of the
// child's work (make a folder, grow a file) and then let the call go on, or make the call fail or
// report a result without doing anything. Linux only.
#pragma once

#include <cstdint>
#include <functional>
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
int RunSupervised(const std::vector<int>& numbers, const std::function<int()>& child,
                  const std::function<CallAnswer(const HeldCall& call)>& answer);

}  // namespace testing_support
