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

bool EqualsIgnoreCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && FoldCase(a[i]) != FoldCase(b[i]))
            return false;
    }
    return true;
}

// Compares bytes of the file with bytes, as the widened characters would compare.
bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
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

using ini::WideString;

// Writes bytes as characters, one per byte, from target on.
void WidenInto(char16_t* target, std::string_view bytes) {
    for (const char c : bytes)
        *target++ = static_cast<unsigned char>(c);
}

// Widens bytes into a string that lives in arena.
WideString Widen(std::string_view bytes, std::pmr::memory_resource* arena) {
    return WideString::Build(bytes.size(), arena, [bytes](char16_t* target) { WidenInto(target, bytes); });
}

// Widens bytes behind a ";" into a string that lives in arena.
WideString WidenCommented(std::string_view bytes, std::pmr::memory_resource* arena) {
    return WideString::Build(bytes.size() + 1, arena, [bytes](char16_t* target) {
        *target = u';';
        WidenInto(target + 1, bytes);
    });
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

    // hash is FoldedHash(name), computed once by the caller for Find and a following Insert.
    template <typename NameAt>
    std::int32_t Find(std::string_view name, std::uint32_t hash, const NameAt& nameAt) const {
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

    void Insert(std::uint32_t hash, std::int32_t position) {
        if ((used + 1) * 2 > slots.size())
            Grow();
        Place(Slot{hash, static_cast<std::uint32_t>(position) + 1});
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
// entry it yields, to the document's arrays. Each string is built in the arena straight into the
// record that keeps it, never moved between records (a move would copy it out of the arena): the
// lines were reserved up front, and the accepted sections and entries wait as the file's bytes
// until Finish, which must follow the last line, builds them in place, each array in one
// allocation.
class LineParser {
public:
    // Every string that the parser builds draws from arena.
    LineParser(CArray<CLinea, CLinea>& documentLines,
               CArray<CFileIni::Sezione, CFileIni::Sezione>& documentSections,
               std::pmr::memory_resource* documentArena)
        : lines(documentLines), sections(documentSections), arena(documentArena) {}

    void Parse(std::string_view raw) {
        const std::size_t indentLength = CountLeadingWhite(raw);
        const std::string_view trimmed = raw.substr(indentLength);
        if (trimmed.empty() || trimmed.front() == ';') {
            lines.AddNew().SetTextLine(Widen(raw, arena), WideString());
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

    void Finish() {
        sections.Reserve(static_cast<std::ptrdiff_t>(pendingSections.size()));
        for (std::size_t i = 0; i < pendingSections.size(); ++i) {
            const std::size_t first = pendingSections[i].firstEntry;
            const std::size_t end =
                i + 1 < pendingSections.size() ? pendingSections[i + 1].firstEntry : pendingEntries.size();
            CFileIni::Sezione& section = sections.AddNew();
            section.name.Adopt(Widen(pendingSections[i].name, arena));
            section.entries.Reserve(static_cast<std::ptrdiff_t>(end - first));
            for (std::size_t e = first; e < end; ++e) {
                CFileIni::Entry& entry = section.entries.AddNew();
                entry.key.Adopt(Widen(pendingEntries[e].key, arena));
                entry.value.Adopt(Widen(pendingEntries[e].value, arena));
            }
        }
    }

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
        const auto sectionName = [this](std::int32_t i) {
            return pendingSections[static_cast<std::size_t>(i)].name;
        };
        const std::uint32_t nameHash = FoldedHash(name);
        if (sectionIndex.Find(name, nameHash, sectionName) >= 0) {
            skippingRepeatedSection = true;
            AddComment(raw);
            return;
        }

        const std::int32_t newSection = currentSection + 1;
        lines.AddNew().SetSectionLine(newSection, CommentedRest(rest),
                                      Widen(raw.substr(0, indentLength), arena));
        pendingSections.push_back(PendingSection{name, pendingEntries.size()});
        sectionIndex.Insert(nameHash, newSection);

        currentSection = newSection;
        nextEntry = 0;
        entryKeys.Reset();
        noSectionYet = false;
        skippingRepeatedSection = false;
    }

    // What follows a header's "]" becomes a remark: ";" goes in front of its first non-white
    // character unless that already is ";".
    WideString CommentedRest(std::string_view rest) const {
        const std::size_t white = CountLeadingWhite(rest);
        if (white == rest.size() || rest[white] == ';')
            return Widen(rest, arena);
        return WideString::Build(rest.size() + 1, arena, [rest, white](char16_t* target) {
            WidenInto(target, rest.substr(0, white));
            target[white] = u';';
            WidenInto(target + white + 1, rest.substr(white));
        });
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
        const std::size_t firstEntry = pendingSections.back().firstEntry;
        const auto entryKey = [this, firstEntry](std::int32_t i) {
            return pendingEntries[firstEntry + static_cast<std::size_t>(i)].key;
        };
        const std::uint32_t keyHash = FoldedHash(key);
        if (entryKeys.Find(key, keyHash, entryKey) >= 0) {
            AddComment(raw);
            return;
        }

        lines.AddNew().SetEntryLine(currentSection, nextEntry, Widen(padBefore, arena),
                                    Widen(padAfter, arena), Widen(raw.substr(0, indentLength), arena));
        pendingEntries.push_back(PendingEntry{key, value});
        entryKeys.Insert(keyHash, nextEntry);
        ++nextEntry;
    }

    // The line is kept, with ";" in front of it, as a comment.
    void AddComment(std::string_view raw) {
        lines.AddNew().SetTextLine(WidenCommented(raw, arena), WideString());
    }

    // An accepted section or entry, as the bytes of the file.
    struct PendingSection {
        std::string_view name;
        std::size_t firstEntry;  // its entries follow from here in pendingEntries
    };
    struct PendingEntry {
        std::string_view key;
        std::string_view value;
    };

    CArray<CLinea, CLinea>& lines;
    CArray<CFileIni::Sezione, CFileIni::Sezione>& sections;
    std::pmr::memory_resource* arena;
    std::vector<PendingSection> pendingSections;  // in file order
    std::vector<PendingEntry> pendingEntries;     // of every section, in file order
    FoldedIndex sectionIndex;
    FoldedIndex entryKeys;  // of the current section
    std::int32_t currentSection = -1;
    std::int32_t nextEntry = 0;
    bool noSectionYet = true;
    bool skippingRepeatedSection = false;
};

}  // namespace

CFileIni::CFileIni(const CFileIni& other)
    : filePath(other.filePath), lines(other.lines), sections(other.sections), errorText(other.errorText) {}

CFileIni::CFileIni(CFileIni&& other) noexcept
    : filePath(std::move(other.filePath)),
      errorText(std::move(other.errorText)),
      arena(std::move(other.arena)) {
    // The records go along with the arena their strings point into.
    lines.Adopt(std::move(other.lines));
    sections.Adopt(std::move(other.sections));
}

CFileIni& CFileIni::operator=(const CFileIni& other) {
    if (this == &other)
        return *this;
    Clear();
    filePath = other.filePath;
    lines = other.lines;
    sections = other.sections;
    errorText = other.errorText;
    return *this;
}

CFileIni& CFileIni::operator=(CFileIni&& other) noexcept {
    if (this == &other)
        return *this;
    Clear();
    filePath = std::move(other.filePath);
    lines.Adopt(std::move(other.lines));
    sections.Adopt(std::move(other.sections));
    errorText = std::move(other.errorText);
    arena = std::move(other.arena);
    return *this;
}

// The records go before the arena that their strings point into.
CFileIni::~CFileIni() {
    Clear();
}

void CFileIni::Clear() {
    lines.RemoveAll();
    sections.RemoveAll();
    arena.reset();
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
    const std::size_t lineCount = ini::CountLines(bytes);
    // Each character of a line (and a ";" that loading adds) lands in at most one string, and a line
    // seldom has more than two strings that are not empty, so one block of this size mostly takes
    // the whole document; a bigger document gets a further block.
    arena = std::make_unique<std::pmr::monotonic_buffer_resource>(2 * (bytes.size() + lineCount) +
                                                                  32 * lineCount + 64);
    lines.Reserve(static_cast<std::ptrdiff_t>(lineCount));
    LineParser parser(lines, sections, arena.get());
    ini::ForEachLine(bytes, [&parser](std::string_view raw) { parser.Parse(raw); });
    parser.Finish();
}

std::u16string CFileIni::GetValue(std::u16string_view section, std::u16string_view key) {
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
    return std::u16string(sections[s].entries[e].value.view());
}

std::int32_t CFileIni::FindSection(std::u16string_view name) const {
    for (std::ptrdiff_t i = 0; i < sections.GetSize(); ++i) {
        if (EqualsIgnoreCase(sections[i].name, name))
            return static_cast<std::int32_t>(i);
    }
    return -1;
}

std::int32_t CFileIni::FindEntry(std::int32_t sectionIndex, std::u16string_view key) const {
    if (sectionIndex < 0 || sectionIndex >= sections.GetSize())
        return -1;
    const CArray<Entry, Entry>& entries = sections[sectionIndex].entries;
    for (std::ptrdiff_t i = 0; i < entries.GetSize(); ++i) {
        if (EqualsIgnoreCase(entries[i].key, key))
            return static_cast<std::int32_t>(i);
    }
    return -1;
}
