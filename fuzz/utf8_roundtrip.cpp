// Arbitrary bytes through DecodeUtf8 and back through EncodeUtf8. Destinations are allocated at the
// exact counted size so that AddressSanitizer catches any write past what the counting pass promised.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "xml/utf8.h"

namespace {

void Check(bool condition, const char* what) {
    if (condition)
        return;
    std::fprintf(stderr, "utf8 round trip: %s\n", what);
    std::abort();
}

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

// Strict UTF-8 without a zero byte: shortest forms only, no encoded surrogates, nothing above
// U+10FFFF, no sequence cut short. Such bytes must survive decoding and encoding unchanged.
bool IsStrictUtf8WithoutZero(const std::uint8_t* data, std::size_t size) {
    std::size_t pos = 0;
    while (pos < size) {
        const unsigned lead = data[pos];
        if (lead == 0)
            return false;
        if (lead < 0x80) {
            ++pos;
            continue;
        }
        std::size_t length = 0;
        unsigned low = 0x80;  // bounds of the byte after the lead
        unsigned high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0)
                low = 0xA0;
            if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0)
                low = 0x90;
            if (lead == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (size - pos < length)
            return false;
        if (data[pos + 1] < low || data[pos + 1] > high)
            return false;
        for (std::size_t i = 2; i < length; ++i) {
            if (!IsContinuation(data[pos + i]))
                return false;
        }
        pos += length;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    const std::size_t unitCount = xml::DecodeUtf8(bytes);
    const auto units = std::make_unique<char16_t[]>(unitCount);
    Check(xml::DecodeUtf8(bytes, units.get()) == unitCount, "decoding passes disagree");
    const std::u16string_view text(units.get(), unitCount);
    Check(text.find(u'\0') == std::u16string_view::npos, "decoded text holds a zero unit");

    const std::size_t byteCount = xml::EncodeUtf8(text);
    const auto encoded = std::make_unique<char[]>(byteCount + 1);
    Check(xml::EncodeUtf8(text, encoded.get(), byteCount + 1) == byteCount, "encoding passes disagree");
    Check(encoded[byteCount] == '\0', "no terminating zero");

    // A smaller buffer gives a prefix of the same bytes, and nothing beyond its capacity.
    const std::size_t capacity = size == 0 ? 0 : data[0] % (byteCount + 1);
    const auto shortBuffer = std::make_unique<char[]>(capacity);
    const std::size_t produced = xml::EncodeUtf8(text, shortBuffer.get(), capacity);
    Check(produced <= capacity, "wrote past the capacity");
    Check(std::memcmp(shortBuffer.get(), encoded.get(), produced) == 0, "short buffer is not a prefix");

    if (IsStrictUtf8WithoutZero(data, size)) {
        Check(byteCount == size, "valid UTF-8 changed length");
        Check(std::memcmp(encoded.get(), data, size) == 0, "valid UTF-8 changed");
    }
    return 0;
}
