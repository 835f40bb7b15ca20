// The copy step per matching file, timed from outside by bench/scale/scale.py:
//   scale_copy_step tool <modules folder>
//       the backup's walks of the fumi and gas folders (SaveFumiFiles, SaveGasFiles): one run of
//       the command interpreter per matching file, into $ProgramData/Lumvar;
//   scale_copy_step cp <modules folder> <backup folder>
//       the same walks over the same entries, with one posix_spawn of /bin/cp per matching file
//       into the same destination folders.
// Both print the number of files copied and exit with 0 when every copy succeeded.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <string_view>

#include "jobs/backup.h"
#include "platform/platform.h"
#include "platform/text.h"

extern char** environ;

namespace {

struct Walk {
    const char* module;
    const char16_t* extension;
    const char* destination;
};

// The walks of SaveFumiFiles and SaveGasFiles, in their order, with the backup folder's places.
constexpr Walk kWalks[] = {
    {"fumi", u"crk", "diesel"},  {"fumi", u"ini", "diesel"}, {"fumi", u"txt", "diesel"},
    {"fumi", u"xml", "diesel"},  {"fumi", u"opa", "Data/diesel"}, {"gas", u"crk", "gas"},
    {"gas", u"ini", "gas"},      {"gas", u"txt", "gas"},     {"gas", u"xml", "gas"},
    {"gas", u"gas", "Data/gas"},
};

bool RunCp(const std::string& source, const std::string& destination) {
    std::string program = "/bin/cp";
    std::string from = source;
    std::string to = destination;
    char* argv[] = {program.data(), from.data(), to.data(), nullptr};
    pid_t child = 0;
    if (::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv, environ) != 0)
        return false;
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

int CopyWithCp(const std::string& modules, const std::string& backup) {
    bool ok = true;
    int files = 0;
    for (const char* place : {"", "/diesel", "/gas", "/Data", "/Data/diesel", "/Data/gas"})
        ::mkdir((backup + place).c_str(), 0777);
    for (const Walk& walk : kWalks) {
        const std::string folder = modules + "/" + walk.module + "/";
        const std::string destination = backup + "/" + walk.destination + "/";
        platform::FindMatchingEntries(platform::FromUtf8(folder) + u"*." + walk.extension,
                                      [&](const std::u16string& name) {
                                          ok = RunCp(folder + platform::ToUtf8(name), destination) && ok;
                                          ++files;
                                      });
    }
    std::printf("%d\n", files);
    return ok ? 0 : 1;
}

int CopyWithTool(const std::string& modules) {
    CBackup job;
    const std::u16string folder = platform::FromUtf8(modules);
    job.fumiSource = folder + u"\\fumi\\";
    job.gasSource = folder + u"\\gas\\";
    bool ok = job.SaveFumiFiles();
    ok = job.SaveGasFiles() && ok;
    return ok ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "tool" && argc == 3)
        return CopyWithTool(argv[2]);
    if (mode == "cp" && argc == 4)
        return CopyWithCp(argv[2], argv[3]);
    std::fprintf(stderr, "usage: scale_copy_step tool <modules> | cp <modules> <backup>\n");
    return 2;
}
