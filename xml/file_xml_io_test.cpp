#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tests/support/full_disk.h"
#include "tests/support/read_fault.h"
#include "tests/support/temp_folder.h"
#include "xml/file_xml.h"

namespace {

using namespace std::string_literals;
using testing_support::FillFileSystem;
using testing_support::ReadFile;
using testing_support::ScopedTmpfs;
using testing_support::TempFolder;
using testing_support::U16;
using testing_support::WriteFile;

// Names in a folder, sorted: a failed or finished save must leave no temporary file behind.
std::vector<std::string> Entries(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}


// Valid UTF-8 with characters of every length and every plane, no zero byte.
std::string GeneratedUtf8(std::uint32_t seed, std::size_t characters) {
    std::mt19937 random(seed);
    std::string out;
    for (std::size_t i = 0; i < characters; ++i) {
        std::uint32_t c = 0;
        switch (random() % 5) {
            case 0:
            case 1:
                c = 1 + random() % 0x7F;
                break;
            case 2:
                c = 0x80 + random() % (0x800 - 0x80);
                break;
            case 3:
                do {
                    c = 0x800 + random() % (0x10000 - 0x800);
                } while (c >= 0xD800 && c <= 0xDFFF);
                break;
            default:
                c = 0x10000 + random() % (0x110000 - 0x10000);
                break;
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += {static_cast<char>(0xC0 | c >> 6), static_cast<char>(0x80 | (c & 0x3F))};
        } else if (c < 0x10000) {
            out += {static_cast<char>(0xE0 | c >> 12), static_cast<char>(0x80 | (c >> 6 & 0x3F)),
                    static_cast<char>(0x80 | (c & 0x3F))};
        } else {
            out += {static_cast<char>(0xF0 | c >> 18), static_cast<char>(0x80 | (c >> 12 & 0x3F)),
                    static_cast<char>(0x80 | (c >> 6 & 0x3F)), static_cast<char>(0x80 | (c & 0x3F))};
        }
    }
    return out;
}

class FileXmlIo : public testing::Test {
protected:
    TempFolder temp;
};

TEST_F(FileXmlIo, EmptyFileLoadsAsEmptyText) {
    WriteFile(temp / "empty.xml", "");
    std::u16string text = u"left over";
    std::u16string message;
    EXPECT_TRUE(CFileXml::LoadFileText(U16(temp / "empty.xml"), text, &message));
    EXPECT_EQ(text, u"");
    EXPECT_EQ(message, u"0 bytes to 0 wide chars");
}

TEST_F(FileXmlIo, LoadDecodesAndCounts) {
    struct Row {
        std::string bytes;
        std::u16string text;
        std::u16string message;
    };
    const std::vector<Row> rows = {
        {"<r a=\"\xE2\x82\xAC\">\xF0\x9F\x98\x80</r>", u"<r a=\"\u20AC\">\xD83D\xDE00</r>",
         u"19 bytes to 15 wide chars"},
        {"\xEF\xBB\xBF<r/>", u"\uFEFF<r/>", u"7 bytes to 5 wide chars"},
        {"\xC3(\xFF", u"?(?", u"3 bytes to 3 wide chars"},
        {"<r/>\xE2\x82", u"<r/>", u"6 bytes to 4 wide chars"},
        {"<r/>\xE2"
         "A",
         u"<r/>?A", u"6 bytes to 6 wide chars"},
        {"<r/>\0<x/>"s, u"<r/>", u"9 bytes to 4 wide chars"},
    };
    for (const Row& row : rows) {
        WriteFile(temp / "in.xml", row.bytes);
        std::u16string text = u"old";
        std::u16string message;
        std::int32_t encoding = 65001;
        EXPECT_TRUE(CFileXml::LoadFileText(U16(temp / "in.xml"), text, &message, &encoding));
        EXPECT_EQ(text, row.text);
        EXPECT_EQ(message, row.message);
        EXPECT_EQ(encoding, 65001);
        std::u16string quiet;
        EXPECT_TRUE(CFileXml::LoadFileText(U16(temp / "in.xml"), quiet));
        EXPECT_EQ(quiet, row.text);
    }
}

// Large files are read a block at a time: a character split between two blocks, an invalid
// sequence or a zero byte just past a block, and a sequence cut by the end of the file all load as
// they would from one buffer. The split points sit around every power of two from 4 KB to 128 KB.
TEST_F(FileXmlIo, LoadAcrossReadBlocks) {
    struct Row {
        std::string tail;
        std::u16string text;
    };
    const std::vector<Row> rows = {
        {"\xF0\x9F\x98\x80z", u"\xD83D\xDE00z"},
        {"\xE2\x82\xAC\xC3\xA9", u"\u20AC\u00E9"},
        {"\xE2\x82"
         "A",
         u"?A"},
        {"\xF0\x9F\x98", u""},
        {"\xC3\xA9\0tail"s, u"\u00E9"},
        {"\xFF\x80"
         "b",
         u"??b"},
    };
    for (const std::size_t block : {4096u, 16384u, 65536u, 131072u}) {
        for (std::size_t before = 1; before <= 4; ++before) {
            for (const Row& row : rows) {
                const std::string head(block - before, 'a');
                WriteFile(temp / "big.xml", head + row.tail);
                std::u16string text = u"old";
                std::u16string message;
                ASSERT_TRUE(CFileXml::LoadFileText(U16(temp / "big.xml"), text, &message));
                const std::u16string expected = std::u16string(head.size(), u'a') + row.text;
                EXPECT_TRUE(text == expected)
                    << "block " << block << ", " << before << " bytes before the cut, tail "
                    << row.tail.size() << " bytes; loaded " << text.size() << " units";
                EXPECT_EQ(message, U16(std::to_string(head.size() + row.tail.size())) + u" bytes to " +
                                       U16(std::to_string(expected.size())) + u" wide chars");
            }
        }
    }
}

TEST_F(FileXmlIo, MissingFileLeavesTextAndGivesSystemMessage) {
    std::u16string text = u"kept";
    std::u16string message;
    EXPECT_FALSE(CFileXml::LoadFileText(U16(temp / "absent" / "CommonConfig.xml"), text, &message));
    EXPECT_EQ(text, u"kept");
    EXPECT_EQ(message, u"No such file or directory");
}

// A folder is not a file: it fails like a file that cannot be opened instead of being sized.
TEST_F(FileXmlIo, FolderDoesNotLoad) {
    std::filesystem::create_directories(temp / "folder.xml");
    std::u16string text = u"kept";
    std::u16string message;
    EXPECT_FALSE(CFileXml::LoadFileText(U16(temp / "folder.xml"), text, &message));
    EXPECT_EQ(text, u"kept");
    EXPECT_FALSE(message.empty());
}

// Only regular files load and save, and nothing waits: a FIFO without a writer, a socket or a
// device fails at once with a message that says why, and the destination keeps its text.
TEST_F(FileXmlIo, OnlyRegularFilesLoadOrSave) {
    ASSERT_EQ(::mkfifo((temp / "fifo.xml").c_str(), 0644), 0);
    std::filesystem::create_symlink("/dev/zero", temp / "device.xml");
    for (const char* name : {"fifo.xml", "device.xml"}) {
        std::u16string text = u"kept";
        std::u16string message;
        EXPECT_FALSE(CFileXml::LoadFileText(U16(temp / name), text, &message)) << name;
        EXPECT_EQ(text, u"kept");
        EXPECT_EQ(message, u"Not a regular file") << name;
    }
    std::u16string message;
    EXPECT_FALSE(CFileXml::SaveFileText(U16(temp / "fifo.xml"), u"<new/>", &message));
    EXPECT_EQ(message, u"Not a regular file");
    EXPECT_EQ(Entries(temp.path()), (std::vector<std::string>{"device.xml", "fifo.xml"}));
}

// A read that fails half-way through the file fails the load with the system's text; the cut text
// never passes for the whole file, and the destination keeps what it held.
TEST_F(FileXmlIo, AReadErrorFailsTheLoad) {
    WriteFile(temp / "CommonConfig.xml", "<CommonConfig>" + std::string(400000, 'x') + "</CommonConfig>");
    const testing_support::ScopedReadFault fault(temp / "CommonConfig.xml", 1);
    if (!fault.active())
        GTEST_SKIP() << fault.reason();
    std::u16string text = u"kept";
    std::u16string message;
    EXPECT_FALSE(CFileXml::LoadFileText(U16(temp / "CommonConfig.xml"), text, &message));
    EXPECT_EQ(text, u"kept");
    EXPECT_EQ(message, u"Operation not permitted");
    EXPECT_GT(fault.refused(), 0);
}

// The index's offsets are 32-bit: a file longer than 2^31 - 1 bytes is refused before anything is
// read or allocated from its length (the files are sparse: they take no room on the disk). Past
// 2^32 its length would otherwise have wrapped to a small one.
TEST_F(FileXmlIo, FilesBeyondTheIndexOffsetsAreRefused) {
    for (const std::uint64_t length : {std::uint64_t{1} << 31, (std::uint64_t{1} << 32) + 10}) {
        const std::filesystem::path file = temp / "huge.xml";
        WriteFile(file, "<a/>");
        if (::truncate(file.c_str(), static_cast<off_t>(length)) != 0)
            GTEST_SKIP() << "no sparse file of " << length << " bytes here: " << std::strerror(errno);
        std::u16string text = u"kept";
        std::u16string message;
        EXPECT_FALSE(CFileXml::LoadFileText(U16(file), text, &message)) << length;
        EXPECT_EQ(text, u"kept");
        EXPECT_EQ(message, u"File larger than 2147483647 bytes");
    }
}

TEST_F(FileXmlIo, SaveEncodesAndCounts) {
    struct Row {
        std::u16string text;
        std::string bytes;
        std::u16string message;
    };
    const std::vector<Row> rows = {
        {u"", "", u"0 wide chars to 0 bytes"},
        {u"<r a=\"\u20AC\">\xD83D\xDE00</r>", "<r a=\"\xE2\x82\xAC\">\xF0\x9F\x98\x80</r>",
         u"15 wide chars to 19 bytes"},
        {u"\uFEFF<r/>", "\xEF\xBB\xBF<r/>", u"5 wide chars to 7 bytes"},
        {u"<r/>\xD83D", "<r/>?", u"5 wide chars to 5 bytes"},
        {u"\xD83D<r/>", "?<r/>", u"5 wide chars to 5 bytes"},
        {u"\xDE00\u00E9", "?\xC3\xA9", u"2 wide chars to 3 bytes"},
        {u"<r/>\0<x/>"s, "<r/>", u"9 wide chars to 4 bytes"},
    };
    for (const Row& row : rows) {
        WriteFile(temp / "out.xml", std::string(100, 'o'));
        std::u16string message;
        std::int32_t encoding = 3;
        EXPECT_TRUE(CFileXml::SaveFileText(U16(temp / "out.xml"), row.text, &message, &encoding));
        EXPECT_EQ(ReadFile(temp / "out.xml"), row.bytes);
        EXPECT_EQ(message, row.message);
        EXPECT_EQ(encoding, 3);
        EXPECT_EQ(Entries(temp.path()), std::vector<std::string>{"out.xml"});
    }
}

TEST_F(FileXmlIo, SaveCreatesMissingFile) {
    EXPECT_TRUE(CFileXml::SaveFileText(U16(temp / "new.xml"), u""));
    EXPECT_TRUE(std::filesystem::is_regular_file(temp / "new.xml"));
    EXPECT_EQ(ReadFile(temp / "new.xml"), "");
    EXPECT_TRUE(CFileXml::SaveFileText(U16(temp / "other.xml"), u"<r/>"));
    EXPECT_EQ(ReadFile(temp / "other.xml"), "<r/>");
}

// Any valid UTF-8 file, with or without a byte-order mark, comes back byte for byte.
TEST_F(FileXmlIo, ValidFilesRoundTripByteForByte) {
    for (const std::string& mark : {""s, "\xEF\xBB\xBF"s}) {
        for (std::uint32_t seed : {1u, 2u, 3u}) {
            const std::string bytes = mark + GeneratedUtf8(seed, 20000 * seed);
            WriteFile(temp / "in.xml", bytes);
            std::u16string text;
            std::u16string loaded;
            ASSERT_TRUE(CFileXml::LoadFileText(U16(temp / "in.xml"), text, &loaded));
            std::u16string saved;
            ASSERT_TRUE(CFileXml::SaveFileText(U16(temp / "out.xml"), text, &saved));
            EXPECT_TRUE(ReadFile(temp / "out.xml") == bytes) << "seed " << seed << ", mark " << mark.size();
            const std::u16string bytesWord = U16(std::to_string(bytes.size()));
            const std::u16string unitsWord = U16(std::to_string(text.size()));
            EXPECT_EQ(loaded, bytesWord + u" bytes to " + unitsWord + u" wide chars");
            EXPECT_EQ(saved, unitsWord + u" wide chars to " + bytesWord + u" bytes");
        }
    }
}

TEST_F(FileXmlIo, SaveIntoMissingFolderFails) {
    std::u16string message = u"untouched";
    EXPECT_FALSE(CFileXml::SaveFileText(U16(temp / "absent" / "CommonConfig.xml"), u"<r/>", &message));
    EXPECT_EQ(message, u"No such file or directory");
    EXPECT_FALSE(std::filesystem::exists(temp / "absent"));
    EXPECT_TRUE(Entries(temp.path()).empty());
}

// Saving into a folder the user may not write to fails and leaves the file as it was. Root ignores
// folder permissions, so as root the save runs in a child process that gives up root first.
TEST_F(FileXmlIo, SaveIntoReadOnlyFolderKeepsOriginal) {
    const std::filesystem::path folder = temp / "locked";
    const std::string original = "<CommonConfig><brand name=\"old\"/></CommonConfig>";
    WriteFile(folder / "CommonConfig.xml", original);
    ::chmod(temp.path().c_str(), 0755);
    ::chmod((folder / "CommonConfig.xml").c_str(), 0666);
    ::chmod(folder.c_str(), 0555);

    // 0: failed with the right message; 1: reported success; 2: wrong message; 3: cannot drop root.
    const auto attempt = [&]() -> int {
        std::u16string message;
        if (CFileXml::SaveFileText(U16(folder / "CommonConfig.xml"), u"<new/>", &message))
            return 1;
        return message == u"Permission denied" ? 0 : 2;
    };
    int outcome = 0;
    if (::geteuid() != 0) {
        outcome = attempt();
    } else {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(3);
            ::_exit(attempt());
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        outcome = WEXITSTATUS(status);
    }
    ::chmod(folder.c_str(), 0755);
    if (outcome == 3)
        GTEST_SKIP() << "running as root and unable to give up root to test folder permissions";
    EXPECT_EQ(outcome, 0) << "1: the save reported success, 2: the message was not the system's";
    EXPECT_EQ(ReadFile(folder / "CommonConfig.xml"), original);
    EXPECT_EQ(Entries(folder), std::vector<std::string>{"CommonConfig.xml"});
}

// The central settings file survives a full disk whole: the new text never reaches it half-written.
TEST_F(FileXmlIo, SaveOnFullFileSystemKeepsOriginal) {
    const ScopedTmpfs disk(temp / "disk", "size=64k");
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    const std::string original = "<CommonConfig>" + std::string(1000, 'x') + "</CommonConfig>";
    WriteFile(temp / "disk" / "CommonConfig.xml", original);
    ASSERT_EQ(FillFileSystem(temp / "disk" / "filler"), ENOSPC);

    std::u16string message;
    const std::u16string larger = u"<CommonConfig>" + std::u16string(40000, u'\u00E9') + u"</CommonConfig>";
    EXPECT_FALSE(CFileXml::SaveFileText(U16(temp / "disk" / "CommonConfig.xml"), larger, &message));
    EXPECT_EQ(message, u"No space left on device");
    EXPECT_EQ(ReadFile(temp / "disk" / "CommonConfig.xml"), original);
    EXPECT_EQ(Entries(temp / "disk"), (std::vector<std::string>{"CommonConfig.xml", "filler"}));
}

TEST_F(FileXmlIo, SaveOnReadOnlyFileSystemKeepsOriginal) {
    const ScopedTmpfs disk(temp / "disk", "size=64k");
    if (!disk.mounted())
        GTEST_SKIP() << disk.reason();
    const std::string original = "<CommonConfig/>";
    WriteFile(temp / "disk" / "CommonConfig.xml", original);
    ASSERT_TRUE(disk.RemountReadOnly()) << std::strerror(errno);

    std::u16string message;
    EXPECT_FALSE(CFileXml::SaveFileText(U16(temp / "disk" / "CommonConfig.xml"), u"<new/>", &message));
    EXPECT_EQ(message, u"Read-only file system");
    EXPECT_EQ(ReadFile(temp / "disk" / "CommonConfig.xml"), original);
    EXPECT_EQ(Entries(temp / "disk"), std::vector<std::string>{"CommonConfig.xml"});
}

}  // namespace
