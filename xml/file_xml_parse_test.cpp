// The parse: results and messages with their offsets, the element index it builds (links, levels,
// marks of unended elements), index growth, and documents with very long tags.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/xml/file_xml_internals.h"
#include "tests/xml/file_xml_test_support.h"
#include "xml/file_xml.h"

using xml_testing::Internals;

namespace {

using xml_testing::IndexOf;
using xml_testing::Narrow;
using xml_testing::RecordView;
using xml_testing::ViewOf;

struct ParseCase {
    std::u16string text;
    bool wellFormed;
    std::u16string message;
};

class ParseMessages : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseMessages, ResultAndFirstProblem) {
    const ParseCase& c = GetParam();
    CFileXml xml;
    xml.messageText.clear();
    xml.documentText = c.text;
    EXPECT_EQ(xml.ParseDocument(), c.wellFormed);
    EXPECT_EQ(Narrow(xml.messageText), Narrow(c.message));
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseMessages,
    testing::Values(
        ParseCase{u"", false, u"Empty document"}, ParseCase{u" \t\r\n ", false, u"No root element"},
        ParseCase{u"just text", false, u"No root element"},
        ParseCase{u"<a/><b/>", false, u"Root element has sibling"},
        ParseCase{u"<?xml version=\"1.0\"?><!-- about --><a/>", true, u""},
        ParseCase{u"\uFEFF<a></a>\r\n", true, u""},
        ParseCase{u"<a><b></a>", false, u"End tag 'a' at offset 7 does not match start tag 'b' at offset 3"},
        ParseCase{u"<a></b></a>", false, u"No start tag for end tag 'b' at offset 3"},
        ParseCase{u"<a x=\"1>2\"/>", true, u""}, ParseCase{u"<a x='1>2' y = \"3\" />", true, u""},
        ParseCase{u"<a x=1/>", false, u"Element 'a' at offset 0 not ended"},
        ParseCase{u"<a><![CDATA[</a>]]></a>", true, u""},
        ParseCase{u"<a>", false, u"Element 'a' at offset 0 not ended"},
        ParseCase{u"<a", false, u"No root element"},
        ParseCase{u"<a><1></a>", false, u"Incorrect tag name character at offset 3"},
        ParseCase{u"<a>< b/></a>", false, u"Incorrect tag name character at offset 3"},
        ParseCase{u"<a><!x></a>", false, u"Incorrect ! tag at offset 3"},
        ParseCase{u"<a><!-x></a>", false, u"Incorrect comment tag at offset 3"},
        ParseCase{u"<a><![x></a>", false, u"Incorrect tag at offset 3"},
        ParseCase{u"<a></a><!-- x", false, u"Comment at offset 7 unterminated"},
        ParseCase{u"<a></a><![CDATA[x", false, u"CDATA Section at offset 7 unterminated"},
        ParseCase{u"<a></a><?pi x", false, u"Processing instruction at offset 7 unterminated"},
        ParseCase{u"<a></a><!DOCTYPE x", false, u"Doctype at offset 7 unterminated"},
        ParseCase{u"<a></a><!ENTITY x", false, u"Doctype at offset 7 unterminated"},
        ParseCase{u"<a></a><", false, u"tag at offset 7 unterminated"},
        ParseCase{u"<a><b", false, u"Element tag at offset 3 unterminated"},
        ParseCase{u"<a></a", false, u"Element end tag at offset 3 unterminated"},
        ParseCase{u"<A></a>", false, u"No start tag for end tag 'a' at offset 3"},
        ParseCase{u"<!DOCTYPE a [<!ENTITY e 'x>y'><!-- > -->]><a>&e;</a>", true, u""},
        ParseCase{u"<a><!-- <b> --><?p <c> ?></a>", true, u""}, ParseCase{u"<a>1 > 0</a>", true, u""},
        ParseCase{u"<r><u><c/><d/></r>", false,
                  u"End tag 'r' at offset 15 does not match start tag 'u' at offset 3"},
        ParseCase{u"<a></a>", true, u""}));

TEST(ParseDocument, KeepsAnEarlierMessageInFront) {
    CFileXml xml;
    xml.messageText = u"7 bytes to 7 wide chars";
    xml.documentText = u"<a>";
    EXPECT_FALSE(xml.ParseDocument());
    EXPECT_EQ(Narrow(xml.messageText), "7 bytes to 7 wide chars, Element 'a' at offset 0 not ended");

    xml.messageText = u"7 bytes to 7 wide chars";
    xml.documentText = u"<a></a>";
    EXPECT_TRUE(xml.ParseDocument());
    EXPECT_EQ(Narrow(xml.messageText), "7 bytes to 7 wide chars");
}

TEST(ParseDocument, IgnoringCaseMatchesEndTagsOfOtherCase) {
    CFileXml xml;
    xml.messageText.clear();
    xml.matchFlags = CFileXml::kMatchIgnoreCase;
    xml.documentText = u"<Brand></bRAND>";
    EXPECT_TRUE(xml.ParseDocument());
    EXPECT_EQ(xml.messageText, u"");
}

TEST(ParseDocument, ConstructedDocumentIsEmptyAndParsed) {
    CFileXml xml;
    EXPECT_EQ(Narrow(xml.messageText), "Empty document");
    EXPECT_EQ(xml.usedCount, 1);
    EXPECT_EQ(Internals(xml).capacity(), 8);
    EXPECT_EQ(xml.matchFlags, 0u);
    EXPECT_EQ(xml.currentPosition, 0);
}

TEST(ParseDocument, MessageOfTheEmptyConstructionStaysInFront) {
    CFileXml xml;
    xml.documentText = u"<a/>";
    EXPECT_TRUE(xml.ParseDocument());
    EXPECT_EQ(Narrow(xml.messageText), "Empty document");
    xml.documentText = u"<a/><b/>";
    EXPECT_FALSE(xml.ParseDocument());
    EXPECT_EQ(Narrow(xml.messageText), "Empty document, Root element has sibling");
}

TEST(ParseDocument, ResetsThePositions) {
    CFileXml xml;
    xml.documentText = u"<a><b/></a>";
    ASSERT_TRUE(xml.ParseDocument());
    ASSERT_TRUE(xml.FindChildElement(u"b"));
    ASSERT_TRUE(xml.EnterElement());
    EXPECT_TRUE(xml.ParseDocument());
    EXPECT_EQ(xml.parentPosition, 0);
    EXPECT_EQ(xml.currentPosition, 0);
    EXPECT_EQ(xml.childPosition, 0);
}

// A text longer than the index's 32-bit offsets can describe is refused whole, never parsed with
// its length cut: "<a/>", 2^32 blanks and "<junk>" would otherwise parse as "<a/>" alone. The limit
// is lowered here so that the text stays small; ParseDocument uses kLongestText (2^31 - 1).
TEST(ParseDocument, RefusesTextsLongerThanTheOffsetsReach) {
    CFileXml xml;
    xml.documentText = u"<a><b/></a>";
    ASSERT_TRUE(xml.ParseDocument());
    ASSERT_TRUE(xml.FindElement(u"a"));
    xml.documentText = u"<a/>" + std::u16string(40, u' ') + u"<junk>";
    const std::size_t length = xml.documentText.size();
    xml.messageText.clear();
    EXPECT_FALSE(xml_testing::Internals(xml).ParseDocumentWithin(length - 1));
    EXPECT_EQ(Narrow(xml.messageText), "Document longer than 49 characters");
    EXPECT_EQ(xml.usedCount, 1);
    EXPECT_EQ(xml.currentPosition, 0);
    EXPECT_FALSE(xml.FindElement(u"a"));
    // At the limit the text is parsed as usual.
    xml.messageText.clear();
    EXPECT_FALSE(xml_testing::Internals(xml).ParseDocumentWithin(length));
    EXPECT_EQ(Narrow(xml.messageText), "Root element has sibling");
    EXPECT_EQ(xml.usedCount, 3);
    EXPECT_EQ(CFileXml::kLongestText, 2147483647u);
}

// Records: start, length, start tag, end tag, parent, firstChild, next, prev, level, marks.
constexpr std::uint32_t kFirst = CFileXml::kFirstSibling;
constexpr std::uint32_t kUnended = CFileXml::kUnended;
constexpr std::uint32_t kIll = CFileXml::kIllFormedContent;

void ExpectIndex(const CFileXml& xml, const std::vector<RecordView>& expected) {
    const std::vector<RecordView> actual = IndexOf(xml);
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t k = 0; k < expected.size(); ++k) {
        EXPECT_TRUE(actual[k].SameShapeAndLevel(expected[k]) && actual[k].marks == expected[k].marks)
            << "element " << k + 1 << ": " << actual[k] << " expected " << expected[k];
    }
}

TEST(ElementIndex, LinksLevelsAndLastChildOfWellFormedDocument) {
    CFileXml xml;
    xml.documentText = u"<a><b x='1'>t</b><c/><d><e/></d></a>";
    ASSERT_TRUE(xml.ParseDocument());
    ExpectIndex(xml, {
                         {0, 36, 3, 4, 0, 2, 0, 1, 0, kFirst},
                         {3, 14, 9, 4, 1, 0, 3, 4, 1, kFirst},
                         {17, 4, 4, 0, 1, 0, 4, 2, 1, 0},
                         {21, 11, 3, 4, 1, 5, 0, 3, 1, 0},
                         {24, 4, 4, 0, 4, 0, 0, 5, 2, kFirst},
                     });
    const CFileXml::ElementRecord& document = Internals(xml).Record(0);
    EXPECT_EQ(document.length, 36);
    EXPECT_EQ(document.firstChild, 1);
    EXPECT_EQ(document.flags, 0u);
}

TEST(ElementIndex, MismatchedEndTagLeavesInnerElementUnended) {
    CFileXml xml;
    xml.documentText = u"<a><b></a>";
    EXPECT_FALSE(xml.ParseDocument());
    ExpectIndex(xml, {
                         {0, 10, 3, 4, 0, 2, 0, 1, 0, kFirst},
                         {3, 3, 3, 0, 1, 0, 0, 2, 1, kFirst | kUnended},
                     });
    EXPECT_NE(Internals(xml).Record(0).flags & CFileXml::kIllFormedDocument, 0u);
}

TEST(ElementIndex, ChildrenOfAnUnendedElementMoveUpBehindIt) {
    CFileXml xml;
    xml.documentText = u"<r><u><c/><d/></r>";
    EXPECT_FALSE(xml.ParseDocument());
    // u keeps its start tag only; c and d now follow it under r, and r's last child is d. The
    // levels stay those of the place where each start tag stood.
    ExpectIndex(xml, {
                         {0, 18, 3, 4, 0, 2, 0, 1, 0, kFirst},
                         {3, 3, 3, 0, 1, 0, 3, 4, 1, kFirst | kUnended},
                         {6, 4, 4, 0, 1, 0, 4, 2, 2, 0},
                         {10, 4, 4, 0, 1, 0, 0, 3, 2, 0},
                     });
}

TEST(ElementIndex, StrayEndTagMarksItsParent) {
    CFileXml xml;
    xml.documentText = u"<a></b></a>";
    EXPECT_FALSE(xml.ParseDocument());
    ExpectIndex(xml, {{0, 11, 3, 4, 0, 0, 0, 1, 0, kFirst | kIll}});
}

TEST(ElementIndex, IllFormedMarkMovesOutOfAnUnendedElement) {
    CFileXml xml;
    xml.messageText.clear();
    xml.documentText = u"<r><u><1></r>";
    EXPECT_FALSE(xml.ParseDocument());
    EXPECT_EQ(Narrow(xml.messageText), "Incorrect tag name character at offset 6");
    ExpectIndex(xml, {
                         {0, 13, 3, 4, 0, 2, 0, 1, 0, kFirst | kIll},
                         {3, 3, 3, 0, 1, 0, 0, 2, 1, kFirst | kUnended},
                     });
}

TEST(ElementIndex, EndOfTextClosesEveryOpenElementInnermostFirst) {
    CFileXml xml;
    xml.messageText.clear();
    xml.documentText = u"<a><b><c/>";
    EXPECT_FALSE(xml.ParseDocument());
    // b closes first and c moves up behind it; then a closes and both move up to the top level,
    // so the document-level check replaces the first message.
    EXPECT_EQ(Narrow(xml.messageText), "Root element has sibling");
    ExpectIndex(xml, {
                         {0, 3, 3, 0, 0, 0, 2, 3, 0, kFirst | kUnended},
                         {3, 3, 3, 0, 0, 0, 3, 1, 1, kUnended},
                         {6, 4, 4, 0, 0, 0, 0, 2, 2, 0},
                     });
}

TEST(ElementIndex, DeepNestOfUnendedElementsEndsAsOneRowOfSiblings) {
    std::u16string text;
    for (int k = 0; k < 30000; ++k) {
        text += u"<a>";
    }
    CFileXml xml;
    xml.documentText = text + u"<b/>";
    EXPECT_FALSE(xml.ParseDocument());
    ASSERT_EQ(xml.usedCount, 30002);
    for (std::int32_t n = 1; n < xml.usedCount; ++n) {
        const CFileXml::ElementRecord& record = Internals(xml).Record(n);
        ASSERT_EQ(record.parent, 0) << n;
        ASSERT_EQ(record.firstChild, 0) << n;
        ASSERT_EQ(record.next, n + 1 < xml.usedCount ? n + 1 : 0) << n;
        ASSERT_EQ(record.prev, n == 1 ? xml.usedCount - 1 : n - 1) << n;
    }
    EXPECT_EQ(Internals(xml).Record(30001).flags & CFileXml::kUnended, 0u);
    EXPECT_EQ(Internals(xml).Level(30001), 30000u);

    // An end tag that closes a nest of unended elements adopts them under the matched element.
    xml.documentText = u"<r><x>" + text.substr(0, 3 * 100) + u"</x></r>";
    EXPECT_FALSE(xml.ParseDocument());
    for (std::int32_t n = 3; n < xml.usedCount; ++n) {
        ASSERT_EQ(Internals(xml).Record(n).parent, 2) << n;
    }
    EXPECT_EQ(Internals(xml).Record(2).parent, 1);
}

TEST(ElementIndex, GrowsOneSegmentAtATimeAndKeepsRecords) {
    CFileXml xml;
    Internals(xml).GrowIndex(100000);
    EXPECT_EQ(Internals(xml).capacity(), 100000);
    EXPECT_EQ(Internals(xml).segmentTableCapacity(), 4);
    for (std::int32_t n = 0; n < 100000; n += 997) {
        Internals(xml).Record(n).start = n;
    }
    Internals(xml).GrowIndex(300000);  // one segment more only
    EXPECT_EQ(Internals(xml).capacity(), 3 * CFileXml::kSegmentRecords);
    for (std::int32_t n = 0; n < 100000; n += 997) {
        EXPECT_EQ(Internals(xml).Record(n).start, n);
    }
    Internals(xml).GrowIndex(1000);  // never shrinks
    EXPECT_EQ(Internals(xml).capacity(), 3 * CFileXml::kSegmentRecords);
    Internals(xml).GrowIndex(400000);
    EXPECT_EQ(Internals(xml).capacity(), 4 * CFileXml::kSegmentRecords);
    EXPECT_EQ(Internals(xml).segmentTableCapacity(), 4);
    Internals(xml).GrowIndex(400000);  // segment 4 needs a larger table
    EXPECT_EQ(Internals(xml).capacity(), 5 * CFileXml::kSegmentRecords);
    EXPECT_EQ(Internals(xml).segmentTableCapacity(), 12);
    Internals(xml).GrowIndex(400000);
    Internals(xml).GrowIndex(400000);
    EXPECT_EQ(Internals(xml).capacity(), 400000);
    for (std::int32_t n = 0; n < 100000; n += 997) {
        EXPECT_EQ(Internals(xml).Record(n).start, n);
    }
}

TEST(ElementIndex, ManySegmentsKeepDocumentOrderAndLinks) {
    std::u16string text = u"<r>";
    for (int k = 0; k < 140000; ++k) {
        text += u"<i/>";
    }
    text += u"</r>";
    CFileXml xml;
    xml.documentText = text;
    ASSERT_TRUE(xml.ParseDocument());
    ASSERT_EQ(xml.usedCount, 140002);
    EXPECT_EQ(Internals(xml).Record(1).firstChild, 2);
    EXPECT_EQ(Internals(xml).Record(2).prev, 140001);
    EXPECT_EQ(Internals(xml).Record(70000).start, 3 + (70000 - 2) * 4);
    EXPECT_EQ(Internals(xml).Record(70000).next, 70001);
    EXPECT_EQ(Internals(xml).Record(140001).next, 0);
    EXPECT_LE(sizeof(CFileXml::ElementRecord), 32u);
}

// Tag lengths are kept whole: a start tag beyond 4,194,303 characters and end tags beyond 254 and
// 1023 characters are recorded exactly.
TEST(ElementIndex, LongTagsAreRecordedExactly) {
    const std::u16string longValue(4200000, u'v');
    const std::u16string name300(300, u'n');
    const std::u16string name2000(2000, u'm');
    CFileXml xml;
    xml.documentText =
        u"<r><a x=\"" + longValue + u"\">t</a><" + name300 + u">u</" + name300 + u"><" + name2000 + u"/></r>";
    ASSERT_TRUE(xml.ParseDocument());
    ASSERT_EQ(xml.usedCount, 5);
    EXPECT_EQ(Internals(xml).StartTagLength(2), 4200000 + 8);
    EXPECT_EQ(Internals(xml).EndTagLength(2), 4);
    EXPECT_EQ(Internals(xml).EndTagLength(3), 303);
    EXPECT_EQ(Internals(xml).Record(3).start, 3 + 4200008 + 1 + 4);
    EXPECT_EQ(Internals(xml).StartTagLength(4), 2003);
    EXPECT_EQ(Internals(xml).EndTagLength(1), 4);
    EXPECT_EQ(Internals(xml).Record(1).length, static_cast<std::int32_t>(xml.documentText.size()));

    CFileXml longEnd;
    longEnd.documentText = u"<" + name2000 + u">x</" + name2000 + u">";
    ASSERT_TRUE(longEnd.ParseDocument());
    EXPECT_EQ(Internals(longEnd).EndTagLength(1), 2003);
    EXPECT_EQ(Internals(longEnd).StartTagLength(1), 2002);
}

}  // namespace
