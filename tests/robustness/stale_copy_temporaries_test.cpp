// A lumvar-cmd run killed between naming a temporary copy and renaming it leaves
// ".lumvar-cmd-<pid>-<n>.tmp" in the destination folder. The next copy into that folder removes
// the temporaries of runs that no longer exist, and nothing else.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "tests/robustness/tree_snapshot.h"
#include "tests/support/temp_folder.h"
#include "tools/xcopy_copy.h"

extern char** environ;

namespace robustness {
namespace {

using testing_support::TempFolder;
using testing_support::WriteFile;

// The id of a process that has ended and been waited for.
pid_t EndedProcess() {
    char program[] = "/bin/true";
    char* argv[] = {program, nullptr};
    pid_t child = 0;
    if (::posix_spawn(&child, program, nullptr, nullptr, argv, environ) != 0)
        return 0;
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

TEST(StaleCopyTemporaries, TheNextCopyIntoTheFolderRemovesThoseOfEndedRuns) {
    TempFolder temp;
    WriteFile(temp / "source" / "clienti.xml", "<clienti/>");
    const pid_t ended = EndedProcess();
    ASSERT_GT(ended, 0);
    const std::string stale = ".lumvar-cmd-" + std::to_string(ended) + "-0.tmp";
    // A run still going (this process's parent), and names that only look alike.
    const std::string running = ".lumvar-cmd-" + std::to_string(::getppid()) + "-3.tmp";
    const std::string kept[] = {running,
                                ".lumvar-cmd-" + std::to_string(ended) + "-0.tmp.bak",
                                ".lumvar-cmd-" + std::to_string(ended) + "-.tmp",
                                ".lumvar-cmd--0.tmp",
                                ".lumvar-cmd-x" + std::to_string(ended) + "-0.tmp",
                                "lumvar-cmd-" + std::to_string(ended) + "-0.tmp"};
    WriteFile(temp / "destination" / stale, "");
    WriteFile(temp / "destination" / "kormo" / stale, "half");
    for (const auto& name : kept)
        WriteFile(temp / "destination" / name, name);

    xcopy::XcopyRequest request;
    request.source = (temp / "source").string();
    request.destination = (temp / "destination").string() + "/";
    request.createFolder = request.verify = request.overwrite = true;
    ASSERT_EQ(xcopy::RunXcopy(request), xcopy::XcopyOutcome::Copied);

    Snapshot expected{{"clienti.xml", "<clienti/>"}, {"kormo", kFolder}, {"kormo/" + stale, "half"}};
    for (const auto& name : kept)
        expected[name] = name;
    // Only the folders a run writes into are cleared: nothing was copied into kormo.
    EXPECT_EQ(TakeSnapshot(temp / "destination"), expected);
}

}  // namespace
}  // namespace robustness
