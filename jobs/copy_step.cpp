#include "jobs/copy_step.h"

#include <string_view>

#include "jobs/run_report.h"
#include "platform/platform.h"

namespace {

// The launcher that starts the platform's command interpreter.
class PlatformCommandLauncher : public CommandLauncher {
public:
    bool Run(const std::u16string& parameters, std::uint32_t& exitCode) override {
        return platform::RunCommandInterpreter(parameters, exitCode);
    }
};

PlatformCommandLauncher platformLauncher;
CommandLauncher* activeLauncher = &platformLauncher;

// The common application-data folder is read into a buffer of 260 wide characters, terminator
// included; a copy-back source path is bounded by the same buffer.
constexpr std::size_t kPathBufferLength = 260;
constexpr std::size_t kLongestPath = kPathBufferLength - 1;

// The backup folder below the common application-data folder.
constexpr char16_t kBackupFolderName[] = u"\\Lumvar";

// The common application-data folder as a copy may use it; empty when it cannot be determined or
// does not fit its buffer.
std::u16string CommonFolder() {
    std::u16string folder = platform::CommonAppDataFolder();
    if (folder.size() > kLongestPath)
        return {};
    return folder;
}

// A double quote would end the quoted path early, "%" makes the interpreter expand variables, and a
// line break ends the command: a path holding any of them cannot be passed safely.
bool IsSafeInCommand(std::u16string_view path) {
    return path.find_first_of(u"\"%\r\n") == std::u16string_view::npos;
}

// XCOPY keeps its paths in buffers of MAX_PATH (260) characters, terminator included, whatever
// the tool itself can open. Past that, Windows' XCOPY fails, while Wine's writes the files below a
// garbled name in its working folder and reports success. A copy that would read or write a longer
// path is therefore not started.
constexpr std::size_t kLongestCopyPath = 259;

// True when every entry below sourceFolder (its whole tree with subfolders, else its top level)
// fits both under the source folder and under destination. relative is the entry's folder below
// the source, ending in a backslash or empty. Stops descending as soon as a path is too long, so
// a link that loops ends there too.
bool EntriesFit(const std::u16string& sourceFolder, const std::u16string& destination, const std::u16string& relative,
                bool subfolders) {
    bool fits = true;
    platform::FindMatchingEntries(sourceFolder + u"\\" + relative + u"*", [&](const std::u16string& name) {
        if (!fits)
            return;
        const std::u16string below = relative + name;
        if (sourceFolder.size() + 1 + below.size() > kLongestCopyPath ||
            destination.size() + below.size() > kLongestCopyPath) {
            fits = false;
            return;
        }
        // A file has no entries, so descending into every name finds the subfolders.
        if (subfolders)
            fits = EntriesFit(sourceFolder, destination, below + u"\\", true);
    });
    return fits;
}

// True when XCOPY can hold every path of the copy of source into destination (a folder path
// ending in a backslash): the two paths themselves, what lies below a source folder, and a source
// file under its own name in the destination.
bool CopyPathsFit(const std::u16string& source, const std::u16string& destination, bool subfolders) {
    if (source.size() > kLongestCopyPath || destination.size() > kLongestCopyPath)
        return false;
    bool hasEntries = false;
    platform::FindMatchingEntries(source + u"\\*", [&](const std::u16string&) { hasEntries = true; });
    if (hasEntries)
        return EntriesFit(source, destination, u"", subfolders);
    // A file (or an empty folder, taken like a file) lands under its own name.
    const std::size_t cut = source.find_last_of(u"\\/");
    const std::size_t nameLength = cut == std::u16string::npos ? source.size() : source.size() - cut - 1;
    return destination.size() + nameLength <= kLongestCopyPath;
}

std::u16string_view BackupTargetTail(BackupTarget target) {
    switch (target) {
        case BackupTarget::TargetRoot:
            return u"\\Lumvar\\\" /i /v /y";
        case BackupTarget::TargetData:
            return u"\\Lumvar\\Data\\\" /e /i /v /y";
        case BackupTarget::TargetDiesel:
            return u"\\Lumvar\\diesel\\\" /i /v /y";
        case BackupTarget::TargetDataDiesel:
            return u"\\Lumvar\\Data\\diesel\\\" /i /v /y";
        case BackupTarget::TargetGas:
            return u"\\Lumvar\\gas\\\" /i /v /y";
        case BackupTarget::TargetDataGas:
            return u"\\Lumvar\\Data\\gas\\\" /i /v /y";
    }
    return {};
}

std::u16string_view CopyKindPrefix(CopyKind kind) {
    switch (kind) {
        case CopyKind::SettingsFlat:
            return u"\\Lumvar\\";
        case CopyKind::DataFlat:
        case CopyKind::DataTree:
            return u"\\Lumvar\\Data\\";
    }
    return {};
}

std::u16string_view CopyKindTail(CopyKind kind) {
    switch (kind) {
        case CopyKind::SettingsFlat:
        case CopyKind::DataFlat:
            return u"\" /i /v /y";
        case CopyKind::DataTree:
            return u"\" /e /i /v /y";
    }
    return {};
}

// "/c XCOPY \"" + source + "\" \"" + destination + tail, the tail closing the destination's quote.
std::u16string XcopyParameters(std::u16string_view source, std::u16string_view destination,
                               std::u16string_view tail) {
    std::u16string parameters = u"/c XCOPY \"";
    parameters.append(source);
    parameters.append(u"\" \"");
    parameters.append(destination);
    parameters.append(tail);
    return parameters;
}

bool RunCopy(const std::u16string& parameters) {
    return RunHiddenCommand(parameters) == 0;
}

// What the existence test of the backup and copy-back forms decides.
enum class SourceCheck {
    Skip,  // the system says nothing is there: the step succeeds without a copy
    Copy,  // something is there
    Fail,  // the test itself failed: a copy that may be needed cannot be made, nor skipped
};

// Only "not found" is absent. A source that cannot be examined (access denied, a name too long, a
// loop of links, an unreachable network path) may hold data that the installer is about to
// remove; taking it for absent would report a backup that never happened as a success.
SourceCheck CheckSource(const std::u16string& source) {
    switch (platform::PathStateOf(source)) {
        case platform::PathState::Missing:
            return SourceCheck::Skip;
        case platform::PathState::Present:
            return SourceCheck::Copy;
        case platform::PathState::Unknown:
            return SourceCheck::Fail;
    }
    return SourceCheck::Fail;
}

}  // namespace

ScopedCommandLauncher::ScopedCommandLauncher(CommandLauncher& launcher) : previous_(activeLauncher) {
    activeLauncher = &launcher;
}

ScopedCommandLauncher::~ScopedCommandLauncher() {
    activeLauncher = previous_;
}

std::uint32_t RunHiddenCommand(const std::u16string& parameters) {
    std::uint32_t exitCode = 0;
    const bool started = activeLauncher->Run(parameters, exitCode);
    run_report::NoteCommand(parameters, started, exitCode);
    if (!started)
        return kInterpreterNotStarted;
    return exitCode;
}

bool CopyToBackup(const std::u16string& source, BackupTarget target) {
    const SourceCheck check = CheckSource(source);
    if (check != SourceCheck::Copy)
        return check == SourceCheck::Skip;
    const std::u16string commonFolder = CommonFolder();
    if (commonFolder.empty())
        return false;
    if (!IsSafeInCommand(source) || !IsSafeInCommand(commonFolder))
        return false;
    const std::u16string_view tail = BackupTargetTail(target);
    // The destination is the common folder and the tail up to the quote that closes it.
    const std::u16string destination = commonFolder + std::u16string(tail.substr(0, tail.find(u'"')));
    if (!CopyPathsFit(source, destination, target == BackupTarget::TargetData))
        return false;
    // A restore carries whatever lies in the backup folder into the installation with an
    // installer's rights, and every user may create files in the common folder: the backup folder
    // is made before the first copy so that only administrators and the system can write to it.
    // XCOPY would create it open to everyone.
    if (!platform::CreateProtectedFolder(commonFolder + kBackupFolderName))
        return false;
    return RunCopy(XcopyParameters(source, commonFolder, tail));
}

bool CopyBack(const std::u16string& itemName, CopyKind kind, const std::u16string& destination) {
    std::u16string source = CommonFolder();
    if (source.empty())
        return false;
    source.append(CopyKindPrefix(kind));
    source.append(itemName);
    // A longer path does not fit the buffer; cutting it short would copy some other item.
    if (source.size() > kLongestPath)
        return false;
    const SourceCheck check = CheckSource(source);
    if (check != SourceCheck::Copy)
        return check == SourceCheck::Skip;
    if (!IsSafeInCommand(source) || !IsSafeInCommand(destination))
        return false;
    if (!CopyPathsFit(source, destination, kind == CopyKind::DataTree))
        return false;
    return RunCopy(XcopyParameters(source, destination, CopyKindTail(kind)));
}

bool CopyAddinTree(const std::u16string& sourceFolder, const std::u16string& targetFolder) {
    if (!IsSafeInCommand(sourceFolder) || !IsSafeInCommand(targetFolder))
        return false;
    if (!CopyPathsFit(sourceFolder, targetFolder, true))
        return false;
    return RunCopy(XcopyParameters(sourceFolder, targetFolder, u"\" /e /i /v /y"));
}
