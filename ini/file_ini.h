// CFileIni: the read-only in-memory form of one INI file. It keeps every physical line as a CLinea,
// the accepted sections with their accepted entries, and answers single lookups ignoring letter
// case. Loading never rejects content: what cannot be taken into the model is kept as a comment.
//
// Ignoring case means folding the ASCII letters A-Z onto a-z; every other character, the letters
// U+00C0-U+00FF that bytes 0x80-0xFF become included, matches only itself. This is the comparison
// of a wide-string compare under the C locale, the same on every platform.
//
// The text of everything a load builds lives in one arena that the document owns: a load makes a
// few big allocations instead of one per string, and gives them back at once. Copies of records,
// sections and entries hold heap copies of their text and outlive the document; so does a copy of
// the whole document, which shares nothing with its source.
#pragma once

#include <cstdint>
#include <memory>
#include <memory_resource>
#include <string>
#include <string_view>

#include "ini/c_array.h"
#include "ini/linea.h"
#include "ini/wide_string.h"

class CFileIni {
public:
    struct Entry {
        // Never empty, no white space at either end, never contains "[" or ";".
        ini::WideString key;
        // Everything after the first "=", without its leading white space.
        ini::WideString value;
    };

    struct Sezione {
        // Exactly the characters between the opening bracket(s) and the first "]"; may be empty.
        ini::WideString name;
        CArray<Entry, Entry> entries;
    };

    CFileIni() = default;
    CFileIni(const CFileIni& other);
    CFileIni(CFileIni&& other) noexcept;
    CFileIni& operator=(const CFileIni& other);
    CFileIni& operator=(CFileIni&& other) noexcept;
    virtual ~CFileIni();

    // Reads filePath and builds lines and sections from it. False only when the file cannot be read
    // (then errorText is "Reading lines failed." and the document is empty). A document that was
    // loaded before is emptied first, so loading twice never doubles its sections.
    bool Load();

    // Builds lines and sections from a file's bytes exactly as Load does after reading them,
    // emptying the document first. Content never fails.
    void LoadContent(std::string_view bytes);

    // The value of key in section; an empty string with errorText set when either is missing.
    std::u16string GetValue(std::u16string_view section, std::u16string_view key);

    // Index of the first section whose name equals name ignoring case; -1 if none.
    std::int32_t FindSection(std::u16string_view name) const;

    // Index of the first entry of the section whose key equals key ignoring case; -1 if none or when
    // sectionIndex is not the index of a section.
    std::int32_t FindEntry(std::int32_t sectionIndex, std::u16string_view key) const;

    std::u16string filePath;
    CArray<CLinea, CLinea> lines;
    CArray<Sezione, Sezione> sections;
    std::u16string errorText;

private:
    // Drops lines and sections, then the arena their text lived in.
    void Clear();

    // Where the strings of the loaded lines, sections and entries live; none before the first load.
    std::unique_ptr<std::pmr::monotonic_buffer_resource> arena;
};
