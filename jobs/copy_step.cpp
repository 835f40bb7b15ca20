#include "jobs/copy_step.h"

#include <string_view>
#include <utility>
#include <vector>

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

// The folder arguments of the running job (ScopedNamedFolders); null when none are known.
const std::vector<std::u16string>* namedFolders = nullptr;

bool IsSeparator(char16_t c) {
    return c == u'\\' || c == u'/';
}

// Where the part of path that must hold no link begins: after the longest folder argument that
// path begins with (followed by a separator or the end), else at path's own last name.
std::size_t CheckedFrom(const std::u16string& path) {
    std::size_t from = std::u16string::npos;
    if (namedFolders != nullptr) {
        for (const std::u16string& folder : *namedFolders) {
            const bool covers = !folder.empty() && path.compare(0, folder.size(), folder) == 0 &&
                                (path.size() == folder.size() || IsSeparator(path[folder.size()]) ||
                                 IsSeparator(folder.back()));
            if (covers && (from == std::u16string::npos || folder.size() > from))
                from = folder.size();
        }
    }
    if (from != std::u16string::npos)
        return from;
    std::size_t end = path.size();
    while (end > 0 && IsSeparator(path[end - 1]))
        --end;
    const std::size_t cut = path.find_last_of(u"\\/", end == 0 ? 0 : end - 1);
    return cut == std::u16string::npos ? 0 : cut + 1;
}

// A link, or something whose kind could not be read: a copy must not go through it.
bool Unsafe(platform::EntryKind kind) {
    return kind == platform::EntryKind::Link || kind == platform::EntryKind::Unknown;
}

// True when no folder or entry on path from its first `from` characters on is a link (or cannot
// be examined). What does not exist yet ends the test: the copy makes it, as a folder.
bool NoLinkOnTheWay(const std::u16string& path, std::size_t from) {
    std::size_t at = from;
    while (true) {
        while (at < path.size() && IsSeparator(path[at]))
            ++at;
        if (at >= path.size())
            return true;
        std::size_t end = at;
        while (end < path.size() && !IsSeparator(path[end]))
            ++end;
        const platform::EntryKind kind = platform::EntryKindOf(path.substr(0, end));
        if (Unsafe(kind))
            return false;
        if (kind == platform::EntryKind::Missing)
            return true;
        at = end;
    }
}

// True when every entry below sourceFolder (its whole tree with subfolders, else its top level)
// fits both under the source folder and under destination, and the copy would follow no link: no
// entry is one, and none of the places in destination where an entry would land is one. relative
// is the entry's folder below the source, ending in a backslash or empty; destinationThere says
// whether that folder exists in destination; anyEntry, when given, learns whether the folder had any
// entry at all. Stops at the first entry that fails.
bool EntriesFit(const std::u16string& sourceFolder, const std::u16string& destination,
                const std::u16string& relative, bool subfolders, bool destinationThere,
                bool* anyEntry = nullptr) {
    bool fits = true;
    const bool listed = platform::ListEntryKinds(
        sourceFolder + u"\\" + relative, [&](const std::u16string& name, platform::EntryKind kind) {
            if (anyEntry != nullptr)
                *anyEntry = true;
            if (!fits)
                return;
            const std::u16string below = relative + name;
            if (sourceFolder.size() + 1 + below.size() > kLongestCopyPath ||
                destination.size() + below.size() > kLongestCopyPath || Unsafe(kind)) {
                fits = false;
                return;
            }
            const platform::EntryKind landing =
                destinationThere ? platform::EntryKindOf(destination + below) : platform::EntryKind::Missing;
            if (Unsafe(landing)) {
                fits = false;
                return;
            }
            if (subfolders && kind == platform::EntryKind::Folder)
                fits = EntriesFit(sourceFolder, destination, below + u"\\", true,
                                  landing != platform::EntryKind::Missing);
        });
    return listed && fits;
}

// True when XCOPY can hold every path of the copy of source into destination (a folder path
// ending in a backslash) and the copy would follow no link: the two paths themselves from their
// first sourceFrom and destinationFrom characters on, what lies below a source folder, and a source
// file under its own name in the destination.
bool CopyPathsFit(const std::u16string& source, std::size_t sourceFrom, const std::u16string& destination,
                  std::size_t destinationFrom, bool subfolders) {
    if (source.size() > kLongestCopyPath || destination.size() > kLongestCopyPath)
        return false;
    if (!NoLinkOnTheWay(source, sourceFrom) || !NoLinkOnTheWay(destination, destinationFrom))
        return false;
    const bool destinationThere = platform::EntryKindOf(destination) != platform::EntryKind::Missing;
    // One listing of the source both tells a folder with entries from a file and checks them.
    bool hasEntries = false;
    const bool entriesFit = EntriesFit(source, destination, u"", subfolders, destinationThere, &hasEntries);
    if (hasEntries)
        return entriesFit;
    // A file (or an empty folder, taken like a file) lands under its own name.
    const std::size_t cut = source.find_last_of(u"\\/");
    const std::size_t nameLength = cut == std::u16string::npos ? source.size() : source.size() - cut - 1;
    if (destination.size() + nameLength > kLongestCopyPath)
        return false;
    return !destinationThere ||
           !Unsafe(platform::EntryKindOf(destination + source.substr(source.size() - nameLength)));
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

ScopedNamedFolders::ScopedNamedFolders(std::vector<std::u16string> folders)
    : folders_(std::move(folders)), previous_(namedFolders) {
    namedFolders = &folders_;
}

ScopedNamedFolders::~ScopedNamedFolders() {
    namedFolders = previous_;
}

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
    if (!CopyPathsFit(source, CheckedFrom(source), destination, commonFolder.size(),
                      target == BackupTarget::TargetData))
        return false;
    // A restore carries whatever lies in the backup folder into the installation with an
    // installer's rights, and every user may create files in the common folder: before the first
    // copy the backup folder is made, or given again, rights that let nobody else in. XCOPY would
    // create it open to everyone; one made by anyone else, or a link, is not written into.
    if (!platform::CreateProtectedFolder(commonFolder + kBackupFolderName))
        return false;
    return RunCopy(XcopyParameters(source, commonFolder, tail));
}

bool CopyBack(const std::u16string& itemName, CopyKind kind, const std::u16string& destination) {
    const std::u16string commonFolder = CommonFolder();
    if (commonFolder.empty())
        return false;
    std::u16string source = commonFolder;
    source.append(CopyKindPrefix(kind));
    source.append(itemName);
    // A longer path does not fit the buffer; cutting it short would copy some other item.
    if (source.size() > kLongestPath)
        return false;
    // A backup folder that is not the tool's own is never read; a missing one makes every saved
    // item missing below.
    if (!IsReadableBackupFolder(commonFolder))
        return false;
    const SourceCheck check = CheckSource(source);
    if (check != SourceCheck::Copy)
        return check == SourceCheck::Skip;
    if (!IsSafeInCommand(source) || !IsSafeInCommand(destination))
        return false;
    if (!CopyPathsFit(source, commonFolder.size(), destination, CheckedFrom(destination),
                      kind == CopyKind::DataTree))
        return false;
    return RunCopy(XcopyParameters(source, destination, CopyKindTail(kind)));
}

bool CopyAddinTree(const std::u16string& sourceFolder, const std::u16string& targetFolder) {
    if (!IsSafeInCommand(sourceFolder) || !IsSafeInCommand(targetFolder))
        return false;
    if (!CopyPathsFit(sourceFolder, CheckedFrom(sourceFolder), targetFolder, CheckedFrom(targetFolder), true))
        return false;
    return RunCopy(XcopyParameters(sourceFolder, targetFolder, u"\" /e /i /v /y"));
}

bool NoLinkBelowNamedFolders(const std::u16string& path) {
    return NoLinkOnTheWay(path, CheckedFrom(path));
}

bool IsReadableBackupFolder(const std::u16string& commonFolder) {
    const std::u16string backupFolder = commonFolder + kBackupFolderName;
    if (platform::EntryKindOf(backupFolder) == platform::EntryKind::Missing)
        return true;
    return platform::IsTrustedFolder(backupFolder);
}
