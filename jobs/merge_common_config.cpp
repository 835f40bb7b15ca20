// The merge of the central configuration file: the user's brand, platform, language and customer
// details travel from the saved CommonConfig.xml into the one a new installation brought, whose
// structure and other contents stay as installed.
#include <cstddef>
#include <iterator>
#include <span>
#include <string>
#include <utility>
#include <vector>

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

// What the saved document holds for one element of the merge list: whether it was found, and the
// values it carries, the attributes in list order and then the text.
struct SavedValues {
    bool found = false;
    std::vector<std::u16string> attributes;
    std::u16string text;
};

struct SavedEntry {
    SavedValues values;
    std::vector<SavedValues> children;
};

// Reads what the current child of saved carries. An attribute the saved element lacks reads as
// empty and is later set so.
SavedValues ReadCarried(const CFileXml& saved, const Carried& carried) {
    SavedValues values;
    values.found = true;
    for (const char16_t* attribute : carried.attributes)
        values.attributes.push_back(saved.GetChildAttribute(attribute));
    if (carried.text)
        values.text = saved.GetChildText();
    return values;
}

// Everything the merge takes from the saved document, in the order of the merge list. Each entry
// is looked for from the top, so the order of the elements does not matter; only the first element
// of a name counts. The listed children are looked for from the element's first child each time.
std::vector<SavedEntry> ReadSaved(CFileXml& saved) {
    std::vector<SavedEntry> entries(std::size(kMergeList));
    for (std::size_t e = 0; e < std::size(kMergeList); ++e) {
        const MergeEntry& entry = kMergeList[e];
        saved.ResetPosition();
        if (!saved.FindChildElement(entry.element))
            continue;
        entries[e].values = ReadCarried(saved, entry.carried);
        if (entry.children.empty())
            continue;
        entries[e].children.resize(entry.children.size());
        saved.EnterElement();
        for (std::size_t c = 0; c < entry.children.size(); ++c) {
            saved.ResetChildPosition();
            if (saved.FindChildElement(entry.children[c].element))
                entries[e].children[c] = ReadCarried(saved, entry.children[c].carried);
        }
        saved.LeaveElement();
    }
    return entries;
}

// Writes the values read from the saved element into the current child of live; the results of
// the edits are not examined. The values are released as they are written.
void WriteCarried(CFileXml& live, const Carried& carried, SavedValues& values) {
    for (std::size_t a = 0; a < carried.attributes.size(); ++a) {
        live.SetChildAttribute(carried.attributes[a], values.attributes[a]);
        std::u16string().swap(values.attributes[a]);
    }
    if (carried.text) {
        live.SetChildText(values.text);
        std::u16string().swap(values.text);
    }
}

// Carries every value found in the saved document into the element of the same place in live,
// where live has it too.
void WriteSaved(CFileXml& live, std::vector<SavedEntry>& entries) {
    for (std::size_t e = 0; e < std::size(kMergeList); ++e) {
        const MergeEntry& entry = kMergeList[e];
        live.ResetPosition();
        if (!entries[e].values.found || !live.FindChildElement(entry.element))
            continue;
        WriteCarried(live, entry.carried, entries[e].values);
        run_report::NoteCarried(entry.element, entry.carried.attributes, entry.carried.text);
        if (entry.children.empty())
            continue;
        live.EnterElement();
        for (std::size_t c = 0; c < entry.children.size(); ++c) {
            live.ResetChildPosition();
            const ChildEntry& child = entry.children[c];
            if (!entries[e].children[c].found || !live.FindChildElement(child.element))
                continue;
            WriteCarried(live, child.carried, entries[e].children[c]);
            run_report::NoteCarried(std::u16string(entry.element) + u"/" + child.element,
                                    child.carried.attributes, child.carried.text);
        }
        live.LeaveElement();
    }
}

// Loads the live file, merges the saved values into it and hands back its new text; false when
// the live file cannot be read or parsed. The document's index is gone once this returns, so the
// index and the encoded bytes of the save are never held at the same time.
bool MergeIntoLive(const std::u16string& livePath, std::vector<SavedEntry>& entries, std::u16string& text) {
    CFileXml live;
    if (!LoadDocument(livePath, live, u"live file"))
        return false;
    WriteSaved(live, entries);
    text = std::move(live.documentText);
    return true;
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
    // The saved document is read first and dropped before the live one is loaded: only the values
    // it carries are kept, so a large saved file and a large live file are never held together.
    std::vector<SavedEntry> entries;
    {
        CFileXml saved;
        if (!LoadDocument(savedPath, saved, u"saved file"))
            return step.End(false);
        entries = ReadSaved(saved);
    }
    std::u16string merged;
    if (!MergeIntoLive(commonConfigFile, entries, merged))
        return step.End(false);
    // Written even when nothing changed: the live file always comes out in the tool's UTF-8 form.
    std::u16string message;
    const bool written = CFileXml::SaveFileText(commonConfigFile, merged, &message);
    run_report::NoteOutcome(written ? u"written" : u"writing failed: " + message);
    return step.End(written);
}
