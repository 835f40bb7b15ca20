#include "xml/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace {

std::u16string Decoded(std::string_view bytes) {
    std::u16string text(xml::DecodeUtf8(bytes), u'\0');
    EXPECT_EQ(xml::DecodeUtf8(bytes, text.data()), text.size()) << "counting and writing passes disagree";
    return text;
}

std::string Encoded(std::u16string_view text) {
    std::string bytes(xml::EncodeUtf8(text) + 1, '\x55');
    const std::size_t produced = xml::EncodeUtf8(text, bytes.data(), bytes.size());
    EXPECT_EQ(produced + 1, bytes.size()) << "counting and writing passes disagree";
    EXPECT_EQ(bytes.back(), '\0') << "no terminating zero although there was room";
    bytes.resize(produced);
    return bytes;
}

// Plain byte-by-byte forms of the decoding and encoding rules, one character per step, used to check
// that the block-wise handling of ASCII runs never changes a result.
std::u16string ReferenceDecode(std::string_view bytes) {
    std::u16string out;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const auto lead = static_cast<unsigned char>(bytes[pos++]);
        std::uint32_t codePoint = lead;
        int following = 0;
        if (lead >= 0x80) {
            if (!(lead & 0x20)) {
                following = 1, codePoint = lead & 0x1F;
            } else if (!(lead & 0x10)) {
                following = 2, codePoint = lead & 0x0F;
            } else if (!(lead & 0x08)) {
                following = 3, codePoint = lead & 0x07;
            } else {
                following = -1;
            }
        }
        for (int i = 0; i < following; ++i) {
            if (pos == bytes.size())
                return out;
            const auto next = static_cast<unsigned char>(bytes[pos]);
            if (!(next & 0x80)) {
                following = -1;
                break;
            }
            codePoint = codePoint << 6 | (next & 0x3F);
            ++pos;
        }
        if (following < 0) {
            out += u'?';
        } else if (codePoint == 0) {
            return out;
        } else if (codePoint >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10 & 0x3FF));
            out += static_cast<char16_t>(0xDC00 + (codePoint & 0x3FF));
        } else {
            out += static_cast<char16_t>(codePoint);
        }
    }
    return out;
}

void AppendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | c >> 18);
        out += static_cast<char>(0x80 | (c >> 12 & 0x3F));
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

std::string ReferenceEncode(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size() && text[i] != 0; ++i) {
        const std::uint32_t unit = text[i];
        if (unit < 0xD800 || unit > 0xDFFF) {
            AppendUtf8(out, unit);
        } else if (unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            AppendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (text[++i] - 0xDC00u));
        } else {
            out += '?';
        }
    }
    return out;
}

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::u16string units;
};

void PrintTo(const DecodeCase& row, std::ostream* out) {
    *out << row.name;
}

class DecodeUtf8Cases : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeUtf8Cases, GivesTheseUnits) {
    EXPECT_EQ(Decoded(GetParam().bytes), GetParam().units);
}

using namespace std::string_literals;

INSTANTIATE_TEST_SUITE_P(
    Utf8, DecodeUtf8Cases,
    testing::Values(DecodeCase{"Empty", "", u""}, DecodeCase{"Ascii", "<a x=\"1\"/>", u"<a x=\"1\"/>"},
                    DecodeCase{"TwoBytes", "\xC3\xA9t\xC3\xA9", u"\u00E9t\u00E9"},
                    DecodeCase{"ThreeBytesEuro", "\xE2\x82\xAC", u"\u20AC"},
                    DecodeCase{"FourBytesBecomePair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
                    DecodeCase{"HighestPlaneSixteen", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
                    DecodeCase{"ByteOrderMarkKept", "\xEF\xBB\xBF<r/>", u"\uFEFF<r/>"},
                    DecodeCase{"BrokenByAsciiGivesQuestionMark", "\xC3(", u"?("},
                    DecodeCase{"LoneFF", "\xFF", u"?"},
                    DecodeCase{"F8StandsAlone", "\xF8\xC3\xA9", u"?\u00E9"},
                    DecodeCase{"CutAtEndDropped", "ok\xE2\x82", u"ok"},
                    DecodeCase{"CutLeadAloneDropped", "ok\xF0", u"ok"},
                    DecodeCase{"CutFourByteDropped", "ok\xF0\x9F\x98", u"ok"},
                    DecodeCase{"BrokenBeforeEndIsInvalid", "\xE2\x41", u"?A"},
                    DecodeCase{"BrokenAfterTwoContinuations", "\xF0\x9F\x98\x41", u"?A"},
                    DecodeCase{"StrayContinuationLeads", "\x80\x41", u"?A"},
                    DecodeCase{"StrayContinuationPairDecodes", "\x82\x81", u"\u0081"},
                    DecodeCase{"LeadByteAcceptedAsContinuation", "\xC3\xC3\xA9", u"\u00C3"},
                    DecodeCase{"ZeroByteEndsText", "ab\0cd"s, u"ab"},
                    DecodeCase{"ZeroInsideSixteenByteBlock", "abcdefghij\0klmnopqrstuvwxyz"s, u"abcdefghij"},
                    DecodeCase{"ZeroAfterLongAsciiRun", "0123456789abcdefXYZ\0tail"s, u"0123456789abcdefXYZ"},
                    DecodeCase{"ZeroBreaksSequenceThenEnds", "\xC3\0A"s, u"?"},
                    DecodeCase{"OverlongZeroEndsText",
                               "A\xC0\x80"
                               "B",
                               u"A"},
                    DecodeCase{"OverlongAsciiAccepted", "\xC1\x81", u"A"},
                    DecodeCase{"EncodedSurrogatePassesThrough", "\xED\xA0\x80", u"\xD800"},
                    DecodeCase{"AboveUnicodeWrapsIntoPair", "\xF4\x90\x80\x80", u"\xD800\xDC00"},
                    DecodeCase{"LargestFourByteValue", "\xF7\xBF\xBF\xBF", u"\xDBBF\xDFFF"},
                    DecodeCase{"LongAsciiThenAccent", "abcdefghijklmnopqrstuvwxyz\xC3\xA9",
                               u"abcdefghijklmnopqrstuvwxyz\u00E9"},
                    DecodeCase{"AccentInsideSixteenByteBlock", "abcdefg\xC3\xA9hijklmnopqrstu",
                               u"abcdefg\u00E9hijklmnopqrstu"},
                    DecodeCase{"CutAfterLongAsciiRun", "abcdefghijklmnopq\xE2\x82", u"abcdefghijklmnopq"}),
    [](const testing::TestParamInfo<DecodeCase>& row) { return std::string(row.param.name); });

struct EncodeCase {
    const char* name;
    std::u16string units;
    std::string bytes;
};

void PrintTo(const EncodeCase& row, std::ostream* out) {
    *out << row.name;
}

class EncodeUtf8Cases : public testing::TestWithParam<EncodeCase> {};

TEST_P(EncodeUtf8Cases, GivesTheseBytes) {
    EXPECT_EQ(Encoded(GetParam().units), GetParam().bytes);
}

INSTANTIATE_TEST_SUITE_P(
    Utf8, EncodeUtf8Cases,
    testing::Values(
        EncodeCase{"Empty", u"", ""}, EncodeCase{"Ascii", u"<a x=\"1\"/>", "<a x=\"1\"/>"},
        EncodeCase{"LastOneByte", u"\u007F", "\x7F"}, EncodeCase{"FirstTwoByte", u"\u0080", "\xC2\x80"},
        EncodeCase{"LastTwoByte", u"\u07FF", "\xDF\xBF"},
        EncodeCase{"FirstThreeByte", u"\u0800", "\xE0\xA0\x80"},
        EncodeCase{"Euro", u"\u20AC", "\xE2\x82\xAC"}, EncodeCase{"LastThreeByte", u"\uFFFF", "\xEF\xBF\xBF"},
        EncodeCase{"FirstPair", u"\xD800\xDC00", "\xF0\x90\x80\x80"},
        EncodeCase{"EmojiPair", u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
        EncodeCase{"LastPair", u"\xDBFF\xDFFF", "\xF4\x8F\xBF\xBF"},
        EncodeCase{"ByteOrderMarkWritten", u"\uFEFF<r/>", "\xEF\xBB\xBF<r/>"},
        EncodeCase{"LoneHighAtEnd", u"ab\xD83D", "ab?"}, EncodeCase{"ZeroUnitEndsText", u"ab\0cd"s, "ab"},
        EncodeCase{"HighBeforeZero", u"a\xD83D\0b"s, "a?"},
        // A stray surrogate costs only itself: the unit after it is still encoded.
        EncodeCase{"LoneHighBeforeAscii",
                   u"\xD83D"
                   "A",
                   "?A"},
        EncodeCase{"LoneHighBeforeAccent", u"\xD83D\u00E9", "?\xC3\xA9"},
        EncodeCase{"LoneLowBeforeAscii",
                   u"\xDE00"
                   "A",
                   "?A"},
        EncodeCase{"LowThenPair", u"\xDE00\xD83D\xDE00", "?\xF0\x9F\x98\x80"},
        EncodeCase{"HighThenPair", u"\xD83D\xD83D\xDE00", "?\xF0\x9F\x98\x80"},
        EncodeCase{"PairReversed", u"\xDE00\xD83D", "??"},
        EncodeCase{"LongAsciiThenLoneLow", u"abcdefghijklmnop\xDC00q", "abcdefghijklmnop?q"},
        EncodeCase{"ZeroInsideEightUnitBlock", u"abc\0defghijklmnop"s, "abc"}),
    [](const testing::TestParamInfo<EncodeCase>& row) { return std::string(row.param.name); });

// The writing form stops before a character that does not fit whole and adds a zero only when there
// is room; bytes past what it produced stay as they were.
TEST(EncodeUtf8Buffer, StopsBeforeACharacterThatDoesNotFit) {
    struct Row {
        std::size_t capacity;
        std::size_t produced;
        std::string buffer;  // the first 8 bytes afterwards; 'U' never written
    };
    const std::u16string text = u"a\u20ACb";
    const std::vector<Row> rows = {
        {0, 0, "UUUUUUUU"},
        {1, 1, "aUUUUUUU"},
        {2, 1, "a\0UUUUUU"s},
        {3, 1, "a\0UUUUUU"s},
        {4, 4,
         "a\xE2\x82\xAC"
         "UUUU"},
        {5, 5,
         "a\xE2\x82\xAC"
         "bUUU"},
        {6, 5,
         "a\xE2\x82\xAC"
         "b\0UU"s},
    };
    for (const Row& row : rows) {
        std::string buffer(8, 'U');
        EXPECT_EQ(xml::EncodeUtf8(text, buffer.data(), row.capacity), row.produced)
            << "capacity " << row.capacity;
        EXPECT_EQ(buffer, row.buffer) << "capacity " << row.capacity;
    }
}

TEST(EncodeUtf8Buffer, LongAsciiRunStopsExactlyAtCapacity) {
    const std::u16string text(40, u'x');
    for (std::size_t capacity : {0u, 7u, 8u, 9u, 16u, 17u, 39u, 40u, 41u}) {
        std::string buffer(48, 'U');
        const std::size_t produced = xml::EncodeUtf8(text, buffer.data(), capacity);
        const std::size_t expected = std::min<std::size_t>(capacity, 40);
        EXPECT_EQ(produced, expected) << "capacity " << capacity;
        std::string wanted = std::string(expected, 'x') + (capacity > 40 ? "\0"s : "");
        wanted.resize(48, 'U');
        EXPECT_EQ(buffer, wanted) << "capacity " << capacity;
    }
}

TEST(EncodeUtf8Buffer, PairNeedsAllFourBytes) {
    const std::u16string text = u"\xD83D\xDE00";
    std::string buffer(6, 'U');
    EXPECT_EQ(xml::EncodeUtf8(text, buffer.data(), 3), 0u);
    EXPECT_EQ(buffer, "\0UUUUU"s);
}

// Every scalar value from U+0001 to U+10FFFF, in one text, goes to UTF-8 and back unchanged.
TEST(Utf8RoundTrip, EveryScalarValue) {
    std::string bytes;
    std::u16string units;
    for (std::uint32_t c = 1; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        AppendUtf8(bytes, c);
        if (c < 0x10000) {
            units += static_cast<char16_t>(c);
        } else {
            units += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
            units += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        }
    }
    const std::u16string decoded = Decoded(bytes);
    ASSERT_EQ(decoded.size(), units.size());
    EXPECT_TRUE(decoded == units);
    const std::string encoded = Encoded(units);
    ASSERT_EQ(encoded.size(), bytes.size());
    EXPECT_TRUE(encoded == bytes);
}

// Random inputs rich in the bytes that matter (ASCII runs of every length around the block size,
// lead and continuation bytes, the odd zero) give exactly what the one-character-a-step rules give.
TEST(Utf8Random, DecodeMatchesTheByteByByteRules) {
    std::mt19937 random(20261207);
    const std::string alphabet = "<a=\"x\"/> \x80\xBF\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\xF8\xFF\xED\xA0";
    for (int round = 0; round < 4000; ++round) {
        std::string bytes;
        const int length = static_cast<int>(random() % 80);
        for (int i = 0; i < length; ++i) {
            const unsigned pick = random() % 100;
            if (pick < 60) {
                bytes += static_cast<char>('a' + random() % 26);
            } else if (pick < 99) {
                bytes += alphabet[random() % alphabet.size()];
            } else {
                bytes += '\0';
            }
        }
        ASSERT_EQ(Decoded(bytes), ReferenceDecode(bytes)) << "round " << round;
    }
}

// Decoding stretch by stretch, each stretch beginning with the bytes the last one left, gives the
// units of one pass over the whole, wherever the cuts fall: inside a sequence, just before a zero,
// at the end with a cut sequence that must be dropped.
std::u16string DecodedInStretches(std::string_view bytes, const std::vector<std::size_t>& cuts) {
    std::u16string out;
    std::string held;
    std::size_t from = 0;
    for (std::size_t k = 0; k <= cuts.size(); ++k) {
        const std::size_t to = k < cuts.size() ? cuts[k] : bytes.size();
        held += bytes.substr(from, to - from);
        from = to;
        std::u16string units(held.size() + 1, u'\x55');
        const xml::DecodeStep step = xml::DecodeUtf8Part(held, units.data());
        EXPECT_LE(step.produced, held.size()) << "more units than bytes";
        EXPECT_EQ(units[step.produced], u'\x55') << "wrote past the units it reported";
        out.append(units, 0, step.produced);
        if (step.ended)
            return out;
        EXPECT_LT(held.size() - step.consumed, 4u) << "left more than a cut sequence";
        held.erase(0, step.consumed);
    }
    return out;
}

TEST(Utf8Stretches, DecodeAsOnePassWhereverTheStreamIsCut) {
    std::mt19937 random(1207);
    const std::string alphabet = "<a=\"x\"/> \x80\xBF\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\xF8\xFF\xED\xA0";
    for (int round = 0; round < 3000; ++round) {
        std::string bytes;
        const int length = static_cast<int>(random() % 90);
        for (int i = 0; i < length; ++i) {
            const unsigned pick = random() % 100;
            if (pick < 40) {
                bytes += static_cast<char>('a' + random() % 26);
            } else if (pick < 99) {
                bytes += alphabet[random() % alphabet.size()];
            } else {
                bytes += '\0';
            }
        }
        std::vector<std::size_t> cuts;
        for (std::size_t at = 0; at < bytes.size(); at += 1 + random() % 7)
            cuts.push_back(at);
        ASSERT_EQ(DecodedInStretches(bytes, cuts), ReferenceDecode(bytes)) << "round " << round;
    }
}

TEST(Utf8Stretches, SequenceCutAtEveryPoint) {
    // A four-byte character cut after each of its bytes, then completed by the next stretch.
    const std::string bytes =
        "ab\xF0\x9F\x98\x80"
        "cd\xE2\x82\xAC";
    for (std::size_t cut = 1; cut < bytes.size(); ++cut)
        EXPECT_EQ(DecodedInStretches(bytes, {cut}),
                  u"ab\xD83D\xDE00"
                  u"cd\u20AC")
            << "cut at " << cut;
    EXPECT_EQ(DecodedInStretches("ab\xF0\x9F\x98", {3}), u"ab");
    EXPECT_EQ(DecodedInStretches("ab\xF0\x9F"
                                 "A",
                                 {3}),
              u"ab?A");
    EXPECT_EQ(DecodedInStretches(std::string("ab\0\xC3\xA9", 5), {2, 3}), u"ab");
}

TEST(Utf8Random, EncodeMatchesTheUnitByUnitRules) {
    std::mt19937 random(7);
    const std::u16string alphabet =
        u"<a=\"x\"/> \u00E9\u07FF\u0800\u20AC\uFFFF\xD83D\xDE00\xD800\xDBFF\xDC00\xDFFF";
    for (int round = 0; round < 4000; ++round) {
        std::u16string units;
        const int length = static_cast<int>(random() % 60);
        for (int i = 0; i < length; ++i) {
            const unsigned pick = random() % 100;
            if (pick < 60) {
                units += static_cast<char16_t>('a' + random() % 26);
            } else if (pick < 99) {
                units += alphabet[random() % alphabet.size()];
            } else {
                units += u'\0';
            }
        }
        const std::string expected = ReferenceEncode(units);
        ASSERT_EQ(Encoded(units), expected) << "round " << round;
        // Any smaller room gives a prefix that ends on a character boundary.
        const std::size_t capacity = random() % (expected.size() + 1);
        std::string buffer(capacity, 'U');
        const std::size_t produced = xml::EncodeUtf8(units, buffer.data(), capacity);
        ASSERT_LE(produced, capacity);
        EXPECT_EQ(buffer.substr(0, produced), expected.substr(0, produced)) << "round " << round;
        if (produced < expected.size()) {
            const auto next = static_cast<unsigned char>(expected[produced]);
            const std::size_t nextSize = next < 0x80 ? 1 : next < 0xE0 ? 2 : next < 0xF0 ? 3 : 4;
            EXPECT_GT(produced + nextSize, capacity) << "stopped early, round " << round;
            EXPECT_NE(next & 0xC0, 0x80) << "stopped inside a character, round " << round;
        }
    }
}

}  // namespace
