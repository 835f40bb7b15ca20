// CLinea: the record of one physical line of an INI file, as the INI document keeps it.
#pragma once

#include <cstdint>
#include <string>

class CLinea {
public:
    // Which of the three forms a line took when the file was loaded.
    static constexpr std::int32_t kText = 0;     // blank, comment, or a line turned into a comment
    static constexpr std::int32_t kSection = 1;  // section header
    static constexpr std::int32_t kEntry = 2;    // entry

    CLinea() = default;
    CLinea(const CLinea&) = default;
    CLinea(CLinea&&) noexcept = default;
    CLinea& operator=(const CLinea&) = default;
    CLinea& operator=(CLinea&&) noexcept = default;
    virtual ~CLinea();

    // Each setter gives the record one kind and resets the members that kind does not use.
    void SetTextLine(std::u16string newText, std::u16string newIndent);
    void SetSectionLine(std::int32_t newSectionIndex, std::u16string newText, std::u16string newIndent);
    void SetEntryLine(std::int32_t newSectionIndex, std::int32_t newEntryIndex,
                      std::u16string newPadBeforeEquals, std::u16string newPadAfterEquals,
                      std::u16string newIndent);

    // Section and entry lines: the white space in front of the first non-white character.
    std::u16string indent;
    std::int32_t kind = kText;
    // Text lines: the whole line as it is kept; section lines: what follows the closing "]".
    std::u16string text;
    // Entry lines: the white space between the key and "=", and between "=" and the value.
    std::u16string padBeforeEquals;
    std::u16string padAfterEquals;
    // Section lines: the section they open; entry lines: the section of their entry. -1 otherwise.
    std::int32_t sectionIndex = -1;
    // Entry lines: the entry's position in its section. -1 otherwise.
    std::int32_t entryIndex = -1;
};
