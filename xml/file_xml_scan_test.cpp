// The scanner: single nodes of every kind, and the table-driven fast scanner against a plain
// character-by-character reading of the same rules on many generated texts.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tests/xml/file_xml_internals.h"
#include "tests/xml/file_xml_test_support.h"
#include "xml/file_xml.h"

using xml_testing::Internals;

namespace {

using Kind = CFileXml::NodeKind;
using xml_testing::Narrow;

bool Blank(char16_t c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

std::u16string OffsetText(std::int32_t n) {
    std::u16string out;
    for (char c : std::to_string(n)) {
        out.push_back(static_cast<char16_t>(c));
    }
    return out;
}

// The scanner rules read literally: one character per step, no jumps.
Kind ReferenceScan(CFileXml::TokenCursor& cursor, CFileXml::ScannedNode& node) {
    const std::u16string_view t = cursor.text;
    const auto n = static_cast<std::int32_t>(t.size());
    node.start = cursor.position;
    node.nodeFlags = 0;
    if (cursor.position >= n) {
        node.kind = Kind::EndTag;
        node.length = 0;
        return Kind::EndOfText;
    }
    Kind kind = Kind::Malformed;
    std::int32_t nameStart = 0;
    std::uint32_t mode = 0;
    std::u16string closer;
    char16_t last = 0;
    char16_t beforeLast = 0;
    std::int32_t e = -1;
    auto incorrect = [&](const char16_t* what) {
        node.text = u"Incorrect " + std::u16string(what) + u" at offset " + OffsetText(node.start);
    };
    for (std::int32_t i = cursor.position; i < n && e < 0; ++i) {
        const char16_t c = t[static_cast<std::size_t>(i)];
        if (nameStart != 0) {
            if (!(Blank(c) || c == u'/' || c == u'>')) {
                continue;
            }
            if (kind == Kind::EndTag) {
                cursor.tokenStart = nameStart;
                cursor.tokenEnd = i - 1;
            } else {
                node.text = std::u16string(
                    t.substr(static_cast<std::size_t>(nameStart), static_cast<std::size_t>(i - nameStart)));
            }
            nameStart = 0;
            last = 0;
            beforeLast = 0;
        }
        if (!closer.empty()) {
            const auto length = static_cast<std::int32_t>(closer.size());
            if (c == u'>' && (mode & 0xC0) == 0) {
                bool cleared = false;
                if (length == 1) {
                    cleared = true;
                    if (kind == Kind::StartTag && last == u'/' &&
                        (beforeLast == 0 || Blank(beforeLast) || beforeLast == u'\'' || beforeLast == u'"')) {
                        node.nodeFlags |= CFileXml::kEmptyElement;
                    }
                } else if (i > length &&
                           t.substr(static_cast<std::size_t>(i - length + 1), closer.size() - 1) ==
                               std::u16string_view(closer).substr(0, closer.size() - 1)) {
                    cleared = true;
                }
                if (cleared) {
                    closer.clear();
                    if ((mode & 0x20) == 0) {
                        e = i;
                    }
                }
            } else if (c == u'<' && (kind == Kind::Text || kind == Kind::Malformed)) {
                e = i - 1;
            } else if (kind == Kind::StartTag || kind == Kind::Malformed) {
                if ((mode & 0x40) != 0) {
                    if (c == u'\'') {
                        mode &= ~0x40u;
                    }
                } else if ((mode & 0x80) != 0) {
                    if (c == u'"') {
                        mode &= ~0x80u;
                    }
                } else if (c == u'\'' || c == u'"') {
                    if ((mode & 0x100) != 0) {
                        mode = (mode & ~0x100u) | (c == u'\'' ? 0x40u : 0x80u);
                    }
                } else if (c == u'=') {
                    if ((mode & 0x100) != 0) {
                        mode &= ~0x100u;
                    } else {
                        mode |= 0x100;
                    }
                } else if (!Blank(c)) {
                    mode &= ~0x100u;
                }
                beforeLast = last;
                last = c;
            } else if (kind == Kind::Declaration) {
                if (c == u'\'' && (mode & 0x80) == 0) {
                    mode ^= 0x40;
                } else if (c == u'"' && (mode & 0x40) == 0) {
                    mode ^= 0x80;
                }
            }
            continue;
        }
        if (mode == 0) {
            if (c == u'<') {
                mode |= 0x01;
            } else if (Blank(c)) {
                mode |= 0x10;
                kind = Kind::Whitespace;
            } else {
                kind = Kind::Text;
                closer = u"<";
            }
        } else if ((mode & 0x10) != 0) {
            if (c == u'<') {
                e = i - 1;
            } else if (!Blank(c)) {
                kind = Kind::Text;
                closer = u"<";
            }
        } else if ((mode & 0x01) != 0) {
            mode &= ~0x01u;
            if ((c >= u'A' && c <= u'Z') || c == u'_' || c == u':' || c > 0x60) {
                kind = Kind::StartTag;
                closer = u">";
                nameStart = i;
            } else if (c == u'/') {
                kind = Kind::EndTag;
                closer = u">";
                nameStart = i + 1;
            } else if (c == u'!') {
                mode |= 0x02;
            } else if (c == u'?') {
                kind = Kind::ProcessingInstruction;
                closer = u"?>";
                nameStart = i + 1;
            } else {
                kind = Kind::Malformed;
                closer = u">";
                incorrect(u"tag name character");
            }
        } else if ((mode & 0x02) != 0) {
            mode &= ~0x02u;
            if (c == u'-') {
                mode |= 0x04;
            } else if (c == u'[' && (mode & 0x20) == 0) {
                mode |= 0x08;
            } else if (c == u'D' && (mode & 0x20) == 0) {
                mode |= 0x20;
            } else {
                closer = u">";
                if (c == u'E' || c == u'A' || c == u'N') {
                    kind = Kind::Declaration;
                } else {
                    kind = Kind::Malformed;
                    incorrect(u"! tag");
                }
            }
        } else if ((mode & 0x04) != 0) {
            mode &= ~0x04u;
            closer = c == u'-' ? u"-->" : u">";
            if (c == u'-') {
                kind = Kind::Comment;
            } else {
                kind = Kind::Malformed;
                incorrect(u"comment tag");
            }
        } else if ((mode & 0x08) != 0) {
            mode &= ~0x08u;
            closer = c == u'C' ? u"]]>" : u">";
            if (c == u'C') {
                kind = Kind::CData;
            } else {
                kind = Kind::Malformed;
                incorrect(u"tag");
            }
        } else if ((mode & 0x20) != 0) {
            if (c == u'<') {
                mode |= 0x01;
            } else if (c == u'>') {
                kind = Kind::Declaration;
                e = i;
            }
        }
    }
    if (e < 0) {
        e = n - 1;
        if (kind != Kind::Text && kind != Kind::Whitespace) {
            std::u16string what = u"tag";
            if ((mode & 0x20) != 0 || kind == Kind::Declaration) {
                what = u"Doctype";
            } else if (kind == Kind::StartTag) {
                what = u"Element tag";
            } else if (kind == Kind::EndTag) {
                what = u"Element end tag";
            } else if (kind == Kind::CData) {
                what = u"CDATA Section";
            } else if (kind == Kind::ProcessingInstruction) {
                what = u"Processing instruction";
            } else if (kind == Kind::Comment) {
                what = u"Comment";
            }
            node.text = what + u" at offset " + OffsetText(node.start) + u" unterminated";
            kind = Kind::Malformed;
        }
    }
    cursor.position = e + 1;
    node.length = e + 1 - node.start;
    node.kind = kind;
    return kind;
}

struct NodeCase {
    std::u16string text;
    Kind kind;
    std::int32_t length;
    bool empty;
    std::u16string nodeText;
};

class ScanOneNode : public testing::TestWithParam<NodeCase> {};

TEST_P(ScanOneNode, KindLengthAndText) {
    const NodeCase& c = GetParam();
    CFileXml xml;
    CFileXml::TokenCursor cursor;
    cursor.text = c.text;
    CFileXml::ScannedNode node;
    EXPECT_EQ(Internals(xml).ScanNode(cursor, node), c.kind);
    EXPECT_EQ(node.length, c.length);
    EXPECT_EQ(cursor.position, c.length);
    EXPECT_EQ((node.nodeFlags & CFileXml::kEmptyElement) != 0, c.empty);
    if (c.kind == Kind::EndTag) {
        EXPECT_EQ(Narrow(std::u16string(
                      c.text.substr(static_cast<std::size_t>(cursor.tokenStart),
                                    static_cast<std::size_t>(cursor.tokenEnd - cursor.tokenStart + 1)))),
                  Narrow(c.nodeText));
    } else if (!c.nodeText.empty()) {
        EXPECT_EQ(Narrow(node.text), Narrow(c.nodeText));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, ScanOneNode,
    testing::Values(
        NodeCase{u"<brand name=\"x\">rest", Kind::StartTag, 16, false, u"brand"},
        NodeCase{u"<a/>", Kind::StartTag, 4, true, u"a"},
        NodeCase{u"<a x='1'/>", Kind::StartTag, 10, true, u"a"},
        NodeCase{u"<a x=1/>", Kind::StartTag, 8, false, u"a"},
        NodeCase{u"<e v w=2 />", Kind::StartTag, 11, true, u"e"},
        NodeCase{u"<a x = \"1>2\"/>", Kind::StartTag, 14, true, u"a"},
        NodeCase{u"<a x='>'\"'>z", Kind::StartTag, 11, false, u"a"},
        NodeCase{u"<\u00e9l>", Kind::StartTag, 4, false, u"\u00e9l"},
        NodeCase{u"</brand >", Kind::EndTag, 9, false, u"brand"},
        NodeCase{u"</>", Kind::EndTag, 3, false, u""}, NodeCase{u"text > more<", Kind::Text, 6, false, u""},
        NodeCase{u" \t\r\n<", Kind::Whitespace, 4, false, u""}, NodeCase{u"  x<", Kind::Text, 3, false, u""},
        NodeCase{u"<![CDATA[a]>]]>b", Kind::CData, 15, false, u""},
        NodeCase{u"<!-- a -> b -->c", Kind::Comment, 15, false, u""},
        NodeCase{u"<?xml v='1'?>", Kind::ProcessingInstruction, 13, false, u"xml"},
        NodeCase{u"<!DOCTYPE r [<!ENTITY e \"a>b\"><!-- > -->]>x", Kind::Declaration, 42, false, u""},
        NodeCase{u"<!ELEMENT a (b)>", Kind::Declaration, 16, false, u""},
        NodeCase{u"<1 x><a>", Kind::Malformed, 5, false, u"Incorrect tag name character at offset 0"},
        NodeCase{u"<1 <a>", Kind::Malformed, 3, false, u"Incorrect tag name character at offset 0"},
        NodeCase{u"<!x>", Kind::Malformed, 4, false, u"Incorrect ! tag at offset 0"},
        NodeCase{u"<a b='", Kind::Malformed, 6, false, u"Element tag at offset 0 unterminated"},
        NodeCase{u"<!DOCTYPE", Kind::Malformed, 9, false, u"Doctype at offset 0 unterminated"}));

TEST(ScanNode, EndOfTextLeavesTheCursor) {
    CFileXml xml;
    const std::u16string text = u"<a/>";
    CFileXml::TokenCursor cursor;
    cursor.text = text;
    cursor.position = 4;
    CFileXml::ScannedNode node;
    node.length = 9;
    EXPECT_EQ(Internals(xml).ScanNode(cursor, node), Kind::EndOfText);
    EXPECT_EQ(node.kind, Kind::EndTag);
    EXPECT_EQ(node.length, 0);
    EXPECT_EQ(cursor.position, 4);
}

// Texts over a small alphabet dense in markup characters, so that every state and every jump of
// the scanner is met often.
std::u16string RandomMarkup(std::mt19937& rng, std::size_t length) {
    static const std::u16string alphabet =
        u"<<<>>>//!!?"
        u"?--[[]]CDEANx=='\"' \t\n\rab&;#\u00e9\u4e2d";
    std::u16string text;
    for (std::size_t k = 0; k < length; ++k) {
        if (rng() % 10 == 0) {
            // A long run of plain characters, as between the markup of real documents.
            text.append(5 + rng() % 40, rng() % 2 == 0 ? u'x' : u'\u00e9');
            continue;
        }
        if (rng() % 8 == 0) {
            static const char16_t* const words[] = {u"<!--",      u"-->", u"<![CDATA[", u"]]>",
                                                    u"<!DOCTYPE", u"<?x", u"?>",        u"<a b=\"",
                                                    u"</a>",      u"/>",  u"name=",     u"<b>"};
            text += words[rng() % (sizeof(words) / sizeof(words[0]))];
            continue;
        }
        text.push_back(alphabet[rng() % alphabet.size()]);
    }
    return text;
}

// Texts built from the pieces of settings files (tags with attributes, end tags, indentation, text
// between tags) with the odd piece out of place: values without quotes or cut short, "==", quotes
// outside values, "/" before blanks, a "<" inside a tag, the text ending anywhere.
std::u16string RandomSettingsMarkup(std::mt19937& rng, std::size_t pieces) {
    static const char16_t* const common[] = {
        u"<param", u"<e",           u"</param>", u"</e>",     u"\n\t\t", u" ",
        u"\t",     u"key=\"p0\"",   u"v='x>y'",  u"/>",       u">",      u"Tarato",
        u" a ",    u"u=\"\u00e9\"", u"<\u4e2d",  u"</\u4e2d>"};
    static const char16_t* const odd[] = {u"=",   u"==", u"\"",  u"'",      u"/",    u" />", u"<",  u"x=1",
                                          u"=\"", u"</", u"</e", u"</e x>", u"&lt;", u"<?x", u"?>", u"<!--"};
    std::u16string text;
    for (std::size_t k = 0; k < pieces; ++k) {
        if (rng() % 6 == 0) {
            text += odd[rng() % (sizeof(odd) / sizeof(odd[0]))];
        } else {
            text += common[rng() % (sizeof(common) / sizeof(common[0]))];
        }
    }
    return text;
}

// Scans the whole text with ScanNode and with the reference, node by node, and compares every result.
void ExpectSameNodes(const CFileXml& xml, const std::u16string& text) {
    CFileXml::TokenCursor fast;
    CFileXml::TokenCursor plain;
    fast.text = text;
    plain.text = text;
    CFileXml::ScannedNode fastNode;
    CFileXml::ScannedNode plainNode;
    while (true) {
        const Kind expected = ReferenceScan(plain, plainNode);
        const Kind actual = Internals(xml).ScanNode(fast, fastNode);
        ASSERT_EQ(actual, expected) << Narrow(text) << " at " << plainNode.start;
        ASSERT_EQ(fastNode.start, plainNode.start) << Narrow(text);
        ASSERT_EQ(fastNode.length, plainNode.length) << Narrow(text) << " at " << plainNode.start;
        ASSERT_EQ(fastNode.nodeFlags, plainNode.nodeFlags) << Narrow(text) << " at " << plainNode.start;
        ASSERT_EQ(Narrow(fastNode.text), Narrow(plainNode.text)) << Narrow(text) << " at " << plainNode.start;
        ASSERT_EQ(fast.position, plain.position);
        ASSERT_EQ(fast.tokenStart, plain.tokenStart) << Narrow(text);
        ASSERT_EQ(fast.tokenEnd, plain.tokenEnd) << Narrow(text);
        if (expected == Kind::EndOfText) {
            return;
        }
    }
}

TEST(ScanNode, SettingsLikeTextsAgreeWithCharacterByCharacterReading) {
    std::mt19937 rng(7122026);
    CFileXml xml;
    for (int round = 0; round < 6000; ++round) {
        const std::u16string text = RandomSettingsMarkup(rng, 1 + rng() % 30);
        ExpectSameNodes(xml, text);
        if (testing::Test::HasFatalFailure()) {
            return;
        }
    }
}

TEST(ScanNode, AgreesWithCharacterByCharacterReading) {
    std::mt19937 rng(20261207);
    CFileXml xml;
    for (int round = 0; round < 6000; ++round) {
        const std::u16string text = RandomMarkup(rng, 1 + rng() % 60);
        CFileXml::TokenCursor fast;
        CFileXml::TokenCursor plain;
        fast.text = text;
        plain.text = text;
        CFileXml::ScannedNode fastNode;
        CFileXml::ScannedNode plainNode;
        while (true) {
            const Kind expected = ReferenceScan(plain, plainNode);
            const Kind actual = Internals(xml).ScanNode(fast, fastNode);
            ASSERT_EQ(actual, expected) << Narrow(text) << " at " << plainNode.start;
            ASSERT_EQ(fastNode.start, plainNode.start) << Narrow(text);
            ASSERT_EQ(fastNode.length, plainNode.length) << Narrow(text) << " at " << plainNode.start;
            ASSERT_EQ(fastNode.nodeFlags, plainNode.nodeFlags) << Narrow(text) << " at " << plainNode.start;
            ASSERT_EQ(Narrow(fastNode.text), Narrow(plainNode.text))
                << Narrow(text) << " at " << plainNode.start;
            ASSERT_EQ(fast.position, plain.position);
            ASSERT_EQ(fast.tokenStart, plain.tokenStart) << Narrow(text);
            ASSERT_EQ(fast.tokenEnd, plain.tokenEnd) << Narrow(text);
            if (expected == Kind::EndOfText) {
                break;
            }
        }
    }
}

}  // namespace
