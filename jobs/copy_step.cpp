#include "jobs/copy_step.h"

#include <string_view>

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

// The common application-data folder is read into a buffer of MAX_PATH wide characters; a
// copy-back source path is bounded by the same buffer.
using platform::kLongestPath;

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

// XCOPY keeps its paths in buffers of MAX_PATH characters too, whatever the tool itself can open.
// Past that, Windows' XCOPY fails, while Wine's writes the files below a garbled name in its
// working folder and reports success. A copy that would read or write a longer path is therefore
// not started.
constexpr std::size_t kLongestCopyPath = platform::kLongestPath;

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

}  // namespace

ScopedCommandLauncher::ScopedCommandLauncher(CommandLauncher& launcher) : previous_(activeLauncher) {
    activeLauncher = &launcher;
}

ScopedCommandLauncher::~ScopedCommandLauncher() {
    activeLauncher = previous_;
}

std::uint32_t RunHiddenCommand(const std::u16string& parameters) {
    std::uint32_t exitCode = 0;
    if (!activeLauncher->Run(parameters, exitCode))
        return kInterpreterNotStarted;
    return exitCode;
}

bool CopyToBackup(const std::u16string& source, BackupTarget target) {
    if (!platform::PathExists(source))
        return true;
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
    if (!platform::PathExists(source))
        return true;
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
