// Character classes of the XML scanner and the attribute reader, and number formatting for the
// document's messages. Internal to the XML document.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <string>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace xml_chars {

// Class bits. Every character at or above 256 is an ordinary name or text character: it belongs
// to no stop set and may begin a tag name.
enum : std::uint16_t {
    kBlank = 0x01,             // " \t\n\r"
    kNameStop = 0x02,          // " \t\n\r/>": ends a tag name in the scanner
    kTextStop = 0x04,          // "<>": ends a run of text
    kTagSpecial = 0x08,        // " \t\n\r'\"=<>": what a start tag must look at outside quotes
    kNameStart = 0x10,         // "A-Z_:" and everything above 0x60: may follow "<" in a start tag
    kTagNameStop = 0x20,       // " \t\n\r<>=\\/?!": ends the tag name that lookups compare
    kAttributeStop = 0x40,     // "= \t\n\r>/?": ends an attribute name
    kValueStop = 0x80,         // " \t\n\r>": ends an unquoted attribute value
    kDeclarationStop = 0x100,  // "'\">": what a declaration must look at
};

constexpr std::array<std::uint16_t, 256> MakeTable() {
    std::array<std::uint16_t, 256> table{};
    auto mark = [&table](const char* characters, std::uint16_t bit) {
        for (const char* c = characters; *c != 0; ++c) {
            table[static_cast<unsigned char>(*c)] |= bit;
        }
    };
    mark(" \t\n\r", kBlank);
    mark(" \t\n\r/>", kNameStop);
    mark("<>", kTextStop);
    mark(" \t\n\r'\"=<>", kTagSpecial);
    mark(" \t\n\r<>=\\/?!", kTagNameStop);
    mark("= \t\n\r>/?", kAttributeStop);
    mark(" \t\n\r>", kValueStop);
    mark("'\">", kDeclarationStop);
    for (int c = 'A'; c <= 'Z'; ++c) {
        table[static_cast<std::size_t>(c)] |= kNameStart;
    }
    table['_'] |= kNameStart;
    table[':'] |= kNameStart;
    for (int c = 0x61; c < 256; ++c) {
        table[static_cast<std::size_t>(c)] |= kNameStart;
    }
    return table;
}

inline constexpr std::array<std::uint16_t, 256> kTable = MakeTable();

inline std::uint16_t ClassOf(char16_t c) {
    return c < 256 ? kTable[c] : std::uint16_t{kNameStart};
}
inline bool Has(char16_t c, std::uint16_t bits) {
    return (ClassOf(c) & bits) != 0;
}
inline bool IsBlank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

// First offset from i below end whose character has one of bits; end when none has. Unrolled by
// four, as the runs between markup characters are long.
template <std::uint16_t Bits>
inline std::int32_t SkipUntil(const char16_t* s, std::int32_t i, std::int32_t end) {
    while (end - i >= 4) {
        if (Has(s[i], Bits)) {
            return i;
        }
        if (Has(s[i + 1], Bits)) {
            return i + 1;
        }
        if (Has(s[i + 2], Bits)) {
            return i + 2;
        }
        if (Has(s[i + 3], Bits)) {
            return i + 3;
        }
        i += 4;
    }
    while (i < end && !Has(s[i], Bits)) {
        ++i;
    }
    return i;
}

// First offset from i below end holding character first or second; end when none does. Long runs
// of text are compared eight characters at a time where the processor offers it.
inline std::int32_t SkipUntilEither(const char16_t* s, std::int32_t i, std::int32_t end, char16_t first,
                                    char16_t second) {
#if defined(__SSE2__)
    const __m128i wantedFirst = _mm_set1_epi16(static_cast<short>(first));
    const __m128i wantedSecond = _mm_set1_epi16(static_cast<short>(second));
    while (end - i >= 8) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        const int mask = _mm_movemask_epi8(
            _mm_or_si128(_mm_cmpeq_epi16(chunk, wantedFirst), _mm_cmpeq_epi16(chunk, wantedSecond)));
        if (mask != 0) {
            return i + std::countr_zero(static_cast<unsigned>(mask)) / 2;
        }
        i += 8;
    }
#endif
    while (i < end && s[i] != first && s[i] != second) {
        ++i;
    }
    return i;
}

// First offset from i below end holding character wanted; end when none does.
inline std::int32_t SkipUntilChar(const char16_t* s, std::int32_t i, std::int32_t end, char16_t wanted) {
    return SkipUntilEither(s, i, end, wanted, wanted);
}

// The "%d" form of a number.
inline std::u16string DecimalText(std::int64_t number) {
    std::u16string digits;
    const bool negative = number < 0;
    std::uint64_t magnitude =
        negative ? 0 - static_cast<std::uint64_t>(number) : static_cast<std::uint64_t>(number);
    do {
        digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
        magnitude /= 10;
    } while (magnitude != 0);
    if (negative) {
        digits.insert(digits.begin(), u'-');
    }
    return digits;
}

}  // namespace xml_chars
