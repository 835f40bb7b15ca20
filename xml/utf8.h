// The XML document's own converters between UTF-8 bytes on disk and UTF-16 text in memory. They
// are tolerant rather than strict: nothing is rejected, an invalid sequence becomes "?", and a
// byte-order mark is an ordinary character. Each comes in a counting form and a writing form that
// always agree on the count.
#pragma once

#include <cstddef>
#include <string_view>

namespace xml {

// Number of UTF-16 units that DecodeUtf8(bytes, destination) writes.
std::size_t DecodeUtf8(std::string_view bytes);

// Decodes bytes into destination, which must hold DecodeUtf8(bytes) units, and returns that count.
// A byte below 0x80 is its own character; a lead byte announces one, two or three continuation
// bytes by its bits 0x20, 0x10, 0x08 (a stray continuation byte leads by the same rule, and a byte
// with all three bits set stands alone as invalid). A continuation byte without its top bit makes
// the sequence invalid and starts the next character. Invalid sequences give "?". Decoding ends
// at a code point of 0 and before a sequence cut off by the end of the bytes. Code points from
// 0x10000 give a surrogate pair; overlong forms, surrogates and values above 0x10FFFF pass through.
std::size_t DecodeUtf8(std::string_view bytes, char16_t* destination);

// What DecodeUtf8Part did with one stretch of a longer byte stream.
struct DecodeStep {
    // Bytes decoded. Unless ended, the bytes after them (at most three) are the start of a sequence
    // cut by the end of the stretch: they begin the next stretch, or are dropped at the end of the
    // stream.
    std::size_t consumed;
    std::size_t produced;  // UTF-16 units written
    bool ended;            // a code point of 0 was met: the text ends there, the rest is not part of it
};

// Decodes a stream stretch by stretch with the rules of DecodeUtf8: stretches decoded in turn, each
// beginning with the bytes the last one left unconsumed, give exactly the units of DecodeUtf8 over
// the whole stream. destination must hold bytes.size() units (no byte gives more than one unit).
DecodeStep DecodeUtf8Part(std::string_view bytes, char16_t* destination);

// Number of bytes (no terminating zero) that EncodeUtf8 produces from text given unlimited room.
std::size_t EncodeUtf8(std::u16string_view text);

// Encodes text into destination, which holds capacity bytes, and returns the number of bytes
// produced. The text ends at its first zero unit or at the end of the view. Only a high surrogate
// followed by a low one forms a pair; any other surrogate gives "?" and the unit after it is
// encoded on its own. A character that does not fit whole ends the encoding before it; a zero byte
// follows the last byte when there is room for it (it is not counted).
std::size_t EncodeUtf8(std::u16string_view text, char* destination, std::size_t capacity);

}  // namespace xml
