#include "tests/e2e/tool_runner.h"

#include <spawn.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdlib>

#include "platform/text.h"

extern char** environ;

namespace e2e {

namespace {

class PosixRunner : public ToolRunner {
public:
    explicit PosixRunner(const std::filesystem::path& scratch)
        : programData_(scratch / "ProgramData"), tool_(std::filesystem::path(LUMVAR_BINARY_DIR) / "bin" / "lumvar") {
        std::filesystem::create_directories(programData_);
    }

    std::string Name() const override { return "posix"; }

    std::string UnavailableReason() const override {
        return std::filesystem::exists(tool_) ? "" : "the POSIX build has no executable at " + tool_.string();
    }

    std::u16string ToolPath(const std::filesystem::path& host) const override {
        return platform::FromUtf8(host.string());
    }

    std::filesystem::path CommonAppData() const override { return programData_; }

    int Run(const std::vector<std::u16string>& arguments) override {
        std::vector<std::string> owned{tool_.string()};
        for (const auto& argument : arguments) owned.push_back(platform::ToUtf8(argument));
        std::vector<char*> argv;
        for (auto& argument : owned) argv.push_back(argument.data());
        argv.push_back(nullptr);

        std::vector<std::string> environment{"ProgramData=" + programData_.string()};
        for (char** entry = environ; *entry != nullptr; ++entry) {
            if (std::string(*entry).rfind("ProgramData=", 0) != 0) environment.emplace_back(*entry);
        }
        std::vector<char*> envp;
        for (auto& entry : environment) envp.push_back(entry.data());
        envp.push_back(nullptr);

        pid_t child = 0;
        if (::posix_spawn(&child, owned[0].c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return -1;
        int status = 0;
        while (::waitpid(child, &status, 0) < 0) {
            if (errno != EINTR) return -1;
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

private:
    std::filesystem::path programData_;
    std::filesystem::path tool_;
};

}  // namespace

std::unique_ptr<ToolRunner> MakeRunner(const std::string& name, const std::filesystem::path& scratch) {
    if (name == "wine") return MakeWineRunner(scratch);
    return std::make_unique<PosixRunner>(scratch);
}

std::vector<std::string> AllBuilds() { return {"posix", "wine"}; }

}  // namespace e2e
