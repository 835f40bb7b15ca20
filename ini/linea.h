// CLinea: the record of one physical line of an INI file, as the INI document keeps it.
//
// Its strings are ini::WideString: the records that a document loads keep their text in the
// document's arena, while a copy of a record holds heap copies and stands on its own.
#pragma once

#include <cstdint>

#include "ini/wide_string.h"

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

    // Each setter gives the record one kind and resets the members that kind does not use. The
    // strings are taken as they come: a string built in the document's arena stays there, while a
    // string moved in from elsewhere was already copied out of any arena by its move.
    void SetTextLine(ini::WideString newText, ini::WideString newIndent);
    void SetSectionLine(std::int32_t newSectionIndex, ini::WideString newText, ini::WideString newIndent);
    void SetEntryLine(std::int32_t newSectionIndex, std::int32_t newEntryIndex,
                      ini::WideString newPadBeforeEquals, ini::WideString newPadAfterEquals,
                      ini::WideString newIndent);

    // Section and entry lines: the white space in front of the first non-white character.
    ini::WideString indent;
    std::int32_t kind = kText;
    // Text lines: the whole line as it is kept; section lines: what follows the closing "]".
    ini::WideString text;
    // Entry lines: the white space between the key and "=", and between "=" and the value.
    ini::WideString padBeforeEquals;
    ini::WideString padAfterEquals;
    // Section lines: the section they open; entry lines: the section of their entry. -1 otherwise.
    std::int32_t sectionIndex = -1;
    // Entry lines: the entry's position in its section. -1 otherwise.
    std::int32_t entryIndex = -1;
};
