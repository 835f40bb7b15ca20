// Navigation by positions and reading of text and attributes: the find rules, the quoting rules
// of attribute values, reference decoding and its limits, and positions that are 0.
#include <gtest/gtest.h>

#include <string>

#include "tests/xml/file_xml_internals.h"
#include "tests/xml/file_xml_test_support.h"
#include "xml/file_xml.h"

using xml_testing::Internals;

namespace {

using xml_testing::Narrow;

class XmlReading : public testing::Test {
protected:
    void Parse(const std::u16string& text) {
        xml.documentText = text;
        xml.messageText.clear();
        wellFormed = xml.ParseDocument();
    }
    // Text of the first child of the root element, found as the merge finds it.
    std::string FirstChildText(const std::u16string& text) {
        Parse(text);
        if (!xml.FindChildElement(nullptr)) {
            return "<no child>";
        }
        return Narrow(xml.GetChildText());
    }
    std::string RootText(const std::u16string& text) {
        Parse(text);
        return Narrow(Internals(xml).GetElementText(1));
    }
    std::string RootAttribute(const std::u16string& text, const char16_t* name) {
        Parse(text);
        return Narrow(Internals(xml).GetElementAttribute(1, name));
    }

    CFileXml xml;
    bool wellFormed = false;
};

TEST_F(XmlReading, RepeatedFindsStepThroughChildrenOfThatName) {
    Parse(u"<root><brand/><x/><brand/></root>");
    ASSERT_TRUE(wellFormed);
    xml.ResetPosition();
    // At the top the root becomes current and its children are searched.
    ASSERT_TRUE(xml.FindChildElement(u"brand"));
    EXPECT_EQ(xml.currentPosition, 1);
    EXPECT_EQ(xml.parentPosition, 0);
    EXPECT_EQ(xml.childPosition, 2);
    ASSERT_TRUE(xml.FindChildElement(u"brand"));
    EXPECT_EQ(xml.childPosition, 4);
    EXPECT_FALSE(xml.FindChildElement(u"brand"));
    EXPECT_EQ(xml.childPosition, 4);
    xml.ResetChildPosition();
    ASSERT_TRUE(xml.FindChildElement(u"brand"));
    EXPECT_EQ(xml.childPosition, 2);
}

TEST_F(XmlReading, NamesMatchWholeOrBeforeASeparator) {
    Parse(u"<root><brandX/><brand/></root>");
    EXPECT_FALSE(xml.FindChildElement(u"bran"));
    ASSERT_TRUE(xml.FindChildElement(u"brand"));
    EXPECT_EQ(xml.childPosition, 3);
    xml.ResetChildPosition();
    ASSERT_TRUE(xml.FindChildElement(u"brand[2]"));
    EXPECT_EQ(xml.childPosition, 3);
    xml.ResetChildPosition();
    EXPECT_FALSE(xml.FindChildElement(u"BRAND"));
    xml.matchFlags = CFileXml::kMatchIgnoreCase;
    ASSERT_TRUE(xml.FindChildElement(u"BRAND"));
    EXPECT_EQ(xml.childPosition, 3);
}

TEST_F(XmlReading, EnterWithoutChildThenFindSelectsFirstChildAsCurrent) {
    Parse(u"<r><a><b><x/></b><c/></a></r>");
    ASSERT_TRUE(xml.FindChildElement(u"a"));
    ASSERT_TRUE(xml.EnterElement());  // a current, no child selected
    ASSERT_TRUE(xml.EnterElement());  // under a, nothing current
    EXPECT_EQ(xml.parentPosition, 2);
    EXPECT_EQ(xml.currentPosition, 0);
    // b, the first child of a, becomes current, and c is not among b's children.
    EXPECT_FALSE(xml.FindChildElement(u"c"));
    EXPECT_EQ(xml.currentPosition, 3);
    EXPECT_EQ(xml.parentPosition, 2);
    ASSERT_TRUE(xml.FindChildElement(u"x"));
    EXPECT_EQ(xml.childPosition, 4);
}

TEST_F(XmlReading, LeaveAndEnterAtTheTop) {
    Parse(u"<r><a/></r>");
    xml.ResetPosition();
    EXPECT_FALSE(xml.LeaveElement());
    EXPECT_FALSE(xml.EnterElement());
    ASSERT_TRUE(xml.FindChildElement(u"a"));
    ASSERT_TRUE(xml.EnterElement());
    EXPECT_EQ(xml.currentPosition, 2);
    ASSERT_TRUE(xml.LeaveElement());
    EXPECT_EQ(xml.parentPosition, 0);
    EXPECT_EQ(xml.currentPosition, 1);
    EXPECT_EQ(xml.childPosition, 2);
    EXPECT_FALSE(xml.LeaveElement());
    EXPECT_FALSE(xml.FindElement(nullptr));  // the root has no sibling
    EXPECT_EQ(xml.currentPosition, 1);
}

TEST_F(XmlReading, NothingBreaksWithoutElementsOrWithStrayPositions) {
    Parse(u"only text");
    EXPECT_FALSE(xml.FindChildElement(u"a"));
    EXPECT_FALSE(xml.FindElement(nullptr));
    EXPECT_EQ(xml.GetChildText(), u"");
    EXPECT_EQ(xml.GetChildAttribute(u"a"), u"");
    EXPECT_FALSE(xml.SetChildText(u"x"));
    EXPECT_FALSE(xml.SetChildAttribute(u"a", u"x"));
    xml.childPosition = 99;
    xml.currentPosition = -3;
    EXPECT_EQ(xml.GetChildText(), u"");
    EXPECT_FALSE(xml.SetChildText(u"x"));
    EXPECT_FALSE(xml.FindChildElement(nullptr));
    EXPECT_EQ(xml.documentText, u"only text");
    EXPECT_EQ(Internals(xml).ReadTagName(0), u"");
}

// A caller may change documentText between parses; an index left over from a text of another
// length reads nothing and changes nothing, so no read runs past the end of the new text.
TEST_F(XmlReading, TextChangedSinceTheParseIsNeitherReadNorEdited) {
    Parse(u"<a><b x=\"1\">some longer text</b></a>");
    ASSERT_TRUE(xml.FindChildElement(u"b"));
    xml.documentText = u"<a><b";
    EXPECT_EQ(xml.GetChildText(), u"");
    EXPECT_EQ(xml.GetChildAttribute(u"x"), u"");
    EXPECT_FALSE(xml.SetChildText(u"new"));
    EXPECT_FALSE(xml.SetChildAttribute(u"x", u"2"));
    EXPECT_EQ(xml.documentText, u"<a><b");

    Parse(u"<a><b x=\"3\">t</b></a>");
    ASSERT_TRUE(xml.FindChildElement(u"b"));
    EXPECT_EQ(xml.GetChildText(), u"t");
    EXPECT_EQ(xml.GetChildAttribute(u"x"), u"3");
}

TEST_F(XmlReading, ReadTagNameStopsAtLookupSeparators) {
    Parse(u"<a?b><c=d/><\u00e9l/></a?b>");
    EXPECT_EQ(Narrow(Internals(xml).ReadTagName(1)), "a");
    EXPECT_EQ(Narrow(Internals(xml).ReadTagName(2)), "c");
    EXPECT_EQ(Internals(xml).ReadTagName(3), u"\u00e9l");
}

struct TextCase {
    std::u16string document;
    std::string text;
};

class RootTextCases : public XmlReading, public testing::WithParamInterface<TextCase> {};

TEST_P(RootTextCases, GetChildTextOfTheRoot) {
    EXPECT_EQ(RootText(GetParam().document), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RootTextCases,
    testing::Values(TextCase{u"<a>x &amp; y</a>", "x & y"},
                    TextCase{u"<a>1<!--c--><![CDATA[<2>]]> 3</a>", "1<2> 3"}, TextCase{u"<a/>", ""},
                    TextCase{u"<a><b/>t</a>", ""}, TextCase{u"<a> </a>", " "},
                    TextCase{u"<a> <!--c--> </a>", ""}, TextCase{u"<a>x<?p?>y</a>", "xy"},
                    TextCase{u"<a>&#65;&#x42;&#0;</a>", "AB&#0;"},
                    TextCase{u"<a>&#123456789;</a>", "&#123456789;"}, TextCase{u"<a>&amp</a>", "&amp"},
                    TextCase{u"<a>&nbsp;</a>", "&nbsp;"}, TextCase{u"<a>&lt;&gt;&apos;&quot;</a>", "<>'\""},
                    TextCase{u"<a>&amp;amp;</a>", "&amp;"}, TextCase{u"<a>a > b</a>", "a > b"},
                    TextCase{u"<a><![CDATA[]]></a>", ""}, TextCase{u"<a><![C]]>x</a>", "x"},
                    TextCase{u"<a>x</a", ""}));

TEST_F(XmlReading, TextOfAnUnendedElementIsEmpty) {
    EXPECT_EQ(FirstChildText(u"<r><u>text</r>"), "");
    EXPECT_EQ(FirstChildText(u"<r><u>text</u></r>"), "text");
}

struct DecodeCase {
    std::u16string input;
    std::u16string decoded;
};

class DecodeEntitiesCases : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeEntitiesCases, Decodes) {
    EXPECT_EQ(Internals<const CFileXml>::DecodeEntities(GetParam().input, 0, -1), GetParam().decoded)
        << Narrow(GetParam().input);
}

// A numeric reference is taken when at most 7 characters stand between "#" (or "x") and ";" and
// it names a character; the number is read like the C library reads a long.
INSTANTIATE_TEST_SUITE_P(
    Table, DecodeEntitiesCases,
    testing::Values(DecodeCase{u"&#65;&#x42;&#0;", u"AB&#0;"}, DecodeCase{u"&#1234567;", u"&#1234567;"},
                    DecodeCase{u"&#0000065;", u"A"}, DecodeCase{u"&#00000065;", u"&#00000065;"},
                    DecodeCase{u"&#x000041;", u"A"}, DecodeCase{u"&#x20AC;", u"\u20AC"},
                    DecodeCase{u"&#65ab;", u"A"}, DecodeCase{u"&# 65;", u"A"},
                    DecodeCase{u"&#X41;", u"&#X41;"}, DecodeCase{u"&#x0x41;", u"A"},
                    DecodeCase{u"&#x0X41;", u"A"}, DecodeCase{u"&#x41;", u"A"}, DecodeCase{u"&#;", u"&#;"},
                    DecodeCase{u"&#65", u"&#65"},
                    // Beyond U+FFFF: a surrogate pair, not the low 16 bits.
                    DecodeCase{u"&#65536;", u"\U00010000"}, DecodeCase{u"&#x1F600;", u"\U0001F600"},
                    DecodeCase{u"&#x10FFFF;", u"\U0010FFFF"},
                    // Not characters: left as written.
                    DecodeCase{u"&#x110000;", u"&#x110000;"}, DecodeCase{u"&#1114112;", u"&#1114112;"},
                    DecodeCase{u"&#xD800;", u"&#xD800;"}, DecodeCase{u"&#-65;", u"&#-65;"},
                    DecodeCase{u"&lt;&amp;&gt;&apos;&quot;", u"<&>'\""}, DecodeCase{u"&lt", u"&lt"},
                    DecodeCase{u"&LT;", u"&LT;"}, DecodeCase{u"a&&amp;b", u"a&&b"}, DecodeCase{u"&", u"&"}));

TEST(DecodeEntities, NamesMustEndInsideTheStretch) {
    const std::u16string text = u"x&amp;y";
    EXPECT_EQ(Internals<const CFileXml>::DecodeEntities(text, 1, 5), u"&");
    EXPECT_EQ(Internals<const CFileXml>::DecodeEntities(text, 1, 4), u"&amp");
    EXPECT_EQ(Internals<const CFileXml>::DecodeEntities(u"&#65;", 0, 4), u"&#65");
}

struct AttributeCase {
    std::u16string document;
    const char16_t* name;
    std::string value;
};

class AttributeCases : public XmlReading, public testing::WithParamInterface<AttributeCase> {};

TEST_P(AttributeCases, GetChildAttributeOfTheRoot) {
    EXPECT_EQ(RootAttribute(GetParam().document, GetParam().name), GetParam().value)
        << Narrow(GetParam().document);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AttributeCases,
    testing::Values(AttributeCase{u"<e v=\"a>b\"/>", u"v", "a>b"},
                    AttributeCase{u"<e v = 'a b' />", u"v", "a b"},
                    AttributeCase{u"<e\tv\n=\r\"1\"/>", u"v", "1"}, AttributeCase{u"<e v=1/>", u"v", "1/"},
                    AttributeCase{u"<e v w=2 />", u"v", "v"}, AttributeCase{u"<e w=2 />", u"v", ""},
                    AttributeCase{u"<e w=2 />", u"w", "2"}, AttributeCase{u"<e v=x?y />", u"v", "x?y"},
                    AttributeCase{u"<e vv='1' v='2'/>", u"v", "2"},
                    AttributeCase{u"<e v='1' v='2'/>", u"v", "1"},
                    AttributeCase{u"<e a='v=3' v='4'/>", u"v", "4"},
                    AttributeCase{u"<e v='a &amp; &#x42;'/>", u"v", "a & B"},
                    AttributeCase{u"<e 'v'=1 v=2/>", u"v", "2/"}, AttributeCase{u"<e v/>", u"v", "v"},
                    AttributeCase{u"<e v=>", u"v", "v"}, AttributeCase{u"<e v='1'></e>", nullptr, ""},
                    AttributeCase{u"<e v='1'></e>", u"", ""}, AttributeCase{u"<e v='1'></e>", u"v=", "1"},
                    AttributeCase{u"<e v='1'></e>", u"e", ""},
                    // Only the element's own start tag is read.
                    AttributeCase{u"<e a '><f ' v=\"9\"></e>", u"v", ""}));

TEST_F(XmlReading, AttributeNamesIgnoreCaseOnlyWhenAsked) {
    EXPECT_EQ(RootAttribute(u"<r><e Name='x'/></r>", u"name"), "");
    xml.matchFlags = CFileXml::kMatchIgnoreCase;
    ASSERT_TRUE(xml.FindChildElement(u"E"));
    EXPECT_EQ(Narrow(xml.GetChildAttribute(u"name")), "x");
}

TEST(FindAttribute, StopsAfterTheLastAttributeWhenNotFound) {
    const std::u16string text = u"<e a='1'  b=2 \t/>";
    CFileXml::TokenCursor cursor;
    cursor.text = text;
    cursor.position = 1;
    EXPECT_FALSE(Internals<const CFileXml>::FindAttribute(cursor, u"c"));
    EXPECT_EQ(cursor.position, 13);
    cursor.position = 1;
    ASSERT_TRUE(Internals<const CFileXml>::FindAttribute(cursor, u"a"));
    EXPECT_TRUE(cursor.quoted);
    EXPECT_TRUE(cursor.isValue);
    EXPECT_EQ(cursor.tokenStart, 6);
    EXPECT_EQ(cursor.tokenEnd, 6);
    cursor.position = 1;
    ASSERT_TRUE(Internals<const CFileXml>::FindAttribute(cursor, u"b"));
    EXPECT_FALSE(cursor.quoted);
    EXPECT_EQ(cursor.tokenStart, 12);
}

}  // namespace
