// Editing: the exact text after each splice, the index after each edit (compared with a fresh
// parse of the edited text), refusals, and edits on documents with very long tags.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "tests/xml/file_xml_internals.h"
#include "tests/xml/file_xml_test_support.h"
#include "xml/file_xml.h"

using xml_testing::Internals;

namespace {

// Allocations of at least this many bytes are counted while it is not 0 (see operator new below).
std::atomic<std::size_t> countFrom{0};
std::atomic<int> largeAllocations{0};

}  // namespace

// The replacement pairs malloc with free on purpose; GCC sees only the names new and free.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif

// Every allocation of this test program goes through here, so that a test can count the large ones.
void* operator new(std::size_t size) {
    const std::size_t from = countFrom.load();
    if (from != 0 && size >= from)
        ++largeAllocations;
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace {

using xml_testing::IndexOf;
using xml_testing::Narrow;
using xml_testing::RecordView;

class XmlEditing : public testing::Test {
protected:
    void Parse(const std::u16string& text) {
        xml.documentText = text;
        xml.messageText.clear();
        wellFormed = xml.ParseDocument();
    }
    void SelectChild(const char16_t* name) {
        xml.ResetPosition();
        ASSERT_TRUE(xml.FindChildElement(name)) << Narrow(name);
    }
    // The index after edits must be the one a parse of the edited text builds.
    void ExpectIndexOfFreshParse() {
        CFileXml fresh;
        fresh.documentText = xml.documentText;
        fresh.messageText.clear();
        fresh.ParseDocument();
        const std::vector<RecordView> edited = IndexOf(xml);
        const std::vector<RecordView> parsed = IndexOf(fresh);
        ASSERT_EQ(edited.size(), parsed.size());
        for (std::size_t k = 0; k < edited.size(); ++k) {
            EXPECT_TRUE(edited[k].SameShape(parsed[k]))
                << "element " << k + 1 << ": " << edited[k] << " parsed " << parsed[k];
        }
        EXPECT_EQ(Internals(xml).Record(0).length, static_cast<std::int32_t>(xml.documentText.size()));
    }

    CFileXml xml;
    bool wellFormed = false;
};

TEST_F(XmlEditing, TextIntoASelfClosingElementGetsAnEndTag) {
    Parse(u"<a><b/></a>");
    SelectChild(u"b");
    ASSERT_TRUE(xml.SetChildText(u"x<y"));
    EXPECT_EQ(Narrow(xml.documentText), "<a><b>x&lt;y</b></a>");
    EXPECT_EQ(Internals(xml).StartTagLength(2), 3);
    EXPECT_EQ(Internals(xml).EndTagLength(2), 4);
    EXPECT_EQ(Internals(xml).Record(1).length, 11 + 9);
    EXPECT_EQ(Narrow(xml.GetChildText()), "x<y");
    ExpectIndexOfFreshParse();
}

TEST_F(XmlEditing, BlanksBeforeTheSlashStayInTheStartTag) {
    Parse(u"<r><b x='1' /><c/></r>");
    SelectChild(u"b");
    ASSERT_TRUE(xml.SetChildText(u"t"));
    EXPECT_EQ(Narrow(xml.documentText), "<r><b x='1' >t</b><c/></r>");
    EXPECT_EQ(Internals(xml).StartTagLength(2), 10);
    ExpectIndexOfFreshParse();
}

TEST_F(XmlEditing, ReplacingContentDropsCommentsAndShiftsFollowingElements) {
    Parse(u"<a><b>old<!--c--></b><c/></a>");
    const std::int32_t cStart = Internals(xml).Record(3).start;
    SelectChild(u"b");
    ASSERT_TRUE(xml.SetChildText(u"new"));
    EXPECT_EQ(Narrow(xml.documentText), "<a><b>new</b><c/></a>");
    EXPECT_EQ(Internals(xml).Record(3).start, cStart - 8);
    ExpectIndexOfFreshParse();
    ASSERT_TRUE(xml.SetChildText(u""));
    EXPECT_EQ(Narrow(xml.documentText), "<a><b></b><c/></a>");
    ExpectIndexOfFreshParse();
}

TEST_F(XmlEditing, ContentWithChildElementsIsNeverReplaced) {
    Parse(u"<a><b><c/></b></a>");
    SelectChild(u"b");
    EXPECT_FALSE(xml.SetChildText(u"x"));
    EXPECT_EQ(Narrow(xml.documentText), "<a><b><c/></b></a>");
    xml.ResetPosition();
    EXPECT_FALSE(xml.SetChildText(u"x"));  // no current child
    EXPECT_FALSE(xml.SetChildAttribute(u"n", u"v"));
    EXPECT_EQ(Narrow(xml.documentText), "<a><b><c/></b></a>");
}

TEST_F(XmlEditing, UnendedElementGetsItsEndTagAndLosesTheMark) {
    Parse(u"<r><u x=1/></r>");
    ASSERT_FALSE(wellFormed);
    SelectChild(u"u");
    ASSERT_TRUE(xml.SetChildText(u"t"));
    EXPECT_EQ(Narrow(xml.documentText), "<r><u x=1/>t</u></r>");
    EXPECT_EQ(Internals(xml).Record(2).flags & CFileXml::kUnended, 0u);
    EXPECT_EQ(Internals(xml).EndTagLength(2), 4);
    ExpectIndexOfFreshParse();
    CFileXml fresh;
    fresh.documentText = xml.documentText;
    EXPECT_TRUE(fresh.ParseDocument());
}

TEST_F(XmlEditing, AttributeIsAddedAfterTheNameBeforeTheSlash) {
    Parse(u"<r><e/></r>");
    SelectChild(u"e");
    ASSERT_TRUE(xml.SetChildAttribute(u"n", u"v"));
    EXPECT_EQ(Narrow(xml.documentText), "<r><e n=\"v\"/></r>");
    ExpectIndexOfFreshParse();
    ASSERT_TRUE(xml.SetChildAttribute(u"m", -5));
    EXPECT_EQ(Narrow(xml.documentText), "<r><e n=\"v\" m=\"-5\"/></r>");
    EXPECT_EQ(Narrow(xml.GetChildAttribute(u"m")), "-5");
    ExpectIndexOfFreshParse();
}

TEST_F(XmlEditing, AttributeIsAddedBeforeBlanksAndTheClosingBracket) {
    Parse(u"<r><e a='1'  \n>t</e><?p x?></r>");
    SelectChild(u"e");
    ASSERT_TRUE(xml.SetChildAttribute(u"b", u"2"));
    EXPECT_EQ(Narrow(xml.documentText), "<r><e a='1' b=\"2\"  \n>t</e><?p x?></r>");
    ExpectIndexOfFreshParse();
}

TEST_F(XmlEditing, ExistingValueIsRewrittenInDoubleQuotesOthersStay) {
    Parse(u"<r><e a=1 n='old' b = \"2\" c=3/></r>");
    SelectChild(u"e");
    ASSERT_TRUE(xml.SetChildAttribute(u"n", u"v"));
    EXPECT_EQ(Narrow(xml.documentText), "<r><e a=1 n=\"v\" b = \"2\" c=3/></r>");
    ExpectIndexOfFreshParse();
    ASSERT_TRUE(xml.SetChildAttribute(u"a", u"longer value"));
    EXPECT_EQ(Narrow(xml.documentText), "<r><e a=\"longer value\" n=\"v\" b = \"2\" c=3/></r>");
    ExpectIndexOfFreshParse();
    ASSERT_TRUE(xml.SetChildAttribute(u"b", u""));
    EXPECT_EQ(Narrow(xml.documentText), "<r><e a=\"longer value\" n=\"v\" b = \"\" c=3/></r>");
    ExpectIndexOfFreshParse();
}

TEST_F(XmlEditing, QuotesAndAmpersandsAreEncodedAndReadBack) {
    Parse(u"<r><e/></r>");
    SelectChild(u"e");
    const std::u16string value = u"say \"a & b\" <it's> &amp;";
    ASSERT_TRUE(xml.SetChildAttribute(u"v", value));
    EXPECT_EQ(Narrow(xml.documentText),
              "<r><e v=\"say &quot;a &amp; b&quot; &lt;it&apos;s&gt; &amp;amp;\"/></r>");
    EXPECT_EQ(xml.GetChildAttribute(u"v"), value);
    ASSERT_TRUE(xml.SetChildText(value));
    EXPECT_EQ(
        Narrow(xml.documentText),
        "<r><e v=\"say &quot;a &amp; b&quot; &lt;it&apos;s&gt; &amp;amp;\">say \"a &amp; b\" &lt;it's&gt; "
        "&amp;amp;</e></r>");
    EXPECT_EQ(xml.GetChildText(), value);
    ExpectIndexOfFreshParse();
}

TEST_F(XmlEditing, AttributeWithoutValueKeepsItsNameAndGetsOne) {
    Parse(u"<r><e v w=2 /></r>");
    SelectChild(u"e");
    ASSERT_TRUE(xml.SetChildAttribute(u"v", u"1"));
    EXPECT_EQ(Narrow(xml.documentText), "<r><e v=\"1\" w=2 /></r>");
    EXPECT_EQ(Narrow(xml.GetChildAttribute(u"w")), "2");
    ExpectIndexOfFreshParse();
}

// A name that would end the start tag early would leave the index describing a text that is no
// longer there; such an edit is refused and changes nothing.
TEST_F(XmlEditing, AttributeEditThatWouldCutTheStartTagIsRefused) {
    Parse(u"<r><e a='1'>t</e><f/></r>");
    SelectChild(u"e");
    EXPECT_FALSE(xml.SetChildAttribute(u"x>y", u"v"));
    EXPECT_FALSE(xml.SetChildAttribute(u"x='", u"v"));  // would open a quote that never closes
    EXPECT_EQ(Narrow(xml.documentText), "<r><e a='1'>t</e><f/></r>");
    ExpectIndexOfFreshParse();
    EXPECT_TRUE(xml.SetChildAttribute(u"x y", u"v"));  // malformed, but the tag keeps its extent
    ExpectIndexOfFreshParse();
}

// The attribute lookup and the scanner read quotes differently in some start tags; the splice must
// leave every tag reading as the same tag whichever way the edit is checked, or be refused.
TEST_F(XmlEditing, AttributeEditsOfOddlyQuotedTagsKeepTheIndexOfAFreshParse) {
    const char16_t* const tags[] = {
        u"<e a='1' b=\"2\">",  u"<e a=1 b=2>",     u"<e \"a=\" b='2'>",      u"<e a b='2' c>",
        u"<e a= = '1' b='2'>", u"<e a=x'y b='2'>", u"<e a=\"'\" b='\"'>",    u"<e a='1'/>",
        u"<e a=1/>",           u"<e a='1' b />",   u"<e b='<' a=>",          u"<e=x a='1' b='2'>",
        u"<e a==b b='2' />",   u"<e a='1'b='2'>",  u"<e a= '1' b = \"2\"/>",
    };
    const char16_t* const names[] = {u"a", u"b", u"c", u"new", u"A"};
    const char16_t* const values[] = {u"", u"v", u"=", u"x y", u"/", u"a'b\"c>"};
    for (const char16_t* tag : tags) {
        for (const char16_t* name : names) {
            for (const char16_t* value : values) {
                const std::u16string tagText(tag);
                const bool empty = tagText.size() >= 2 && tagText[tagText.size() - 2] == u'/';
                const std::u16string text = u"<r>" + tagText + (empty ? u"" : u"t</e>") + u"<f/></r>";
                Parse(text);
                xml.ResetPosition();
                if (!xml.FindChildElement(u"")) {
                    continue;  // the tag swallows the rest of the document
                }
                const std::string context = Narrow(tag) + " " + Narrow(name) + "=" + Narrow(value);
                if (xml.SetChildAttribute(name, value)) {
                    ExpectIndexOfFreshParse();
                } else {
                    EXPECT_EQ(xml.documentText, text) << context;
                }
            }
        }
    }
}

TEST_F(XmlEditing, EditsKeepEveryLookupOfTheDocument) {
    Parse(
        u"<cfg>\n  <brand name='a'/>\n  <language name=\"it\" code=1>\n    <x/>\n  </language>\n"
        u"  <titolo-language>Lingua</titolo-language>\n  <customerInfo><citta>Roma</citta><stato code='I'>"
        u"Italia</stato></customerInfo>\n</cfg>\n");
    ASSERT_TRUE(wellFormed);
    SelectChild(u"brand");
    ASSERT_TRUE(xml.SetChildAttribute(u"name", u"Brand & Co"));
    SelectChild(u"language");
    for (const char16_t* attribute : {u"name", u"ISOname", u"code", u"lang", u"subl", u"img"}) {
        ASSERT_TRUE(xml.SetChildAttribute(attribute, u"<" + std::u16string(attribute) + u">"));
    }
    SelectChild(u"titolo-language");
    ASSERT_TRUE(xml.SetChildText(u"Language"));
    SelectChild(u"customerInfo");
    ASSERT_TRUE(xml.EnterElement());
    ASSERT_TRUE(xml.FindChildElement(u"stato"));
    ASSERT_TRUE(xml.SetChildAttribute(u"code", u"D"));
    ASSERT_TRUE(xml.SetChildText(u"Deutschland"));
    xml.ResetChildPosition();
    ASSERT_TRUE(xml.FindChildElement(u"citta"));
    ASSERT_TRUE(xml.SetChildText(u"Berlin"));
    ExpectIndexOfFreshParse();
    EXPECT_EQ(
        Narrow(xml.documentText),
        "<cfg>\n  <brand name=\"Brand &amp; Co\"/>\n  <language name=\"&lt;name&gt;\" code=\"&lt;code&gt;\" "
        "ISOname=\"&lt;ISOname&gt;\" lang=\"&lt;lang&gt;\" subl=\"&lt;subl&gt;\" img=\"&lt;img&gt;\">\n"
        "    <x/>\n  </language>\n  <titolo-language>Language</titolo-language>\n"
        "  <customerInfo><citta>Berlin</citta><stato "
        "code=\"D\">Deutschland</stato></customerInfo>\n</cfg>\n");
}

// Long tags stay exact through edits: an attribute added to a start tag of more than 4,194,303
// characters, text set into elements with end tags longer than 254 and 1023 characters.
TEST_F(XmlEditing, LongTagsStayExactThroughEdits) {
    const std::u16string longValue(4200000, u'v');
    const std::u16string name300(300, u'n');
    const std::u16string name2000(2000, u'm');
    Parse(u"<r><a x=\"" + longValue + u"\">t</a><" + name300 + u">u</" + name300 + u"><" + name2000 +
          u"/><z/></r>");
    ASSERT_TRUE(wellFormed);
    SelectChild(u"a");
    ASSERT_TRUE(xml.SetChildAttribute(u"y", u"1"));
    EXPECT_EQ(Internals(xml).StartTagLength(2), 4200008 + 6);
    ASSERT_TRUE(xml.SetChildText(u"text"));
    EXPECT_EQ(xml.GetChildText(), u"text");
    ASSERT_TRUE(xml.SetChildAttribute(u"x", u"short"));
    EXPECT_EQ(xml.GetChildAttribute(u"x"), u"short");
    ExpectIndexOfFreshParse();

    SelectChild(name300.c_str());
    EXPECT_EQ(xml.GetChildText(), u"u");
    ASSERT_TRUE(xml.SetChildText(u"longer"));
    EXPECT_EQ(Internals(xml).EndTagLength(3), 303);
    SelectChild(name2000.c_str());
    ASSERT_TRUE(xml.SetChildText(u"w"));
    EXPECT_EQ(Internals(xml).EndTagLength(4), 2003);
    EXPECT_EQ(xml.GetChildText(), u"w");
    ASSERT_TRUE(xml.SetChildText(u"ww"));
    EXPECT_EQ(xml.GetChildText(), u"ww");
    ExpectIndexOfFreshParse();
    SelectChild(u"z");
    ASSERT_TRUE(xml.SetChildText(u"end"));
    EXPECT_EQ(Narrow(xml.documentText.substr(xml.documentText.size() - 16)), "m><z>end</z></r>");
    ExpectIndexOfFreshParse();
}

// The index is kept in segments of 65,536 elements. Edits on elements of the second segment, one
// in its middle and its last, shift every later element across into the third.
TEST_F(XmlEditing, EditsInALaterIndexSegmentKeepTheIndexOfAFreshParse) {
    std::u16string text = u"<r>";
    for (int n = 0; n < 140000; ++n)
        text += u"<e/>";
    Parse(text + u"</r>");
    ASSERT_TRUE(wellFormed);
    for (const std::int32_t element : {70000, 131071}) {
        ASSERT_TRUE(xml_testing::Internals(xml).SetElementAttribute(element, u"k", u"v")) << element;
        ASSERT_TRUE(xml_testing::Internals(xml).SetElementText(element, u"text")) << element;
    }
    EXPECT_EQ(Narrow(xml.documentText.substr(
                  static_cast<std::size_t>(xml_testing::Internals(xml).Record(131071).start), 25)),
              "<e k=\"v\">text</e><e/><e/>");
    ExpectIndexOfFreshParse();
}

// The lookups read "a" as the name of "<a?b/>", the parser reads "a?b"; the new end tag repeats
// the parser's name, so that it closes the element when the text is parsed again.
TEST_F(XmlEditing, NewEndTagRepeatsTheNameTheParserRead) {
    Parse(u"<r><a?b/><c\\d /></r>");
    ASSERT_TRUE(wellFormed);
    SelectChild(u"a");
    ASSERT_TRUE(xml.SetChildText(u"x"));
    SelectChild(u"c");
    ASSERT_TRUE(xml.SetChildText(u"y"));
    EXPECT_EQ(Narrow(xml.documentText), "<r><a?b>x</a?b><c\\d >y</c\\d></r>");
    ExpectIndexOfFreshParse();
    CFileXml fresh;
    fresh.documentText = xml.documentText;
    EXPECT_TRUE(fresh.ParseDocument());
}

TEST_F(XmlEditing, NamesHoldingAZeroCharacterStillMatch) {
    const std::u16string name(u"a\0b", 3);
    Parse(u"<r><" + name + u"/></r>");
    ASSERT_TRUE(wellFormed);
    ASSERT_TRUE(Internals(xml).SetElementText(2, u"x"));
    EXPECT_EQ(xml.documentText, u"<r><" + name + u">x</" + name + u"></r>");
    ExpectIndexOfFreshParse();
    CFileXml fresh;
    fresh.documentText = xml.documentText;
    EXPECT_TRUE(fresh.ParseDocument());
}

TEST(EncodeEntities, ContentAndAttributeModes) {
    EXPECT_EQ(Internals<const CFileXml>::EncodeEntities(u"a<b>&'\"", CFileXml::EncodeMode::Content),
              u"a&lt;b&gt;&amp;'\"");
    EXPECT_EQ(Internals<const CFileXml>::EncodeEntities(u"a<b>&'\"", CFileXml::EncodeMode::Attribute),
              u"a&lt;b&gt;&amp;&apos;&quot;");
    const std::u16string many(1000, u'&');
    EXPECT_EQ(Internals<const CFileXml>::EncodeEntities(many, CFileXml::EncodeMode::Content).size(), 5000u);
}

// A large value is encoded straight into the text: the only allocation of its size is the growth of
// the text itself, whether it becomes an element's text or an attribute's value.
TEST_F(XmlEditing, ALargeValueIsCopiedIntoTheTextWithoutFullSizeTemporaries) {
    std::u16string value;
    for (int k = 0; k < 100000; ++k)
        value += u"a&b<\"c\">'";
    for (const bool attribute : {false, true}) {
        Parse(u"<r><a/><b>old</b></r>");
        SelectChild(attribute ? u"a" : u"b");
        countFrom = value.size() * sizeof(char16_t);
        largeAllocations = 0;
        const bool set = attribute ? xml.SetChildAttribute(u"n", value) : xml.SetChildText(value);
        countFrom = 0;
        ASSERT_TRUE(set);
        EXPECT_EQ(largeAllocations.load(), 1) << (attribute ? "attribute" : "text");
        EXPECT_EQ(attribute ? xml.GetChildAttribute(u"n") : xml.GetChildText(), value);
        ExpectIndexOfFreshParse();
    }
}

TEST(ShiftOffsets, MovesLaterElementsAndLengthensAncestors) {
    CFileXml xml;
    xml.documentText = u"<a><b><c/></b><d/></a><!---->";
    xml.ParseDocument();
    Internals(xml).ShiftOffsets(2, 5);
    EXPECT_EQ(Internals(xml).Record(1).start, 0);
    EXPECT_EQ(Internals(xml).Record(2).start, 3);
    EXPECT_EQ(Internals(xml).Record(3).start, 6 + 5);
    EXPECT_EQ(Internals(xml).Record(4).start, 14 + 5);
    EXPECT_EQ(Internals(xml).Record(1).length, 22 + 5);
    EXPECT_EQ(Internals(xml).Record(2).length, 11);
    EXPECT_EQ(Internals(xml).Record(0).length, 29 + 5);
    Internals(xml).ShiftOffsets(0, 7);
    EXPECT_EQ(Internals(xml).Record(0).length, 29 + 5);
}

}  // namespace
