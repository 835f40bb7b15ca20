// The merge of the central configuration file: the user's brand, platform, language and customer
// details travel from the saved CommonConfig.xml into the one a new installation brought, whose
// structure and other contents stay as installed.
#include <cstddef>
#include <span>
#include <string>

#include "jobs/restore.h"
#include "jobs/run_report.h"
#include "platform/platform.h"
#include "xml/file_xml.h"

namespace {

// The saved file's path is built in a buffer of MAX_PATH wide characters.
constexpr std::size_t kLongestSavedPath = platform::kLongestPath;

// What is carried from a saved element to the live one: attributes in this order, then the text.
struct Carried {
    std::span<const char16_t* const> attributes;
    bool text;
};

// An element of the merge list and what it carries; the children of "customerInfo" are merged one
// by one below it.
struct ChildEntry {
    const char16_t* element;
    Carried carried;
};

struct MergeEntry {
    const char16_t* element;
    Carried carried;
    std::span<const ChildEntry> children;
};

constexpr std::span<const char16_t* const> kNone{};
constexpr const char16_t* kName[] = {u"name"};
constexpr const char16_t* kCode[] = {u"code"};
constexpr const char16_t* kLanguage[] = {u"name", u"ISOname", u"code", u"lang", u"subl", u"img"};

constexpr Carried kText{kNone, true};

// Children of "customerInfo", in the order they are merged.
constexpr ChildEntry kCustomerInfo[] = {
    {u"ragioneSociale", kText},  // company name
    {u"indirizzo", kText},       // street address
    {u"civico", kText},          // house number
    {u"cap", kText},             // postal code
    {u"citta", kText},           // town
    {u"provincia", kText},       // province
    {u"stato", {kCode, true}},   // country: its code first, then its name
    {u"telefono", kText},        // telephone
    {u"cellulare", kText},       // mobile telephone
    {u"fax", kText},             // fax
    {u"email", kText},           // e-mail address
};

// Direct children of the root element, in the order they are merged. The root's own name is not
// looked at.
constexpr MergeEntry kMergeList[] = {
    {u"brand", {kName, false}, {}},                    // the suite's brand
    {u"platform", {kName, false}, {}},                 // the test bench
    {u"titolo-language", kText, {}},                   // caption of the language choice
    {u"language", {kLanguage, false}, {}},             // the working language
    {u"titolo-customerInfo", kText, {}},               // caption of the customer details
    {u"customerInfo", {kNone, false}, kCustomerInfo},  // the workshop's details
};

// The saved CommonConfig.xml in the backup folder; empty when the common application-data folder
// is unknown or the path would not fit its buffer.
std::u16string SavedConfigPath(const std::u16string& commonFolder) {
    if (commonFolder.empty())
        return {};
    std::u16string path = commonFolder + u"\\Lumvar\\CommonConfig.xml";
    if (path.size() > kLongestSavedPath)
        return {};
    return path;
}

// A backup folder that is there but is not the tool's own (a link, or owned by anyone but SYSTEM,
// Administrators or the running account) is never read: its maker could have put any file in it.
// A missing one is left to the load, which reports the missing saved file.
bool IsReadableBackupFolder(const std::u16string& commonFolder) {
    if (platform::EntryKindOf(commonFolder + u"\\Lumvar") == platform::EntryKind::Missing)
        return true;
    return IsTrustedBackupFolder(commonFolder);
}

// Loads and parses one document; false when the file cannot be read or is not well-formed, or is
// a link: a link would let whoever made it choose what is read or written with the tool's rights.
// The run report learns which document failed and why (the system's error text or the parser's
// message, which names tags and offsets, never contents).
bool LoadDocument(const std::u16string& path, CFileXml& document, const char16_t* role) {
    if (platform::EntryKindOf(path) == platform::EntryKind::Link) {
        run_report::NoteOutcome(role + std::u16string(u": a link, not read"));
        return false;
    }
    std::u16string message;
    if (!CFileXml::LoadFileText(path, document.documentText, &message)) {
        run_report::NoteOutcome(role + (u": " + message));
        return false;
    }
    if (document.ParseDocument())
        return true;
    run_report::NoteOutcome(role + (u": " + document.messageText));
    return false;
}

// Copies from the current child of saved to the current child of live. An attribute the saved
// element lacks reads as empty and is set so; the results of the edits are not examined.
void CopyCarried(const CFileXml& saved, CFileXml& live, const Carried& carried) {
    for (const char16_t* attribute : carried.attributes)
        live.SetChildAttribute(attribute, saved.GetChildAttribute(attribute));
    if (carried.text)
        live.SetChildText(saved.GetChildText());
}

// Both documents have the entry's element as current child: each listed child found in both is
// carried over, every search starting again at the element's first child.
void MergeChildren(CFileXml& saved, CFileXml& live, std::span<const ChildEntry> children) {
    saved.EnterElement();
    live.EnterElement();
    for (const ChildEntry& child : children) {
        saved.ResetChildPosition();
        live.ResetChildPosition();
        if (!saved.FindChildElement(child.element) || !live.FindChildElement(child.element))
            continue;
        CopyCarried(saved, live, child.carried);
        run_report::NoteCarried(u"customerInfo/" + std::u16string(child.element), child.carried.attributes,
                                child.carried.text);
    }
    saved.LeaveElement();
    live.LeaveElement();
}

}  // namespace

// True when both files were read and parsed and the live file was written back. A failed save
// leaves the live file as it was (SaveFileText replaces it whole or not at all).
bool CRestore::MergeCommonConfig() {
    run_report::CStepReport step(u"MergeCommonConfig", commonConfigFile);
    const std::u16string commonFolder = platform::CommonAppDataFolder();
    const std::u16string savedPath = SavedConfigPath(commonFolder);
    if (savedPath.empty()) {
        run_report::NoteOutcome(u"the saved file's path cannot be formed");
        return step.End(false);
    }
    if (!IsReadableBackupFolder(commonFolder)) {
        run_report::NoteOutcome(u"saved file: the backup folder is a link or another user's");
        return step.End(false);
    }
    CFileXml saved;
    if (!LoadDocument(savedPath, saved, u"saved file"))
        return step.End(false);
    CFileXml live;
    if (!LoadDocument(commonConfigFile, live, u"live file"))
        return step.End(false);

    for (const MergeEntry& entry : kMergeList) {
        // Each entry is looked for from the top, so the order of the elements in either file does
        // not matter; only the first element of a name counts.
        saved.ResetPosition();
        live.ResetPosition();
        if (!saved.FindChildElement(entry.element) || !live.FindChildElement(entry.element))
            continue;
        CopyCarried(saved, live, entry.carried);
        run_report::NoteCarried(entry.element, entry.carried.attributes, entry.carried.text);
        if (!entry.children.empty())
            MergeChildren(saved, live, entry.children);
    }
    // Written even when nothing changed: the live file always comes out in the tool's UTF-8 form.
    std::u16string message;
    const bool written = CFileXml::SaveFileText(commonConfigFile, live.documentText, &message);
    run_report::NoteOutcome(written ? u"written" : u"writing failed: " + message);
    return step.End(written);
}
