// Test stand-ins for the copy step's surroundings: a command launcher that records every parameter
// string instead of starting anything, and a scoped environment variable (ProgramData names the
// common application-data folder of the POSIX build).
#pragma once

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "jobs/copy_step.h"

namespace testing_support {

class RecordingLauncher : public CommandLauncher {
public:
    RecordingLauncher() : scope_(*this) {}

    bool Run(const std::u16string& parameters, std::uint32_t& exitCode) override {
        commands.push_back(parameters);
        if (!starts)
            return false;
        exitCode = exitCodeFor ? exitCodeFor(parameters) : 0;
        return true;
    }

    std::vector<std::u16string> commands;
    // False: the interpreter cannot be started.
    bool starts = true;
    // The exit code of each run; 0 when unset.
    std::function<std::uint32_t(const std::u16string& parameters)> exitCodeFor;

private:
    ScopedCommandLauncher scope_;
};

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) {
            old_ = old;
            hadOld_ = true;
        }
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedEnv() {
        if (hadOld_) {
            ::setenv(name_, old_.c_str(), 1);
        } else {
            ::unsetenv(name_);
        }
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    const char* name_;
    std::string old_;
    bool hadOld_ = false;
};

}  // namespace testing_support
