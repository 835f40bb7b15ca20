#include "tests/e2e/tool_runner.h"

namespace e2e {

namespace {

// Stands in until the Windows build can be run here: every scenario on it is reported as skipped.
class MissingWineRunner : public ToolRunner {
public:
    std::string Name() const override { return "wine"; }
    std::string UnavailableReason() const override { return "the Windows build is not run under Wine yet"; }
    std::u16string ToolPath(const std::filesystem::path&) const override { return {}; }
    std::filesystem::path CommonAppData() const override { return {}; }
    int Run(const std::vector<std::u16string>&) override { return -1; }
};

}  // namespace

std::unique_ptr<ToolRunner> MakeWineRunner(const std::filesystem::path&) {
    return std::make_unique<MissingWineRunner>();
}

}  // namespace e2e
