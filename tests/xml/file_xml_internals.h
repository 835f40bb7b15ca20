// xml_testing::Internals: the tests' one door to CFileXml's own operations and tables, which
// callers of the document never see. Internals(xml).Record(n) reaches a record of xml; a const
// document offers only its const operations. The static operations are reached as
// Internals<const CFileXml>::DecodeEntities(...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "xml/file_xml.h"

namespace xml_testing {

template <typename Document>
class Internals {
public:
    using NodeKind = CFileXml::NodeKind;
    using TokenCursor = CFileXml::TokenCursor;
    using ScannedNode = CFileXml::ScannedNode;
    using EncodeMode = CFileXml::EncodeMode;

    explicit Internals(Document& document) : doc(document) {}

    NodeKind ScanNode(TokenCursor& cursor, ScannedNode& node) const { return doc.ScanNode(cursor, node); }
    void GrowIndex(std::int32_t requested) const { doc.GrowIndex(requested); }
    bool ParseDocumentWithin(std::size_t longestText) const { return doc.ParseDocumentWithin(longestText); }
    std::u16string ReadTagName(std::int32_t element) const { return doc.ReadTagName(element); }
    std::u16string GetElementText(std::int32_t element) const { return doc.GetElementText(element); }
    std::u16string GetElementAttribute(std::int32_t element, const char16_t* name) const {
        return doc.GetElementAttribute(element, name);
    }
    bool SetElementAttribute(std::int32_t element, const char16_t* name, const std::u16string& value) const {
        return doc.SetElementAttribute(element, name, value);
    }
    bool SetElementText(std::int32_t element, const std::u16string& text) const {
        return doc.SetElementText(element, text);
    }
    void ReplaceText(std::int32_t offset, std::int32_t count, std::u16string_view newText) const {
        doc.ReplaceText(offset, count, newText);
    }
    void ShiftOffsets(std::int32_t element, std::int32_t change) const { doc.ShiftOffsets(element, change); }

    decltype(auto) Record(std::int32_t element) const { return doc.Record(element); }
    bool IsElement(std::int32_t element) const { return doc.IsElement(element); }
    std::int32_t StartTagLength(std::int32_t element) const { return doc.StartTagLength(element); }
    std::int32_t EndTagLength(std::int32_t element) const { return doc.EndTagLength(element); }
    void SetEndTagLength(std::int32_t element, std::int32_t length) const {
        doc.SetEndTagLength(element, length);
    }
    std::uint32_t Level(std::int32_t element) const { return doc.Level(element); }

    decltype(auto) elementIndex() const { return (doc.elementIndex); }
    decltype(auto) capacity() const { return (doc.capacity); }
    decltype(auto) segmentTableCapacity() const { return (doc.segmentTableCapacity); }
    decltype(auto) longEndTagLengths() const { return (doc.longEndTagLengths); }

    static bool NameMatches(const TokenCursor& cursor, const char16_t* name) {
        return CFileXml::NameMatches(cursor, name);
    }
    static bool NameMatches(const TokenCursor& cursor, std::u16string_view name) {
        return CFileXml::NameMatches(cursor, name);
    }
    static bool FindAttribute(TokenCursor& cursor, const char16_t* name) {
        return CFileXml::FindAttribute(cursor, name);
    }
    static std::u16string DecodeEntities(std::u16string_view text, std::int32_t start, std::int32_t count) {
        return CFileXml::DecodeEntities(text, start, count);
    }
    static std::u16string EncodeEntities(std::u16string_view text, EncodeMode mode) {
        return CFileXml::EncodeEntities(text, mode);
    }

private:
    Document& doc;
};

template <typename Document>
Internals(Document&) -> Internals<Document>;

}  // namespace xml_testing
