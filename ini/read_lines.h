// The line reader of the INI document: a file's bytes, read under exclusive sharing, cut into lines
// at CR LF, one character per byte.
#pragma once

#include <cstring>
#include <string>
#include <string_view>

#include "ini/c_array.h"

namespace ini {

// Reads a whole file while no other process may read or write it. Makes up to three attempts and
// pauses 100 ms after every failed one, the last included; false after the third failure.
bool ReadFileWithRetries(const std::u16string& path, std::string& bytes);

// One character per byte: 0x00-0xFF become U+0000-U+00FF. No code page is involved.
std::u16string WidenBytes(std::string_view bytes);

// Calls visit(std::string_view line) for each line of bytes, in order. Only a CR LF pair ends a
// line; a lone CR, a lone LF and a zero byte stay in their line. The bytes after the last CR LF
// are always the last line, so empty bytes give one empty line.
template <typename Visit>
void ForEachLine(std::string_view bytes, Visit&& visit) {
    const char* const begin = bytes.data();
    const char* const end = begin + bytes.size();
    const char* lineStart = begin;
    const char* scan = begin;
    while (scan < end) {
        const auto* cr =
            static_cast<const char*>(std::memchr(scan, '\r', static_cast<std::size_t>(end - scan)));
        if (cr == nullptr || cr + 1 >= end)
            break;
        if (cr[1] != '\n') {
            scan = cr + 1;
            continue;
        }
        visit(std::string_view(lineStart, static_cast<std::size_t>(cr - lineStart)));
        lineStart = cr + 2;
        scan = lineStart;
    }
    visit(std::string_view(lineStart, static_cast<std::size_t>(end - lineStart)));
}

// The number of lines ForEachLine visits.
std::size_t CountLines(std::string_view bytes);

}  // namespace ini

// Fills lines with the lines of the file at path, read as above. False, with lines empty, when the
// file could not be read within three attempts.
bool ReadLines(const std::u16string& path, CArray<std::u16string, const std::u16string&>& lines);
