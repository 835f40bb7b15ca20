#include "xml/utf8.h"

#include <bit>
#include <cstdint>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define LUMVAR_UTF8_SSE2 1
#endif

namespace xml {

namespace {

constexpr char16_t kInvalid = u'?';

// Settings files are mostly ASCII markup, so both converters move runs of plain ASCII (no zero,
// which ends the text) sixteen bytes or eight units per step. The helpers below say how many
// leading elements of one block qualify; the byte-by-byte rules decide everything else.

constexpr std::size_t kByteBlock = 16;
constexpr std::size_t kUnitBlock = 8;

// Number of leading bytes of in[0..16) that are ASCII and not zero.
inline unsigned AsciiBytePrefix(const unsigned char* in) {
#ifdef LUMVAR_UTF8_SSE2
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const unsigned stop =
        static_cast<unsigned>(_mm_movemask_epi8(block)) |
        static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_setzero_si128())));
    return static_cast<unsigned>(std::countr_zero(stop | 0x10000u));
#else
    unsigned count = 0;
    while (count < kByteBlock && in[count] != 0 && in[count] < 0x80)
        ++count;
    return count;
#endif
}

// Writes the sixteen bytes at in as sixteen units at out (all known to be ASCII).
inline void WidenBlock(const unsigned char* in, char16_t* out) {
#ifdef LUMVAR_UTF8_SSE2
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i zero = _mm_setzero_si128();
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi8(block, zero));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8), _mm_unpackhi_epi8(block, zero));
#else
    for (std::size_t i = 0; i < kByteBlock; ++i)
        out[i] = in[i];
#endif
}

// Number of leading units of in[0..8) that are ASCII and not zero.
inline unsigned AsciiUnitPrefix(const char16_t* in) {
#ifdef LUMVAR_UTF8_SSE2
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i zero = _mm_setzero_si128();
    const __m128i ascii =
        _mm_cmpeq_epi16(_mm_and_si128(block, _mm_set1_epi16(static_cast<short>(0xFF80))), zero);
    const __m128i good = _mm_andnot_si128(_mm_cmpeq_epi16(block, zero), ascii);
    const unsigned stop = ~static_cast<unsigned>(_mm_movemask_epi8(good)) & 0xFFFFu;
    return static_cast<unsigned>(std::countr_zero(stop | 0x10000u)) / 2;
#else
    unsigned count = 0;
    while (count < kUnitBlock && in[count] != 0 && in[count] < 0x80)
        ++count;
    return count;
#endif
}

// Writes the eight units at in (all known to be ASCII) as eight bytes at out.
inline void NarrowBlock(const char16_t* in, unsigned char* out) {
#ifdef LUMVAR_UTF8_SSE2
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(block, block));
#else
    for (std::size_t i = 0; i < kUnitBlock; ++i)
        out[i] = static_cast<unsigned char>(in[i]);
#endif
}

// UTF-8 size of the eight units at in when none of them is a zero or a surrogate; 0 otherwise. Lets
// the counting pass of the encoder take mixed-script text a block at a time.
inline unsigned BlockUtf8Size(const char16_t* in) {
#ifdef LUMVAR_UTF8_SSE2
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i zero = _mm_setzero_si128();
    const __m128i top5 = _mm_and_si128(block, _mm_set1_epi16(static_cast<short>(0xF800)));
    const __m128i special = _mm_or_si128(_mm_cmpeq_epi16(block, zero),
                                         _mm_cmpeq_epi16(top5, _mm_set1_epi16(static_cast<short>(0xD800))));
    if (_mm_movemask_epi8(special) != 0)
        return 0;
    const __m128i narrow =
        _mm_cmpeq_epi16(_mm_and_si128(block, _mm_set1_epi16(static_cast<short>(0xFF80))), zero);
    const __m128i belowThreeBytes = _mm_cmpeq_epi16(top5, zero);
    // Each unit is 3 bytes, less one when below 0x800 and one more when below 0x80 (the masks are -1).
    const __m128i sizes = _mm_add_epi16(_mm_set1_epi16(3), _mm_add_epi16(narrow, belowThreeBytes));
    const __m128i sums = _mm_sad_epu8(sizes, zero);
    return static_cast<unsigned>(_mm_cvtsi128_si32(sums) + _mm_extract_epi16(sums, 4));
#else
    unsigned size = 0;
    for (std::size_t i = 0; i < kUnitBlock; ++i) {
        const unsigned unit = in[i];
        if (unit == 0 || (unit >= 0xD800 && unit <= 0xDFFF))
            return 0;
        size += unit < 0x80 ? 1 : unit < 0x800 ? 2 : 3;
    }
    return size;
#endif
}

// One pass of the decoder; the counting pass (kWrite false) never touches out.
template <bool kWrite>
DecodeStep Decode(const unsigned char* in, std::size_t size, char16_t* out) {
    std::size_t pos = 0;
    std::size_t count = 0;
    while (pos < size) {
        const unsigned lead = in[pos];
        if (lead < 0x80) {
            if (lead == 0)
                return {pos, count, true};
            // A whole block advances by a constant, so the next load never waits for this one's result.
            while (size - pos >= kByteBlock) {
                const unsigned run = AsciiBytePrefix(in + pos);
                if (run != kByteBlock) {
                    if constexpr (kWrite) {
                        for (unsigned i = 0; i < run; ++i)
                            out[count + i] = in[pos + i];
                    }
                    pos += run;
                    count += run;
                    break;
                }
                if constexpr (kWrite)
                    WidenBlock(in + pos, out + count);
                pos += kByteBlock;
                count += kByteBlock;
            }
            if (size - pos < kByteBlock && pos < size && in[pos] != 0 && in[pos] < 0x80) {
                if constexpr (kWrite)
                    out[count] = static_cast<char16_t>(in[pos]);
                ++pos;
                ++count;
            }
            continue;
        }

        unsigned following = 0;
        std::uint32_t codePoint = 0;
        if ((lead & 0x20) == 0) {
            following = 1;
            codePoint = lead & 0x1F;
        } else if ((lead & 0x10) == 0) {
            following = 2;
            codePoint = lead & 0x0F;
        } else if ((lead & 0x08) == 0) {
            following = 3;
            codePoint = lead & 0x07;
        } else {
            if constexpr (kWrite)
                out[count] = kInvalid;
            ++count;
            ++pos;
            continue;
        }

        std::size_t next = pos + 1;
        bool valid = true;
        for (unsigned i = 0; i < following; ++i, ++next) {
            // A sequence cut off by the end of the bytes is dropped, and decoding ends before it.
            if (next == size)
                return {pos, count, false};
            const unsigned continuation = in[next];
            if ((continuation & 0x80) == 0) {
                valid = false;
                break;
            }
            codePoint = codePoint << 6 | (continuation & 0x3F);
        }
        // An invalid sequence keeps the byte that broke it: that byte starts the next character.
        pos = next;
        if (!valid) {
            if constexpr (kWrite)
                out[count] = kInvalid;
            ++count;
            continue;
        }
        if (codePoint == 0)
            return {pos, count, true};
        if (codePoint >= 0x10000) {
            if constexpr (kWrite) {
                out[count] = static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10 & 0x3FF));
                out[count + 1] = static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
            }
            count += 2;
            continue;
        }
        if constexpr (kWrite)
            out[count] = static_cast<char16_t>(codePoint);
        ++count;
    }
    return {pos, count, false};
}

bool IsHighSurrogate(std::uint32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
bool IsLowSurrogate(std::uint32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// One pass of the encoder; the counting pass (kWrite false) has unlimited room and never touches
// out.
template <bool kWrite>
std::size_t Encode(const char16_t* in, std::size_t length, unsigned char* out, std::size_t capacity) {
    std::size_t pos = 0;
    std::size_t produced = 0;
    while (pos < length) {
        if constexpr (!kWrite) {
            if (length - pos >= kUnitBlock) {
                const unsigned blockSize = BlockUtf8Size(in + pos);
                if (blockSize != 0) {
                    pos += kUnitBlock;
                    produced += blockSize;
                    continue;
                }
            }
        }
        const std::uint32_t unit = in[pos];
        if (unit == 0)
            break;
        if (unit < 0x80) {
            while (length - pos >= kUnitBlock && (!kWrite || capacity - produced >= kUnitBlock)) {
                const unsigned run = AsciiUnitPrefix(in + pos);
                if (run != kUnitBlock) {
                    if constexpr (kWrite) {
                        for (unsigned i = 0; i < run; ++i)
                            out[produced + i] = static_cast<unsigned char>(in[pos + i]);
                    }
                    pos += run;
                    produced += run;
                    break;
                }
                if constexpr (kWrite)
                    NarrowBlock(in + pos, out + produced);
                pos += kUnitBlock;
                produced += kUnitBlock;
            }
            if (pos == length || in[pos] == 0 || in[pos] >= 0x80)
                continue;
            if constexpr (kWrite) {
                if (produced == capacity)
                    break;
                out[produced] = static_cast<unsigned char>(in[pos]);
            }
            ++pos;
            ++produced;
            continue;
        }

        std::uint32_t codePoint = unit;
        std::size_t consumed = 1;
        if (unit >= 0xD800 && unit <= 0xDFFF) {
            if (IsHighSurrogate(unit) && pos + 1 < length && IsLowSurrogate(in[pos + 1])) {
                codePoint = (((unit & 0x3FF) << 10) | (in[pos + 1] & 0x3FFu)) + 0x10000;
                consumed = 2;
            } else {
                codePoint = kInvalid;
            }
        }
        const std::size_t bytes = codePoint < 0x80 ? 1 : codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
        if constexpr (kWrite) {
            if (capacity - produced < bytes)
                break;
            unsigned char* at = out + produced;
            switch (bytes) {
                case 1:
                    at[0] = static_cast<unsigned char>(codePoint);
                    break;
                case 2:
                    at[0] = static_cast<unsigned char>(0xC0 | codePoint >> 6);
                    at[1] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
                    break;
                case 3:
                    at[0] = static_cast<unsigned char>(0xE0 | codePoint >> 12);
                    at[1] = static_cast<unsigned char>(0x80 | (codePoint >> 6 & 0x3F));
                    at[2] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
                    break;
                default:
                    at[0] = static_cast<unsigned char>(0xF0 | codePoint >> 18);
                    at[1] = static_cast<unsigned char>(0x80 | (codePoint >> 12 & 0x3F));
                    at[2] = static_cast<unsigned char>(0x80 | (codePoint >> 6 & 0x3F));
                    at[3] = static_cast<unsigned char>(0x80 | (codePoint & 0x3F));
                    break;
            }
        }
        produced += bytes;
        pos += consumed;
    }
    if constexpr (kWrite) {
        if (produced < capacity)
            out[produced] = 0;
    }
    return produced;
}

const unsigned char* Bytes(std::string_view bytes) {
    return reinterpret_cast<const unsigned char*>(bytes.data());
}

}  // namespace

std::size_t DecodeUtf8(std::string_view bytes) {
    return Decode<false>(Bytes(bytes), bytes.size(), nullptr).produced;
}

std::size_t DecodeUtf8(std::string_view bytes, char16_t* destination) {
    return Decode<true>(Bytes(bytes), bytes.size(), destination).produced;
}

DecodeStep DecodeUtf8Part(std::string_view bytes, char16_t* destination) {
    return Decode<true>(Bytes(bytes), bytes.size(), destination);
}

std::size_t EncodeUtf8(std::u16string_view text) {
    return Encode<false>(text.data(), text.size(), nullptr, 0);
}

std::size_t EncodeUtf8(std::u16string_view text, char* destination, std::size_t capacity) {
    return Encode<true>(text.data(), text.size(), reinterpret_cast<unsigned char*>(destination), capacity);
}

}  // namespace xml
