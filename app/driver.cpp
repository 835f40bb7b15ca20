#include "app/driver.h"

#include <cstddef>
#include <string_view>

#include "jobs/backup.h"
#include "jobs/cd_nero.h"
#include "jobs/restore.h"
#include "jobs/run_report.h"
#include "platform/platform.h"

namespace {

using Arguments = std::vector<std::u16string>;

// Backup: argument 2 is the suite folder, 3 the modules folder, 4 the data folder.
ExitCode RunBackup(const Arguments& arguments) {
    const ScopedNamedFolders named({arguments[2], arguments[3], arguments[4]});
    CBackup job;
    job.commonConfigSource = arguments[2] + u"\\Common\\CommonConfig.xml";
    job.dataSource = arguments[4];
    job.fumiSource = arguments[3] + u"\\fumi\\";
    job.eobdIniSource = arguments[3] + u"\\eobd\\eobd.ini";
    job.gasSource = arguments[3] + u"\\gas\\";
    job.oscilloIniSource = arguments[3] + u"\\oscillo\\oscillo.ini";
    job.dorvelIniSource = arguments[3] + u"\\Utility\\Dorvel.ini";
    job.wizardConfigSource = arguments[3] + u"\\wizard\\ConfigurationWizard.xml";

    // Every step runs, whatever the earlier ones returned.
    bool success = true;
    success = job.CopyToBackup(job.commonConfigSource, BackupTarget::TargetRoot) && success;
    success = job.SaveFumiFiles() && success;
    success = job.CopyToBackup(job.eobdIniSource, BackupTarget::TargetRoot) && success;
    success = job.SaveGasFiles() && success;
    success = job.CopyToBackup(job.oscilloIniSource, BackupTarget::TargetRoot) && success;
    success = job.CopyToBackup(job.dorvelIniSource, BackupTarget::TargetRoot) && success;
    success = job.CopyToBackup(job.wizardConfigSource, BackupTarget::TargetRoot) && success;
    success = job.CopyToBackup(job.dataSource, BackupTarget::TargetData) && success;
    return success ? ExitCode::Success : ExitCode::BackupFailed;
}

// The copy-back steps of a restore, in the order they run.
constexpr bool (CRestore::*kCopyBackSteps[])() = {
    &CRestore::RestoreDieselConfig, &CRestore::RestoreEobdIni,   &CRestore::RestoreExchangeIn,
    &CRestore::RestoreExchangeOut,  &CRestore::RestoreGasConfig, &CRestore::RestoreOscilloIni,
    &CRestore::RestoreWizardConfig, &CRestore::RestoreRec,       &CRestore::RestoreClientManager,
    &CRestore::RestoreDieselData,   &CRestore::RestoreGasData,   &CRestore::RestoreOscilloData,
};

// Restore: argument 2 is the configuration folder, 3 the data folder, 4 the common folder, and an
// optional argument 5 "/common" (compared case-sensitively; any other word is ignored).
ExitCode RunRestore(const Arguments& arguments) {
    const std::u16string& configFolder = arguments[2];
    const std::u16string& dataFolder = arguments[3];
    const ScopedNamedFolders named({configFolder, dataFolder, arguments[4]});
    CRestore job;
    job.recFolder = dataFolder + u"\\kormo\\rec\\";
    job.clientManagerFolder = dataFolder + u"\\clientmanager\\";
    job.commonConfigFile = configFolder + u"\\CommonConfig.xml";
    job.dieselConfigFolder = configFolder + u"\\diesel\\";
    job.dieselDataFolder = dataFolder + u"\\diesel\\";
    job.eobdFolder = configFolder + u"\\eobd\\";
    job.exchangeInFolder = dataFolder + u"\\kormo\\In\\";
    job.exchangeOutFolder = dataFolder + u"\\kormo\\Out\\";
    job.gasConfigFolder = configFolder + u"\\gas\\";
    job.gasDataFolder = dataFolder + u"\\gas\\";
    job.oscilloIniFolder = configFolder + u"\\";
    job.oscilloDataFolder = dataFolder + u"\\oscillo\\";
    job.wizardFolder = configFolder + u"\\";

    // The configuration folder's CommonConfig.xml is merged first, ahead of the copy-backs.
    bool success = job.MergeCommonConfig();
    for (const auto step : kCopyBackSteps) {
        success = (job.*step)() && success;
    }
    if (arguments.size() == 6 && arguments[5] == u"/common") {
        // The common folder's CommonConfig.xml receives the same values from the same saved file.
        job.SetCommonFolder(arguments[4]);
        success = job.MergeCommonConfig() && success;
    }
    return success ? ExitCode::Success : ExitCode::RestoreFailed;
}

// CD add-in: argument 2 is the folder holding the add-in source, 3 the folder receiving it.
ExitCode RunCdNero(const Arguments& arguments) {
    const ScopedNamedFolders named({arguments[2], arguments[3]});
    CCDNero job;
    job.addinTargetFolder = arguments[3] + u"\\neroaddin\\";
    job.addinSourceFolder = arguments[2] + u"\\bancadati\\addin";

    // The rename runs even when the copy failed.
    bool success = true;
    success = job.CopyAddin() && success;
    success = job.RenameSettingsFile() && success;
    return success ? ExitCode::Success : ExitCode::AddinFailed;
}

struct Verb {
    std::u16string_view name;
    // Accepted argument counts, argument 0 included.
    std::size_t fewestArguments;
    std::size_t mostArguments;
    // Arguments 2 up to this one (excluded) are folder paths.
    std::size_t endOfFolders;
    // The job's failure code, also given when a folder argument cannot be made absolute.
    ExitCode failure;
    ExitCode (*run)(const Arguments& arguments);
};

// Tested in this order; verbs are compared as whole strings, letter case included. A command line
// with the wrong number of arguments for its verb runs nothing: "/cdnero" answers it with 2 like
// the other verbs, so that its caller can tell a malformed call from an installed add-in.
constexpr Verb kVerbs[] = {
    {u"/backup", 5, 5, 5, ExitCode::BackupFailed, RunBackup},
    {u"/restore", 5, 6, 5, ExitCode::RestoreFailed, RunRestore},
    {u"/cdnero", 4, 4, 4, ExitCode::AddinFailed, RunCdNero},
};

// An empty folder argument, or one of blanks and tabs only, is an installer variable that was
// never set: joined with its suffixes it would name folders at the root of the drive.
bool IsBlank(std::u16string_view argument) {
    return argument.find_first_not_of(u" \t") == std::u16string_view::npos;
}

// Runs the verb's job once its folder arguments are absolute. The command interpreter runs in a
// working folder of its own, so a relative argument is resolved here, against the tool's working
// folder, as the caller meant it; an absolute one is passed on unchanged.
ExitCode RunWithAbsoluteFolders(const Verb& verb, Arguments arguments) {
    for (std::size_t i = 2; i < verb.endOfFolders; ++i) {
        arguments[i] = platform::AbsolutePath(arguments[i]);
        if (arguments[i].empty())
            return verb.failure;
    }
    return verb.run(arguments);
}

}  // namespace

StartupServices PlatformStartupServices() {
    return StartupServices{platform::HideConsole, platform::InitializeFramework};
}

namespace {

ExitCode RunUnreported(const std::vector<std::u16string>& arguments, const StartupServices& startup) {
    startup.hideConsole();
    if (!startup.initializeFramework())
        return ExitCode::FrameworkFailed;

    if (arguments.size() < 2)
        return ExitCode::BadArgumentCount;
    for (const Verb& verb : kVerbs) {
        if (arguments[1] != verb.name)
            continue;
        if (arguments.size() < verb.fewestArguments || arguments.size() > verb.mostArguments) {
            return ExitCode::BadArgumentCount;
        }
        // A blank folder argument counts as a missing one.
        for (std::size_t i = 2; i < verb.endOfFolders; ++i) {
            if (IsBlank(arguments[i]))
                return ExitCode::BadArgumentCount;
        }
        return RunWithAbsoluteFolders(verb, arguments);
    }
    return ExitCode::UnknownVerb;
}

}  // namespace

ExitCode RunLumvar(const std::vector<std::u16string>& arguments, const StartupServices& startup) {
    // Opt-in: without LUMVAR_LOG nothing is opened, and a report that cannot be written never
    // changes the exit code.
    run_report::CRunReport report(arguments);
    const ExitCode code = RunUnreported(arguments, startup);
    report.Finish(static_cast<int>(code));
    return code;
}
