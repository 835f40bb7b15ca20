// CLinea: the record of one physical line of an INI file, as the INI document keeps it.
//
// Its wide strings are allocator-aware (std::pmr): the records that a document loads draw their
// text from the document's arena, so loading costs no heap block per string and unloading frees
// a few big blocks. A copy of a record draws from the default heap and stands on its own; a
// record moved out of a document keeps pointing into that document's arena.
#pragma once

#include <cstdint>
#include <memory_resource>
#include <string>

class CLinea {
public:
    // Which of the three forms a line took when the file was loaded.
    static constexpr std::int32_t kText = 0;     // blank, comment, or a line turned into a comment
    static constexpr std::int32_t kSection = 1;  // section header
    static constexpr std::int32_t kEntry = 2;    // entry

    CLinea() = default;
    // An empty record whose strings draw from resource, which must outlive the record.
    explicit CLinea(std::pmr::memory_resource* resource)
        : indent(resource), text(resource), padBeforeEquals(resource), padAfterEquals(resource) {}
    CLinea(const CLinea&) = default;
    CLinea(CLinea&&) noexcept = default;
    CLinea& operator=(const CLinea&) = default;
    CLinea& operator=(CLinea&&) noexcept = default;
    virtual ~CLinea();

    // Each setter gives the record one kind and resets the members that kind does not use. Strings
    // that draw from the record's own resource are taken over without copying.
    void SetTextLine(std::pmr::u16string newText, std::pmr::u16string newIndent);
    void SetSectionLine(std::int32_t newSectionIndex, std::pmr::u16string newText,
                        std::pmr::u16string newIndent);
    void SetEntryLine(std::int32_t newSectionIndex, std::int32_t newEntryIndex,
                      std::pmr::u16string newPadBeforeEquals, std::pmr::u16string newPadAfterEquals,
                      std::pmr::u16string newIndent);

    // Section and entry lines: the white space in front of the first non-white character.
    std::pmr::u16string indent;
    std::int32_t kind = kText;
    // Text lines: the whole line as it is kept; section lines: what follows the closing "]".
    std::pmr::u16string text;
    // Entry lines: the white space between the key and "=", and between "=" and the value.
    std::pmr::u16string padBeforeEquals;
    std::pmr::u16string padAfterEquals;
    // Section lines: the section they open; entry lines: the section of their entry. -1 otherwise.
    std::int32_t sectionIndex = -1;
    // Entry lines: the entry's position in its section. -1 otherwise.
    std::int32_t entryIndex = -1;
};
