// Runs the built lumvar-cmd as a child, the way the tool does, and checks what lands on disk.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tests/support/lumvar_cmd_runner.h"
#include "tests/support/syscall_supervisor.h"
#include "tests/support/temp_folder.h"

namespace {

namespace fs = std::filesystem;
using testing_support::CallAnswer;
using testing_support::HeldCall;
using testing_support::ReadFile;
using testing_support::RunLumvarCmd;
using testing_support::TempFolder;
using testing_support::WriteFile;

// Runs lumvar-cmd as RunLumvarCmd does, but with every linkat whose flags hold one of
// refusedFlags failing with ENOENT: so an older kernel refuses AT_EMPTY_PATH to an unprivileged
// process, and a host without /proc the link through /proc/self/fd.
int RunInterpreterWithLinksRefused(const std::vector<std::string>& arguments, unsigned refusedFlags) {
    constexpr std::size_t kFlagsWord =
        offsetof(seccomp_data, args) + 4 * sizeof(__u64) + (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 4 : 0);
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_linkat, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kFlagsWord),
        BPF_JUMP(BPF_JMP | BPF_JSET | BPF_K, refusedFlags, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOENT),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    const sock_fprog program_filter = {static_cast<unsigned short>(std::size(filter)), filter};
    return RunLumvarCmd(arguments, [&program_filter] {
        return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
               ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program_filter) == 0;
    });
}

// Runs lumvar-cmd as RunLumvarCmd does, with each of its calls of the listed system calls held
// until answer has said how it ends.
int RunInterpreterSupervised(const std::vector<std::string>& arguments, const std::vector<int>& calls,
                             const std::function<CallAnswer(const HeldCall&)>& answer) {
    std::string program = testing_support::LumvarCmdPath().string();
    std::vector<std::string> copies = arguments;
    std::vector<char*> argv{program.data()};
    for (std::string& argument : copies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    return testing_support::RunSupervised(
        calls,
        [&] {
            ::execve(argv[0], argv.data(), environ);
            return 127;
        },
        answer);
}

// The Windows form of a host path, as the tool would write it.
std::string Backslashed(const fs::path& path) {
    std::string text = path.string();
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// Every file (with its contents) and every folder (marked by a trailing "/") below root.
std::map<std::string, std::string> Tree(const fs::path& root) {
    std::map<std::string, std::string> tree;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        const std::string relative = fs::relative(entry.path(), root).string();
        if (entry.is_directory()) {
            tree[relative + "/"] = "";
        } else {
            tree[relative] = ReadFile(entry.path());
        }
    }
    return tree;
}

class XcopyRun : public testing::Test {
protected:
    // Copies as the tool does: backslashed paths, destination with a trailing backslash.
    int Copy(const fs::path& source, const fs::path& destination, const char* tail = "\" /i /v /y") {
        return RunLumvarCmd(
            {"/c XCOPY \"" + Backslashed(source) + "\" \"" + Backslashed(destination) + "\\" + tail});
    }
    int CopyTree(const fs::path& source, const fs::path& destination) {
        return Copy(source, destination, "\" /e /i /v /y");
    }

    // A source folder with files on three levels and two empty folders.
    fs::path MakeSourceTree() {
        const fs::path source = temp_ / "suite" / "Data";
        WriteFile(source / "top.ini", "[a]\nb=1\n");
        WriteFile(source / "second.xml", "<x/>");
        WriteFile(source / "kormo" / "Exchange - In" / "deep.dat", std::string(5000, 'd'));
        WriteFile(source / "kormo" / "list.txt", "one\ntwo\n");
        fs::create_directories(source / "empty");
        fs::create_directories(source / "kormo" / "also empty");
        return source;
    }

    TempFolder temp_;
};

TEST_F(XcopyRun, FileLandsInTheDestinationFolderWhichIsCreated) {
    WriteFile(temp_ / "suite" / "CommonConfig.xml", "<config lang=\"it\"/>\n");
    ASSERT_EQ(Copy(temp_ / "suite" / "CommonConfig.xml", temp_ / "ProgramData" / "Lumvar" / "diesel"), 0);
    const std::map<std::string, std::string> expected = {{"CommonConfig.xml", "<config lang=\"it\"/>\n"}};
    EXPECT_EQ(Tree(temp_ / "ProgramData" / "Lumvar" / "diesel"), expected);
}

// A relative destination lies below the working folder; each missing folder of it is made, the
// first one too, however short its name.
TEST_F(XcopyRun, RelativeDestinationIsCreatedBelowTheWorkingFolder) {
    WriteFile(temp_ / "src" / "a.ini", "A");
    for (const char* destination : {"d\\e\\", "dd\\e\\", "f\\"}) {
        EXPECT_EQ(RunLumvarCmd({"/c XCOPY \"" + Backslashed(temp_ / "src" / "a.ini") + "\" \"" + destination +
                                "\" /i /v /y"},
                               [this] { return ::chdir(temp_.path().c_str()) == 0; }),
                  0)
            << destination;
    }
    for (const char* copy : {"d/e/a.ini", "dd/e/a.ini", "f/a.ini"})
        EXPECT_EQ(ReadFile(temp_ / copy), "A") << copy;
}

TEST_F(XcopyRun, EmptyFileIsCopied) {
    WriteFile(temp_ / "empty.ini", "");
    ASSERT_EQ(Copy(temp_ / "empty.ini", temp_ / "out"), 0);
    const std::map<std::string, std::string> expected = {{"empty.ini", ""}};
    EXPECT_EQ(Tree(temp_ / "out"), expected);
}

TEST_F(XcopyRun, LargeFileIsCopiedAndVerifiedAcrossManyBlocks) {
    std::string data(3 * 1024 * 1024 + 12345, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 7919u) >> 5);
    WriteFile(temp_ / "big.bin", data);
    ASSERT_EQ(Copy(temp_ / "big.bin", temp_ / "out"), 0);
    EXPECT_TRUE(ReadFile(temp_ / "out" / "big.bin") == data);
    EXPECT_EQ(Tree(temp_ / "out").size(), 1u);
}

TEST_F(XcopyRun, FolderWithoutSubfoldersSwitchCopiesTopLevelFilesOnly) {
    const fs::path source = MakeSourceTree();
    ASSERT_EQ(Copy(source, temp_ / "backup" / "Data"), 0);
    const std::map<std::string, std::string> expected = {{"top.ini", "[a]\nb=1\n"}, {"second.xml", "<x/>"}};
    EXPECT_EQ(Tree(temp_ / "backup" / "Data"), expected);
}

TEST_F(XcopyRun, SubfoldersSwitchCopiesTheWholeTreeWithEmptyFolders) {
    const fs::path source = MakeSourceTree();
    ASSERT_EQ(CopyTree(source, temp_ / "backup" / "Data"), 0);
    EXPECT_EQ(Tree(temp_ / "backup" / "Data"), Tree(source));
    EXPECT_EQ(Tree(temp_ / "backup" / "Data").count("kormo/also empty/"), 1u);
}

TEST_F(XcopyRun, DeepTreeIsCopiedWhole) {
    fs::path folder = temp_ / "deep";
    for (int level = 0; level < 40; ++level) {
        folder /= "level " + std::to_string(level);
        WriteFile(folder / "file.txt", "level " + std::to_string(level));
    }
    ASSERT_EQ(CopyTree(temp_ / "deep", temp_ / "copy"), 0);
    const auto copied = Tree(temp_ / "copy");
    EXPECT_EQ(copied.size(), 80u);
    EXPECT_EQ(copied, Tree(temp_ / "deep"));
}

TEST_F(XcopyRun, TrailingBackslashOnTheSourceFolderChangesNothing) {
    const fs::path source = MakeSourceTree();
    ASSERT_EQ(CopyTree(source, temp_ / "plain"), 0);
    ASSERT_EQ(RunLumvarCmd({"/c XCOPY \"" + Backslashed(source) + "\\\" \"" + Backslashed(temp_ / "slashed") +
                            "\\\" /e /i /v /y"}),
              0);
    EXPECT_EQ(Tree(temp_ / "slashed"), Tree(temp_ / "plain"));
    EXPECT_EQ(Tree(temp_ / "slashed"), Tree(source));
}

TEST_F(XcopyRun, DoubledBackslashesAreHarmless) {
    WriteFile(temp_ / "src" / "a.txt", "A");
    const std::string source = Backslashed(temp_.path()) + "\\\\src\\\\a.txt";
    ASSERT_EQ(RunLumvarCmd(
                  {"/c XCOPY \"" + source + "\" \"" + Backslashed(temp_.path()) + "\\\\out\\\\\" /i /v /y"}),
              0);
    EXPECT_EQ(ReadFile(temp_ / "out" / "a.txt"), "A");
}

TEST_F(XcopyRun, ExistingFilesAreOverwrittenWhole) {
    const fs::path source = MakeSourceTree();
    WriteFile(temp_ / "dest" / "top.ini", "an older and much longer version of the file\n");
    WriteFile(temp_ / "dest" / "kormo" / "list.txt", "old");
    WriteFile(temp_ / "dest" / "unrelated.txt", "stays");
    ASSERT_EQ(CopyTree(source, temp_ / "dest"), 0);
    auto expected = Tree(source);
    expected["unrelated.txt"] = "stays";
    EXPECT_EQ(Tree(temp_ / "dest"), expected);
}

TEST_F(XcopyRun, WithoutOverwriteSwitchAnExistingFileIsKeptAndTheRunFails) {
    WriteFile(temp_ / "new.ini", "new");
    WriteFile(temp_ / "dest" / "new.ini", "old");
    EXPECT_EQ(Copy(temp_ / "new.ini", temp_ / "dest", "\" /i /v"), 5);
    const std::map<std::string, std::string> expected = {{"new.ini", "old"}};
    EXPECT_EQ(Tree(temp_ / "dest"), expected);
}

TEST_F(XcopyRun, EmptySourceFolderSucceedsAndCreatesTheDestination) {
    fs::create_directories(temp_ / "nothing");
    EXPECT_EQ(Copy(temp_ / "nothing", temp_ / "dest1"), 0);
    EXPECT_EQ(CopyTree(temp_ / "nothing", temp_ / "dest2"), 0);
    EXPECT_TRUE(fs::is_directory(temp_ / "dest1"));
    EXPECT_TRUE(fs::is_empty(temp_ / "dest2"));
}

TEST_F(XcopyRun, MissingSourceExitsWithFourAndCreatesNothing) {
    WriteFile(temp_ / "file.txt", "x");
    EXPECT_EQ(Copy(temp_ / "missing.ini", temp_ / "dest1"), 4);
    EXPECT_EQ(CopyTree(temp_ / "missing" / "folder", temp_ / "dest2"), 4);
    // A file named as a folder (trailing backslash) is not there either.
    EXPECT_EQ(RunLumvarCmd({"/c XCOPY \"" + Backslashed(temp_ / "file.txt") + "\\\" \"" +
                            Backslashed(temp_ / "dest3") + "\\\" /i /v /y"}),
              4);
    // A name longer than the file system allows names nothing either.
    EXPECT_EQ(Copy(temp_ / std::string(300, 'n'), temp_ / "dest4"), 4);
    const std::map<std::string, std::string> expected = {{"file.txt", "x"}};
    EXPECT_EQ(Tree(temp_.path()), expected);
}

TEST_F(XcopyRun, UnreadableParametersExitWithFourAndCopyNothing) {
    WriteFile(temp_ / "src" / "a.txt", "A");
    const std::string source = Backslashed(temp_ / "src" / "a.txt");
    const std::string destination = Backslashed(temp_ / "dest") + "\\";
    const std::vector<std::vector<std::string>> runs = {
        {},
        {"/c XCOPY \"" + source + "\" \"" + destination + "\" /i /v /y", "extra argument"},
        {"/c XCOPY \"" + source + "\" \"" + destination + "\" /i /v /y /z"},
        {"/c XCOPY \"" + source + "\" \"" + destination + "\" /i /v /y & echo hi"},
        {"/c XCOPY " + source + " \"" + destination + "\" /i /v /y"},
        {"/c XCOPY \"\" \"" + destination + "\" /i /v /y"},
        {"/c XCOPY \"" + source + "\" \"" + destination + " /i /v /y"},
        {"/c COPY \"" + source + "\" \"" + destination + "\""},
        {""},
    };
    for (const auto& arguments : runs) {
        EXPECT_EQ(RunLumvarCmd(arguments), 4) << (arguments.empty() ? "(no argument)" : arguments[0]);
    }
    EXPECT_FALSE(fs::exists(temp_ / "dest"));
}

TEST_F(XcopyRun, FileStandingWhereTheDestinationFolderMustBeExitsWithFive) {
    WriteFile(temp_ / "a.txt", "A");
    WriteFile(temp_ / "blocked", "a file, not a folder");
    EXPECT_EQ(Copy(temp_ / "a.txt", temp_ / "blocked"), 5);
    EXPECT_EQ(Copy(temp_ / "a.txt", temp_ / "blocked" / "below"), 5);
    EXPECT_EQ(ReadFile(temp_ / "blocked"), "a file, not a folder");
}

TEST_F(XcopyRun, FileStandingWhereASubfolderMustBeExitsWithFive) {
    const fs::path source = MakeSourceTree();
    WriteFile(temp_ / "dest" / "kormo", "in the way");
    EXPECT_EQ(CopyTree(source, temp_ / "dest"), 5);
    EXPECT_EQ(ReadFile(temp_ / "dest" / "kormo"), "in the way");
}

TEST_F(XcopyRun, FolderStandingWhereAFileMustBeExitsWithFiveAndLeavesNoTemporaryFile) {
    WriteFile(temp_ / "top.ini", "x");
    fs::create_directories(temp_ / "dest" / "top.ini" / "inside");
    EXPECT_EQ(Copy(temp_ / "top.ini", temp_ / "dest"), 5);
    const std::map<std::string, std::string> expected = {{"top.ini/", ""}, {"top.ini/inside/", ""}};
    EXPECT_EQ(Tree(temp_ / "dest"), expected);
}

TEST_F(XcopyRun, UnreadableSourceFileExitsWithFive) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads every file; run as another user to check this";
    WriteFile(temp_ / "src" / "locked.ini", "secret");
    fs::permissions(temp_ / "src" / "locked.ini", fs::perms::none);
    EXPECT_EQ(Copy(temp_ / "src" / "locked.ini", temp_ / "dest"), 5);
    EXPECT_EQ(Copy(temp_ / "src", temp_ / "dest"), 5);
    EXPECT_TRUE(fs::is_empty(temp_ / "dest"));
}

TEST_F(XcopyRun, DestinationInsideTheCopiedTreeExitsWithFour) {
    const fs::path source = MakeSourceTree();
    const auto before = Tree(source);
    EXPECT_EQ(CopyTree(source, source / "kormo" / "copy"), 4);
    EXPECT_EQ(Copy(source, source), 4);
    EXPECT_EQ(Tree(source), before);
}

TEST_F(XcopyRun, LinkLoopInTheTreeFailsInsteadOfRunningForever) {
    WriteFile(temp_ / "src" / "a.txt", "A");
    fs::create_directory_symlink("..", temp_ / "src" / "up");
    EXPECT_EQ(CopyTree(temp_ / "src", temp_ / "dest"), 5);
}

TEST_F(XcopyRun, LinksAreCopiedAsWhatTheyPointToAndFifosArePassedOver) {
    WriteFile(temp_ / "elsewhere" / "real.txt", "real");
    WriteFile(temp_ / "src" / "plain.txt", "plain");
    fs::create_symlink(temp_ / "elsewhere" / "real.txt", temp_ / "src" / "link.txt");
    fs::create_directory_symlink(temp_ / "elsewhere", temp_ / "src" / "linked folder");
    fs::create_symlink(temp_ / "nowhere", temp_ / "src" / "broken");
    ASSERT_EQ(::mkfifo((temp_ / "src" / "pipe").c_str(), 0600), 0);
    ASSERT_EQ(CopyTree(temp_ / "src", temp_ / "dest"), 0);
    const std::map<std::string, std::string> expected = {{"plain.txt", "plain"},
                                                         {"link.txt", "real"},
                                                         {"linked folder/", ""},
                                                         {"linked folder/real.txt", "real"}};
    EXPECT_EQ(Tree(temp_ / "dest"), expected);
    EXPECT_FALSE(fs::is_symlink(temp_ / "dest" / "link.txt"));
    // Named as the source, a fifo is neither file nor folder: a read error, not a hang.
    EXPECT_EQ(Copy(temp_ / "src" / "pipe", temp_ / "dest2"), 5);
}

TEST_F(XcopyRun, NamesWithBlanksAndNonAsciiLetters) {
    const fs::path source = temp_ / "Dati utente" /
                            "Donn\xC3\xA9"
                            "es \xE6\x97\xA5\xE6\x9C\xAC";
    WriteFile(source / "R\xC3\xA9sum\xC3\xA9 \xC3\xBC.txt", "\xC3\xBC");
    WriteFile(source / "sotto cartella" / "\xCE\xB1\xCE\xB2.ini", "ab");
    ASSERT_EQ(CopyTree(source, temp_ / "Program Data" / "Lumvar \xC3\x9C"), 0);
    EXPECT_EQ(Tree(temp_ / "Program Data" / "Lumvar \xC3\x9C"), Tree(source));
}

TEST_F(XcopyRun, ShellCharactersInNamesAreNotInterpreted) {
    const std::vector<std::string> names = {"a&b.txt",        "%HOME%.ini",    "x|y",        "c^d!e",
                                            "$(touch pwned)", "`touch pwned`", "semi;colon", "<in>"};
    const fs::path source = temp_ / "src & %PATH% !x!";
    for (const std::string& name : names)
        WriteFile(source / name, name);
    const fs::path destination = temp_ / "dest | ^ $HOME";
    ASSERT_EQ(CopyTree(source, destination), 0);
    EXPECT_EQ(Tree(destination), Tree(source));
    EXPECT_EQ(Tree(destination).size(), names.size());
    EXPECT_FALSE(fs::exists("pwned"));
    EXPECT_FALSE(fs::exists(temp_ / "pwned"));
}

TEST_F(XcopyRun, ModificationTimesAndPermissionBitsAreKept) {
    WriteFile(temp_ / "src" / "old.ini", "old");
    WriteFile(temp_ / "src" / "sub" / "private.dat", "private");
    WriteFile(temp_ / "src" / "tool.sh", "#!/bin/sh\n");
    const struct timespec when[2] = {{1000000000, 0}, {1000000000, 123456789}};
    for (const char* name : {"old.ini", "sub/private.dat", "tool.sh"}) {
        ASSERT_EQ(::utimensat(AT_FDCWD, (temp_ / "src" / name).c_str(), when, 0), 0);
    }
    ASSERT_EQ(::chmod((temp_ / "src" / "sub" / "private.dat").c_str(), 0600), 0);
    ASSERT_EQ(::chmod((temp_ / "src" / "tool.sh").c_str(), 0757), 0);  // the umask would drop o+w
    ASSERT_EQ(::chmod((temp_ / "src" / "old.ini").c_str(), 0444), 0);
    ASSERT_EQ(CopyTree(temp_ / "src", temp_ / "dest"), 0);

    for (const char* name : {"old.ini", "sub/private.dat", "tool.sh"}) {
        struct stat source {};
        struct stat copy {};
        ASSERT_EQ(::stat((temp_ / "src" / name).c_str(), &source), 0);
        ASSERT_EQ(::stat((temp_ / "dest" / name).c_str(), &copy), 0) << name;
        EXPECT_EQ(copy.st_mtim.tv_sec, 1000000000) << name;
        EXPECT_EQ(copy.st_mtim.tv_nsec, 123456789) << name;
        EXPECT_EQ(copy.st_mode & 07777, source.st_mode & 07777) << name;
    }
    // A read-only copy from an earlier run is replaced all the same.
    ASSERT_EQ(CopyTree(temp_ / "src", temp_ / "dest"), 0);
    EXPECT_EQ(ReadFile(temp_ / "dest" / "old.ini"), "old");
}

}  // namespace

namespace {

// Copies one new file and replaces one existing file (with the leftover of a killed copy of it
// beside it) with the given linkat flags refused; the destination must then hold exactly the two
// copies, with the source's permission bits.
void CopyWithLinksRefused(const fs::path& temp, unsigned refusedFlags) {
    if (const std::string why = testing_support::SyscallFiltersUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    WriteFile(temp / "new.ini", "[nuovo]\n");
    WriteFile(temp / "old.ini", "[sostituito]\n");
    WriteFile(temp / "dest" / "old.ini", "an older and much longer version of the file\n");
    WriteFile(temp / "dest" / ".old.ini.lumvar-cmd.tmp", "half");
    fs::permissions(temp / "new.ini", fs::perms(0640));
    for (const char* name : {"new.ini", "old.ini"}) {
        EXPECT_EQ(RunInterpreterWithLinksRefused({"/c XCOPY \"" + Backslashed(temp / name) + "\" \"" +
                                                  Backslashed(temp / "dest") + "\\\" /i /v /y"},
                                                 refusedFlags),
                  0)
            << name;
    }
    const std::map<std::string, std::string> expected = {{"new.ini", "[nuovo]\n"},
                                                         {"old.ini", "[sostituito]\n"}};
    EXPECT_EQ(Tree(temp / "dest"), expected);
    struct stat info {};
    ASSERT_EQ(::stat((temp / "dest" / "new.ini").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

}  // namespace

TEST_F(XcopyRun, UnnamedFilesAreLinkedThroughProcWhereTheKernelRefusesADescriptorLink) {
    CopyWithLinksRefused(temp_.path(), AT_EMPTY_PATH);
}

TEST_F(XcopyRun, WhereUnnamedFilesCannotBeLinkedAtAllTheCopyGoesThroughItsTemporaryName) {
    CopyWithLinksRefused(temp_.path(), AT_EMPTY_PATH | AT_SYMLINK_FOLLOW);
}

namespace {

// A file whose bytes show where they lie, so that a misplaced or missing block shows too.
std::string Patterned(std::size_t size) {
    std::string data(size, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 7919u) >> 5);
    return data;
}

}  // namespace

// Where the file system refuses the kernel's copy (copy_file_range, then sendfile as well), the
// file goes through sendfile or a buffer, and arrives whole over many blocks, with or without /v.
TEST_F(XcopyRun, WhereTheKernelRefusesToCopyTheFileItIsCopiedWholeAnotherWay) {
    if (const std::string why = testing_support::SupervisionUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    const std::string data = Patterned(3 * 1024 * 1024 + 12345);
    WriteFile(temp_ / "big.bin", data);
    const struct {
        int copyRange;
        int sendfile;  // 0: sendfile works
        const char* tail;
    } refusals[] = {
        {EXDEV, 0, "\" /i /y"},
        {EXDEV, EINVAL, "\" /i /y"},
        {ENOSYS, ENOSYS, "\" /i /v /y"},
        {EOPNOTSUPP, EINVAL, "\" /i /y"},
    };
    for (const auto& refusal : refusals) {
        const std::string trace = std::to_string(refusal.copyRange) + " " + std::to_string(refusal.sendfile);
        const fs::path destination = temp_ / ("out " + trace);
        const int code = RunInterpreterSupervised(
            {"/c XCOPY \"" + Backslashed(temp_ / "big.bin") + "\" \"" + Backslashed(destination) + "\\" +
             refusal.tail},
            {SYS_copy_file_range, SYS_sendfile}, [&](const HeldCall& call) {
                const int error = call.number == SYS_copy_file_range ? refusal.copyRange : refusal.sendfile;
                return error == 0 ? CallAnswer{} : CallAnswer{false, -1, error};
            });
        ASSERT_NE(code, 126) << "the system call filter could not be installed";
        EXPECT_EQ(code, 0) << trace;
        EXPECT_TRUE(ReadFile(destination / "big.bin") == data) << trace;
    }
}

// With /v the copy is read back against its source and must end where the source ends: a copy
// shorter than the source (the kernel reports more than it wrote, or an end that is not there) and
// a source that grew while it was copied both fail the run, and leave nothing under the name.
// Small files are read back, large ones compared through memory maps; all bytes are zero, so
// that only the lengths tell the two apart.
TEST_F(XcopyRun, VerificationFailsWhenTheCopyIsShorterThanTheSourceOrTheSourceGrew) {
    if (const std::string why = testing_support::SupervisionUnavailable(); !why.empty())
        GTEST_SKIP() << why;
    enum class Fault { ReportsUnwrittenBytes, ReportsAnEarlyEnd, SourceGrows };
    const struct {
        Fault fault;
        std::size_t size;
    } cases[] = {
        {Fault::ReportsUnwrittenBytes, 5000},  {Fault::ReportsUnwrittenBytes, 3 * 1024 * 1024},
        {Fault::ReportsAnEarlyEnd, 5000},      {Fault::SourceGrows, 5000},
        {Fault::SourceGrows, 3 * 1024 * 1024},
    };
    int run = 0;
    for (const auto& c : cases) {
        const std::string trace =
            std::to_string(static_cast<int>(c.fault)) + ", " + std::to_string(c.size) + " bytes";
        const fs::path source = temp_ / ("source " + std::to_string(run)) / "zeros.bin";
        const fs::path destination = temp_ / ("out " + std::to_string(run++));
        WriteFile(source, std::string(c.size, '\0'));
        int held = 0;
        const int code = RunInterpreterSupervised(
            {"/c XCOPY \"" + Backslashed(source) + "\" \"" + Backslashed(destination) + "\\\" /i /v /y"},
            {SYS_copy_file_range}, [&](const HeldCall& call) {
                ++held;
                switch (c.fault) {
                    case Fault::ReportsUnwrittenBytes:
                        return CallAnswer{false, static_cast<std::int64_t>(call.arguments[4]), 0};
                    case Fault::ReportsAnEarlyEnd:
                        return CallAnswer{false, 0, 0};
                    case Fault::SourceGrows:
                        if (held == 1)
                            std::ofstream(source, std::ios::binary | std::ios::app)
                                << std::string(1000, '\0');
                        return CallAnswer{};
                }
                return CallAnswer{};
            });
        ASSERT_NE(code, 126) << "the system call filter could not be installed";
        EXPECT_GE(held, 1) << trace;
        EXPECT_EQ(code, 5) << trace;
        EXPECT_FALSE(fs::exists(destination / "zeros.bin")) << trace;
    }
}
