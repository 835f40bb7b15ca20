#include "ini/file_ini.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "ini/read_lines.h"

namespace {

// The loader works on the file's bytes: every byte is one character (U+0000-U+00FF) and every
// character that decides a line's form is ASCII, so each decision is the same as on the widened
// line. Text is widened once, when it goes into a record.

// ---------------------------------------------------------------------------------------------
// Characters and comparison

// White space is tab, LF, vertical tab, form feed, CR and space.
bool IsWhite(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}
bool IsWhite(char c) {
    return IsWhite(static_cast<char16_t>(static_cast<unsigned char>(c)));
}

char16_t FoldCase(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
}
char16_t FoldCase(char c) {
    return FoldCase(static_cast<char16_t>(static_cast<unsigned char>(c)));
}

// Compares a widened text with bytes, one character per byte.
bool EqualsIgnoreCase(std::u16string_view a, std::string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    }
    return true;
}

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    }
    return true;
}

template <typename Text>
std::size_t CountLeadingWhite(Text text) {
    std::size_t count = 0;
    while (count < text.size() && IsWhite(text[count]))
        ++count;
    return count;
}

std::size_t CountTrailingWhite(std::string_view text) {
    std::size_t count = 0;
    while (count < text.size() && IsWhite(text[text.size() - 1 - count]))
        ++count;
    return count;
}

// FNV-1a over the case-folded characters, so that names equal ignoring case hash alike.
std::uint32_t FoldedHash(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (const char c : text) {
        hash ^= FoldCase(c);
        hash *= 16777619u;
    }
    return hash;
}

// Widens bytes, one character per byte, behind an optional prefix.
std::u16string Widen(std::string_view bytes, std::u16string_view prefix = {}) {
    std::u16string text(prefix.size() + bytes.size(), u'\0');
    char16_t* target = text.data();
    for (const char16_t c : prefix)
        *target++ = c;
    for (const char c : bytes)
        *target++ = static_cast<unsigned char>(c);
    return text;
}

// ---------------------------------------------------------------------------------------------
// Lookup while loading

// Finds names ignoring case among those inserted, in time independent of how many there are. It
// stores positions only; the names stay in the array they belong to, which nameAt reads. Loading
// inserts every accepted name and never two equal ones, so the one match is also the first match
// that a scan from index 0 would find.
class FoldedIndex {
public:
    FoldedIndex() { Reset(); }

    void Reset() {
        slots.assign(kInitialSlots, Slot{});
        used = 0;
    }

    template <typename NameAt>
    std::int32_t Find(std::string_view name, const NameAt& nameAt) const {
        const std::uint32_t hash = FoldedHash(name);
        const std::size_t mask = slots.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& slot = slots[i];
            if (slot.positionPlusOne == 0)
                return -1;
            const auto position = static_cast<std::int32_t>(slot.positionPlusOne - 1);
            if (slot.hash == hash && EqualsIgnoreCase(nameAt(position), name))
                return position;
        }
    }

    void Insert(std::string_view name, std::int32_t position) {
        if ((used + 1) * 2 > slots.size())
            Grow();
        Place(Slot{FoldedHash(name), static_cast<std::uint32_t>(position) + 1});
        ++used;
    }

private:
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t positionPlusOne = 0;  // 0 marks a free slot
    };
    static constexpr std::size_t kInitialSlots = 16;

    void Place(Slot slot) {
        const std::size_t mask = slots.size() - 1;
        std::size_t i = slot.hash & mask;
        while (slots[i].positionPlusOne != 0)
            i = (i + 1) & mask;
        slots[i] = slot;
    }

    void Grow() {
        std::vector<Slot> old(slots.size() * 2);
        old.swap(slots);
        for (const Slot& slot : old) {
            if (slot.positionPlusOne != 0)
                Place(slot);
        }
    }

    std::vector<Slot> slots;
    std::size_t used = 0;
};

// ---------------------------------------------------------------------------------------------
// The pass over the lines

// Decides the form of each raw line in file order and appends its record, and any section or
// entry it yields, to the document's arrays. The entries of the current section gather in a
// scratch array and move into their section, in one allocation, when the section ends: call
// Finish after the last line.
class LineParser {
public:
    LineParser(CArray<CLinea, CLinea>& documentLines,
               CArray<CFileIni::Sezione, CFileIni::Sezione>& documentSections)
        : lines(documentLines), sections(documentSections) {}

    void Parse(std::string_view raw) {
        const std::size_t indentLength = CountLeadingWhite(raw);
        const std::string_view trimmed = raw.substr(indentLength);
        if (trimmed.empty() || trimmed.front() == ';') {
            AddTextLine(Widen(raw));
            return;
        }
        if (trimmed.front() == '[') {
            ParseHeader(raw, indentLength);
            return;
        }
        if (noSectionYet || skippingRepeatedSection) {
            AddComment(raw);
            return;
        }
        ParseEntry(raw, indentLength);
    }

    void Finish() { MovePendingEntries(); }

private:
    void ParseHeader(std::string_view raw, std::size_t indentLength) {
        std::string_view afterBrackets = raw.substr(indentLength);
        afterBrackets.remove_prefix(std::min(afterBrackets.find_first_not_of('['), afterBrackets.size()));
        const std::size_t close = afterBrackets.find(']');
        if (close == std::string_view::npos) {
            AddComment(raw);
            return;
        }
        const std::string_view name = afterBrackets.substr(0, close);
        const std::string_view rest = afterBrackets.substr(close + 1);
        const auto sectionName = [this](std::int32_t i) -> std::u16string_view { return sections[i].name; };
        if (sectionNames.Find(name, sectionName) >= 0) {
            skippingRepeatedSection = true;
            AddComment(raw);
            return;
        }

        MovePendingEntries();
        const std::int32_t newSection = currentSection + 1;
        lines.AddNew().SetSectionLine(newSection, CommentedRest(rest), Widen(raw.substr(0, indentLength)));
        sections.AddNew().name = Widen(name);
        sectionNames.Insert(name, newSection);

        currentSection = newSection;
        nextEntry = 0;
        entryKeys.Reset();
        noSectionYet = false;
        skippingRepeatedSection = false;
    }

    // What follows a header's "]" becomes a remark: ";" goes in front of its first non-white
    // character unless that already is ";".
    static std::u16string CommentedRest(std::string_view rest) {
        const std::size_t white = CountLeadingWhite(rest);
        if (white == rest.size() || rest[white] == ';')
            return Widen(rest);
        std::u16string text = Widen(rest.substr(0, white));
        text.reserve(rest.size() + 1);
        text.push_back(u';');
        text.append(Widen(rest.substr(white)));
        return text;
    }

    void ParseEntry(std::string_view raw, std::size_t indentLength) {
        const std::string_view trimmed = raw.substr(indentLength);
        const std::size_t equals = trimmed.find('=');
        if (equals == std::string_view::npos) {
            AddComment(raw);
            return;
        }
        const std::string_view keyPart = trimmed.substr(0, equals);
        const std::string_view valuePart = trimmed.substr(equals + 1);
        const std::string_view key = keyPart.substr(0, keyPart.size() - CountTrailingWhite(keyPart));
        const std::string_view padBefore = keyPart.substr(key.size());
        const std::string_view padAfter = valuePart.substr(0, CountLeadingWhite(valuePart));
        const std::string_view value = valuePart.substr(padAfter.size());
        if (key.empty() || key.find_first_of("[;") != std::string_view::npos) {
            AddComment(raw);
            return;
        }
        const auto entryKey = [this](std::int32_t i) -> std::u16string_view {
            return pendingEntries[static_cast<std::size_t>(i)].key;
        };
        if (entryKeys.Find(key, entryKey) >= 0) {
            AddComment(raw);
            return;
        }

        lines.AddNew().SetEntryLine(currentSection, nextEntry, Widen(padBefore), Widen(padAfter),
                                    Widen(raw.substr(0, indentLength)));
        pendingEntries.push_back(CFileIni::Entry{Widen(key), Widen(value)});
        entryKeys.Insert(key, nextEntry);
        ++nextEntry;
    }

    void MovePendingEntries() {
        if (pendingEntries.empty())
            return;
        CArray<CFileIni::Entry, CFileIni::Entry>& entries = sections[currentSection].entries;
        entries.Reserve(static_cast<std::ptrdiff_t>(pendingEntries.size()));
        for (CFileIni::Entry& entry : pendingEntries)
            entries.Add(std::move(entry));
        pendingEntries.clear();
    }

    void AddTextLine(std::u16string text) { lines.AddNew().SetTextLine(std::move(text), std::u16string()); }

    // The line is kept, with ";" in front of it, as a comment.
    void AddComment(std::string_view raw) { AddTextLine(Widen(raw, u";")); }

    CArray<CLinea, CLinea>& lines;
    CArray<CFileIni::Sezione, CFileIni::Sezione>& sections;
    std::vector<CFileIni::Entry> pendingEntries;  // of the current section
    FoldedIndex sectionNames;
    FoldedIndex entryKeys;  // of the current section
    std::int32_t currentSection = -1;
    std::int32_t nextEntry = 0;
    bool noSectionYet = true;
    bool skippingRepeatedSection = false;
};

}  // namespace

CFileIni::~CFileIni() = default;

void CFileIni::Clear() {
    lines.RemoveAll();
    sections.RemoveAll();
}

bool CFileIni::Load() {
    Clear();
    std::string bytes;
    if (!ini::ReadFileWithRetries(filePath, bytes)) {
        errorText = u"Reading lines failed.";
        return false;
    }
    LoadContent(bytes);
    return true;
}

void CFileIni::LoadContent(std::string_view bytes) {
    Clear();
    lines.Reserve(static_cast<std::ptrdiff_t>(ini::CountLines(bytes)));
    LineParser parser(lines, sections);
    ini::ForEachLine(bytes, [&parser](std::string_view raw) { parser.Parse(raw); });
    parser.Finish();
}

std::u16string CFileIni::GetValue(const std::u16string& section, const std::u16string& key) {
    const std::int32_t s = FindSection(section);
    const std::int32_t e = FindEntry(s, key);
    if (s == -1) {
        errorText = u"Unable to locate specified key.";
        return std::u16string();
    }
    if (e == -1) {
        errorText = u"Unable to locate specified value.";
        return std::u16string();
    }
    return sections[s].entries[e].value;
}

std::int32_t CFileIni::FindSection(const std::u16string& name) const {
    for (std::ptrdiff_t i = 0; i < sections.GetSize(); ++i) {
        if (EqualsIgnoreCase(sections[i].name, name))
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

std::int32_t CFileIni::FindEntry(std::int32_t sectionIndex, const std::u16string& key) const {
    if (sectionIndex < 0 || sectionIndex >= sections.GetSize())
        return -1;
    const CArray<Entry, Entry>& entries = sections[sectionIndex].entries;
    for (std::ptrdiff_t i = 0; i < entries.GetSize(); ++i) {
        if (EqualsIgnoreCase(entries[i].key, key))
            return static_cast<std::int32_t>(i);
    }
    return -1;
}
