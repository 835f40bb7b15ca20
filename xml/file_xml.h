// CFileXml: one XML settings document held as UTF-16 text with an index of its elements.
#pragma once

#include <cstdint>
#include <string>

class CFileXml {
public:
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

    std::u16string documentText;
    std::u16string messageText;
};
