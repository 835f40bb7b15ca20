// Throughput of the XML document's UTF-8 converters beside glibc's iconv doing the same conversion
// (UTF-8 <-> UTF-16LE) on the same 20 MB text, in one run, with the ratios printed at the end. The
// text is what settings files look like: ASCII markup around Latin-1 accents, Greek, Cyrillic, CJK
// and the odd emoji.
#include <benchmark/benchmark.h>
#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "xml/utf8.h"

namespace {

constexpr std::size_t kTextBytes = 20u << 20;

const std::string& MixedText() {
    static const std::string text = [] {
        const std::vector<std::string> ascii = {"Diagnostic session settings", "ECU 7E0 response timeout 150",
                                                "Default workshop profile", "Standard OBD protocol"};
        const std::vector<std::string> latin = {
            "Caf\u00e9 cr\u00e8me, se\u00f1or M\u00fcller \u00e0 Z\u00fcrich",
            "Officina meccanica Citt\u00e0 di Forl\u00ec"};
        const std::vector<std::string> greekCyrillic = {
            "\u039a\u03b1\u03bb\u03b7\u03bc\u03ad\u03c1\u03b1 \u03ba\u03cc\u03c3\u03bc\u03b5",
            "\u041f\u0440\u0438\u0432\u0435\u0442, \u043c\u0438\u0440"};
        const std::vector<std::string> cjk = {"\u8bca\u65ad\u7a0b\u5e8f\u8bbe\u7f6e",
                                              "\u8eca\u4e21\u8a3a\u65ad\u30bd\u30d5\u30c8\u30a6\u30a7\u30a2"};
        const std::vector<std::string> emoji = {"\U0001F697\U0001F527 ok", "\U0001F600"};
        std::mt19937 random(42);
        std::string out = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<CommonConfig>\n";
        while (out.size() < kTextBytes) {
            const unsigned pick = random() % 100;
            const auto& pool = pick < 50   ? ascii
                               : pick < 70 ? latin
                               : pick < 82 ? greekCyrillic
                               : pick < 95 ? cjk
                                           : emoji;
            out +=
                "  <entry id=\"" + std::to_string(random() % 100000) + "\" kind=\"text\" visible=\"true\">";
            out += pool[random() % pool.size()];
            out += "</entry>\n";
        }
        out.resize(kTextBytes);
        // The cut may have split a character; end on a whole one.
        while ((static_cast<unsigned char>(out.back()) & 0xC0) == 0x80)
            out.pop_back();
        if (static_cast<unsigned char>(out.back()) >= 0x80)
            out.pop_back();
        return out;
    }();
    return text;
}

const std::u16string& MixedUnits() {
    static const std::u16string units = [] {
        std::u16string out(xml::DecodeUtf8(MixedText()), u'\0');
        xml::DecodeUtf8(MixedText(), out.data());
        return out;
    }();
    return units;
}

// One conversion of the whole input by iconv; the number of bytes it wrote, or -1.
long IconvOnce(iconv_t cd, const char* input, std::size_t inputSize, char* output, std::size_t outputSize) {
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(input);
    char* out = output;
    std::size_t inLeft = inputSize;
    std::size_t outLeft = outputSize;
    if (iconv(cd, &in, &inLeft, &out, &outLeft) == static_cast<std::size_t>(-1))
        return -1;
    return static_cast<long>(out - output);
}

void BM_DecodeUtf8(benchmark::State& state) {
    const std::string& text = MixedText();
    std::u16string out(MixedUnits().size(), u'\0');
    for (auto _ : state) {
        benchmark::DoNotOptimize(xml::DecodeUtf8(text, out.data()));
        benchmark::ClobberMemory();
    }
    if (out != MixedUnits())
        state.SkipWithError("decoding changed its result");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// What LoadFileText does: the counting pass sizes the text, the writing pass fills it.
void BM_DecodeUtf8CountAndWrite(benchmark::State& state) {
    const std::string& text = MixedText();
    std::u16string out(MixedUnits().size(), u'\0');
    for (auto _ : state) {
        const std::size_t count = xml::DecodeUtf8(text);
        benchmark::DoNotOptimize(xml::DecodeUtf8(text, out.data()) == count);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// The counting pass alone, which sizes the destination of each load.
void BM_DecodeUtf8Count(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(xml::DecodeUtf8(MixedText()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * MixedText().size()));
}

void BM_IconvDecode(benchmark::State& state) {
    const std::string& text = MixedText();
    std::u16string out(MixedUnits().size(), u'\0');
    const iconv_t cd = iconv_open("UTF-16LE", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        state.SkipWithError("iconv cannot convert UTF-8 to UTF-16LE here");
        return;
    }
    long written = 0;
    for (auto _ : state) {
        written =
            IconvOnce(cd, text.data(), text.size(), reinterpret_cast<char*>(out.data()), out.size() * 2);
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
    iconv_close(cd);
    if (written != static_cast<long>(out.size() * 2) || out != MixedUnits()) {
        state.SkipWithError("iconv gave another result");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void BM_EncodeUtf8(benchmark::State& state) {
    const std::u16string& units = MixedUnits();
    std::string out(MixedText().size() + 1, '\0');
    std::size_t produced = 0;
    for (auto _ : state) {
        produced = xml::EncodeUtf8(units, out.data(), out.size());
        benchmark::DoNotOptimize(produced);
        benchmark::ClobberMemory();
    }
    out.resize(produced);
    if (out != MixedText())
        state.SkipWithError("encoding changed its result");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * MixedText().size()));
}

// What SaveFileText does: the counting pass sizes the buffer, the writing pass fills it.
void BM_EncodeUtf8CountAndWrite(benchmark::State& state) {
    const std::u16string& units = MixedUnits();
    std::string out(MixedText().size() + 1, '\0');
    for (auto _ : state) {
        const std::size_t count = xml::EncodeUtf8(units);
        benchmark::DoNotOptimize(xml::EncodeUtf8(units, out.data(), count + 1));
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * MixedText().size()));
}

// The counting pass alone, which sizes the buffer of each save.
void BM_EncodeUtf8Count(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(xml::EncodeUtf8(MixedUnits()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * MixedText().size()));
}

void BM_IconvEncode(benchmark::State& state) {
    const std::u16string& units = MixedUnits();
    std::string out(MixedText().size(), '\0');
    const iconv_t cd = iconv_open("UTF-8", "UTF-16LE");
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        state.SkipWithError("iconv cannot convert UTF-16LE to UTF-8 here");
        return;
    }
    long written = 0;
    for (auto _ : state) {
        written = IconvOnce(cd, reinterpret_cast<const char*>(units.data()), units.size() * 2, out.data(),
                            out.size());
        benchmark::DoNotOptimize(written);
        benchmark::ClobberMemory();
    }
    iconv_close(cd);
    if (written != static_cast<long>(out.size()) || out != MixedText())
        state.SkipWithError("iconv gave another result");
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * MixedText().size()));
}

BENCHMARK(BM_DecodeUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeUtf8CountAndWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeUtf8Count)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvDecode)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeUtf8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeUtf8CountAndWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeUtf8Count)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_IconvEncode)->Unit(benchmark::kMillisecond);

// Prints as usual and keeps the smallest CPU time per iteration of each benchmark, so that the
// ratios compare runs made side by side in one process; CPU time rather than wall-clock time keeps
// other work on a shared machine out of the comparison.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            // With --benchmark_report_aggregates_only only the aggregates arrive; the median stands in.
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if ((run.run_type != Run::RT_Iteration && !median) || run.error_occurred)
                continue;
            const std::string name = run.run_name.function_name;
            const double time = run.GetAdjustedCPUTime();
            const auto found = best_.find(name);
            best_[name] = found == best_.end() ? time : std::min(found->second, time);
        }
    }

    void PrintRatio(const char* label, const std::string& ours, const std::string& theirs) const {
        const auto a = best_.find(ours);
        const auto b = best_.find(theirs);
        if (a == best_.end() || b == best_.end())
            return;
        const double megabytes = static_cast<double>(MixedText().size()) / 1e6;
        std::printf("%-42s %5.2fx  (%7.0f MB/s against %7.0f MB/s)\n", label, b->second / a->second,
                    megabytes / (a->second / 1e3), megabytes / (b->second / 1e3));
    }

private:
    std::map<std::string, double> best_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    std::printf("text: %zu bytes of UTF-8, %zu UTF-16 units\n", MixedText().size(), MixedUnits().size());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf("\nThroughput against iconv (UTF-8 bytes per CPU second, best run or median of each):\n");
    reporter.PrintRatio("DecodeUtf8 / iconv UTF-8 -> UTF-16LE", "BM_DecodeUtf8", "BM_IconvDecode");
    reporter.PrintRatio("DecodeUtf8 count+write / iconv", "BM_DecodeUtf8CountAndWrite", "BM_IconvDecode");
    reporter.PrintRatio("EncodeUtf8 / iconv UTF-16LE -> UTF-8", "BM_EncodeUtf8", "BM_IconvEncode");
    reporter.PrintRatio("EncodeUtf8 count+write / iconv", "BM_EncodeUtf8CountAndWrite", "BM_IconvEncode");
    benchmark::Shutdown();
    return 0;
}
