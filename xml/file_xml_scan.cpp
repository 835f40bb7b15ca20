// The scanner that cuts the document's text into nodes: tags, runs of text and blanks, comments,
// CDATA sections, processing instructions and declarations.
#include <cstdint>
#include <string>

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
