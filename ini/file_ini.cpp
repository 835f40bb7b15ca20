#include "ini/file_ini.h"

#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

#include "ini/read_lines.h"

namespace {

// ---------------------------------------------------------------------------------------------
// Characters and comparison

// White space is tab, LF, vertical tab, form feed, CR and space.
bool IsWhite(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

char16_t FoldCase(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c;
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

std::size_t CountLeadingWhite(std::u16string_view text) {
    std::size_t count = 0;
    while (count < text.size() && IsWhite(text[count]))
        ++count;
    return count;
}

std::size_t CountTrailingWhite(std::u16string_view text) {
    std::size_t count = 0;
    while (count < text.size() && IsWhite(text[text.size() - 1 - count]))
        ++count;
    return count;
}

// FNV-1a over the case-folded characters, so that names equal ignoring case hash alike.
std::uint32_t FoldedHash(std::u16string_view text) {
    std::uint32_t hash = 2166136261u;
    for (const char16_t c : text) {
        hash ^= FoldCase(c);
        hash *= 16777619u;
    }
    return hash;
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
    std::int32_t Find(std::u16string_view name, const NameAt& nameAt) const {
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

    void Insert(std::u16string_view name, std::int32_t position) {
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
// entry it yields, to the document's arrays.
class LineParser {
public:
    LineParser(CArray<CLinea, CLinea>& documentLines,
               CArray<CFileIni::Sezione, CFileIni::Sezione>& documentSections)
        : lines(documentLines), sections(documentSections) {}

    void Parse(std::u16string_view raw) {
        const std::size_t indentLength = CountLeadingWhite(raw);
        const std::u16string_view trimmed = raw.substr(indentLength);
        if (trimmed.empty() || trimmed.front() == u';') {
            AddTextLine(std::u16string(raw));
            return;
        }
        if (trimmed.front() == u'[') {
            ParseHeader(raw, indentLength);
            return;
        }
        if (noSectionYet || skippingRepeatedSection) {
            AddComment(raw);
            return;
        }
        ParseEntry(raw, indentLength);
    }

private:
    void ParseHeader(std::u16string_view raw, std::size_t indentLength) {
        std::u16string_view afterBrackets = raw.substr(indentLength);
        afterBrackets.remove_prefix(std::min(afterBrackets.find_first_not_of(u'['), afterBrackets.size()));
        const std::size_t close = afterBrackets.find(u']');
        if (close == std::u16string_view::npos) {
            AddComment(raw);
            return;
        }
        const std::u16string_view name = afterBrackets.substr(0, close);
        const std::u16string_view rest = afterBrackets.substr(close + 1);
        if (sectionNames.Find(
                name, [this](std::int32_t i) -> std::u16string_view { return sections[i].name; }) >= 0) {
            skippingRepeatedSection = true;
            AddComment(raw);
            return;
        }

        const std::int32_t newSection = currentSection + 1;
        CLinea line;
        line.SetSectionLine(newSection, CommentedRest(rest), std::u16string(raw.substr(0, indentLength)));
        lines.Add(std::move(line));
        CFileIni::Sezione section;
        section.name = name;
        sections.Add(std::move(section));
        sectionNames.Insert(name, newSection);

        currentSection = newSection;
        nextEntry = 0;
        entryKeys.Reset();
        noSectionYet = false;
        skippingRepeatedSection = false;
    }

    // What follows a header's "]" becomes a remark: ";" goes in front of its first non-white
    // character unless that already is ";".
    static std::u16string CommentedRest(std::u16string_view rest) {
        const std::size_t white = CountLeadingWhite(rest);
        if (white == rest.size() || rest[white] == u';')
            return std::u16string(rest);
        std::u16string text;
        text.reserve(rest.size() + 1);
        text.append(rest.substr(0, white));
        text.push_back(u';');
        text.append(rest.substr(white));
        return text;
    }

    void ParseEntry(std::u16string_view raw, std::size_t indentLength) {
        const std::u16string_view trimmed = raw.substr(indentLength);
        const std::size_t equals = trimmed.find(u'=');
        if (equals == std::u16string_view::npos) {
            AddComment(raw);
            return;
        }
        const std::u16string_view keyPart = trimmed.substr(0, equals);
        const std::u16string_view valuePart = trimmed.substr(equals + 1);
        const std::u16string_view key = keyPart.substr(0, keyPart.size() - CountTrailingWhite(keyPart));
        const std::u16string_view padBefore = keyPart.substr(key.size());
        const std::u16string_view padAfter = valuePart.substr(0, CountLeadingWhite(valuePart));
        const std::u16string_view value = valuePart.substr(padAfter.size());
        if (key.empty() || key.find_first_of(u"[;") != std::u16string_view::npos) {
            AddComment(raw);
            return;
        }
        CArray<CFileIni::Entry, CFileIni::Entry>& entries = sections[currentSection].entries;
        if (entryKeys.Find(
                key, [&entries](std::int32_t i) -> std::u16string_view { return entries[i].key; }) >= 0) {
            AddComment(raw);
            return;
        }

        CLinea line;
        line.SetEntryLine(currentSection, nextEntry, std::u16string(padBefore), std::u16string(padAfter),
                          std::u16string(raw.substr(0, indentLength)));
        lines.Add(std::move(line));
        CFileIni::Entry entry;
        entry.key = key;
        entry.value = value;
        entries.Add(std::move(entry));
        entryKeys.Insert(key, nextEntry);
        ++nextEntry;
    }

    void AddTextLine(std::u16string text) {
        CLinea line;
        line.SetTextLine(std::move(text), std::u16string());
        lines.Add(std::move(line));
    }

    // The line is kept, with ";" in front of it, as a comment.
    void AddComment(std::u16string_view raw) {
        std::u16string text;
        text.reserve(raw.size() + 1);
        text.push_back(u';');
        text.append(raw);
        AddTextLine(std::move(text));
    }

    CArray<CLinea, CLinea>& lines;
    CArray<CFileIni::Sezione, CFileIni::Sezione>& sections;
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
    const std::u16string text = ini::WidenBytes(bytes);
    std::vector<std::u16string_view> rawLines;
    ini::SplitLines(text, rawLines);
    lines.Reserve(static_cast<std::ptrdiff_t>(rawLines.size()));
    LineParser parser(lines, sections);
    for (const std::u16string_view raw : rawLines)
        parser.Parse(raw);
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
