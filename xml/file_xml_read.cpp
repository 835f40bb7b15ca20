// Navigation by element positions and reading of element text and attributes.
#include <array>

#include "xml/file_xml.h"
#include "xml/file_xml_chars.h"

using xml_chars::Has;
using xml_chars::IsBlank;

namespace {

bool IsDigitOf(char16_t c, int base) {
    if (c >= u'0' && c <= u'9') {
        return true;
    }
    return base == 16 && ((c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F'));
}

int DigitValue(char16_t c) {
    if (c >= u'0' && c <= u'9') {
        return c - u'0';
    }
    if (c >= u'a' && c <= u'f') {
        return c - u'a' + 10;
    }
    return c - u'A' + 10;
}

// Reads a number the way the C library's wide-string-to-long conversion does: leading white space,
// a sign, for base 16 an optional "0x", then digits up to the first character that is not one. The
// stretch is at most 7 characters, so the value cannot overflow.
std::int64_t ReadLong(const char16_t* s, std::int32_t i, std::int32_t end, int base) {
    while (i < end && (IsBlank(s[i]) || s[i] == u'\v' || s[i] == u'\f')) {
        ++i;
    }
    bool negative = false;
    if (i < end && (s[i] == u'+' || s[i] == u'-')) {
        negative = s[i] == u'-';
        ++i;
    }
    if (base == 16 && end - i >= 3 && s[i] == u'0' && (s[i + 1] == u'x' || s[i + 1] == u'X') &&
        IsDigitOf(s[i + 2], 16)) {
        i += 2;
    }
    std::int64_t value = 0;
    while (i < end && IsDigitOf(s[i], base)) {
        value = value * base + DigitValue(s[i]);
        ++i;
    }
    return negative ? -value : value;
}

// A numeric reference is written as the character it names only when that is a character: from
// U+0001 to U+10FFFF, surrogates excluded. Anything else (0, negative, beyond U+10FFFF, a lone
// surrogate half, which would later swallow its neighbour when the text is saved) stays as written.
bool AppendCodePoint(std::int64_t value, std::u16string& out) {
    if (value <= 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return false;
    }
    if (value < 0x10000) {
        out.push_back(static_cast<char16_t>(value));
        return true;
    }
    const std::int64_t above = value - 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (above >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (above & 0x3FF)));
    return true;
}

struct NamedEntity {
    std::u16string_view name;
    char16_t character;
};
constexpr std::array<NamedEntity, 5> kNamedEntities{{
    {u"lt;", u'<'},
    {u"amp;", u'&'},
    {u"gt;", u'>'},
    {u"apos;", u'\''},
    {u"quot;", u'"'},
}};

}  // namespace

// ---- Positions ---------------------------------------------------------------------------------

void CFileXml::ResetPosition() {
    parentPosition = 0;
    currentPosition = 0;
    childPosition = 0;
}

void CFileXml::ResetChildPosition() {
    childPosition = 0;
}

bool CFileXml::TagNameMatches(std::int32_t element, const char16_t* name) const {
    TokenCursor cursor;
    cursor.text = documentText;
    cursor.matchFlags = matchFlags;
    const char16_t* s = documentText.data();
    const auto end = static_cast<std::int32_t>(documentText.size());
    std::int32_t i = Record(element).start + 1;
    while (i < end && IsBlank(s[i])) {
        ++i;
    }
    if (i >= end) {
        return false;
    }
    cursor.tokenStart = i;
    cursor.tokenEnd = xml_chars::SkipUntil<xml_chars::kTagNameStop>(s, i + 1, end) - 1;
    return NameMatches(cursor, name);
}

std::u16string CFileXml::ReadTagName(std::int32_t element) const {
    if (!IsElement(element)) {
        return {};
    }
    const char16_t* s = documentText.data();
    const auto end = static_cast<std::int32_t>(documentText.size());
    std::int32_t i = Record(element).start + 1;
    while (i < end && IsBlank(s[i])) {
        ++i;
    }
    if (i >= end) {
        return {};
    }
    const std::int32_t nameEnd = xml_chars::SkipUntil<xml_chars::kTagNameStop>(s, i + 1, end);
    return documentText.substr(static_cast<std::size_t>(i), static_cast<std::size_t>(nameEnd - i));
}

std::int32_t CFileXml::SearchSiblings(std::int32_t parent, std::int32_t from, const char16_t* name) const {
    std::int32_t candidate = from != 0 ? Record(from).next : Record(parent).firstChild;
    if (name == nullptr || *name == 0) {
        return candidate;
    }
    while (candidate != 0 && !TagNameMatches(candidate, name)) {
        candidate = Record(candidate).next;
    }
    return candidate;
}

bool CFileXml::FindElement(const char16_t* name) {
    const std::int32_t parent = IsElement(parentPosition) ? parentPosition : 0;
    const std::int32_t from = IsElement(currentPosition) ? currentPosition : 0;
    const std::int32_t found = SearchSiblings(parent, from, name);
    if (found == 0) {
        return false;
    }
    currentPosition = found;
    parentPosition = Record(found).parent;
    childPosition = 0;
    return true;
}

bool CFileXml::FindChildElement(const char16_t* name) {
    if (!IsElement(currentPosition)) {
        FindElement(nullptr);
    }
    const std::int32_t current = IsElement(currentPosition) ? currentPosition : 0;
    const std::int32_t from = IsElement(childPosition) ? childPosition : 0;
    const std::int32_t found = SearchSiblings(current, from, name);
    if (found == 0) {
        return false;
    }
    childPosition = found;
    currentPosition = Record(found).parent;
    parentPosition = Record(currentPosition).parent;
    return true;
}

bool CFileXml::EnterElement() {
    if (currentPosition == 0) {
        return false;
    }
    parentPosition = currentPosition;
    currentPosition = childPosition;
    childPosition = 0;
    return true;
}

bool CFileXml::LeaveElement() {
    if (parentPosition == 0) {
        return false;
    }
    childPosition = currentPosition;
    currentPosition = parentPosition;
    parentPosition = IsElement(currentPosition) ? Record(currentPosition).parent : 0;
    return true;
}

// ---- Reading -----------------------------------------------------------------------------------

std::u16string CFileXml::GetChildText() const {
    return GetElementText(childPosition);
}

std::u16string CFileXml::GetChildAttribute(const char16_t* name) const {
    return GetElementAttribute(childPosition, name);
}

std::u16string CFileXml::GetElementText(std::int32_t element) const {
    // The document record (0) always reads as empty text.
    if (!IsElement(element) || !IndexFitsText()) {
        return {};
    }
    const ElementRecord& record = Record(element);
    if (record.firstChild != 0 || record.startTagLength == record.length) {
        return {};
    }
    const std::int32_t contentStart = record.start + record.startTagLength;
    const std::int32_t contentLength = record.length - record.startTagLength - EndTagLength(element);
    if (contentLength <= 0) {
        return {};
    }
    const std::int32_t contentEnd = contentStart + contentLength;
    const std::u16string_view content(documentText.data() + contentStart,
                                      static_cast<std::size_t>(contentLength));
    if (content.find(u'<') == std::u16string_view::npos) {
        return DecodeEntities(documentText, contentStart, contentLength);
    }

    std::u16string result;
    TokenCursor cursor;
    cursor.text = std::u16string_view(documentText).substr(0, static_cast<std::size_t>(contentEnd));
    cursor.position = contentStart;
    cursor.matchFlags = matchFlags;
    ScannedNode node;
    while (cursor.position < contentEnd) {
        switch (ScanNode(cursor, node)) {
            case NodeKind::Text:
                result += DecodeEntities(documentText, node.start, node.length);
                break;
            case NodeKind::CData:
                // "<![CDATA[" and "]]>" around; a section too short to hold both adds nothing.
                if (node.length >= 12) {
                    result.append(documentText, static_cast<std::size_t>(node.start + 9),
                                  static_cast<std::size_t>(node.length - 12));
                }
                break;
            case NodeKind::EndOfText:
                return result;
            case NodeKind::EndTag:
            case NodeKind::StartTag:
            case NodeKind::Whitespace:
            case NodeKind::ProcessingInstruction:
            case NodeKind::Comment:
            case NodeKind::Declaration:
            case NodeKind::Malformed:
                break;
        }
    }
    return result;
}

std::u16string CFileXml::GetElementAttribute(std::int32_t element, const char16_t* name) const {
    if (!IsElement(element) || name == nullptr || !IndexFitsText()) {
        return {};
    }
    const ElementRecord& record = Record(element);
    TokenCursor cursor;
    // Only the element's own start tag is read.
    cursor.text = std::u16string_view(documentText)
                      .substr(0, static_cast<std::size_t>(record.start + record.startTagLength));
    cursor.position = record.start + 1;
    cursor.matchFlags = matchFlags;
    if (!FindAttribute(cursor, name)) {
        return {};
    }
    return DecodeEntities(cursor.text, cursor.tokenStart, cursor.tokenEnd - cursor.tokenStart + 1);
}

bool CFileXml::FindAttribute(TokenCursor& cursor, const char16_t* name) {
    enum class Match { None, AwaitEquals, AwaitValue };
    const char16_t* s = cursor.text.data();
    const auto end = static_cast<std::int32_t>(cursor.text.size());
    const std::int32_t keptStart = cursor.tokenStart;
    const std::int32_t keptEnd = cursor.tokenEnd;
    std::int32_t p = cursor.position;
    std::int32_t afterLast = p;
    bool atTagName = true;
    bool valueNext = false;
    Match match = Match::None;
    std::int32_t nameStart = 0;
    std::int32_t nameEnd = -1;
    const std::u16string_view wanted = name != nullptr ? std::u16string_view(name) : std::u16string_view();
    // How the scanner reads the tag up to p, followed token by token while both readings agree:
    // outside quotes, and whether an "=" was its last character that is not a blank. Once a token
    // could be read differently by the two, the scanner's state is no longer known.
    bool scanKnown = false;
    bool scanAfterEquals = false;
    bool nameScanKnown = false;
    auto reportScan = [&](std::int32_t at, bool known, bool afterEquals) {
        cursor.scanAt = at;
        cursor.scanKnown = known;
        cursor.scanAfterEquals = afterEquals;
    };

    auto succeedOnName = [&]() {
        cursor.tokenStart = nameStart;
        cursor.tokenEnd = nameEnd;
        cursor.position = nameEnd + 1;
        cursor.quoted = false;
        cursor.isValue = false;
        reportScan(nameEnd + 1, nameScanKnown, false);
        return true;
    };
    auto fail = [&]() {
        cursor.tokenStart = keptStart;
        cursor.tokenEnd = keptEnd;
        cursor.position = afterLast;
        reportScan(afterLast, scanKnown, scanAfterEquals);
        return false;
    };

    while (true) {
        while (p < end && IsBlank(s[p])) {
            ++p;
        }
        if (p >= end) {
            return match != Match::None ? succeedOnName() : fail();
        }
        const char16_t c = s[p];
        if (!atTagName && match == Match::None && !valueNext &&
            !Has(c, xml_chars::kAttributeStop | xml_chars::kTagSpecial)) {
            // The usual shape, a name, "=" and a quoted value, taken in one step when the name is
            // not the wanted one; the steps below give the same for it, one token at a time. Such a
            // name holds nothing the scanner looks at, so it reads the three as they are read here.
            const std::int32_t equals =
                xml_chars::SkipUntil<xml_chars::kAttributeStop | xml_chars::kTagSpecial>(s, p + 1, end);
            if (end - equals >= 2 && s[equals] == u'=' && (s[equals + 1] == u'"' || s[equals + 1] == u'\'')) {
                const std::int32_t close = xml_chars::SkipUntilChar(s, equals + 2, end, s[equals + 1]);
                bool other = close < end;
                if (other && equals - p <= static_cast<std::int32_t>(wanted.size())) {
                    cursor.tokenStart = p;
                    cursor.tokenEnd = equals - 1;
                    other = !NameMatches(cursor, wanted);
                }
                if (other) {
                    scanAfterEquals = false;
                    afterLast = close + 1;
                    p = close + 1;
                    continue;
                }
            }
        }
        const bool quoted = c == u'"' || c == u'\'';
        std::int32_t tokenStart = p;
        std::int32_t tokenEnd = 0;
        std::int32_t next = 0;
        if (quoted) {
            const std::int32_t close = xml_chars::SkipUntilChar(s, p + 1, end, c);
            tokenStart = p + 1;
            tokenEnd = close - 1;
            next = close < end ? close + 1 : end;
        } else {
            // At least one character: a token that begins with a stop character is that character.
            const bool inValue = valueNext || match == Match::AwaitValue;
            const std::uint16_t stops = inValue ? xml_chars::kValueStop : xml_chars::kAttributeStop;
            if (Has(c, stops)) {
                next = p + 1;
            } else {
                next = inValue ? xml_chars::SkipUntil<xml_chars::kValueStop>(s, p + 1, end)
                               : xml_chars::SkipUntil<xml_chars::kAttributeStop>(s, p + 1, end);
            }
            tokenEnd = next - 1;
        }

        const bool knownBefore = scanKnown;
        const bool afterEqualsBefore = scanAfterEquals;
        if (atTagName) {
            // The scanner's tag name runs to a blank, "/" or ">"; this token ends at the same place
            // when one of those follows it, and the scanner then starts outside quotes.
            scanKnown = !quoted && next < end && Has(s[next], xml_chars::kNameStop);
            scanAfterEquals = false;
        } else if (scanKnown) {
            if (quoted) {
                // The scanner takes a quote as one only after an "="; it then ends where this token does.
                scanKnown = scanAfterEquals && next > tokenEnd + 1;
                scanAfterEquals = false;
            } else if (c == u'=' && next == p + 1) {
                scanAfterEquals = !scanAfterEquals;
            } else if (xml_chars::SkipUntil<xml_chars::kTagSpecial>(s, p, next) < next) {
                scanKnown = false;
            } else {
                scanAfterEquals = false;
            }
        }

        if (atTagName) {
            atTagName = false;
        } else if (!quoted && (c == u'>' || c == u'/' || c == u'?')) {
            scanKnown = knownBefore;
            scanAfterEquals = afterEqualsBefore;
            return match != Match::None ? succeedOnName() : fail();
        } else if (match == Match::AwaitValue) {
            cursor.tokenStart = tokenStart;
            cursor.tokenEnd = tokenEnd;
            cursor.position = next;
            cursor.quoted = quoted;
            cursor.isValue = true;
            reportScan(p, knownBefore, afterEqualsBefore);
            return true;
        } else if (valueNext) {
            valueNext = false;
        } else if (!quoted && c == u'=' && tokenEnd == tokenStart) {
            if (match == Match::AwaitEquals) {
                match = Match::AwaitValue;
            } else {
                valueNext = true;
            }
        } else if (match == Match::AwaitEquals) {
            return succeedOnName();
        } else if (!quoted && tokenEnd - tokenStart < static_cast<std::int32_t>(wanted.size())) {
            // A token longer than the wanted name cannot match it.
            cursor.tokenStart = tokenStart;
            cursor.tokenEnd = tokenEnd;
            if (NameMatches(cursor, wanted)) {
                match = Match::AwaitEquals;
                nameStart = tokenStart;
                nameEnd = tokenEnd;
                nameScanKnown = scanKnown;
            }
        }
        afterLast = next;
        p = next;
    }
}

std::u16string CFileXml::DecodeEntities(std::u16string_view text, std::int32_t start, std::int32_t count) {
    const auto size = static_cast<std::int32_t>(text.size());
    if (start < 0 || start > size) {
        return {};
    }
    const std::int32_t end = count < 0 || count > size - start ? size : start + count;
    const char16_t* s = text.data();
    std::u16string out;
    out.reserve(static_cast<std::size_t>(end - start));
    std::int32_t i = start;
    while (i < end) {
        const std::int32_t ampersand = xml_chars::SkipUntilChar(s, i, end, u'&');
        out.append(s + i, static_cast<std::size_t>(ampersand - i));
        i = ampersand;
        if (i >= end) {
            break;
        }
        if (i + 1 < end && s[i + 1] == u'#') {
            const bool hex = i + 2 < end && s[i + 2] == u'x';
            const std::int32_t digits = i + (hex ? 3 : 2);
            std::int32_t semicolon = digits;
            while (semicolon < end && semicolon - digits <= 7 && s[semicolon] != u';') {
                ++semicolon;
            }
            if (semicolon < end && semicolon - digits <= 7 &&
                AppendCodePoint(ReadLong(s, digits, semicolon, hex ? 16 : 10), out)) {
                i = semicolon + 1;
                continue;
            }
            out.push_back(u'&');
            ++i;
            continue;
        }
        bool replaced = false;
        for (const NamedEntity& entity : kNamedEntities) {
            const auto length = static_cast<std::int32_t>(entity.name.size());
            if (i + length < end &&
                text.substr(static_cast<std::size_t>(i + 1), entity.name.size()) == entity.name) {
                out.push_back(entity.character);
                i += 1 + length;
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            out.push_back(u'&');
            ++i;
        }
    }
    return out;
}
