// CFileIni: the read-only in-memory form of one INI file. It keeps every physical line as a CLinea,
// the accepted sections with their accepted entries, and answers single lookups ignoring letter
// case. Loading never rejects content: what cannot be taken into the model is kept as a comment.
//
// Ignoring case means folding the ASCII letters A-Z onto a-z; every other character, the letters
// U+00C0-U+00FF that bytes 0x80-0xFF become included, matches only itself. This is the comparison
// of a wide-string compare under the C locale, the same on every platform.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "ini/c_array.h"
#include "ini/linea.h"

class CFileIni {
public:
    struct Entry {
        // Never empty, no white space at either end, never contains "[" or ";".
        std::u16string key;
        // Everything after the first "=", without its leading white space.
        std::u16string value;
    };

    struct Sezione {
        // Exactly the characters between the opening bracket(s) and the first "]"; may be empty.
        std::u16string name;
        CArray<Entry, Entry> entries;
    };

    CFileIni() = default;
    CFileIni(const CFileIni&) = default;
    CFileIni(CFileIni&&) noexcept = default;
    CFileIni& operator=(const CFileIni&) = default;
    CFileIni& operator=(CFileIni&&) noexcept = default;
    virtual ~CFileIni();

    // Reads filePath and builds lines and sections from it. False only when the file cannot be read
    // (then errorText is "Reading lines failed." and the document is empty). A document that was
    // loaded before is emptied first, so loading twice never doubles its sections.
    bool Load();

    // Builds lines and sections from a file's bytes exactly as Load does after reading them,
    // emptying the document first. Content never fails.
    void LoadContent(std::string_view bytes);

    // The value of key in section; an empty string with errorText set when either is missing.
    std::u16string GetValue(const std::u16string& section, const std::u16string& key);

    // Index of the first section whose name equals name ignoring case; -1 if none.
    std::int32_t FindSection(const std::u16string& name) const;

    // Index of the first entry of the section whose key equals key ignoring case; -1 if none or when
    // sectionIndex is not the index of a section.
    std::int32_t FindEntry(std::int32_t sectionIndex, const std::u16string& key) const;

    std::u16string filePath;
    CArray<CLinea, CLinea> lines;
    CArray<Sezione, Sezione> sections;
    std::u16string errorText;

private:
    void Clear();
};
