// The scanner that cuts the document into nodes, the element index and the parse that fills it.
#include <algorithm>
#include <string_view>
#include <utility>

#include "xml/file_xml.h"
#include "xml/file_xml_chars.h"

using xml_chars::ClassOf;
using xml_chars::DecimalText;
using xml_chars::Has;
using xml_chars::IsBlank;
using xml_chars::SkipUntil;

namespace {

// Scanner mode bits.
constexpr std::uint32_t kAfterLt = 0x01;
constexpr std::uint32_t kAfterBang = 0x02;
constexpr std::uint32_t kAfterBangDash = 0x04;
constexpr std::uint32_t kAfterBangBracket = 0x08;
constexpr std::uint32_t kInBlanks = 0x10;
constexpr std::uint32_t kInDoctype = 0x20;
constexpr std::uint32_t kInSingleQuote = 0x40;
constexpr std::uint32_t kInDoubleQuote = 0x80;
constexpr std::uint32_t kAfterEquals = 0x100;

constexpr std::int32_t kNoName = 0;

std::u16string Incorrect(const char16_t* what, std::int32_t offset) {
    return u"Incorrect " + std::u16string(what) + u" at offset " + DecimalText(offset);
}

const char16_t* UnterminatedWhat(CFileXml::NodeKind kind, std::uint32_t mode) {
    using Kind = CFileXml::NodeKind;
    if ((mode & kInDoctype) != 0 || kind == Kind::Declaration) {
        return u"Doctype";
    }
    switch (kind) {
        case Kind::StartTag:
            return u"Element tag";
        case Kind::EndTag:
            return u"Element end tag";
        case Kind::CData:
            return u"CDATA Section";
        case Kind::ProcessingInstruction:
            return u"Processing instruction";
        case Kind::Comment:
            return u"Comment";
        case Kind::Text:
        case Kind::Whitespace:
        case Kind::Declaration:
        case Kind::Malformed:
        case Kind::EndOfText:
            return u"tag";
    }
    return u"tag";
}

// last and beforeLast after every character of s[from, to) went past them.
inline void ShiftLast(const char16_t* s, std::int32_t from, std::int32_t to, char16_t& beforeLast,
                      char16_t& last) {
    if (to - from >= 2) {
        beforeLast = s[to - 2];
        last = s[to - 1];
        return;
    }
    if (to - from == 1) {
        beforeLast = last;
        last = s[from];
    }
}

}  // namespace

// ---- Construction ------------------------------------------------------------------------------

CFileXml::CFileXml() {
    ParseDocument();
    matchFlags = 0;
}

CFileXml::~CFileXml() = default;

// ---- Scanner -----------------------------------------------------------------------------------

// The scanner reads the text character by character as a small state machine; wherever a run of
// characters cannot change the state (the rest of a name, the body of a text or comment, a quoted
// value), it jumps over the run through the character-class table.
CFileXml::NodeKind CFileXml::ScanNode(TokenCursor& cursor, ScannedNode& node) const {
    const char16_t* s = cursor.text.data();
    const auto end = static_cast<std::int32_t>(cursor.text.size());
    std::int32_t i = cursor.position;
    node.start = i;
    node.nodeFlags = 0;
    if (i >= end) {
        node.kind = NodeKind::EndTag;
        node.length = 0;
        return NodeKind::EndOfText;
    }

    if (ScanCommonNode(cursor, node)) {
        return node.kind;
    }

    NodeKind kind = NodeKind::Malformed;
    std::int32_t nameStart = kNoName;
    std::uint32_t mode = 0;
    const char16_t* closer = nullptr;
    std::int32_t closerLength = 0;
    char16_t last = 0;
    char16_t beforeLast = 0;
    std::int32_t ending = -1;

    while (i < end) {
        if (nameStart != kNoName) {
            i = SkipUntil<xml_chars::kNameStop>(s, i, end);
            if (i >= end) {
                break;
            }
            if (kind == NodeKind::EndTag) {
                cursor.tokenStart = nameStart;
                cursor.tokenEnd = i - 1;
            } else {
                node.text.assign(s + nameStart, static_cast<std::size_t>(i - nameStart));
            }
            nameStart = kNoName;
            last = 0;
            beforeLast = 0;
        }
        char16_t c = s[i];

        if (closerLength != 0) {
            if (c == u'>' && (mode & (kInSingleQuote | kInDoubleQuote)) == 0) {
                bool cleared = false;
                if (closerLength == 1) {
                    cleared = true;
                    if (kind == NodeKind::StartTag && last == u'/' &&
                        (beforeLast == 0 || IsBlank(beforeLast) || beforeLast == u'\'' ||
                         beforeLast == u'"')) {
                        node.nodeFlags |= kEmptyElement;
                    }
                } else if (i > closerLength &&
                           std::equal(closer, closer + closerLength - 1, s + i - closerLength + 1)) {
                    cleared = true;
                }
                if (cleared) {
                    closerLength = 0;
                    if ((mode & kInDoctype) == 0) {
                        ending = i;
                        break;
                    }
                }
                ++i;
                continue;
            }
            if (c == u'<' && (kind == NodeKind::Text || kind == NodeKind::Malformed)) {
                ending = i - 1;
                break;
            }
            switch (kind) {
                case NodeKind::StartTag:
                case NodeKind::Malformed: {
                    const bool malformed = kind == NodeKind::Malformed;
                    if ((mode & (kInSingleQuote | kInDoubleQuote)) != 0) {
                        const char16_t quote = (mode & kInSingleQuote) != 0 ? u'\'' : u'"';
                        if (c != quote) {
                            // Inside a quote only the same quote (and "<" in a malformed node) acts.
                            const std::int32_t j =
                                xml_chars::SkipUntilEither(s, i + 1, end, quote, malformed ? u'<' : quote);
                            ShiftLast(s, i, j, beforeLast, last);
                            i = j;
                            continue;
                        }
                        mode &= ~(kInSingleQuote | kInDoubleQuote);
                    } else if (!Has(c, xml_chars::kTagSpecial)) {
                        const std::int32_t j = SkipUntil<xml_chars::kTagSpecial>(s, i + 1, end);
                        mode &= ~kAfterEquals;
                        ShiftLast(s, i, j, beforeLast, last);
                        i = j;
                        continue;
                    } else if (c == u'\'' || c == u'"') {
                        if ((mode & kAfterEquals) != 0) {
                            mode = (mode & ~kAfterEquals) | (c == u'\'' ? kInSingleQuote : kInDoubleQuote);
                        }
                    } else if (c == u'=') {
                        mode ^= kAfterEquals;
                    } else if (!IsBlank(c)) {
                        mode &= ~kAfterEquals;
                    }
                    beforeLast = last;
                    last = c;
                    break;
                }
                case NodeKind::Declaration:
                    if (c == u'\'' && (mode & kInDoubleQuote) == 0) {
                        mode ^= kInSingleQuote;
                    } else if (c == u'"' && (mode & kInSingleQuote) == 0) {
                        mode ^= kInDoubleQuote;
                    } else {
                        i = SkipUntil<xml_chars::kDeclarationStop>(s, i + 1, end);
                        continue;
                    }
                    break;
                case NodeKind::Text:
                    i = xml_chars::SkipUntilEither(s, i + 1, end, u'<', u'>');
                    continue;
                case NodeKind::EndTag:
                case NodeKind::CData:
                case NodeKind::Comment:
                case NodeKind::ProcessingInstruction:
                    i = xml_chars::SkipUntilChar(s, i + 1, end, u'>');
                    continue;
                case NodeKind::Whitespace:
                case NodeKind::EndOfText:
                    break;
            }
            ++i;
            continue;
        }

        if (mode == 0) {
            if (c == u'<') {
                mode |= kAfterLt;
            } else if (IsBlank(c)) {
                mode |= kInBlanks;
                kind = NodeKind::Whitespace;
            } else {
                kind = NodeKind::Text;
                closer = u"<";
                closerLength = 1;
            }
        } else if ((mode & kInBlanks) != 0) {
            if (c == u'<') {
                ending = i - 1;
                break;
            }
            if (IsBlank(c)) {
                while (i + 1 < end && IsBlank(s[i + 1])) {
                    ++i;
                }
            } else {
                kind = NodeKind::Text;
                closer = u"<";
                closerLength = 1;
            }
        } else if ((mode & kAfterLt) != 0) {
            mode &= ~kAfterLt;
            if ((ClassOf(c) & xml_chars::kNameStart) != 0) {
                kind = NodeKind::StartTag;
                closer = u">";
                closerLength = 1;
                nameStart = i;
            } else if (c == u'/') {
                kind = NodeKind::EndTag;
                closer = u">";
                closerLength = 1;
                nameStart = i + 1;
            } else if (c == u'!') {
                mode |= kAfterBang;
            } else if (c == u'?') {
                kind = NodeKind::ProcessingInstruction;
                closer = u"?>";
                closerLength = 2;
                nameStart = i + 1;
            } else {
                kind = NodeKind::Malformed;
                closer = u">";
                closerLength = 1;
                node.text = Incorrect(u"tag name character", node.start);
            }
        } else if ((mode & kAfterBang) != 0) {
            mode &= ~kAfterBang;
            if (c == u'-') {
                mode |= kAfterBangDash;
            } else if (c == u'[' && (mode & kInDoctype) == 0) {
                mode |= kAfterBangBracket;
            } else if (c == u'D' && (mode & kInDoctype) == 0) {
                mode |= kInDoctype;
            } else {
                closer = u">";
                closerLength = 1;
                if (c == u'E' || c == u'A' || c == u'N') {
                    kind = NodeKind::Declaration;
                } else {
                    kind = NodeKind::Malformed;
                    node.text = Incorrect(u"! tag", node.start);
                }
            }
        } else if ((mode & kAfterBangDash) != 0) {
            mode &= ~kAfterBangDash;
            if (c == u'-') {
                kind = NodeKind::Comment;
                closer = u"-->";
                closerLength = 3;
            } else {
                kind = NodeKind::Malformed;
                closer = u">";
                closerLength = 1;
                node.text = Incorrect(u"comment tag", node.start);
            }
        } else if ((mode & kAfterBangBracket) != 0) {
            mode &= ~kAfterBangBracket;
            if (c == u'C') {
                kind = NodeKind::CData;
                closer = u"]]>";
                closerLength = 3;
            } else {
                kind = NodeKind::Malformed;
                closer = u">";
                closerLength = 1;
                node.text = Incorrect(u"tag", node.start);
            }
        } else if ((mode & kInDoctype) != 0) {
            if (c == u'<') {
                mode |= kAfterLt;
            } else if (c == u'>') {
                kind = NodeKind::Declaration;
                ending = i;
                break;
            } else {
                i = SkipUntil<xml_chars::kTextStop>(s, i + 1, end);
                continue;
            }
        }
        ++i;
    }

    if (ending < 0) {
        ending = end - 1;
        if (kind != NodeKind::Text && kind != NodeKind::Whitespace) {
            node.text = std::u16string(UnterminatedWhat(kind, mode)) + u" at offset " +
                        DecimalText(node.start) + u" unterminated";
            kind = NodeKind::Malformed;
        }
    }
    cursor.position = ending + 1;
    node.length = ending + 1 - node.start;
    node.kind = kind;
    return kind;
}

// Nearly every node of a settings file is a run of blanks or text before a tag, a start tag whose
// attribute values are quoted, or an end tag. This reads those in tight loops, following exactly the
// rules of the general scan for their kind, and finishes the node as it would. Anything else (another
// kind, a tag that the end of the text cuts) is left untouched to the general scan: false.
bool CFileXml::ScanCommonNode(TokenCursor& cursor, ScannedNode& node) const {
    const char16_t* s = cursor.text.data();
    const auto end = static_cast<std::int32_t>(cursor.text.size());
    const std::int32_t i = cursor.position;
    std::int32_t ending = -1;
    NodeKind kind = NodeKind::Whitespace;

    if (s[i] != u'<') {
        std::int32_t j = i;
        while (j < end && IsBlank(s[j])) {
            ++j;
        }
        if (j > i && (j == end || s[j] == u'<')) {
            ending = j - 1;
        } else {
            // The first character that is not a blank makes the node text, which then ends before a
            // "<", at a ">" or at the end of the text.
            kind = NodeKind::Text;
            const std::int32_t k = xml_chars::SkipUntilEither(s, j + 1, end, u'<', u'>');
            ending = k >= end ? end - 1 : s[k] == u'>' ? k : k - 1;
        }
    } else if (s[i] == u'<' && end - i >= 3 && s[i + 1] == u'/') {
        kind = NodeKind::EndTag;
        const std::int32_t nameEnd = SkipUntil<xml_chars::kNameStop>(s, i + 2, end);
        if (nameEnd >= end) {
            return false;
        }
        ending = s[nameEnd] == u'>' ? nameEnd : xml_chars::SkipUntilChar(s, nameEnd + 1, end, u'>');
        if (ending >= end) {
            return false;
        }
        cursor.tokenStart = i + 2;
        cursor.tokenEnd = nameEnd - 1;
    } else if (s[i] == u'<' && end - i >= 3 && (ClassOf(s[i + 1]) & xml_chars::kNameStart) != 0) {
        kind = NodeKind::StartTag;
        const std::int32_t nameEnd = SkipUntil<xml_chars::kNameStop>(s, i + 2, end);
        bool afterEquals = false;
        std::int32_t j = nameEnd;
        while (j < end) {
            const char16_t c = s[j];
            if (!afterEquals && IsBlank(c) && end - j >= 2 && !Has(s[j + 1], xml_chars::kTagSpecial)) {
                // The usual shape, a blank, a name, "=" and a quoted value, taken in one step; the
                // rules below give the same for it, one character at a time.
                const std::int32_t equals = SkipUntil<xml_chars::kTagSpecial>(s, j + 2, end);
                if (end - equals >= 2 && s[equals] == u'=' &&
                    (s[equals + 1] == u'"' || s[equals + 1] == u'\'')) {
                    const std::int32_t close = xml_chars::SkipUntilChar(s, equals + 2, end, s[equals + 1]);
                    if (close < end) {
                        j = close + 1;
                        continue;
                    }
                }
            }
            if (!Has(c, xml_chars::kTagSpecial)) {
                // A run of name or unquoted value characters.
                afterEquals = false;
                j = SkipUntil<xml_chars::kTagSpecial>(s, j + 1, end);
                continue;
            }
            if (c == u'>') {
                break;
            }
            if ((c == u'"' || c == u'\'') && afterEquals) {
                // A quoted value: only the same quote ends it.
                afterEquals = false;
                j = xml_chars::SkipUntilChar(s, j + 1, end, c) + 1;
                continue;
            }
            if (c == u'=') {
                afterEquals = !afterEquals;
            } else if (c != u'"' && c != u'\'' && !IsBlank(c)) {
                afterEquals = false;
            }
            ++j;
        }
        if (j >= end) {
            return false;
        }
        ending = j;
        // The two characters before the ">" that followed the name decide whether the tag is empty.
        const char16_t last = j - 1 >= nameEnd ? s[j - 1] : char16_t{0};
        const char16_t beforeLast = j - 2 >= nameEnd ? s[j - 2] : char16_t{0};
        if (last == u'/' &&
            (beforeLast == 0 || IsBlank(beforeLast) || beforeLast == u'\'' || beforeLast == u'"')) {
            node.nodeFlags |= kEmptyElement;
        }
        node.text.assign(s + i + 1, static_cast<std::size_t>(nameEnd - i - 1));
    } else {
        return false;
    }

    cursor.position = ending + 1;
    node.length = ending + 1 - i;
    node.kind = kind;
    return true;
}

// ---- Element index -----------------------------------------------------------------------------

void CFileXml::GrowIndex(std::int32_t requested) {
    std::int32_t wanted = requested != 0 ? requested : usedCount + usedCount / 2;
    wanted = std::max(wanted, requested != 0 ? 1 : usedCount + 1);
    if (capacity >= wanted) {
        return;
    }
    // The first call has no segment yet and may add only segment 0.
    const std::int32_t lastSegment = capacity != 0 ? (capacity - 1) >> 16 : -1;
    std::int32_t newLastSegment = (wanted - 1) >> 16;
    if (newLastSegment > lastSegment + 1) {
        newLastSegment = lastSegment + 1;
        wanted = (lastSegment + 2) * kSegmentRecords;
    }
    if (segmentTableCapacity <= newLastSegment) {
        const std::int32_t tableSize = 2 * newLastSegment + 4;
        auto table =
            std::make_unique<std::unique_ptr<ElementRecord[]>[]>(static_cast<std::size_t>(tableSize));
        for (std::int32_t k = 0; k <= lastSegment; ++k) {
            table[k] = std::move(elementIndex[k]);
        }
        elementIndex = std::move(table);
        segmentTableCapacity = tableSize;
    }
    const std::int32_t oldLastCount = lastSegment >= 0 ? capacity - lastSegment * kSegmentRecords : 0;
    if (newLastSegment > lastSegment && lastSegment >= 0 && oldLastCount < kSegmentRecords) {
        auto full = std::make_unique_for_overwrite<ElementRecord[]>(kSegmentRecords);
        std::copy_n(elementIndex[lastSegment].get(), oldLastCount, full.get());
        elementIndex[lastSegment] = std::move(full);
    }
    const std::int32_t newCount = wanted - newLastSegment * kSegmentRecords;
    auto segment = std::make_unique_for_overwrite<ElementRecord[]>(static_cast<std::size_t>(newCount));
    if (newLastSegment == lastSegment) {
        std::copy_n(elementIndex[lastSegment].get(), oldLastCount, segment.get());
    }
    elementIndex[newLastSegment] = std::move(segment);
    capacity = wanted;
}

std::int32_t CFileXml::EndTagLength(std::int32_t element) const {
    const std::uint32_t shortLength = Record(element).flags >> kEndTagShift;
    if (shortLength != kLongEndTag) {
        return static_cast<std::int32_t>(shortLength);
    }
    const auto found = longEndTagLengths.find(element);
    return found != longEndTagLengths.end() ? found->second : 0;
}

void CFileXml::SetEndTagLength(std::int32_t element, std::int32_t length) {
    ElementRecord& record = Record(element);
    const bool wasLong = (record.flags >> kEndTagShift) == kLongEndTag;
    record.flags &= ~(kLongEndTag << kEndTagShift);
    if (length >= 0 && static_cast<std::uint32_t>(length) < kLongEndTag) {
        record.flags |= static_cast<std::uint32_t>(length) << kEndTagShift;
        if (wasLong) {
            longEndTagLengths.erase(element);
        }
        return;
    }
    record.flags |= kLongEndTag << kEndTagShift;
    longEndTagLengths[element] = length;
}

bool CFileXml::NameMatches(const TokenCursor& cursor, const char16_t* name) {
    return NameMatches(cursor, name != nullptr ? std::u16string_view(name) : std::u16string_view());
}

bool CFileXml::NameMatches(const TokenCursor& cursor, std::u16string_view name) {
    const char16_t* token = cursor.text.data() + cursor.tokenStart;
    const std::int32_t length = cursor.tokenEnd - cursor.tokenStart + 1;
    if (length > static_cast<std::int32_t>(name.size())) {
        return false;
    }
    const bool ignoreCase = (cursor.matchFlags & kMatchIgnoreCase) != 0;
    auto fold = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
    for (std::int32_t k = 0; k < length; ++k) {
        if (name[k] != token[k] && !(ignoreCase && fold(name[k]) == fold(token[k]))) {
            return false;
        }
    }
    if (static_cast<std::size_t>(length) == name.size()) {
        return true;
    }
    const char16_t after = name[static_cast<std::size_t>(length)];
    return after == u' ' || after == u'=' || after == u'/' || after == u'[' || after == u']';
}

// ---- Parse -------------------------------------------------------------------------------------

void CFileXml::SetMessageIfEmpty(const std::u16string& message) {
    if (messageText.empty()) {
        messageText = message;
    }
}

// Closes the innermost open element as unended: it keeps only its start tag, and its children
// move up to follow it under its parent. Their parent links are set by AdoptFollowingSiblings once
// a run of such closes is over, so that a deep nest of unended elements costs no more than its size.
void CFileXml::CloseUnended(std::int32_t element, std::int32_t& openParent) {
    Record(0).flags |= kIllFormedDocument;
    ElementRecord& record = Record(element);
    const std::int32_t parent = record.parent;
    record.flags |= kUnended;
    SetEndTagLength(element, 0);
    record.length = record.startTagLength;
    const std::int32_t firstMoved = record.firstChild;
    record.firstChild = 0;
    if ((record.flags & kIllFormedContent) != 0) {
        record.flags &= ~kIllFormedContent;
        Record(parent).flags |= kIllFormedContent;
    }
    if (firstMoved != 0) {
        const std::int32_t lastMoved = Record(firstMoved).prev;
        ElementRecord& first = Record(firstMoved);
        first.flags &= ~kFirstSibling;
        first.prev = element;
        Record(lastMoved).next = record.next;
        record.next = firstMoved;
        Record(Record(parent).firstChild).prev = lastMoved;
    }
    openParent = parent;
}

// Every sibling after element (all moved up out of unended elements that were closed one after
// another, the outermost being element) gets element's parent.
void CFileXml::AdoptFollowingSiblings(std::int32_t element) {
    const std::int32_t parent = Record(element).parent;
    for (std::int32_t sibling = Record(element).next; sibling != 0; sibling = Record(sibling).next) {
        Record(sibling).parent = parent;
    }
}

// The tag name of an open element, read from its start tag in the text: the characters after its
// "<" up to the first of " \t\n\r/>", exactly what the scanner took as the name of that start tag.
std::u16string_view CFileXml::OpenTagName(std::int32_t element) const {
    const char16_t* s = documentText.data();
    const auto end = static_cast<std::int32_t>(documentText.size());
    const std::int32_t nameStart = Record(element).start + 1;
    const std::int32_t nameEnd = SkipUntil<xml_chars::kNameStop>(s, std::min(nameStart + 1, end), end);
    return std::u16string_view(s + nameStart, static_cast<std::size_t>(nameEnd - nameStart));
}

// The elements whose end tag is awaited are openParent and its ancestors, depth of them: their
// names and offsets are read from the index and the text, so the parse keeps no copy of any name
// and its memory does not grow with the depth of the nesting beyond the index itself.
std::int32_t CFileXml::ParseElements() {
    TokenCursor cursor;
    cursor.text = documentText;
    cursor.matchFlags = matchFlags;
    ScannedNode node;
    std::int32_t depth = 0;
    std::int32_t openParent = 0;
    std::int32_t firstElement = 0;
    const std::uint32_t baseLevel = Record(0).flags & kLevelMask;

    while (true) {
        switch (ScanNode(cursor, node)) {
            case NodeKind::StartTag: {
                if (usedCount == capacity) {
                    GrowIndex(0);
                }
                const std::int32_t n = usedCount++;
                if (firstElement == 0) {
                    firstElement = n;
                }
                ElementRecord& record = Record(n);
                record.parent = openParent;
                record.next = 0;
                record.firstChild = 0;
                record.flags = (static_cast<std::uint32_t>(depth) + baseLevel) & kLevelMask;
                ElementRecord& parent = Record(openParent);
                if (parent.firstChild == 0) {
                    parent.firstChild = n;
                    record.prev = n;
                    record.flags |= kFirstSibling;
                } else {
                    ElementRecord& first = Record(parent.firstChild);
                    Record(first.prev).next = n;
                    record.prev = first.prev;
                    first.prev = n;
                }
                record.start = node.start;
                record.startTagLength = node.length;
                if ((node.nodeFlags & kEmptyElement) != 0) {
                    record.length = node.length;
                    break;
                }
                ++depth;
                openParent = n;
                break;
            }
            case NodeKind::EndTag: {
                std::int32_t element = openParent;
                std::int32_t k = depth - 1;
                while (k >= 0 && !NameMatches(cursor, OpenTagName(element))) {
                    element = Record(element).parent;
                    --k;
                }
                const std::int32_t endTagEnd = node.start + node.length;
                if (k < 0) {
                    Record(0).flags |= kIllFormedDocument;
                    Record(openParent).flags |= kIllFormedContent;
                    SetMessageIfEmpty(
                        u"No start tag for end tag '" +
                        std::u16string(cursor.text.substr(
                            static_cast<std::size_t>(cursor.tokenStart),
                            static_cast<std::size_t>(cursor.tokenEnd - cursor.tokenStart + 1))) +
                        u"' at offset " + DecimalText(node.start));
                    break;
                }
                ElementRecord& matched = Record(element);
                matched.length = endTagEnd - matched.start;
                SetEndTagLength(element, node.length);
                if (k < depth - 1 && messageText.empty()) {
                    messageText = u"End tag '" +
                                  std::u16string(cursor.text.substr(
                                      static_cast<std::size_t>(cursor.tokenStart),
                                      static_cast<std::size_t>(cursor.tokenEnd - cursor.tokenStart + 1))) +
                                  u"' at offset " + DecimalText(node.start + 1) +
                                  u" does not match start tag '" + std::u16string(OpenTagName(openParent)) +
                                  u"' at offset " + DecimalText(Record(openParent).start);
                }
                if (depth - 1 > k) {
                    std::int32_t closed = 0;
                    while (depth - 1 > k) {
                        closed = openParent;
                        CloseUnended(openParent, openParent);
                        --depth;
                    }
                    AdoptFollowingSiblings(closed);
                }
                --depth;
                openParent = Record(element).parent;
                break;
            }
            case NodeKind::Malformed:
                Record(0).flags |= kIllFormedDocument;
                Record(openParent).flags |= kIllFormedContent;
                SetMessageIfEmpty(node.text);
                break;
            case NodeKind::EndOfText:
                if (depth > 0) {
                    std::int32_t closed = 0;
                    while (depth > 0) {
                        if (messageText.empty()) {
                            messageText = u"Element '" + std::u16string(OpenTagName(openParent)) +
                                          u"' at offset " + DecimalText(Record(openParent).start) +
                                          u" not ended";
                        }
                        closed = openParent;
                        CloseUnended(openParent, openParent);
                        --depth;
                    }
                    AdoptFollowingSiblings(closed);
                }
                return firstElement;
            case NodeKind::Text:
            case NodeKind::Whitespace:
            case NodeKind::CData:
            case NodeKind::ProcessingInstruction:
            case NodeKind::Comment:
            case NodeKind::Declaration:
                break;
        }
    }
}

bool CFileXml::ParseDocument() {
    const std::u16string keptMessage = messageText;
    ResetPosition();
    usedCount = 1;
    GrowIndex(static_cast<std::int32_t>(documentText.size() / 64 + 8));
    Record(0) = ElementRecord{};
    longEndTagLengths.clear();

    if (documentText.empty()) {
        messageText = u"Empty document";
    } else {
        messageText.clear();
        const std::int32_t firstElement = ParseElements();
        Record(0).length = static_cast<std::int32_t>(documentText.size());
        if (firstElement == 0) {
            messageText = u"No root element";
        } else {
            Record(0).firstChild = firstElement;
            if (Record(firstElement).next != 0) {
                messageText = u"Root element has sibling";
            }
        }
    }

    ResetPosition();
    if (!keptMessage.empty()) {
        messageText = messageText.empty() ? keptMessage : keptMessage + u", " + messageText;
    }
    const ElementRecord& document = Record(0);
    return (document.flags & kIllFormedDocument) == 0 && document.firstChild != 0 &&
           Record(document.firstChild).next == 0;
}
