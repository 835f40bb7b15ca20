// Names of the temporary files that a save writes beside its target before they take its place.
// Shared by both implementations of ReplaceFileContents: the POSIX one works on UTF-8 bytes, the
// Windows one on UTF-16 units, each against the longest name its folder takes.
//
// A temporary's name is a stem that depends only on the target's name, then a fixed number of
// letters or digits that make it unique, then a fixed suffix. The stem is the lead character, the
// target's name and ".lumvar-"; when that would make the temporary longer than the folder allows,
// the name is cut (never inside a character) and "~" with a 64-bit hash of the whole name follows
// it, so the temporary fits whatever the target's name, and the stale temporaries of one file are
// still found by their stem.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::save_temporary {

inline constexpr std::size_t kHashDigits = 16;

// True for a unit that continues a character begun before it: a UTF-8 continuation byte or a
// UTF-16 low surrogate. A name is never cut before one.
template <typename Char>
bool ContinuesCharacter(Char c) {
    if constexpr (sizeof(Char) == 1) {
        return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
    } else {
        const auto unit = static_cast<std::uint32_t>(c);
        return unit >= 0xDC00 && unit <= 0xDFFF;
    }
}

// The stem of the temporaries of the file called name, for a folder whose names may have longest
// units, when uniqueLength units and the suffix follow the stem.
template <typename Char>
std::basic_string<Char> Stem(std::basic_string_view<Char> name, Char lead, std::size_t longest,
                             std::size_t uniqueLength, std::size_t suffixLength) {
    constexpr std::string_view kMarker = ".lumvar-";
    const std::size_t tail = kMarker.size() + uniqueLength + suffixLength;
    std::basic_string<Char> stem(1, lead);
    if (1 + name.size() + tail <= longest) {
        stem.append(name);
    } else {
        std::uint64_t hash = 14695981039346656037ull;
        for (const Char c : name) {
            hash ^= static_cast<std::uint64_t>(static_cast<std::make_unsigned_t<Char>>(c));
            hash *= 1099511628211ull;
        }
        const std::size_t room = longest > 2 + kHashDigits + tail ? longest - 2 - kHashDigits - tail : 0;
        std::size_t kept = room < name.size() ? room : name.size();
        while (kept > 0 && ContinuesCharacter(name[kept]))
            --kept;
        stem.append(name.substr(0, kept));
        stem.push_back(static_cast<Char>('~'));
        for (int shift = 4 * (kHashDigits - 1); shift >= 0; shift -= 4)
            stem.push_back(static_cast<Char>("0123456789abcdef"[(hash >> shift) & 15]));
    }
    for (const char c : kMarker)
        stem.push_back(static_cast<Char>(c));
    return stem;
}

// True when entry is the stem, then uniqueLength ASCII letters or digits, then the suffix.
template <typename Char>
bool IsTemporary(std::basic_string_view<Char> entry, std::basic_string_view<Char> stem,
                 std::size_t uniqueLength, std::basic_string_view<Char> suffix) {
    if (entry.size() != stem.size() + uniqueLength + suffix.size() || entry.substr(0, stem.size()) != stem ||
        entry.substr(stem.size() + uniqueLength) != suffix)
        return false;
    for (const Char c : entry.substr(stem.size(), uniqueLength)) {
        const bool alphanumeric = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
        if (!alphanumeric)
            return false;
    }
    return true;
}

}  // namespace platform::save_temporary
