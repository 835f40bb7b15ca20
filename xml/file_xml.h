// CFileXml: one XML settings document held as UTF-16 text with an index of its elements.
//
// Nothing but the text and the positions of its elements is stored. Reading scans the text at the
// offsets of the index; every edit splices the text and corrects the index arithmetically, so the
// index always describes the current text exactly.
//
// Callers see the documented members and operations. Scanning, index growth, splicing, offset
// shifting, record access, the segment table and the long end-tag table are the document's own;
// the tests reach them through xml_testing::Internals only. A caller may change documentText
// between parses: until the next ParseDocument, an index that no longer describes a text of that
// length reads as empty and refuses edits, and never leads a read past the end of the text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace xml_testing {
// The tests' one door to the document's internals (tests/xml/file_xml_internals.h).
template <typename Document>
class Internals;
}  // namespace xml_testing

class CFileXml {
public:
    // Kinds of node that ScanNode cuts the text into.
    enum class NodeKind : std::int32_t {
        EndTag = 0,
        StartTag = 1,
        Text = 2,
        Whitespace = 4,
        CData = 8,
        ProcessingInstruction = 16,
        Comment = 32,
        Declaration = 64,
        Malformed = -1,
        EndOfText = -2,
    };

    // matchFlags: tag and attribute names are compared ignoring letter case.
    static constexpr std::uint32_t kMatchIgnoreCase = 8;

    // ElementRecord::flags: the level sits in the low 16 bits, then the marks below; the top 8 bits
    // hold the end-tag length when it is below kLongEndTag (see EndTagLength).
    static constexpr std::uint32_t kLevelMask = 0xFFFF;
    static constexpr std::uint32_t kFirstSibling = 0x80000;
    static constexpr std::uint32_t kUnended = 0x100000;
    static constexpr std::uint32_t kIllFormedContent = 0x200000;
    static constexpr std::uint32_t kIllFormedDocument = 0x800000;
    static constexpr int kEndTagShift = 24;
    static constexpr std::uint32_t kLongEndTag = 0xFF;

    // ScannedNode::nodeFlags: the start tag ends in "/>".
    static constexpr std::uint32_t kEmptyElement = 0x10000;

    // The longest text the 32-bit offsets of the index can describe, in UTF-16 units; longer texts
    // and files are refused by LoadFileText and ParseDocument.
    static constexpr std::size_t kLongestText = 0x7FFFFFFF;

    // Records per segment of the index; element n lies in segment n >> 16 at slot n & 0xFFFF.
    static constexpr std::int32_t kSegmentRecords = 65536;

    // One element of the index, 32 bytes. Both tag lengths are kept whole: the start-tag length in
    // a field of its own, the end-tag length in the top byte of flags, or, when it does not fit
    // there, in longEndTagLengths. Use StartTagLength/EndTagLength/SetEndTagLength to read them.
    struct ElementRecord {
        std::int32_t start;           // offset of the element's "<"
        std::int32_t length;          // from "<" to the end of the end tag (or of the only tag)
        std::int32_t startTagLength;  // from "<" to the start tag's ">" inclusive
        std::uint32_t flags;          // level, marks, short end-tag length
        std::int32_t parent;
        std::int32_t firstChild;
        std::int32_t next;
        std::int32_t prev;  // the last sibling for a first child
    };

    // Scan state shared by the scanner and the attribute lookups. text ends where the scan must
    // stop: the whole document, or one start tag for attribute lookups.
    struct TokenCursor {
        std::int32_t tokenStart = 0;
        std::int32_t tokenEnd = -1;  // tokenStart - 1 for an empty token
        std::int32_t position = 0;
        std::u16string_view text;
        std::uint32_t matchFlags = 0;
        bool quoted = false;   // the token was written between quotes
        bool isValue = false;  // FindAttribute found a value, not a bare attribute name
        // Left by FindAttribute for a cursor that starts just after the "<" of a start tag: whether
        // the scanner's reading of the tag at offset scanAt is known to be outside quotes, and then
        // whether a quote there would open a value (the scanner has just read an "=").
        std::int32_t scanAt = -1;
        bool scanKnown = false;
        bool scanAfterEquals = false;
    };

    // One node cut by ScanNode.
    struct ScannedNode {
        NodeKind kind = NodeKind::Malformed;
        std::int32_t start = 0;
        std::int32_t length = 0;
        std::uint32_t nodeFlags = 0;
        std::u16string text;  // tag name, processing-instruction target or message
    };

    // How EncodeEntities escapes: for element content, or for an attribute value in double quotes.
    enum class EncodeMode { Content, Attribute };

    CFileXml();
    ~CFileXml();
    CFileXml(const CFileXml&) = delete;
    CFileXml& operator=(const CFileXml&) = delete;

    // Reads a UTF-8 file into text (replacing it). True when the file could be opened. message,
    // when given, receives the count message or the system error text; encoding is read and left
    // unchanged.
    static bool LoadFileText(const std::u16string& filePath, std::u16string& text,
                             std::u16string* message = nullptr, std::int32_t* encoding = nullptr);

    // Writes text to a file as UTF-8, replacing the file whole or not at all. True when the file
    // was written. message and encoding as for LoadFileText.
    static bool SaveFileText(const std::u16string& filePath, const std::u16string& text,
                             std::u16string* message = nullptr, std::int32_t* encoding = nullptr);

    // ---- Parse --------------------------------------------------------------------------------

    // Rebuilds the index from documentText and resets the positions. True when the document has
    // exactly one root element and no error was met; messageText then holds the first problem.
    bool ParseDocument();

    // ---- Navigation and reading ---------------------------------------------------------------
    // A null or empty name matches any element. Positions are element numbers, 0 meaning none.

    void ResetPosition();
    void ResetChildPosition();
    bool FindElement(const char16_t* name);
    bool FindChildElement(const char16_t* name);
    bool EnterElement();
    bool LeaveElement();
    std::u16string GetChildText() const;
    std::u16string GetChildAttribute(const char16_t* name) const;

    // ---- Editing ------------------------------------------------------------------------------
    // Each changes the text in one splice and keeps the index exact; none moves the cursor.

    bool SetChildAttribute(const char16_t* name, const std::u16string& value);
    bool SetChildAttribute(const char16_t* name, std::int32_t number);
    bool SetChildText(const std::u16string& text);

    std::u16string documentText;
    std::u16string messageText;
    std::int32_t parentPosition = 0;
    std::int32_t currentPosition = 0;
    std::int32_t childPosition = 0;
    std::int32_t usedCount = 0;
    std::uint32_t matchFlags = 0;

private:
    template <typename Document>
    friend class xml_testing::Internals;

    // ---- Internal operations, reached by the tests through xml_testing::Internals -------------

    // ParseDocument with another limit than kLongestText for the text's length.
    bool ParseDocumentWithin(std::size_t longestText);
    NodeKind ScanNode(TokenCursor& cursor, ScannedNode& node) const;
    void GrowIndex(std::int32_t requested);
    static bool NameMatches(const TokenCursor& cursor, const char16_t* name);
    // The same for a wanted name that ends with the view rather than at a zero character.
    static bool NameMatches(const TokenCursor& cursor, std::u16string_view name);

    std::u16string ReadTagName(std::int32_t element) const;
    std::u16string GetElementText(std::int32_t element) const;
    std::u16string GetElementAttribute(std::int32_t element, const char16_t* name) const;
    static bool FindAttribute(TokenCursor& cursor, const char16_t* name);
    // Decodes count characters of text from start (to the end when count is -1).
    static std::u16string DecodeEntities(std::u16string_view text, std::int32_t start, std::int32_t count);

    bool SetElementAttribute(std::int32_t element, const char16_t* name, const std::u16string& value);
    bool EndsSameTag(std::int32_t start, std::int32_t tagLength, std::uint32_t tagFlags) const;
    bool SetElementText(std::int32_t element, const std::u16string& text);
    static std::u16string EncodeEntities(std::u16string_view text, EncodeMode mode);
    void ReplaceText(std::int32_t offset, std::int32_t count, std::u16string_view newText);
    // Replaces count characters at offset by length characters to be written by the caller, with
    // the growth rule of ReplaceText; returns where they go.
    char16_t* OpenGap(std::int32_t offset, std::int32_t count, std::size_t length);
    void ShiftOffsets(std::int32_t element, std::int32_t change);

    // Record access; element must be below usedCount (0 is the document record).
    ElementRecord& Record(std::int32_t element) {
        return elementIndex[element >> 16][element & (kSegmentRecords - 1)];
    }
    const ElementRecord& Record(std::int32_t element) const {
        return elementIndex[element >> 16][element & (kSegmentRecords - 1)];
    }
    // True for the number of an element of the index (not 0, not beyond usedCount).
    bool IsElement(std::int32_t element) const { return element > 0 && element < usedCount; }
    std::int32_t StartTagLength(std::int32_t element) const { return Record(element).startTagLength; }
    std::int32_t EndTagLength(std::int32_t element) const;
    void SetEndTagLength(std::int32_t element, std::int32_t length);
    std::uint32_t Level(std::int32_t element) const { return Record(element).flags & kLevelMask; }

    // True while the index describes a text of documentText's length: the parse and every edit
    // keep the document record's length equal to it. A text changed by a caller since fails it.
    bool IndexFitsText() const {
        return usedCount > 0 && static_cast<std::size_t>(Record(0).length) == documentText.size();
    }

    std::unique_ptr<std::unique_ptr<ElementRecord[]>[]> elementIndex;
    std::int32_t capacity = 0;
    std::int32_t segmentTableCapacity = 0;
    // End-tag lengths of kLongEndTag characters or more, by element number.
    std::unordered_map<std::int32_t, std::int32_t> longEndTagLengths;

    std::int32_t SearchSiblings(std::int32_t parent, std::int32_t from, const char16_t* name) const;
    bool TagNameMatches(std::int32_t element, const char16_t* name) const;
    bool ScanCommonNode(TokenCursor& cursor, ScannedNode& node) const;
    std::int32_t ParseElements();
    std::u16string_view OpenTagName(std::int32_t element) const;
    void CloseUnended(std::int32_t element, std::int32_t& openParent);
    void AdoptFollowingSiblings(std::int32_t element);
    void SetMessageIfEmpty(const std::u16string& message);
};
