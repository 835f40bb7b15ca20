#include "tests/support/lumvar_cmd_runner.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

extern char** environ;

namespace testing_support {

std::filesystem::path LumvarCmdPath() {
    return std::filesystem::path(LUMVAR_BINARY_DIR) / "bin" / "lumvar-cmd";
}

int RunLumvarCmd(const std::vector<std::string>& arguments, const std::function<bool()>& beforeStart) {
    std::string program = LumvarCmdPath().string();
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv;
    argv.push_back(program.data());
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        if (beforeStart && !beforeStart())
            ::_exit(126);
        ::execve(argv[0], argv.data(), environ);
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace testing_support
