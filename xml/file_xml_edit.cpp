// Editing: attributes and text content of existing elements, changed by splicing the text and
// correcting the index arithmetically.
#include <algorithm>
#include <cstdint>

#include "xml/file_xml.h"
#include "xml/file_xml_chars.h"

using xml_chars::IsBlank;

bool CFileXml::SetChildAttribute(const char16_t* name, const std::u16string& value) {
    return SetElementAttribute(childPosition, name, value);
}

bool CFileXml::SetChildAttribute(const char16_t* name, std::int32_t number) {
    return SetElementAttribute(childPosition, name, xml_chars::DecimalText(number));
}

bool CFileXml::SetChildText(const std::u16string& text) {
    return SetElementText(childPosition, text);
}

std::u16string CFileXml::EncodeEntities(std::u16string_view text, EncodeMode mode) {
    std::u16string out;
    out.reserve(text.size() + text.size() / 10 + 7);
    const bool attribute = mode == EncodeMode::Attribute;
    for (const char16_t c : text) {
        if (out.capacity() - out.size() < 6) {
            out.reserve(out.capacity() * 4);
        }
        if (c == u'<') {
            out += u"&lt;";
        } else if (c == u'&') {
            out += u"&amp;";
        } else if (c == u'>') {
            out += u"&gt;";
        } else if (c == u'\'' && attribute) {
            out += u"&apos;";
        } else if (c == u'"' && attribute) {
            out += u"&quot;";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

namespace {

// Characters below 64 that EncodeEntities replaces, as bits: "<", "&", ">" in both modes, and "'"
// and '"' in attribute mode.
constexpr std::uint64_t kContentSpecial = (1ULL << '<') | (1ULL << '&') | (1ULL << '>');
constexpr std::uint64_t kAttributeSpecial = kContentSpecial | (1ULL << '\'') | (1ULL << '"');

std::uint64_t SpecialsOf(CFileXml::EncodeMode mode) {
    return mode == CFileXml::EncodeMode::Attribute ? kAttributeSpecial : kContentSpecial;
}

bool IsSpecial(char16_t c, std::uint64_t specials) {
    return c < 64 && ((specials >> c) & 1) != 0;
}

// The replacement of a character that IsSpecial reports.
std::u16string_view EntityFor(char16_t c) {
    switch (c) {
        case u'<':
            return u"&lt;";
        case u'&':
            return u"&amp;";
        case u'>':
            return u"&gt;";
        case u'\'':
            return u"&apos;";
        default:
            return u"&quot;";
    }
}

// Number of characters EncodeEntities(text, mode) gives.
std::size_t EncodedLength(std::u16string_view text, CFileXml::EncodeMode mode) {
    const std::uint64_t specials = SpecialsOf(mode);
    std::size_t length = text.size();
    for (const char16_t c : text) {
        if (IsSpecial(c, specials))
            length += EntityFor(c).size() - 1;
    }
    return length;
}

// Writes EncodeEntities(text, mode) at out, which has room for EncodedLength(text, mode)
// characters; returns the end of what it wrote. Runs without special characters are copied whole.
char16_t* EncodeInto(std::u16string_view text, CFileXml::EncodeMode mode, char16_t* out) {
    const std::uint64_t specials = SpecialsOf(mode);
    const char16_t* s = text.data();
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        std::size_t j = i;
        while (j < size && !IsSpecial(s[j], specials))
            ++j;
        out = std::copy(s + i, s + j, out);
        if (j == size)
            break;
        const std::u16string_view entity = EntityFor(s[j]);
        out = std::copy(entity.begin(), entity.end(), out);
        i = j + 1;
    }
    return out;
}

}  // namespace

void CFileXml::ReplaceText(std::int32_t offset, std::int32_t count, std::u16string_view newText) {
    const std::size_t newLength = documentText.size() - static_cast<std::size_t>(count) + newText.size();
    if (newLength > documentText.capacity()) {
        documentText.reserve(newLength + newLength / 2 + 128);
    }
    documentText.replace(static_cast<std::size_t>(offset), static_cast<std::size_t>(count), newText);
}

char16_t* CFileXml::OpenGap(std::int32_t offset, std::int32_t count, std::size_t length) {
    const std::size_t newLength = documentText.size() - static_cast<std::size_t>(count) + length;
    if (newLength > documentText.capacity()) {
        documentText.reserve(newLength + newLength / 2 + 128);
    }
    documentText.replace(static_cast<std::size_t>(offset), static_cast<std::size_t>(count), length, u'\0');
    return documentText.data() + offset;
}

// Elements are numbered in document order and edits add none, so "every element after e in
// document order, its descendants first" is exactly every element numbered above e.
void CFileXml::ShiftOffsets(std::int32_t element, std::int32_t change) {
    if (element == 0 || change == 0) {
        return;
    }
    std::int32_t n = element + 1;
    while (n < usedCount) {
        ElementRecord* segment = elementIndex[n >> 16].get();
        const std::int32_t segmentEnd = std::min(usedCount, ((n >> 16) + 1) * kSegmentRecords);
        for (std::int32_t slot = n & (kSegmentRecords - 1); n < segmentEnd; ++n, ++slot) {
            segment[slot].start += change;
        }
    }
    std::int32_t ancestor = Record(element).parent;
    while (true) {
        Record(ancestor).length += change;
        if (ancestor == 0) {
            return;
        }
        ancestor = Record(ancestor).parent;
    }
}

// The tag a start tag of length tagLength at start ends with: a ">", and an empty-element mark as
// the scanner gives it (a "/" before the ">" that follows a blank or a quote; the tag name is
// always more than two characters before the ">" here).
bool CFileXml::EndsSameTag(std::int32_t start, std::int32_t tagLength, std::uint32_t tagFlags) const {
    const auto close = static_cast<std::size_t>(start + tagLength - 1);
    if (tagLength < 3 || close >= documentText.size() || documentText[close] != u'>') {
        return false;
    }
    const char16_t last = documentText[close - 1];
    const char16_t beforeLast = documentText[close - 2];
    const bool empty = last == u'/' && (IsBlank(beforeLast) || beforeLast == u'\'' || beforeLast == u'"');
    return (empty ? kEmptyElement : 0) == tagFlags;
}

// The start tag must read as the same tag after the splice: what it read as before comes from the
// index, which describes the text exactly. Where the attribute lookup shows the scanner's state at
// the splice, that and a look at the tag's end prove it; otherwise the tag is read whole again. The
// value is encoded straight into its place.
bool CFileXml::SetElementAttribute(std::int32_t element, const char16_t* name, const std::u16string& value) {
    if (!IsElement(element) || name == nullptr || !IndexFitsText()) {
        return false;
    }
    if (&value == &documentText) {
        return SetElementAttribute(element, name, std::u16string(value));
    }
    const std::int32_t start = Record(element).start;
    const std::int32_t startTagLength = Record(element).startTagLength;

    TokenCursor cursor;
    cursor.text =
        std::u16string_view(documentText).substr(0, static_cast<std::size_t>(start + startTagLength));
    cursor.position = start + 1;
    cursor.matchFlags = matchFlags;
    std::int32_t offset = 0;
    std::int32_t removed = 0;
    std::u16string before;
    // The scanner's state at offset that makes the tag read the same after the splice, and whether
    // the replaced text takes the scanner from that state back outside quotes with no "=" pending.
    bool afterEqualsAtOffset = false;
    bool replacedEndsPlain = true;
    if (!FindAttribute(cursor, name)) {
        // After the last attribute, before blanks and the closing ">", "/>" or "?>".
        offset = std::min(cursor.position, start + startTagLength - 1);
        before.assign(1, u' ').append(name).append(u"=\"");
        // The name must read as one plain run to the scanner.
        const auto nameLength = static_cast<std::int32_t>(before.size()) - 3;
        replacedEndsPlain = nameLength > 0 && xml_chars::SkipUntil<xml_chars::kTagSpecial>(
                                                  before.data(), 1, nameLength + 1) == nameLength + 1;
    } else if (cursor.isValue) {
        offset = cursor.quoted ? cursor.tokenStart - 1 : cursor.tokenStart;
        removed = cursor.position - offset;
        before.assign(1, u'"');
        afterEqualsAtOffset = true;
        // A quoted value ends at its closing quote; an unquoted one reads as a plain run when it
        // holds no character the scanner looks at.
        replacedEndsPlain = cursor.quoted
                                ? cursor.position == cursor.tokenEnd + 2
                                : xml_chars::SkipUntil<xml_chars::kTagSpecial>(
                                      documentText.data(), offset, cursor.position) == cursor.position;
    } else {
        // Written without a value: the name stays and gets one.
        offset = cursor.tokenEnd + 1;
        before.assign(u"=\"");
    }
    // Where the scanner reads the tag up to offset outside quotes, in the state the attribute
    // reading found, the new text "...=\"value\"" leaves it outside quotes with no "=" pending, as
    // the replaced text did; the rest of the tag is the same text read from the same state, so the
    // tag reads the same, only longer or shorter. Otherwise the whole tag is read again below.
    const bool sameReading = cursor.scanKnown && cursor.scanAt == offset &&
                             cursor.scanAfterEquals == afterEqualsAtOffset && replacedEndsPlain;

    // The start tag must still read as the same tag, only longer or shorter: where the attribute
    // reading and the scanner see quotes differently, a splice could otherwise swallow or cut the
    // tag, and the index would no longer describe the text. An element is empty ("/>") exactly when
    // its only tag is the whole element and it is not unended.
    const ElementRecord& record = Record(element);
    const std::uint32_t tagFlags =
        record.length == startTagLength && (record.flags & kUnended) == 0 ? kEmptyElement : 0;
    const std::u16string tagName(OpenTagName(element));
    const std::u16string replacedText =
        documentText.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(removed));
    const std::size_t insertedLength = before.size() + EncodedLength(value, EncodeMode::Attribute) + 1;
    // The offsets of the index are 32-bit: no edit makes the text longer than they can describe.
    if (documentText.size() + insertedLength > kLongestText) {
        return false;
    }
    char16_t* out = OpenGap(offset, removed, insertedLength);
    out = std::copy(before.begin(), before.end(), out);
    out = EncodeInto(value, EncodeMode::Attribute, out);
    *out = u'"';
    const std::int32_t change = static_cast<std::int32_t>(insertedLength) - removed;
    if (!sameReading || !EndsSameTag(start, startTagLength + change, tagFlags)) {
        TokenCursor scan;
        scan.text = documentText;
        scan.position = start;
        scan.matchFlags = matchFlags;
        ScannedNode after;
        if (ScanNode(scan, after) != NodeKind::StartTag || after.length != startTagLength + change ||
            after.nodeFlags != tagFlags || after.text != tagName) {
            ReplaceText(offset, static_cast<std::int32_t>(insertedLength), replacedText);
            return false;
        }
    }

    ElementRecord& changed = Record(element);
    changed.startTagLength += change;
    changed.length += change;
    ShiftOffsets(element, change);
    return true;
}

// The new content is encoded straight into its place in the text: a large value is never held
// encoded beside the text, nor copied once more into the splice.
bool CFileXml::SetElementText(std::int32_t element, const std::u16string& text) {
    if (!IsElement(element) || Record(element).firstChild != 0 || !IndexFitsText()) {
        return false;
    }
    if (&text == &documentText) {
        return SetElementText(element, std::u16string(text));
    }
    const std::size_t contentLength = EncodedLength(text, EncodeMode::Content);
    ElementRecord& record = Record(element);
    // The offsets of the index are 32-bit: no edit makes the text longer than they can describe
    // (an end tag written anew is shorter than the start tag plus 3).
    if (documentText.size() + contentLength + static_cast<std::size_t>(record.startTagLength) + 3 >
        kLongestText) {
        return false;
    }
    std::int32_t offset = record.start + record.startTagLength;
    std::int32_t removed = record.length - record.startTagLength - EndTagLength(element);
    std::u16string before;
    std::u16string after;

    if (record.startTagLength == record.length) {
        // The end tag repeats the name the parser read from the start tag, so that it always
        // closes this element when the text is parsed again.
        TokenCursor scan;
        scan.text = documentText;
        scan.position = record.start;
        scan.matchFlags = matchFlags;
        ScannedNode tag;
        if (ScanNode(scan, tag) != NodeKind::StartTag) {
            return false;
        }
        before.assign(1, u'>');
        after.assign(u"</").append(tag.text);
        const bool selfClosing =
            (record.flags & kUnended) == 0 &&
            documentText[static_cast<std::size_t>(record.start + record.length - 2)] == u'/';
        if (selfClosing) {
            offset = record.start + record.length - 2;
            removed = 1;
            record.startTagLength -= 1;
        } else {
            offset = record.start + record.startTagLength - 1;
            removed = 0;
            record.flags &= ~kUnended;
        }
        SetEndTagLength(element, static_cast<std::int32_t>(tag.text.size()) + 3);
    }

    const std::size_t insertedLength = before.size() + contentLength + after.size();
    char16_t* out = OpenGap(offset, removed, insertedLength);
    out = std::copy(before.begin(), before.end(), out);
    out = EncodeInto(text, EncodeMode::Content, out);
    std::copy(after.begin(), after.end(), out);
    const std::int32_t change = static_cast<std::int32_t>(insertedLength) - removed;
    record.length += change;
    ShiftOffsets(element, change);
    record.flags &= ~kIllFormedContent;
    return true;
}
