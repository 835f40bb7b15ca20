// Runs the built tool as its callers do, so that one end-to-end scenario can be written once and
// run against both builds: the POSIX executable natively, and the Windows executable under Wine.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace e2e {

class ToolRunner {
public:
    virtual ~ToolRunner() = default;

    // "posix" or "wine".
    virtual std::string Name() const = 0;

    // Empty when this build can be run here; otherwise why not (the scenario is then skipped).
    virtual std::string UnavailableReason() const = 0;

    // The form in which the tool sees a host path: unchanged natively, a drive path under Wine.
    virtual std::u16string ToolPath(const std::filesystem::path& host) const = 0;

    // The host folder that the tool uses as the common application-data folder. Each runner
    // starts with it empty.
    virtual std::filesystem::path CommonAppData() const = 0;

    // Runs the tool with arguments 1 onwards, waits for it and returns its exit code; -1 when it
    // could not be started.
    virtual int Run(const std::vector<std::u16string>& arguments) = 0;
};

// The runner of the named build ("posix" or "wine"), working below the scratch folder.
std::unique_ptr<ToolRunner> MakeRunner(const std::string& name, const std::filesystem::path& scratch);

// The Wine runner lives in wine_runner.cpp.
std::unique_ptr<ToolRunner> MakeWineRunner(const std::filesystem::path& scratch);

// Names of every build a scenario runs against.
std::vector<std::string> AllBuilds();

}  // namespace e2e
