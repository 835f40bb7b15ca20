// The command interpreter on POSIX: "lumvar-cmd", installed beside the tool, stands in for
// cmd.exe. It receives the whole parameter string as its one argument and understands the XCOPY
// forms the tool builds. It is started by its full path, never through a shell or the search path,
// and in the root folder, never in the tool's working folder.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>

#include "platform/platform.h"
#include "platform/text.h"

extern char** environ;

namespace platform {

namespace {

std::string OwnFolder() {
    std::string buffer(PATH_MAX, '\0');
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= buffer.size())
        return {};
    buffer.resize(static_cast<std::size_t>(length));
    return buffer.substr(0, buffer.find_last_of('/') + 1);
}

}  // namespace

std::u16string CommandInterpreterPath() {
    const std::string folder = OwnFolder();
    if (folder.empty())
        return {};
    return FromUtf8(folder + "lumvar-cmd");
}

bool RunCommandInterpreter(const std::u16string& parameters, std::uint32_t& exitCode) {
    // An argument ends at its first NUL: the interpreter would see only the front part of the
    // parameters, a different command. Such a string cannot be handed over, so nothing starts.
    if (parameters.find(u'\0') != std::u16string::npos)
        return false;
    const std::u16string interpreter = CommandInterpreterPath();
    if (interpreter.empty())
        return false;
    std::string program = ToUtf8(interpreter);
    std::string argument = ToUtf8(parameters);
    char* argv[] = {program.data(), argument.data(), nullptr};
    // Its working folder is "/": the parameters name absolute paths only, and nothing that a
    // relative name might reach in the tool's own working folder may take part in a copy.
    posix_spawn_file_actions_t actions;
    if (::posix_spawn_file_actions_init(&actions) != 0)
        return false;
    pid_t child = 0;
    const bool started = ::posix_spawn_file_actions_addchdir_np(&actions, "/") == 0 &&
                         ::posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environ) == 0;
    ::posix_spawn_file_actions_destroy(&actions);
    if (!started)
        return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    if (WIFEXITED(status)) {
        exitCode = static_cast<std::uint32_t>(WEXITSTATUS(status));
        return true;
    }
    // A child ended by a signal did not finish its copy.
    exitCode = 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    return true;
}

}  // namespace platform
