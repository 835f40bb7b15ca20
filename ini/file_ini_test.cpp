#include "ini/file_ini.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/read_fault.h"
#include "tests/support/temp_folder.h"

namespace {

using testing_support::TempFolder;
using testing_support::U16;
using testing_support::WriteFile;

// Printable form of a line's text for whole-line comparisons: control characters and characters
// beyond ASCII are spelled out.
std::string Escape(std::u16string_view text) {
    std::string out;
    for (const char16_t c : text) {
        if (c == u'\r') {
            out += "\\r";
        } else if (c == u'\n') {
            out += "\\n";
        } else if (c == u'\t') {
            out += "\\t";
        } else if (c >= 0x20 && c < 0x7F) {
            out.push_back(static_cast<char>(c));
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "\\u%04X", static_cast<unsigned>(c));
            out += code;
        }
    }
    return out;
}

// "<kind> <sectionIndex> <entryIndex> '<indent>' '<text>' '<padBeforeEquals>' '<padAfterEquals>'"
std::vector<std::string> DescribeLines(const CFileIni& document) {
    std::vector<std::string> described;
    for (const CLinea& line : document.lines) {
        described.push_back(std::to_string(line.kind) + " " + std::to_string(line.sectionIndex) + " " +
                            std::to_string(line.entryIndex) + " '" + Escape(line.indent) + "' '" +
                            Escape(line.text) + "' '" + Escape(line.padBeforeEquals) + "' '" +
                            Escape(line.padAfterEquals) + "'");
    }
    return described;
}

// "'<name>' '<key>'='<value>' ..." per section.
std::vector<std::string> DescribeSections(const CFileIni& document) {
    std::vector<std::string> described;
    for (const CFileIni::Sezione& section : document.sections) {
        std::string text = "'";
        text += Escape(section.name);
        text += "'";
        for (const CFileIni::Entry& entry : section.entries) {
            text += " '" + Escape(entry.key) + "'='" + Escape(entry.value) + "'";
        }
        described.push_back(text);
    }
    return described;
}

class FileIniTest : public testing::Test {
protected:
    // Writes the bytes to a file and loads a fresh document from it.
    bool LoadBytes(std::string_view bytes) {
        WriteFile(folder / "settings.ini", bytes);
        document.filePath = U16(folder / "settings.ini");
        return document.Load();
    }

    TempFolder folder;
    CFileIni document;
};

// ---------------------------------------------------------------------------------------------
// The worked example: eleven lines, each record checked member by member.

struct ExpectedLine {
    std::u16string_view raw;
    std::int32_t kind;
    std::u16string_view indent;
    std::u16string_view text;
    std::u16string_view padBeforeEquals;
    std::u16string_view padAfterEquals;
    std::int32_t sectionIndex;
    std::int32_t entryIndex;
};

TEST_F(FileIniTest, WorkedExampleLoadsLineByLine) {
    const std::vector<ExpectedLine> table = {
        {u"; saved settings", 0, u"", u"; saved settings", u"", u"", -1, -1},
        {u"x=1", 0, u"", u";x=1", u"", u"", -1, -1},
        {u"[Options]", 1, u"", u"", u"", u"", 0, -1},
        {u"  Confirm = 1", 2, u"  ", u"", u" ", u" ", 0, 0},
        {u"Colour=dark blue ; note", 2, u"", u"", u"", u"", 0, 1},
        {u"confirm=0", 0, u"", u";confirm=0", u"", u"", -1, -1},
        {u"", 0, u"", u"", u"", u"", -1, -1},
        {u"[options]", 0, u"", u";[options]", u"", u"", -1, -1},
        {u"Other=2", 0, u"", u";Other=2", u"", u"", -1, -1},
        {u"[Next] tail", 1, u"", u" ;tail", u"", u"", 1, -1},
        {u"A", 0, u"", u";A", u"", u"", -1, -1},
    };
    std::string bytes;
    for (std::size_t i = 0; i < table.size(); ++i) {
        if (i > 0)
            bytes += "\r\n";
        for (const char16_t c : table[i].raw)
            bytes.push_back(static_cast<char>(c));
    }

    ASSERT_TRUE(LoadBytes(bytes));
    ASSERT_EQ(document.lines.GetSize(), 11);
    for (std::size_t i = 0; i < table.size(); ++i) {
        const ExpectedLine& want = table[i];
        const CLinea& got = document.lines[static_cast<std::ptrdiff_t>(i)];
        SCOPED_TRACE("line " + std::to_string(i + 1) + " '" + Escape(want.raw) + "'");
        EXPECT_EQ(got.kind, want.kind);
        EXPECT_EQ(got.indent, want.indent);
        EXPECT_EQ(got.text, want.text);
        EXPECT_EQ(got.padBeforeEquals, want.padBeforeEquals);
        EXPECT_EQ(got.padAfterEquals, want.padAfterEquals);
        EXPECT_EQ(got.sectionIndex, want.sectionIndex);
        EXPECT_EQ(got.entryIndex, want.entryIndex);
    }

    ASSERT_EQ(document.sections.GetSize(), 2);
    EXPECT_EQ(document.sections[0].name, u"Options");
    ASSERT_EQ(document.sections[0].entries.GetSize(), 2);
    EXPECT_EQ(document.sections[0].entries[0].key, u"Confirm");
    EXPECT_EQ(document.sections[0].entries[0].value, u"1");
    EXPECT_EQ(document.sections[0].entries[1].key, u"Colour");
    EXPECT_EQ(document.sections[0].entries[1].value, u"dark blue ; note");
    EXPECT_EQ(document.sections[1].name, u"Next");
    EXPECT_TRUE(document.sections[1].entries.IsEmpty());

    EXPECT_EQ(document.GetValue(u"OPTIONS", u"colour"), u"dark blue ; note");
    EXPECT_EQ(document.errorText, u"");
    EXPECT_EQ(document.GetValue(u"Next", u"A"), u"");
    EXPECT_EQ(document.errorText, u"Unable to locate specified value.");
    EXPECT_EQ(document.GetValue(u"Missing", u"Confirm"), u"");
    EXPECT_EQ(document.errorText, u"Unable to locate specified key.");
}

// ---------------------------------------------------------------------------------------------
// How each kind of line loads: whole records and whole sections compared.

struct LoadCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> lines;
    std::vector<std::string> sections;
};

class FileIniLoadTest : public FileIniTest, public testing::WithParamInterface<LoadCase> {};

TEST_P(FileIniLoadTest, BuildsLinesAndSections) {
    const LoadCase& c = GetParam();
    ASSERT_TRUE(LoadBytes(c.bytes));
    EXPECT_EQ(DescribeLines(document), c.lines);
    EXPECT_EQ(DescribeSections(document), c.sections);
    EXPECT_EQ(document.errorText, u"");
}

const std::string kHeader = "1 0 -1 '' '' '' ''";
const std::string kBlank = "0 -1 -1 '' '' '' ''";
std::string Text(const std::string& text) {
    return "0 -1 -1 '' '" + text + "' '' ''";
}

INSTANTIATE_TEST_SUITE_P(
    Lines, FileIniLoadTest,
    testing::Values(
        LoadCase{"EmptyFile", "", {kBlank}, {}},
        LoadCase{"LinesBeforeTheFirstHeaderBecomeComments",
                 "a=1\r\n  b = 2\r\nnoequals\r\n; note\r\n[S]",
                 {Text(";a=1"), Text(";  b = 2"), Text(";noequals"), Text("; note"), kHeader},
                 {"'S'"}},
        LoadCase{"CommentsAndIndentedCommentsStayUnchanged",
                 "; c\r\n  ;indented\r\n[S]\r\n;k=v",
                 {Text("; c"), Text("  ;indented"), kHeader, Text(";k=v")},
                 {"'S'"}},
        LoadCase{"RepeatedSectionIsSkippedUpToTheNextAcceptedHeader",
                 "[Main]\r\na=1\r\n[MAIN]\r\na=2\r\nb=3\r\n; kept\r\n[Other]\r\nb=4",
                 {kHeader, "2 0 0 '' '' '' ''", Text(";[MAIN]"), Text(";a=2"), Text(";b=3"), Text("; kept"),
                  "1 1 -1 '' '' '' ''", "2 1 0 '' '' '' ''"},
                 {"'Main' 'a'='1'", "'Other' 'b'='4'"}},
        LoadCase{
            "HeaderWithoutBracketDoesNotEndSkipping",
            "[A]\r\n[a]\r\n[B\r\nk=1\r\n[C]\r\nk=2",
            {kHeader, Text(";[a]"), Text(";[B"), Text(";k=1"), "1 1 -1 '' '' '' ''", "2 1 0 '' '' '' ''"},
            {"'A'", "'C' 'k'='2'"}},
        LoadCase{"RepeatedKeyKeepsTheFirst",
                 "[S]\r\nk=1\r\nK=2\r\nk =3",
                 {kHeader, "2 0 0 '' '' '' ''", Text(";K=2"), Text(";k =3")},
                 {"'S' 'k'='1'"}},
        LoadCase{"SameKeyInTwoSections",
                 "[A]\r\nk=1\r\n[B]\r\nK=2",
                 {kHeader, "2 0 0 '' '' '' ''", "1 1 -1 '' '' '' ''", "2 1 0 '' '' '' ''"},
                 {"'A' 'k'='1'", "'B' 'K'='2'"}},
        LoadCase{"HeaderWithoutBracketKeepsThePreviousSection",
                 "[A]\r\nx=1\r\n[Main\r\ny=2",
                 {kHeader, "2 0 0 '' '' '' ''", Text(";[Main"), "2 0 1 '' '' '' ''"},
                 {"'A' 'x'='1' 'y'='2'"}},
        LoadCase{
            "HeaderWithoutBracketBeforeAnySection", "  [Main\r\ny=2", {Text(";  [Main"), Text(";y=2")}, {}},
        LoadCase{
            "BracketsOnly", "[\r\n[[[\r\n[S]\r\n[", {Text(";["), Text(";[[["), kHeader, Text(";[")}, {"'S'"}},
        LoadCase{"SecondClosingBracketIsPartOfTheRest", "[Main]x]", {"1 0 -1 '' ';x]' '' ''"}, {"'Main'"}},
        LoadCase{"AllOpeningBracketsAreRemoved",
                 "[[Main]\r\nk=v",
                 {kHeader, "2 0 0 '' '' '' ''"},
                 {"'Main' 'k'='v'"}},
        LoadCase{"NameIsNotTrimmed", "[ Main ]", {kHeader}, {"' Main '"}},
        LoadCase{"EmptyNames",
                 "[]\r\nk=v\r\n[ ]\r\n[[]",
                 {kHeader, "2 0 0 '' '' '' ''", "1 1 -1 '' '' '' ''", Text(";[[]")},
                 {"'' 'k'='v'", "' '"}},
        LoadCase{
            "IndentedHeaderWithRemark", "  [Main]  ; remark", {"1 0 -1 '  ' '  ; remark' '' ''"}, {"'Main'"}},
        LoadCase{"JunkAfterHeaderBecomesARemark",
                 "\t[Main] \tjunk ; x",
                 {"1 0 -1 '\\t' ' \\t;junk ; x' '' ''"},
                 {"'Main'"}},
        LoadCase{"WhiteAfterHeaderStays", "[Main]   ", {"1 0 -1 '' '   ' '' ''"}, {"'Main'"}},
        LoadCase{"LfOnlyFileIsOneHeaderLine",
                 "[S]\nk=1\n x=2\n",
                 {"1 0 -1 '' '\\n;k=1\\n x=2\\n' '' ''"},
                 {"'S'"}},
        LoadCase{"LfOnlyFileWithoutHeader", "k=1\nx=2\n", {Text(";k=1\\nx=2\\n")}, {}},
        LoadCase{"CrAtTheVeryEndStaysInTheValue",
                 "[S]\r\nk=v\r",
                 {kHeader, "2 0 0 '' '' '' ''"},
                 {"'S' 'k'='v\\r'"}},
        LoadCase{
            "EntryOnTheLastLine", "[S]\r\nk = last", {kHeader, "2 0 0 '' '' ' ' ' '"}, {"'S' 'k'='last'"}},
        LoadCase{"FinalCrLfGivesAnEmptyLastLine",
                 "[S]\r\nk=v\r\n",
                 {kHeader, "2 0 0 '' '' '' ''", kBlank},
                 {"'S' 'k'='v'"}},
        LoadCase{"KeysThatCannotBeKeys",
                 "[S]\r\na;b=1\r\na[b=1\r\n=x\r\n  = x\r\na]b=1",
                 {kHeader, Text(";a;b=1"), Text(";a[b=1"), Text(";=x"), Text(";  = x"), "2 0 0 '' '' '' ''"},
                 {"'S' 'a]b'='1'"}},
        LoadCase{"HashBeginsNoComment",
                 "[S]\r\n#x=1\r\n#note",
                 {kHeader, "2 0 0 '' '' '' ''", Text(";#note")},
                 {"'S' '#x'='1'"}},
        LoadCase{"EqualsSignsAndEmptyValues",
                 "[S]\r\na=b=c\r\nb=\r\nc =  ",
                 {kHeader, "2 0 0 '' '' '' ''", "2 0 1 '' '' '' ''", "2 0 2 '' '' ' ' '  '"},
                 {"'S' 'a'='b=c' 'b'='' 'c'=''"}},
        LoadCase{"PadsAndTrailingRemarkBelongWhereTheyShould",
                 "[S]\r\n\tkey \t= \tvalue ; note \r\n",
                 {kHeader, "2 0 0 '\\t' '' ' \\t' ' \\t'", kBlank},
                 {"'S' 'key'='value ; note '"}},
        LoadCase{"LinesOfWhiteSpaceStayUnchanged",
                 "[S]\r\n \t \r\n\v\f\r\nk=v",
                 {kHeader, Text(" \\t "), Text("\\u000B\\u000C"), "2 0 0 '' '' '' ''"},
                 {"'S' 'k'='v'"}},
        LoadCase{"ZeroByteAndLoneCrAreCharacters",
                 std::string("[S]\r\nk=a\0b\r\nj=a\rb", 17),
                 {kHeader, "2 0 0 '' '' '' ''", "2 0 1 '' '' '' ''"},
                 {"'S' 'k'='a\\u0000b' 'j'='a\\rb'"}}),
    [](const testing::TestParamInfo<LoadCase>& param) { return std::string(param.param.name); });

// ---------------------------------------------------------------------------------------------
// Lookups

TEST_F(FileIniTest, LookupsIgnoreCaseInBothNames) {
    ASSERT_TRUE(LoadBytes("[Options]\r\nConfirm=1\r\n[Next]\r\nA=2"));
    EXPECT_EQ(document.GetValue(u"options", u"CONFIRM"), u"1");
    EXPECT_EQ(document.GetValue(u"NEXT", u"a"), u"2");
    EXPECT_EQ(document.FindSection(u"nExT"), 1);
    EXPECT_EQ(document.FindEntry(0, u"confirm"), 0);
    EXPECT_EQ(document.errorText, u"");
}

TEST_F(FileIniTest, LookupArgumentsAreNotTrimmed) {
    ASSERT_TRUE(LoadBytes("[ Main ]\r\nk=1\r\n[Other]\r\nkey=2"));
    EXPECT_EQ(document.GetValue(u"Main", u"k"), u"");
    EXPECT_EQ(document.errorText, u"Unable to locate specified key.");
    EXPECT_EQ(document.GetValue(u" main ", u"k"), u"1");
    EXPECT_EQ(document.FindSection(u"Other "), -1);
    EXPECT_EQ(document.FindEntry(1, u" key"), -1);
}

TEST_F(FileIniTest, FailedLookupsSetTheirMessageAndSuccessLeavesIt) {
    ASSERT_TRUE(LoadBytes("[S]\r\nk=v\r\ne="));
    EXPECT_EQ(document.GetValue(u"S", u"missing"), u"");
    EXPECT_EQ(document.errorText, u"Unable to locate specified value.");
    EXPECT_EQ(document.GetValue(u"S", u"k"), u"v");
    EXPECT_EQ(document.errorText, u"Unable to locate specified value.");
    EXPECT_EQ(document.GetValue(u"T", u"k"), u"");
    EXPECT_EQ(document.errorText, u"Unable to locate specified key.");
    // An empty value is found; only errorText tells it from a missing one, and it is not cleared.
    EXPECT_EQ(document.GetValue(u"s", u"E"), u"");
    EXPECT_EQ(document.errorText, u"Unable to locate specified key.");
}

TEST_F(FileIniTest, EmptyFileAnswersEveryLookupWithTheKeyMessage) {
    ASSERT_TRUE(LoadBytes(""));
    EXPECT_EQ(document.GetValue(u"", u""), u"");
    EXPECT_EQ(document.errorText, u"Unable to locate specified key.");
}

TEST_F(FileIniTest, FindEntryRejectsSectionIndicesOutOfRange) {
    ASSERT_TRUE(LoadBytes("[A]\r\nk=1\r\n[B]\r\nk=2"));
    EXPECT_EQ(document.FindEntry(-1, u"k"), -1);
    EXPECT_EQ(document.FindEntry(2, u"k"), -1);
    EXPECT_EQ(document.FindEntry(1, u"k"), 0);
    EXPECT_EQ(document.FindEntry(1, u"K"), 0);
}

// The document's arrays are public; the lookups scan them from index 0, so the first of two equal
// names wins even when the arrays were filled by hand.
TEST(FileIniLookup, FirstMatchWins) {
    CFileIni document;
    CFileIni::Sezione first;
    first.name = u"Dup";
    first.entries.Add(CFileIni::Entry{u"K", u"first"});
    first.entries.Add(CFileIni::Entry{u"k", u"second"});
    CFileIni::Sezione second;
    second.name = u"DUP";
    second.entries.Add(CFileIni::Entry{u"K", u"other"});
    document.sections.Add(first);
    document.sections.Add(second);

    EXPECT_EQ(document.FindSection(u"dup"), 0);
    EXPECT_EQ(document.FindEntry(0, u"k"), 0);
    EXPECT_EQ(document.GetValue(u"DUP", u"k"), u"first");
}

// Bytes 0x80-0xFF become U+0080-U+00FF; letters beyond ASCII match only themselves.
TEST_F(FileIniTest, HighBytesBecomeLatinCharactersAndMatchExactly) {
    ASSERT_TRUE(LoadBytes("[Caf\xE9]\r\nK\xFC=\x80\xFF \xA0"));
    ASSERT_EQ(document.sections.GetSize(), 1);
    EXPECT_EQ(document.sections[0].name, u"Caf\u00E9");
    ASSERT_EQ(document.sections[0].entries.GetSize(), 1);
    EXPECT_EQ(document.sections[0].entries[0].key, u"K\u00FC");
    // U+00A0 is no white space here: only tab to CR and space are.
    EXPECT_EQ(document.sections[0].entries[0].value, u"\u0080\u00FF \u00A0");

    EXPECT_EQ(document.GetValue(u"CAF\u00E9", u"k\u00FC"), u"\u0080\u00FF \u00A0");
    EXPECT_EQ(document.FindSection(u"CAF\u00C9"), -1);
    EXPECT_EQ(document.FindEntry(0, u"K\u00DC"), -1);
}

TEST_F(FileIniTest, SectionsDifferingOnlyBeyondAsciiAreBothKept) {
    ASSERT_TRUE(LoadBytes("[\xC9]\r\nk=1\r\n[\xE9]\r\nk=2"));
    EXPECT_EQ(DescribeSections(document),
              (std::vector<std::string>{"'\\u00C9' 'k'='1'", "'\\u00E9' 'k'='2'"}));
}

// ---------------------------------------------------------------------------------------------
// Reading the file

TEST_F(FileIniTest, MissingFileFailsWithNoLinesAndNoSections) {
    document.filePath = U16(folder / "missing.ini");
    EXPECT_FALSE(document.Load());
    EXPECT_EQ(document.errorText, u"Reading lines failed.");
    EXPECT_TRUE(document.lines.IsEmpty());
    EXPECT_TRUE(document.sections.IsEmpty());
}

// Only regular files are read: a FIFO without a writer (which would hold the open up for ever) or a
// device fails like a missing file, and a read that fails half-way fails the load.
TEST_F(FileIniTest, SpecialFilesAndReadErrorsFailTheLoad) {
    ASSERT_EQ(::mkfifo((folder / "fifo.ini").c_str(), 0644), 0);
    std::filesystem::create_symlink("/dev/zero", folder / "device.ini");
    WriteFile(folder / "eobd.ini", "[EOBD]\r\nPorta=COM3\r\n" + std::string(200000, ';'));
    const testing_support::ScopedReadFault fault(folder / "eobd.ini", 0);
    for (const char* name : {"fifo.ini", "device.ini", "eobd.ini"}) {
        if (std::string(name) == "eobd.ini" && !fault.active())
            continue;
        CFileIni ini;
        ini.filePath = U16(folder / name);
        EXPECT_FALSE(ini.Load()) << name;
        EXPECT_EQ(ini.errorText, u"Reading lines failed.") << name;
        EXPECT_TRUE(ini.lines.IsEmpty()) << name;
    }
    if (!fault.active())
        GTEST_SKIP() << "the read-error row: " << fault.reason();
}

TEST_F(FileIniTest, SecondLoadReplacesTheContent) {
    ASSERT_TRUE(LoadBytes("[A]\r\nk=1\r\n[B]"));
    ASSERT_TRUE(document.Load());
    EXPECT_EQ(DescribeSections(document), (std::vector<std::string>{"'A' 'k'='1'", "'B'"}));
    EXPECT_EQ(document.lines.GetSize(), 3);

    ASSERT_TRUE(LoadBytes("[b]\r\nk=2"));
    EXPECT_EQ(DescribeSections(document), (std::vector<std::string>{"'b' 'k'='2'"}));
    EXPECT_EQ(DescribeLines(document), (std::vector<std::string>{kHeader, "2 0 0 '' '' '' ''"}));
    EXPECT_EQ(document.GetValue(u"B", u"K"), u"2");

    document.filePath = U16(folder / "gone.ini");
    EXPECT_FALSE(document.Load());
    EXPECT_TRUE(document.lines.IsEmpty());
    EXPECT_TRUE(document.sections.IsEmpty());
}

TEST_F(FileIniTest, SuccessfulLoadLeavesAnEarlierMessage) {
    document.filePath = U16(folder / "missing.ini");
    ASSERT_FALSE(document.Load());
    ASSERT_TRUE(LoadBytes("[S]"));
    EXPECT_EQ(document.errorText, u"Reading lines failed.");
}

// Another process holds the file locked the whole time: all three attempts fail.
TEST_F(FileIniTest, FileHeldByAnotherProcessCannotBeRead) {
    WriteFile(folder / "held.ini", "[S]\r\nk=v");
    const std::string path = (folder / "held.ini").string();
    int locked[2];
    int release[2];
    ASSERT_EQ(::pipe(locked), 0);
    ASSERT_EQ(::pipe(release), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        const char done = (fd >= 0 && ::flock(fd, LOCK_EX) == 0) ? 'L' : 'E';
        if (::write(locked[1], &done, 1) != 1)
            ::_exit(1);
        char ignored;
        if (::read(release[0], &ignored, 1) < 0)
            ::_exit(1);
        ::_exit(0);
    }
    char state = 0;
    ASSERT_EQ(::read(locked[0], &state, 1), 1);
    ASSERT_EQ(state, 'L');

    document.filePath = U16(folder / "held.ini");
    const bool loaded = document.Load();

    const char go = 'G';
    EXPECT_EQ(::write(release[1], &go, 1), 1);
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    for (const int fd : {locked[0], locked[1], release[0], release[1]})
        ::close(fd);

    EXPECT_FALSE(loaded);
    EXPECT_EQ(document.errorText, u"Reading lines failed.");
    EXPECT_TRUE(document.lines.IsEmpty());
    EXPECT_TRUE(document.sections.IsEmpty());

    // Once the other process has let go, the same file loads.
    ASSERT_TRUE(document.Load());
    EXPECT_EQ(document.GetValue(u"S", u"k"), u"v");
}

// ---------------------------------------------------------------------------------------------
// Copies and moves: the loaded text lives in the document's arena, but what leaves the document
// by copy stands on its own.

const char kCopyBytes[] =
    "; a comment long enough to need storage\r\n[A section name]  junk after\r\n"
    "  A longer key  =  a longer value ; remark\r\nno equals sign here";

TEST_F(FileIniTest, CopiesOfRecordsOutliveTheDocument) {
    WriteFile(folder / "copy.ini", kCopyBytes);
    auto loaded = std::make_unique<CFileIni>();
    loaded->filePath = U16(folder / "copy.ini");
    ASSERT_TRUE(loaded->Load());
    const std::vector<std::string> lines = DescribeLines(*loaded);
    const std::vector<std::string> sections = DescribeSections(*loaded);

    const CLinea header = loaded->lines[1];
    CLinea entry;
    entry = loaded->lines[2];
    const CFileIni::Sezione section = loaded->sections[0];
    const CFileIni whole(*loaded);
    CFileIni assigned;
    ASSERT_TRUE(LoadBytes("[Other]\r\nk=v"));
    assigned = document;
    assigned = *loaded;
    loaded.reset();

    EXPECT_EQ(header.text, u"  ;junk after");
    EXPECT_EQ(entry.indent, u"  ");
    EXPECT_EQ(entry.padBeforeEquals, u"  ");
    EXPECT_EQ(section.name, u"A section name");
    ASSERT_EQ(section.entries.GetSize(), 1);
    EXPECT_EQ(section.entries[0].key, u"A longer key");
    EXPECT_EQ(section.entries[0].value, u"a longer value ; remark");
    EXPECT_EQ(DescribeLines(whole), lines);
    EXPECT_EQ(DescribeSections(whole), sections);
    EXPECT_EQ(DescribeLines(assigned), lines);
    EXPECT_EQ(DescribeSections(assigned), sections);
    EXPECT_EQ(assigned.GetValue(u"a SECTION name", u"a longer KEY"), u"a longer value ; remark");
}

// Moving a string, record or section out of the document copies its text out of the arena, so
// reading it after the document is gone reads the heap (AddressSanitizer sees any slip).
TEST_F(FileIniTest, RecordsMovedOutOutliveTheDocument) {
    auto loaded = std::make_unique<CFileIni>();
    loaded->LoadContent(kCopyBytes);

    const CLinea header(std::move(loaded->lines[1]));
    CLinea entry;
    entry = std::move(loaded->lines[2]);
    const CFileIni::Sezione section(std::move(loaded->sections[0]));
    ini::WideString comment;
    comment.swap(loaded->lines[0].text);
    const ini::WideString last(std::move(loaded->lines[3].text));
    loaded.reset();

    EXPECT_EQ(header.text, u"  ;junk after");
    EXPECT_EQ(entry.indent, u"  ");
    EXPECT_EQ(entry.padBeforeEquals, u"  ");
    EXPECT_EQ(entry.padAfterEquals, u"  ");
    EXPECT_EQ(section.name, u"A section name");
    ASSERT_EQ(section.entries.GetSize(), 1);
    EXPECT_EQ(section.entries[0].key, u"A longer key");
    EXPECT_EQ(section.entries[0].value, u"a longer value ; remark");
    EXPECT_EQ(comment, u"; a comment long enough to need storage");
    EXPECT_EQ(last, u";no equals sign here");
}

TEST_F(FileIniTest, MovedDocumentKeepsItsContent) {
    WriteFile(folder / "move.ini", kCopyBytes);
    auto loaded = std::make_unique<CFileIni>();
    loaded->filePath = U16(folder / "move.ini");
    ASSERT_TRUE(loaded->Load());
    const std::vector<std::string> lines = DescribeLines(*loaded);
    const std::vector<std::string> sections = DescribeSections(*loaded);

    CFileIni constructed(std::move(*loaded));
    loaded.reset();
    EXPECT_EQ(DescribeLines(constructed), lines);
    EXPECT_EQ(DescribeSections(constructed), sections);

    ASSERT_TRUE(LoadBytes("[Other]\r\nk=v"));
    document = std::move(constructed);
    EXPECT_EQ(DescribeLines(document), lines);
    EXPECT_EQ(DescribeSections(document), sections);
    EXPECT_EQ(document.GetValue(u"A Section Name", u"a longer key"), u"a longer value ; remark");
}

// ---------------------------------------------------------------------------------------------
// Line records

TEST(Linea, EachSetterResetsWhatItsKindDoesNotUse) {
    CLinea line;
    EXPECT_EQ(line.kind, 0);
    EXPECT_EQ(line.sectionIndex, -1);
    EXPECT_EQ(line.entryIndex, -1);
    EXPECT_TRUE(line.indent.empty() && line.text.empty() && line.padBeforeEquals.empty() &&
                line.padAfterEquals.empty());

    line.SetEntryLine(3, 4, u" ", u"\t", u"  ");
    line.text = u"stale";
    line.SetEntryLine(3, 4, u" ", u"\t", u"  ");
    EXPECT_EQ(line.kind, 2);
    EXPECT_EQ(line.sectionIndex, 3);
    EXPECT_EQ(line.entryIndex, 4);
    EXPECT_EQ(line.padBeforeEquals, u" ");
    EXPECT_EQ(line.padAfterEquals, u"\t");
    EXPECT_EQ(line.indent, u"  ");
    EXPECT_EQ(line.text, u"");

    line.SetSectionLine(5, u" ;x", u"\t");
    EXPECT_EQ(line.kind, 1);
    EXPECT_EQ(line.sectionIndex, 5);
    EXPECT_EQ(line.entryIndex, -1);
    EXPECT_EQ(line.text, u" ;x");
    EXPECT_EQ(line.indent, u"\t");
    EXPECT_EQ(line.padBeforeEquals, u"");
    EXPECT_EQ(line.padAfterEquals, u"");

    line.SetEntryLine(1, 2, u"a", u"b", u"c");
    line.SetTextLine(u";k", u"");
    EXPECT_EQ(line.kind, 0);
    EXPECT_EQ(line.sectionIndex, -1);
    EXPECT_EQ(line.entryIndex, -1);
    EXPECT_EQ(line.text, u";k");
    EXPECT_EQ(line.indent, u"");
    EXPECT_EQ(line.padBeforeEquals, u"");
    EXPECT_EQ(line.padAfterEquals, u"");
}

}  // namespace
