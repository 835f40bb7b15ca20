// Parse throughput of CFileXml beside pugixml's on one generated settings-like document of about
// 20 MB, both counted in MB of the same UTF-8 document per second. CFileXml parses its UTF-16 text
// in memory (converted once, before timing); pugixml parses the UTF-8 bytes from memory. The
// ratios are printed at the end of the run, so that a busy machine slows both sides alike.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/xml/file_xml_internals.h"
#include "xml/file_xml.h"

using xml_testing::Internals;

namespace {

const std::string& Utf8Document() {
    static const std::string document = [] {
        std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<CommonConfig version=\"3.2\">\n";
        out += "  <brand name=\"ACME\"/>\n  <platform name=\"win\"/>\n";
        for (int section = 0; out.size() < 20u * 1000 * 1000; ++section) {
            const std::string id = std::to_string(section);
            out += "  <section id=\"" + id + "\" name='Sezione " + id + "' enabled=\"true\">\n";
            out += "    <!-- settings of module " + id + " -->\n";
            for (int entry = 0; entry < 8; ++entry) {
                const std::string key = "key" + id + "_" + std::to_string(entry);
                out += "    <entry key=\"" + key + "\" type=\"string\" value=\"valore &amp; default " + key +
                       "\">";
                out += "Testo dell'impostazione " + key + " \xE2\x80\x93 citt\xC3\xA0 di prova</entry>\n";
                out += "    <flag key=\"" + key + "\" value=\"" + std::to_string(entry * 7) + "\"/>\n";
            }
            out += "    <note><![CDATA[raw <data> for " + id + "]]></note>\n";
            out += "  </section>\n";
        }
        out += "</CommonConfig>\n";
        return out;
    }();
    return document;
}

const std::u16string& Utf16Document() {
    static const std::u16string document = platform::FromUtf8(Utf8Document());
    return document;
}

void BM_ParseDocument(benchmark::State& state) {
    CFileXml xml;
    xml.documentText = Utf16Document();
    bool wellFormed = false;
    for (auto _ : state) {
        xml.messageText.clear();
        wellFormed = xml.ParseDocument();
        benchmark::DoNotOptimize(wellFormed);
    }
    if (!wellFormed) {
        state.SkipWithError("document did not parse");
        return;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(Utf8Document().size()));
    state.counters["elements"] = static_cast<double>(xml.usedCount - 1);
    state.counters["index_bytes_per_element"] = static_cast<double>(Internals(xml).capacity()) *
                                                sizeof(CFileXml::ElementRecord) /
                                                static_cast<double>(xml.usedCount - 1);
    state.counters["record_bytes"] = sizeof(CFileXml::ElementRecord);
}

// pugixml's default parse of a memory buffer; load_buffer copies the buffer first.
void BM_PugixmlLoadBuffer(benchmark::State& state) {
    const std::string& document = Utf8Document();
    bool ok = false;
    for (auto _ : state) {
        pugi::xml_document parsed;
        ok = static_cast<bool>(parsed.load_buffer(document.data(), document.size()));
        benchmark::DoNotOptimize(ok);
    }
    if (!ok) {
        state.SkipWithError("pugixml did not parse");
        return;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(document.size()));
}

// The same parse in place, with the copy of the buffer left out of the timing.
void BM_PugixmlLoadBufferInPlace(benchmark::State& state) {
    const std::string& document = Utf8Document();
    std::vector<char> buffer(document.size());
    bool ok = false;
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(document.begin(), document.end(), buffer.begin());
        pugi::xml_document parsed;
        state.ResumeTiming();
        ok = static_cast<bool>(parsed.load_buffer_inplace(buffer.data(), buffer.size()));
        benchmark::DoNotOptimize(ok);
        state.PauseTiming();
        parsed.reset();
        state.ResumeTiming();
    }
    if (!ok) {
        state.SkipWithError("pugixml did not parse");
        return;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(document.size()));
}

BENCHMARK(BM_ParseDocument)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_PugixmlLoadBuffer)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(BM_PugixmlLoadBufferInPlace)->Unit(benchmark::kMillisecond)->MinTime(1.0);

// Console output plus the throughput of each benchmark, kept for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            const auto found = run.counters.find("bytes_per_second");
            if (found != run.counters.end() && run.run_type == Run::RT_Iteration) {
                throughput[run.benchmark_name()] = found->second.value;
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> throughput;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\ndocument: %.1f MB UTF-8\n", static_cast<double>(Utf8Document().size()) / 1e6);
    for (const auto& [name, bytesPerSecond] : reporter.throughput) {
        std::printf("%-40s %8.0f MB/s\n", name.c_str(), bytesPerSecond / 1e6);
    }
    const auto ours = reporter.throughput.find("BM_ParseDocument/min_time:1.000");
    for (const char* pugi :
         {"BM_PugixmlLoadBuffer/min_time:1.000", "BM_PugixmlLoadBufferInPlace/min_time:1.000"}) {
        const auto theirs = reporter.throughput.find(pugi);
        if (ours != reporter.throughput.end() && theirs != reporter.throughput.end()) {
            std::printf("ParseDocument / %s: %.2f\n", pugi, ours->second / theirs->second);
        }
    }
    benchmark::Shutdown();
    return 0;
}
