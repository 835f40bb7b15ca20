#include "ini/read_lines.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace {

using testing_support::TempFolder;
using testing_support::U16;
using testing_support::WriteFile;

std::vector<std::u16string> ToVector(const CArray<std::u16string, const std::u16string&>& lines) {
    return std::vector<std::u16string>(lines.begin(), lines.end());
}

struct SplitCase {
    const char* name;
    std::string bytes;
    std::vector<std::u16string> expected;
};

class ReadLinesTest : public testing::TestWithParam<SplitCase> {
protected:
    TempFolder folder;
};

// Only CR LF ends a line; every other byte, CR, LF and zero included, is a character of its line.
TEST_P(ReadLinesTest, CutsTheFileAtCrLfOnly) {
    const SplitCase& c = GetParam();
    WriteFile(folder / "in.ini", c.bytes);
    CArray<std::u16string, const std::u16string&> lines;
    lines.Add(u"left from before");

    ASSERT_TRUE(ReadLines(U16(folder / "in.ini"), lines));
    EXPECT_EQ(ToVector(lines), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ReadLinesTest,
    testing::Values(SplitCase{"Empty", "", {u""}}, SplitCase{"OneLineNoBreak", "abc", {u"abc"}},
                    SplitCase{"EndsWithCrLf", "a\r\nb\r\n", {u"a", u"b", u""}},
                    SplitCase{"OnlyCrLf", "\r\n", {u"", u""}},
                    SplitCase{"LfOnlyIsOneLine", "a\nb\nc\n", {u"a\nb\nc\n"}},
                    SplitCase{"LoneCrStays", "a\rb\r\nc", {u"a\rb", u"c"}},
                    SplitCase{"CrAtTheVeryEnd", "a\r\nb\r", {u"a", u"b\r"}},
                    SplitCase{"LfCrIsNoBreak", "a\n\rb", {u"a\n\rb"}},
                    SplitCase{"CrCrLf", "a\r\r\nb", {u"a\r", u"b"}},
                    SplitCase{"ZeroBytes",
                              std::string("a\0b\r\n\0", 6),
                              {std::u16string(u"a\0b", 3), std::u16string(1, u'\0')}},
                    SplitCase{"EmptyLinesBetween", "a\r\n\r\n\r\nb", {u"a", u"", u"", u"b"}}),
    [](const testing::TestParamInfo<SplitCase>& param) { return std::string(param.param.name); });

TEST(ReadLines, EveryByteBecomesTheCharacterOfTheSameNumber) {
    std::string bytes;
    std::u16string expected;
    for (int b = 0; b < 256; ++b) {
        bytes.push_back(static_cast<char>(b));
        expected.push_back(static_cast<char16_t>(b));
    }
    EXPECT_EQ(ini::WidenBytes(bytes), expected);

    // 0x0D is followed by 0x0E, not by LF, so the whole run is one line.
    TempFolder folder;
    WriteFile(folder / "all.bin", bytes);
    CArray<std::u16string, const std::u16string&> lines;
    ASSERT_TRUE(ReadLines(U16(folder / "all.bin"), lines));
    EXPECT_EQ(ToVector(lines), std::vector<std::u16string>{expected});
}

TEST(ReadLines, AMissingFileFailsAndLeavesNoLines) {
    TempFolder folder;
    CArray<std::u16string, const std::u16string&> lines;
    lines.Add(u"left from before");
    EXPECT_FALSE(ReadLines(U16(folder / "missing.ini"), lines));
    EXPECT_TRUE(lines.IsEmpty());
}

TEST(ReadLines, AFolderIsNoFile) {
    TempFolder folder;
    CArray<std::u16string, const std::u16string&> lines;
    EXPECT_FALSE(ReadLines(U16(folder.path()), lines));
    EXPECT_TRUE(lines.IsEmpty());
}

}  // namespace
