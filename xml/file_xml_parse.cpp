// The element index and the parse that fills it from the nodes the scanner cuts.
#include <algorithm>
#include <string_view>
#include <utility>

#include "xml/file_xml.h"
#include "xml/file_xml_chars.h"

using xml_chars::DecimalText;
using xml_chars::SkipUntil;

// ---- Construction ------------------------------------------------------------------------------

CFileXml::CFileXml() {
    ParseDocument();
    matchFlags = 0;
}

CFileXml::~CFileXml() = default;

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
    return ParseDocumentWithin(kLongestText);
}

bool CFileXml::ParseDocumentWithin(std::size_t longestText) {
    const std::u16string keptMessage = messageText;
    // A longer text would have its offsets cut to 32 bits: it is refused whole, with an empty index.
    const bool tooLong = documentText.size() > longestText;
    ResetPosition();
    usedCount = 1;
    GrowIndex(tooLong ? 8 : static_cast<std::int32_t>(documentText.size() / 64 + 8));
    Record(0) = ElementRecord{};
    longEndTagLengths.clear();

    if (tooLong) {
        messageText =
            u"Document longer than " + DecimalText(static_cast<std::int64_t>(longestText)) + u" characters";
    } else if (documentText.empty()) {
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
