// Loads arbitrary bytes into a CFileIni and checks the result two ways: the invariants that every
// load keeps (record links, unique names, each record rebuilding its raw line), and equality with
// a plain model that applies the load rules to widened lines the slow, literal way. Any
// difference aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "ini/file_ini.h"

namespace {

void Require(bool condition, const char* what) {
    if (condition)
        return;
    std::fprintf(stderr, "ini_load: %s\n", what);
    std::abort();
}

bool IsWhite(char16_t c) {
    return c == u' ' || (c >= 9 && c <= 13);
}

bool AllWhite(std::u16string_view text) {
    for (const char16_t c : text) {
        if (!IsWhite(c))
            return false;
    }
    return true;
}

std::u16string Lower(std::u16string_view text) {
    std::u16string lower(text);
    for (char16_t& c : lower) {
        if (c >= u'A' && c <= u'Z')
            c = static_cast<char16_t>(c + 32);
    }
    return lower;
}

// The raw lines: one character per byte, cut at CR LF only.
std::vector<std::u16string> SplitLines(const std::uint8_t* data, std::size_t size) {
    std::vector<std::u16string> lines(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0x0D && i + 1 < size && data[i + 1] == 0x0A) {
            lines.emplace_back();
            ++i;
            continue;
        }
        lines.back().push_back(data[i]);
    }
    return lines;
}

struct Record {
    std::int32_t kind = 0;
    std::u16string indent, text, padBefore, padAfter;
    std::int32_t section = -1, entry = -1;
};

struct Model {
    std::vector<Record> records;
    std::vector<std::u16string> names;
    std::vector<std::vector<std::pair<std::u16string, std::u16string>>> entries;
};

// The load rules, step by step, on whole strings.
Model LoadLiterally(const std::vector<std::u16string>& raws) {
    Model model;
    std::int32_t current = -1;
    bool noSectionYet = true;
    bool skipping = false;
    for (const std::u16string& raw : raws) {
        const std::size_t lead = raw.find_first_not_of(u" \t\n\v\f\r");
        const std::u16string t = lead == std::u16string::npos ? std::u16string() : raw.substr(lead);
        const std::u16string indent = raw.substr(0, raw.size() - t.size());
        Record comment;
        comment.text = u";" + raw;
        if (t.empty() || t[0] == u';') {
            Record text;
            text.text = raw;
            model.records.push_back(text);
            continue;
        }
        if (t[0] == u'[') {
            std::u16string rest = t.substr(
                t.find_first_not_of(u'[') == std::u16string::npos ? t.size() : t.find_first_not_of(u'['));
            const std::size_t close = rest.find(u']');
            if (close == std::u16string::npos) {
                model.records.push_back(comment);
                continue;
            }
            const std::u16string name = rest.substr(0, close);
            rest = rest.substr(close + 1);
            bool repeated = false;
            for (const std::u16string& existing : model.names)
                repeated = repeated || Lower(existing) == Lower(name);
            if (repeated) {
                skipping = true;
                model.records.push_back(comment);
                continue;
            }
            const std::size_t firstNonWhite = rest.find_first_not_of(u" \t\n\v\f\r");
            if (firstNonWhite != std::u16string::npos && rest[firstNonWhite] != u';')
                rest.insert(firstNonWhite, u";");
            Record header;
            header.kind = 1;
            header.indent = indent;
            header.text = rest;
            header.section = ++current;
            model.records.push_back(header);
            model.names.push_back(name);
            model.entries.emplace_back();
            noSectionYet = false;
            skipping = false;
            continue;
        }
        if (noSectionYet || skipping) {
            model.records.push_back(comment);
            continue;
        }
        const std::size_t equals = t.find(u'=');
        if (equals == std::u16string::npos) {
            model.records.push_back(comment);
            continue;
        }
        std::u16string key = t.substr(0, equals);
        std::u16string value = t.substr(equals + 1);
        std::u16string padBefore;
        while (!key.empty() && IsWhite(key.back())) {
            padBefore.insert(padBefore.begin(), key.back());
            key.pop_back();
        }
        std::u16string padAfter;
        while (!value.empty() && IsWhite(value.front())) {
            padAfter.push_back(value.front());
            value.erase(value.begin());
        }
        bool repeated = false;
        for (const auto& existing : model.entries.back())
            repeated = repeated || Lower(existing.first) == Lower(key);
        if (key.empty() || key.find_first_of(u"[;") != std::u16string::npos || repeated) {
            model.records.push_back(comment);
            continue;
        }
        Record entry;
        entry.kind = 2;
        entry.indent = indent;
        entry.padBefore = padBefore;
        entry.padAfter = padAfter;
        entry.section = current;
        entry.entry = static_cast<std::int32_t>(model.entries.back().size());
        model.records.push_back(entry);
        model.entries.back().emplace_back(key, value);
    }
    return model;
}

// The document's strings compared as plain views, whatever string type holds them.
bool Same(std::u16string_view a, std::u16string_view b) {
    return a == b;
}

void CheckAgainstModel(const CFileIni& document, const Model& model) {
    Require(document.lines.GetSize() == static_cast<std::ptrdiff_t>(model.records.size()), "line count");
    for (std::size_t i = 0; i < model.records.size(); ++i) {
        const CLinea& line = document.lines[static_cast<std::ptrdiff_t>(i)];
        const Record& want = model.records[i];
        Require(line.kind == want.kind && Same(line.indent, want.indent) && Same(line.text, want.text) &&
                    Same(line.padBeforeEquals, want.padBefore) && Same(line.padAfterEquals, want.padAfter) &&
                    line.sectionIndex == want.section && line.entryIndex == want.entry,
                "line record differs from the model");
    }
    Require(document.sections.GetSize() == static_cast<std::ptrdiff_t>(model.names.size()), "section count");
    for (std::size_t s = 0; s < model.names.size(); ++s) {
        const CFileIni::Sezione& section = document.sections[static_cast<std::ptrdiff_t>(s)];
        Require(Same(section.name, model.names[s]), "section name");
        Require(section.entries.GetSize() == static_cast<std::ptrdiff_t>(model.entries[s].size()),
                "entry count");
        for (std::size_t e = 0; e < model.entries[s].size(); ++e) {
            const CFileIni::Entry& entry = section.entries[static_cast<std::ptrdiff_t>(e)];
            Require(
                Same(entry.key, model.entries[s][e].first) && Same(entry.value, model.entries[s][e].second),
                "entry differs from the model");
        }
    }
}

// What every load guarantees, whatever the rules in detail.
void CheckInvariants(CFileIni& document, const std::vector<std::u16string>& raws) {
    Require(document.lines.GetSize() == static_cast<std::ptrdiff_t>(raws.size()), "one record per line");
    std::int32_t sectionsOpened = 0;
    std::vector<std::int32_t> entriesSeen(static_cast<std::size_t>(document.sections.GetSize()), 0);
    for (std::size_t i = 0; i < raws.size(); ++i) {
        const CLinea& line = document.lines[static_cast<std::ptrdiff_t>(i)];
        const std::u16string& raw = raws[i];
        if (line.kind == 0) {
            Require(line.indent.empty() && line.padBeforeEquals.empty() && line.padAfterEquals.empty(),
                    "text line with members of another kind");
            Require(line.sectionIndex == -1 && line.entryIndex == -1, "text line with indices");
            Require(Same(line.text, raw) || Same(line.text, u";" + raw),
                    "text line does not keep its raw line");
            continue;
        }
        if (line.kind == 1) {
            Require(line.sectionIndex == sectionsOpened++, "sections open in file order");
            Require(line.entryIndex == -1 && line.padBeforeEquals.empty() && line.padAfterEquals.empty(),
                    "header with entry members");
            Require(AllWhite(line.indent) && raw.compare(0, line.indent.size(), line.indent) == 0,
                    "header indent");
            const std::u16string_view name = document.sections[line.sectionIndex].name;
            std::u16string_view body(raw);
            body.remove_prefix(std::u16string_view(line.indent).size());
            Require(!body.empty() && body.front() == u'[', "header begins with [");
            while (!body.empty() && body.front() == u'[')
                body.remove_prefix(1);
            Require(
                body.substr(0, name.size()) == name && body.size() > name.size() && body[name.size()] == u']',
                "header name");
            Require(name.find(u']') == std::u16string_view::npos, "name ends at the first ]");
            const std::u16string rest(body.substr(name.size() + 1));
            std::u16string withoutMark{std::u16string_view(line.text)};
            const std::size_t mark = withoutMark.find_first_not_of(u" \t\n\v\f\r");
            if (withoutMark != rest && mark != std::u16string::npos)
                withoutMark.erase(mark, 1);
            Require(withoutMark == rest, "header text rebuilds the rest of the line");
            continue;
        }
        Require(line.kind == 2, "kind is 0, 1 or 2");
        Require(std::u16string_view(line.text).empty(), "entry line with text");
        Require(line.sectionIndex == sectionsOpened - 1, "entry belongs to the last header");
        const auto s = static_cast<std::size_t>(line.sectionIndex);
        Require(line.entryIndex == entriesSeen[s]++, "entries numbered in file order");
        const CFileIni::Entry& entry = document.sections[line.sectionIndex].entries[line.entryIndex];
        const std::u16string_view key = entry.key;
        const std::u16string_view value = entry.value;
        Require(!key.empty() && key.find_first_of(u"[;=") == std::u16string_view::npos, "key characters");
        Require(!IsWhite(key.front()) && !IsWhite(key.back()), "key trimmed");
        Require(value.empty() || !IsWhite(value.front()), "value has no leading white space");
        Require(AllWhite(line.indent) && AllWhite(line.padBeforeEquals) && AllWhite(line.padAfterEquals),
                "pads");
        std::u16string rebuilt{std::u16string_view(line.indent)};
        rebuilt.append(key).append(std::u16string_view(line.padBeforeEquals)).append(u"=");
        rebuilt.append(std::u16string_view(line.padAfterEquals)).append(value);
        Require(rebuilt == raw, "entry line rebuilds its raw line");
    }
    Require(sectionsOpened == document.sections.GetSize(), "one header line per section");
    for (std::size_t s = 0; s < entriesSeen.size(); ++s) {
        Require(entriesSeen[s] == document.sections[static_cast<std::ptrdiff_t>(s)].entries.GetSize(),
                "one entry line per entry");
    }

    // Unique names, and every name and key found where it is, with errorText untouched.
    document.errorText = u"before";
    for (std::int32_t s = 0; s < document.sections.GetSize(); ++s) {
        const CFileIni::Sezione& section = document.sections[s];
        Require(document.FindSection(Lower(section.name)) == s, "section found by its name, case ignored");
        for (std::int32_t e = 0; e < section.entries.GetSize(); ++e) {
            const CFileIni::Entry& entry = section.entries[e];
            Require(document.FindEntry(s, Lower(entry.key)) == e, "entry found by its key, case ignored");
            Require(Same(document.GetValue(section.name, entry.key), entry.value), "value looked up");
        }
    }
    Require(document.errorText == u"before", "successful lookups leave errorText");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::u16string> raws = SplitLines(data, size);
    CFileIni document;
    document.LoadContent(std::string_view(reinterpret_cast<const char*>(data), size));
    CheckInvariants(document, raws);
    CheckAgainstModel(document, LoadLiterally(raws));

    // A second load of the same content gives the same document, not twice the sections.
    const std::ptrdiff_t sectionCount = document.sections.GetSize();
    document.LoadContent(std::string_view(reinterpret_cast<const char*>(data), size));
    Require(document.sections.GetSize() == sectionCount, "second load doubles the sections");
    Require(document.lines.GetSize() == static_cast<std::ptrdiff_t>(raws.size()),
            "second load doubles the lines");
    return 0;
}
