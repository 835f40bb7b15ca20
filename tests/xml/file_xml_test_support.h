// Test helpers for the XML document: index snapshots, and a generator of settings-like documents
// (well formed or with faults) for the property, differential and fuzz tests.
#pragma once

#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "tests/xml/file_xml_internals.h"
#include "xml/file_xml.h"

namespace xml_testing {

// One element record with both tag lengths read whole.
struct RecordView {
    std::int32_t start;
    std::int32_t length;
    std::int32_t startTagLength;
    std::int32_t endTagLength;
    std::int32_t parent;
    std::int32_t firstChild;
    std::int32_t next;
    std::int32_t prev;
    std::uint32_t level;
    std::uint32_t marks;  // FirstSibling, Unended, IllFormedContent

    // Offsets, lengths and links: what must stay exact through every edit.
    bool SameShape(const RecordView& other) const {
        return start == other.start && length == other.length && startTagLength == other.startTagLength &&
               endTagLength == other.endTagLength && parent == other.parent &&
               firstChild == other.firstChild && next == other.next && prev == other.prev;
    }
    bool SameShapeAndLevel(const RecordView& other) const { return SameShape(other) && level == other.level; }
};

inline std::ostream& operator<<(std::ostream& out, const RecordView& r) {
    return out << "{start " << r.start << ", length " << r.length << ", tags " << r.startTagLength << "/"
               << r.endTagLength << ", parent " << r.parent << ", firstChild " << r.firstChild << ", next "
               << r.next << ", prev " << r.prev << ", level " << r.level << ", marks " << std::hex << r.marks
               << std::dec << "}";
}

inline RecordView ViewOf(const CFileXml& xml, std::int32_t n) {
    const CFileXml::ElementRecord& r = Internals(xml).Record(n);
    return {r.start,
            r.length,
            r.startTagLength,
            Internals(xml).EndTagLength(n),
            r.parent,
            r.firstChild,
            r.next,
            r.prev,
            r.flags & CFileXml::kLevelMask,
            r.flags & (CFileXml::kFirstSibling | CFileXml::kUnended | CFileXml::kIllFormedContent)};
}

// The element records 1 .. usedCount - 1.
inline std::vector<RecordView> IndexOf(const CFileXml& xml) {
    std::vector<RecordView> records;
    for (std::int32_t n = 1; n < xml.usedCount; ++n) {
        records.push_back(ViewOf(xml, n));
    }
    return records;
}

inline std::string Narrow(const std::u16string& text) {
    std::string out;
    for (const char16_t c : text) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out += "\\u" + std::to_string(static_cast<unsigned>(c));
        }
    }
    return out;
}

// Settings-like documents from a seeded generator: nested elements with attributes in both quote
// styles and unquoted, self-closing elements, comments, CDATA sections, references and blanks. With
// faults on, a few markup mistakes are sprinkled in (missing or stray end tags, a bad "<").
class DocumentGenerator {
public:
    // faults: sprinkle markup mistakes; unquoted: allow attribute values without quotes (which
    // standard XML refuses).
    explicit DocumentGenerator(std::uint32_t seed, bool faults = false, bool unquoted = true)
        : rng_(seed), faults_(faults), unquoted_(unquoted) {}

    std::u16string Document() {
        std::u16string out;
        if (Chance(2)) {
            out += u"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
        }
        if (Chance(4)) {
            out += u"<!-- settings -->\n";
        }
        Element(out, 0);
        if (Chance(4)) {
            out += u"\n";
        }
        return out;
    }

    // An attribute or text value with characters that need encoding now and then.
    std::u16string Value() {
        static const char16_t* const pieces[] = {
            u"x", u"42", u"Milano",     u" ",   u"<",  u">",      u"&", u"'", u"\"", u"&amp;",
            u"é", u"€",  u"\U0001F600", u"a b", u"-5", u"path/x", u"?", u"=", u"\t", u"caf\u00e9"};
        std::u16string value;
        const int count = Below(5);
        for (int k = 0; k < count; ++k) {
            value += pieces[Below(sizeof(pieces) / sizeof(pieces[0]))];
        }
        return value;
    }

    const char16_t* Name() {
        static const char16_t* const names[] = {u"brand", u"name", u"code", u"item",
                                                u"v",     u"x-y",  u"ns:z", u"\u00e9l"};
        return names[Below(sizeof(names) / sizeof(names[0]))];
    }

    int Below(std::size_t bound) { return static_cast<int>(rng_() % bound); }
    bool Chance(int oneIn) { return Below(static_cast<std::size_t>(oneIn)) == 0; }

private:
    // True when the last value was written without quotes.
    bool Attributes(std::u16string& out) {
        const int count = Below(4);
        bool lastUnquoted = false;
        for (int k = 0; k < count; ++k) {
            lastUnquoted = false;
            out += Chance(5) ? u"\n    " : u" ";
            out += Name();
            out += Chance(4) ? u" = " : u"=";
            switch (Below(4)) {
                case 0:
                    AppendQuoted(out, u'\'');
                    break;
                case 1:
                    AppendQuoted(out, u'"');
                    break;
                case 2:
                    if (unquoted_) {
                        out += u"unquoted";
                        out += static_cast<char16_t>(u'0' + Below(10));
                        lastUnquoted = true;
                        break;
                    }
                    out += u"'plain'";
                    break;
                default:
                    out += u"\"a &amp; b &lt;&#65;&#x42;&quot;\"";
                    break;
            }
        }
        return lastUnquoted;
    }

    // A quoted value, appended piece by piece to out.
    void AppendQuoted(std::u16string& out, char16_t quote) {
        out += quote;
        out += Plain(std::u16string_view(&quote, 1));
        out += quote;
    }

    // Text that may stand in a quoted value (never its quote) or in content.
    std::u16string Plain(std::u16string_view quote) {
        static const char16_t* const pieces[] = {u"text",   u" ",        u"&amp;",     u"&lt;",   u"&gt;",
                                                 u"&#233;", u"&#x20AC;", u"&#128512;", u"&nbsp;", u"é",
                                                 u"'",      u"\"",       u"1>2",       u"a/b"};
        std::u16string text;
        const int count = Below(4);
        for (int k = 0; k < count; ++k) {
            std::u16string piece = pieces[Below(sizeof(pieces) / sizeof(pieces[0]))];
            if (piece.find(quote) == std::u16string::npos) {
                text += piece;
            }
        }
        return text;
    }

    void Content(std::u16string& out, int depth) {
        const int count = Below(depth == 0 ? 9 : 5);
        for (int k = 0; k < count; ++k) {
            switch (Below(depth < 4 ? 9 : 5)) {
                case 0:
                    out += u"\n  ";
                    break;
                case 1:
                    out += u"<!-- note -->";
                    break;
                case 2:
                    out += u"<![CDATA[<raw> & ]]>";
                    break;
                case 3: {
                    std::u16string text = Plain(u"<");
                    for (char16_t& c : text) {
                        c = c == u'>' ? u'.' : c;
                    }
                    out += text;
                    break;
                }
                case 4:
                    out += u"<?pi data?>";
                    break;
                default:
                    Element(out, depth + 1);
                    break;
            }
        }
    }

    void Element(std::u16string& out, int depth) {
        const std::u16string name = Name();
        out += u"<" + name;
        // A "/" straight after an unquoted value would belong to the value.
        const bool lastUnquoted = Attributes(out);
        if (faults_ && Chance(15)) {
            out += u"<1";
        }
        if (depth > 0 && Chance(4)) {
            out += lastUnquoted || Chance(2) ? u" />" : u"/>";
            return;
        }
        out += Chance(6) ? u" >" : u">";
        Content(out, depth);
        if (faults_ && Chance(10)) {
            out += u"</stray>";
        }
        if (faults_ && Chance(10)) {
            return;  // end tag missing
        }
        out += u"</" + name + (Chance(6) ? u" >" : u">");
    }

    std::mt19937 rng_;
    bool faults_;
    bool unquoted_;
};

}  // namespace xml_testing
