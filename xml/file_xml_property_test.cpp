// The guarantee behind every merge: after any sequence of edits the index is exactly what a parse
// of the edited text would build, so an edit can never leave the document describing a text that
// is not there. Checked on many generated documents, well formed and faulty, with random edits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/xml/file_xml_internals.h"
#include "tests/xml/file_xml_test_support.h"
#include "xml/file_xml.h"

using xml_testing::Internals;

namespace {

using xml_testing::DocumentGenerator;
using xml_testing::IndexOf;
using xml_testing::Narrow;
using xml_testing::RecordView;

const char16_t* const kLookupNames[] = {u"brand", u"name", u"code",    u"item", u"v",
                                        u"x-y",   u"ns:z", u"\u00e9l", u"x"};

// Attribute names for edits: mostly those of the documents, a few that no document holds, and a
// few that cannot stand in a start tag.
const char16_t* EditName(DocumentGenerator& generator) {
    static const char16_t* const odd[] = {u"new", u"a b", u"x>y", u"q='", u"z/", u"=", u""};
    if (generator.Chance(6)) {
        return odd[generator.Below(sizeof(odd) / sizeof(odd[0]))];
    }
    return generator.Name();
}

// Every lookup the merge could make on element n gives the same answer in both documents.
void ExpectSameLookups(CFileXml& edited, CFileXml& fresh, std::int32_t n, const std::string& context) {
    EXPECT_EQ(Internals(edited).GetElementText(n), Internals(fresh).GetElementText(n))
        << context << " element " << n;
    for (const char16_t* name : kLookupNames) {
        EXPECT_EQ(Internals(edited).GetElementAttribute(n, name),
                  Internals(fresh).GetElementAttribute(n, name))
            << context << " element " << n << " attribute " << Narrow(name);
        for (CFileXml* xml : {&edited, &fresh}) {
            xml->parentPosition = Internals(*xml).Record(n).parent;
            xml->currentPosition = n;
            xml->childPosition = 0;
        }
        const bool foundEdited = edited.FindChildElement(name);
        EXPECT_EQ(foundEdited, fresh.FindChildElement(name)) << context << " element " << n;
        EXPECT_EQ(edited.childPosition, fresh.childPosition) << context << " element " << n;
        if (foundEdited) {
            EXPECT_EQ(edited.GetChildText(), fresh.GetChildText()) << context << " element " << n;
        }
    }
}

void RunEdits(std::uint32_t seed, bool faults) {
    DocumentGenerator generator(seed, faults);
    CFileXml xml;
    xml.documentText = generator.Document();
    xml.messageText.clear();
    const bool originalWellFormed = xml.ParseDocument();
    const std::string context = "seed " + std::to_string(seed) + " document " + Narrow(xml.documentText);
    if (xml.usedCount < 2) {
        return;
    }

    const int edits = 1 + generator.Below(10);
    for (int k = 0; k < edits; ++k) {
        const std::int32_t element = 1 + generator.Below(static_cast<std::size_t>(xml.usedCount - 1));
        xml.parentPosition = Internals(xml).Record(Internals(xml).Record(element).parent).parent;
        xml.currentPosition = Internals(xml).Record(element).parent;
        xml.childPosition = element;
        if (generator.Chance(2)) {
            const bool hasChildren = Internals(xml).Record(element).firstChild != 0;
            EXPECT_EQ(xml.SetChildText(generator.Value()), !hasChildren) << context;
        } else if (generator.Chance(4)) {
            xml.SetChildAttribute(EditName(generator), generator.Below(2000) - 1000);
        } else {
            xml.SetChildAttribute(EditName(generator), generator.Value());
        }
        EXPECT_EQ(xml.childPosition, element);
    }

    CFileXml fresh;
    fresh.documentText = xml.documentText;
    fresh.messageText.clear();
    const bool freshWellFormed = fresh.ParseDocument();
    const std::string edited = context + "\nedited " + Narrow(xml.documentText);
    const std::vector<RecordView> editedIndex = IndexOf(xml);
    const std::vector<RecordView> freshIndex = IndexOf(fresh);
    ASSERT_EQ(editedIndex.size(), freshIndex.size()) << edited;
    EXPECT_EQ(Internals(xml).Record(0).length, Internals(fresh).Record(0).length) << edited;
    EXPECT_EQ(Internals(xml).Record(0).firstChild, Internals(fresh).Record(0).firstChild) << edited;
    for (std::size_t k = 0; k < editedIndex.size(); ++k) {
        // Levels are compared only when the original parse moved nothing: an unended element's
        // children keep the level of the place where they were written.
        const bool same = originalWellFormed ? editedIndex[k].SameShapeAndLevel(freshIndex[k])
                                             : editedIndex[k].SameShape(freshIndex[k]);
        ASSERT_TRUE(same) << edited << "\nelement " << k + 1 << ": " << editedIndex[k] << " parsed "
                          << freshIndex[k];
    }
    if (originalWellFormed) {
        EXPECT_TRUE(freshWellFormed) << edited << "\n" << Narrow(fresh.messageText);
        return;
    }
    for (std::int32_t n = 1; n < xml.usedCount; ++n) {
        ExpectSameLookups(xml, fresh, n, edited);
    }
}

TEST(EditProperty, IndexAfterEditsOfWellFormedDocumentsEqualsFreshParse) {
    for (std::uint32_t seed = 1; seed <= 3000; ++seed) {
        RunEdits(seed, false);
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST(EditProperty, LookupsAfterEditsOfFaultyDocumentsEqualFreshParse) {
    for (std::uint32_t seed = 1; seed <= 2000; ++seed) {
        RunEdits(seed, true);
        if (HasFatalFailure()) {
            return;
        }
    }
}

TEST(EditProperty, GeneratedDocumentsAreWellFormedUnlessFaulty) {
    int wellFormed = 0;
    int faulty = 0;
    for (std::uint32_t seed = 1; seed <= 200; ++seed) {
        DocumentGenerator clean(seed, false);
        CFileXml xml;
        xml.documentText = clean.Document();
        xml.messageText.clear();
        EXPECT_TRUE(xml.ParseDocument()) << Narrow(xml.documentText) << "\n" << Narrow(xml.messageText);
        wellFormed += xml.usedCount > 3 ? 1 : 0;
        DocumentGenerator withFaults(seed, true);
        xml.documentText = withFaults.Document();
        faulty += xml.ParseDocument() ? 0 : 1;
    }
    // The generator must produce both kinds in numbers, or the properties above prove little.
    EXPECT_GT(wellFormed, 50);
    EXPECT_GT(faulty, 30);
}

}  // namespace
