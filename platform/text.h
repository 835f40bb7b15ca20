// Conversions between UTF-16 text and UTF-8 bytes for the platform boundary (paths, command lines,
// environment). Strict and lossless for valid text; an unpaired surrogate or an invalid byte
// becomes U+FFFD. The XML document has converters of its own with other rules.
#pragma once

#include <string>
#include <string_view>

namespace platform {

std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view bytes);

}  // namespace platform
