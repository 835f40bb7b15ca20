// The line reader of the INI document: a file's bytes, read under exclusive sharing, cut into lines
// at CR LF.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "ini/c_array.h"

namespace ini {

// Reads a whole file while no other process may read or write it. Makes up to three attempts and
// pauses 100 ms after every failed one, the last included; false after the third failure.
bool ReadFileWithRetries(const std::u16string& path, std::string& bytes);

// One character per byte: 0x00-0xFF become U+0000-U+00FF. No code page is involved.
std::u16string WidenBytes(std::string_view bytes);

// Cuts text into lines at every CR LF pair; a lone CR, a lone LF and a zero character stay in their
// line. The text after the last CR LF is always the last line, so an empty text gives one empty
// line. The views point into text; lines is emptied first.
void SplitLines(std::u16string_view text, std::vector<std::u16string_view>& lines);

}  // namespace ini

// Fills lines with the lines of the file at path, read as above. False, with lines empty, when the
// file could not be read within three attempts.
bool ReadLines(const std::u16string& path, CArray<std::u16string, const std::u16string&>& lines);
