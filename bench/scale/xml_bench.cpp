// Settings-file work of the restore, timed against pugixml on the same files:
//   scale_xml parse <file> <rounds>
//       LoadFileText + ParseDocument against pugixml's load_file, alternating A B A B in one process,
//       each round on fresh documents; prints the median and the fastest time of each side (s).
//   scale_xml load-lumvar <file> | load-pugixml <file>
//       one load and parse, for the caller to read the peak resident set of the process.
//   scale_xml merge-pugixml <saved file> <live file>
//       the restore's merge written with pugixml (same elements and attributes, the live file
//       rewritten keeping its layout), the peer of the tool's own merge.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "platform/text.h"
#include "xml/file_xml.h"

namespace {

using Clock = std::chrono::steady_clock;

bool LoadWithLumvar(const std::u16string& path, CFileXml& document) {
    return CFileXml::LoadFileText(path, document.documentText) && document.ParseDocument();
}

bool LoadWithPugixml(const char* path, pugi::xml_document& document) {
    return static_cast<bool>(document.load_file(path));
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

int Parse(const char* path, int rounds) {
    const std::u16string widePath = platform::FromUtf8(path);
    std::vector<double> ours;
    std::vector<double> theirs;
    // One untimed round of each warms the page cache and the allocator.
    for (int round = -1; round < rounds; ++round) {
        {
            CFileXml document;
            const auto start = Clock::now();
            const bool ok = LoadWithLumvar(widePath, document);
            const std::chrono::duration<double> took = Clock::now() - start;
            if (!ok)
                return 1;
            if (round >= 0)
                ours.push_back(took.count());
        }
        {
            pugi::xml_document document;
            const auto start = Clock::now();
            const bool ok = LoadWithPugixml(path, document);
            const std::chrono::duration<double> took = Clock::now() - start;
            if (!ok)
                return 1;
            if (round >= 0)
                theirs.push_back(took.count());
        }
    }
    std::printf("{\"lumvar\": %.6f, \"pugixml\": %.6f, \"lumvar_min\": %.6f, \"pugixml_min\": %.6f}\n",
                Median(ours), Median(theirs), *std::min_element(ours.begin(), ours.end()),
                *std::min_element(theirs.begin(), theirs.end()));
    return 0;
}

void CopyAttribute(pugi::xml_node saved, pugi::xml_node live, const char* name) {
    pugi::xml_attribute attribute = live.attribute(name);
    if (!attribute)
        attribute = live.append_attribute(name);
    attribute.set_value(saved.attribute(name).value());
}

void CopyText(pugi::xml_node saved, pugi::xml_node live) {
    live.text().set(saved.text().get());
}

int MergeWithPugixml(const char* savedPath, const char* livePath) {
    // Comments, declarations and blank text are kept so that the rewritten file keeps its layout.
    constexpr unsigned kOptions = pugi::parse_full | pugi::parse_ws_pcdata;
    pugi::xml_document saved;
    pugi::xml_document live;
    if (!saved.load_file(savedPath, kOptions) || !live.load_file(livePath, kOptions))
        return 1;
    const pugi::xml_node savedRoot = saved.document_element();
    const pugi::xml_node liveRoot = live.document_element();
    struct Entry {
        const char* element;
        std::vector<const char*> attributes;
        bool text;
    };
    const Entry entries[] = {
        {"brand", {"name"}, false},
        {"platform", {"name"}, false},
        {"titolo-language", {}, true},
        {"language", {"name", "ISOname", "code", "lang", "subl", "img"}, false},
        {"titolo-customerInfo", {}, true},
    };
    for (const Entry& entry : entries) {
        const pugi::xml_node from = savedRoot.child(entry.element);
        const pugi::xml_node to = liveRoot.child(entry.element);
        if (!from || !to)
            continue;
        for (const char* attribute : entry.attributes)
            CopyAttribute(from, to, attribute);
        if (entry.text)
            CopyText(from, to);
    }
    const pugi::xml_node savedInfo = savedRoot.child("customerInfo");
    const pugi::xml_node liveInfo = liveRoot.child("customerInfo");
    if (savedInfo && liveInfo) {
        for (const char* name : {"ragioneSociale", "indirizzo", "civico", "cap", "citta", "provincia", "stato",
                                 "telefono", "cellulare", "fax", "email"}) {
            const pugi::xml_node from = savedInfo.child(name);
            const pugi::xml_node to = liveInfo.child(name);
            if (!from || !to)
                continue;
            if (std::string_view(name) == "stato")
                CopyAttribute(from, to, "code");
            CopyText(from, to);
        }
    }
    return live.save_file(livePath, "", pugi::format_raw) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "parse" && argc == 4)
        return Parse(argv[2], std::max(1, std::atoi(argv[3])));
    if (mode == "load-lumvar" && argc == 3) {
        CFileXml document;
        return LoadWithLumvar(platform::FromUtf8(argv[2]), document) ? 0 : 1;
    }
    if (mode == "load-pugixml" && argc == 3) {
        pugi::xml_document document;
        return LoadWithPugixml(argv[2], document) ? 0 : 1;
    }
    if (mode == "merge-pugixml" && argc == 4)
        return MergeWithPugixml(argv[2], argv[3]);
    std::fprintf(stderr,
                 "usage: scale_xml parse <file> <rounds> | load-lumvar <file> | load-pugixml <file> |"
                 " merge-pugixml <saved> <live>\n");
    return 2;
}
