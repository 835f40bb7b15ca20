// The exit codes of the real executable: malformed command lines touch nothing, well-formed ones run
// their job.
#include <gtest/gtest.h>

#include "tests/e2e/scenario_support.h"

namespace e2e {
namespace {

namespace fs = std::filesystem;

class ExitCodes : public Scenario {
protected:
    void SetUp() override {
        Scenario::SetUp();
        if (IsSkipped())
            return;
        WriteTree(root, SampleInstallation());
        WriteTree(root / "nero", {{"placeholder.txt", "x"}});
        WriteTree(root / "suite" / "bancadati" / "addin", {{"sett.xml", "<sett/>"}});
    }
};

TEST_P(ExitCodes, MalformedCommandLinesEndWithTheirCodeAndTouchNothing) {
    const Tree before = ReadTree(root);
    const std::u16string suite = Tool("suite");
    const std::u16string modules = Tool("modules");
    const std::u16string data = Tool("data");
    const std::u16string nero = Tool("nero");
    const struct {
        std::vector<std::u16string> arguments;
        int expected;
    } cases[] = {
        {{}, 2},
        {{u"/backup", suite, modules}, 2},
        {{u"/backup", suite, modules, data, data}, 2},
        {{u"/restore", suite, data}, 2},
        {{u"/restore", suite, data, suite, u"/common", u"/common"}, 2},
        {{u"/cdnero", suite}, 2},
        {{u"/cdnero", suite, nero, nero}, 2},
        {{u"/BACKUP", suite, modules, data}, 3},
        {{u"backup", suite, modules, data}, 3},
        {{u"/Restore", suite, data, suite}, 3},
        {{u"/CdNero", suite, nero}, 3},
        {{u"/help"}, 3},
        // Empty and blank folder arguments: installer variables that were never set.
        {{u"/backup", u"", modules, data}, 2},
        {{u"/backup", suite, u" ", data}, 2},
        {{u"/restore", u"", u"", u""}, 2},
        {{u"/restore", suite, data, u"\t", u"/common"}, 2},
        {{u"/cdnero", u"", nero}, 2},
        {{u"/cdnero", suite, u"  "}, 2},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.arguments), c.expected) << c.arguments.size() << " arguments";
    }
    EXPECT_FALSE(fs::exists(BackupFolder()));
    EXPECT_EQ(ReadTree(root), before);
}

TEST_P(ExitCodes, EachVerbSucceedsWithZero) {
    EXPECT_EQ(Backup(), 0);
    fs::rename(root / "data", root / "old data");
    WriteTree(root, FreshInstallation());
    EXPECT_EQ(Restore(), 0);
    EXPECT_EQ(Restore({u"/common"}), 0);
    EXPECT_EQ(Restore({u"/COMMON"}), 0);
    EXPECT_EQ(Run({u"/cdnero", Tool("suite"), Tool("nero")}), 0);
}

INSTANTIATE_TEST_SUITE_P(Builds, ExitCodes, testing::ValuesIn(AllBuilds()), BuildName);

}  // namespace
}  // namespace e2e
