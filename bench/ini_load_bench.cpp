// Loads one generated INI file of about 10 MB with CFileIni and with inih, in the same run, and
// prints the throughput ratio. Two pairings, each like with like:
//   - from disk: CFileIni::Load against ini_parse, both opening and reading the same file;
//   - from memory: CFileIni::LoadContent against ini_parse_string, both given the same bytes.
// inih keeps nothing itself, so its handler stores every section name and key/value pair as
// strings: the least a caller needs to look values up afterwards. A handler that stores nothing
// shows inih's bare parse, and one that stores UTF-16 strings, as this tool holds all text, shows
// how much of the difference the wider strings make (std::u16string keeps only 7 characters
// without a heap block, std::string 15).
#include <benchmark/benchmark.h>
#include <ini.h>
#include <stdlib.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "ini/file_ini.h"
#include "platform/text.h"

namespace {

constexpr std::size_t kTargetBytes = 10 * 1024 * 1024;

// A settings file as programs write and people edit them: many sections of a few to a few dozen
// entries, padded and remarked values, comments, blank lines, and now and then a line that the
// loader has to turn into a comment (no "=", an unclosed header, a repeated key or section).
std::string GenerateIni() {
    std::mt19937 random(20261207u);
    auto pick = [&random](unsigned bound) { return static_cast<unsigned>(random() % bound); };
    static const char* const kWords[] = {
        "alpha",   "Colour",  "dark", "blue",      "Path",       "C:\\Program Files\\Suite", "value", "42",
        "enabled", "Timeout", "0x7F", "user name", "diagnostics"};
    auto word = [&]() { return std::string(kWords[pick(13)]); };

    std::string text;
    text.reserve(kTargetBytes + 4096);
    text += "; generated settings\r\n\r\n";
    unsigned section = 0;
    while (text.size() < kTargetBytes) {
        ++section;
        const bool repeatOld = section > 10 && pick(200) == 0;
        const unsigned name = repeatOld ? section / 2 : section;
        text += pick(10) == 0 ? "  [" : "[";
        text += "Section" + std::to_string(name) + "]";
        if (pick(8) == 0)
            text += " ; group " + word();
        text += "\r\n";
        const unsigned entries = 3 + pick(30);
        for (unsigned e = 0; e < entries; ++e) {
            switch (pick(20)) {
                case 0:
                    text += "; " + word() + " " + word() + " " + word();
                    break;
                case 1:
                    break;  // blank line
                case 2:
                    text += "# note about " + word();
                    break;
                case 3:
                    text += "malformed line " + word();
                    break;
                case 4:
                    text += "[Unclosed" + std::to_string(e);
                    break;
                case 5:
                    text += "Key0=" + word();  // repeats the first key of the section
                    break;
                case 6:
                case 7:
                    text += "    Key" + std::to_string(e) + " = " + word() + " " + word() + " ; " + word();
                    break;
                default:
                    text += "Key" + std::to_string(e) + "=" + word() + std::to_string(pick(100000));
                    break;
            }
            text += "\r\n";
        }
        text += "\r\n";
    }
    return text;
}

struct Fixture {
    Fixture() {
        std::string pattern = (std::filesystem::temp_directory_path() / "lumvar-ini-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            return;
        folder = pattern;
        file = folder / "bench.ini";
        bytes = GenerateIni();
        std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        widePath = platform::FromUtf8(file.string());
    }
    ~Fixture() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
    std::filesystem::path folder;
    std::filesystem::path file;
    std::u16string widePath;
    std::string bytes;
};

Fixture& Shared() {
    static Fixture fixture;
    return fixture;
}

// What a caller of inih keeps to look values up afterwards.
struct InihModel {
    std::vector<std::string> sections;
    struct Entry {
        std::size_t section;
        std::string key;
        std::string value;
    };
    std::vector<Entry> entries;
};

int StoreEntry(void* user, const char* section, const char* name, const char* value) {
    auto* model = static_cast<InihModel*>(user);
    if (model->sections.empty() || std::strcmp(model->sections.back().c_str(), section) != 0) {
        model->sections.emplace_back(section);
    }
    model->entries.push_back(InihModel::Entry{model->sections.size() - 1, name, value});
    return 1;
}

// The same model with the tool's UTF-16 strings, one character per byte.
struct InihWideModel {
    std::vector<std::u16string> sections;
    struct Entry {
        std::size_t section;
        std::u16string key;
        std::u16string value;
    };
    std::vector<Entry> entries;
    std::string lastSection;
};

std::u16string WidenForInih(const char* text) {
    std::u16string wide(std::strlen(text), u'\0');
    for (std::size_t i = 0; i < wide.size(); ++i)
        wide[i] = static_cast<unsigned char>(text[i]);
    return wide;
}

int StoreWideEntry(void* user, const char* section, const char* name, const char* value) {
    auto* model = static_cast<InihWideModel*>(user);
    if (model->sections.empty() || model->lastSection != section) {
        model->lastSection = section;
        model->sections.push_back(WidenForInih(section));
    }
    model->entries.push_back(
        InihWideModel::Entry{model->sections.size() - 1, WidenForInih(name), WidenForInih(value)});
    return 1;
}

int IgnoreEntry(void*, const char*, const char*, const char*) {
    return 1;
}

void BM_CFileIniLoadFromDisk(benchmark::State& state) {
    const Fixture& fixture = Shared();
    for (auto _ : state) {
        CFileIni document;
        document.filePath = fixture.widePath;
        if (!document.Load())
            state.SkipWithError("Load failed");
        benchmark::DoNotOptimize(document.sections.GetSize());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fixture.bytes.size()));
}

void BM_InihParseFromDisk(benchmark::State& state) {
    const Fixture& fixture = Shared();
    for (auto _ : state) {
        InihModel model;
        if (ini_parse(fixture.file.c_str(), StoreEntry, &model) < 0)
            state.SkipWithError("ini_parse failed");
        benchmark::DoNotOptimize(model.entries.size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fixture.bytes.size()));
}

void BM_InihParseToUtf16FromDisk(benchmark::State& state) {
    const Fixture& fixture = Shared();
    for (auto _ : state) {
        InihWideModel model;
        if (ini_parse(fixture.file.c_str(), StoreWideEntry, &model) < 0)
            state.SkipWithError("ini_parse failed");
        benchmark::DoNotOptimize(model.entries.size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fixture.bytes.size()));
}

void BM_InihParseOnlyFromDisk(benchmark::State& state) {
    const Fixture& fixture = Shared();
    for (auto _ : state) {
        if (ini_parse(fixture.file.c_str(), IgnoreEntry, nullptr) < 0)
            state.SkipWithError("ini_parse failed");
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fixture.bytes.size()));
}

// The same two loads with the destruction of the result left out of the timing: how the cost
// splits between building the model and giving its memory back.
void BM_CFileIniLoadFromDiskKeepResult(benchmark::State& state) {
    const Fixture& fixture = Shared();
    for (auto _ : state) {
        auto document = std::make_unique<CFileIni>();
        document->filePath = fixture.widePath;
        if (!document->Load())
            state.SkipWithError("Load failed");
        state.PauseTiming();
        document.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fixture.bytes.size()));
}

void BM_InihParseFromDiskKeepResult(benchmark::State& state) {
    const Fixture& fixture = Shared();
    for (auto _ : state) {
        auto model = std::make_unique<InihModel>();
        if (ini_parse(fixture.file.c_str(), StoreEntry, model.get()) < 0)
            state.SkipWithError("ini_parse failed");
        state.PauseTiming();
        model.reset();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fixture.bytes.size()));
}

void BM_CFileIniLoadFromMemory(benchmark::State& state) {
    const Fixture& fixture = Shared();
    for (auto _ : state) {
        CFileIni document;
        document.LoadContent(fixture.bytes);
        benchmark::DoNotOptimize(document.sections.GetSize());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fixture.bytes.size()));
}

void BM_InihParseFromMemory(benchmark::State& state) {
    const Fixture& fixture = Shared();
    for (auto _ : state) {
        InihModel model;
        ini_parse_string(fixture.bytes.c_str(), StoreEntry, &model);
        benchmark::DoNotOptimize(model.entries.size());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fixture.bytes.size()));
}

BENCHMARK(BM_CFileIniLoadFromDisk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InihParseFromDisk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InihParseToUtf16FromDisk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InihParseOnlyFromDisk)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CFileIniLoadFromDiskKeepResult)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InihParseFromDiskKeepResult)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CFileIniLoadFromMemory)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_InihParseFromMemory)->Unit(benchmark::kMillisecond);

// Prints as usual and remembers each benchmark's throughput for the ratios at the end.
class RecordingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override {
        for (const Run& run : reports) {
            const auto rate = run.counters.find("bytes_per_second");
            if (run.run_type == Run::RT_Iteration && rate != run.counters.end()) {
                bytesPerSecond[run.run_name.function_name] = rate->second.value;
            }
        }
        ConsoleReporter::ReportRuns(reports);
    }
    std::map<std::string, double> bytesPerSecond;
};

void PrintRatio(const RecordingReporter& reporter, const char* ours, const char* theirs) {
    const auto a = reporter.bytesPerSecond.find(ours);
    const auto b = reporter.bytesPerSecond.find(theirs);
    if (a == reporter.bytesPerSecond.end() || b == reporter.bytesPerSecond.end() || b->second <= 0)
        return;
    std::printf("%-28s %8.1f MB/s   %-28s %8.1f MB/s   ratio %.2f\n", ours, a->second / 1e6, theirs,
                b->second / 1e6, a->second / b->second);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    if (Shared().bytes.empty()) {
        std::fprintf(stderr, "could not write the benchmark file\n");
        return 1;
    }
    std::printf("INI file: %zu bytes\n", Shared().bytes.size());
    RecordingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::printf("\nThroughput, CFileIni against inih (ratio above 1: CFileIni faster)\n");
    PrintRatio(reporter, "BM_CFileIniLoadFromDisk", "BM_InihParseFromDisk");
    PrintRatio(reporter, "BM_CFileIniLoadFromDisk", "BM_InihParseToUtf16FromDisk");
    PrintRatio(reporter, "BM_CFileIniLoadFromDisk", "BM_InihParseOnlyFromDisk");
    PrintRatio(reporter, "BM_CFileIniLoadFromDiskKeepResult", "BM_InihParseFromDiskKeepResult");
    PrintRatio(reporter, "BM_CFileIniLoadFromMemory", "BM_InihParseFromMemory");
    return 0;
}
