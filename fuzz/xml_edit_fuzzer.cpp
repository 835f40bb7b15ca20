// Parse-then-edit fuzz target for the XML document.
//
// Input: byte 0 gives the number of edits (low 4 bits); then 4 bytes per edit (operation, element,
// name, value); the rest is the document as UTF-16 code units, two bytes each, low byte first.
// Checks: nothing crashes or reads out of bounds; after the edits the index is the one a fresh
// parse of the edited text builds (levels too when the first parse moved nothing); every lookup
// on every element gives the same answer in both.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "tests/xml/file_xml_internals.h"
#include "xml/file_xml.h"

using xml_testing::Internals;

namespace {

const char16_t* const kNames[] = {u"a",  u"name", u"code", u"v",   u"x y", u"x>y", u"q='",
                                  u"z/", u"=",    u"",     u"a=b", u"\"",  u"é",   u"ab[1]"};
const char16_t* const kValues[] = {u"",   u"x",   u"<&>'\"", u"&amp;", u"a b",    u"-5",
                                   u"/>", u"]]>", u"-->",    u"?>",    u"\xD83D", u"\U0001F600"};

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool SameShape(const CFileXml& a, const CFileXml& b, std::int32_t n, bool level) {
    const CFileXml::ElementRecord& x = Internals(a).Record(n);
    const CFileXml::ElementRecord& y = Internals(b).Record(n);
    return x.start == y.start && x.length == y.length && x.startTagLength == y.startTagLength &&
           Internals(a).EndTagLength(n) == Internals(b).EndTagLength(n) && x.parent == y.parent &&
           x.firstChild == y.firstChild && x.next == y.next && x.prev == y.prev &&
           (!level || Internals(a).Level(n) == Internals(b).Level(n));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const std::size_t edits = data[0] & 0x0F;
    const std::size_t scriptEnd = 1 + 4 * edits;
    if (size < scriptEnd) {
        return 0;
    }
    CFileXml xml;
    for (std::size_t k = scriptEnd; k + 1 < size; k += 2) {
        xml.documentText.push_back(static_cast<char16_t>(data[k] | (data[k + 1] << 8)));
    }
    xml.messageText.clear();
    const bool firstWellFormed = xml.ParseDocument();

    for (std::size_t e = 0; e < edits && xml.usedCount > 1; ++e) {
        const std::uint8_t* step = data + 1 + 4 * e;
        const std::int32_t element = 1 + step[1] % (xml.usedCount - 1);
        const char16_t* name = kNames[step[2] % (sizeof(kNames) / sizeof(kNames[0]))];
        const std::u16string value = kValues[step[3] % (sizeof(kValues) / sizeof(kValues[0]))];
        const bool hasChildren = Internals(xml).Record(element).firstChild != 0;
        switch (step[0] % 3) {
            case 0:
                Check(Internals(xml).SetElementText(element, value) == !hasChildren);
                break;
            case 1:
                Internals(xml).SetElementAttribute(element, name, value);
                break;
            default:
                xml.parentPosition = Internals(xml).Record(Internals(xml).Record(element).parent).parent;
                xml.currentPosition = Internals(xml).Record(element).parent;
                xml.childPosition = element;
                xml.SetChildAttribute(name, static_cast<std::int32_t>(step[3]) - 128);
                break;
        }
        Check(Internals(xml).Record(0).length == static_cast<std::int32_t>(xml.documentText.size()));
    }

    CFileXml fresh;
    fresh.documentText = xml.documentText;
    fresh.ParseDocument();
    Check(fresh.usedCount == xml.usedCount);
    Check(Internals(fresh).Record(0).firstChild == Internals(xml).Record(0).firstChild);
    for (std::int32_t n = 1; n < xml.usedCount; ++n) {
        Check(SameShape(xml, fresh, n, firstWellFormed));
        Check(Internals(xml).GetElementText(n) == Internals(fresh).GetElementText(n));
        for (const char16_t* name : {u"a", u"name", u"v"}) {
            Check(Internals(xml).GetElementAttribute(n, name) ==
                  Internals(fresh).GetElementAttribute(n, name));
        }
    }
    // Navigation from the top through every level cannot fail harmfully.
    xml.ResetPosition();
    while (xml.FindChildElement(nullptr) && xml.EnterElement()) {
        xml.GetChildText();
        xml.LeaveElement();
        xml.EnterElement();
    }
    return 0;
}
