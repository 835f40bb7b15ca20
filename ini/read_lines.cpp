#include "ini/read_lines.h"

#include "platform/platform.h"

namespace ini {

namespace {

constexpr int kOpenAttempts = 3;
constexpr unsigned kPauseAfterFailedOpenMs = 100;

}  // namespace

bool ReadFileWithRetries(const std::u16string& path, std::string& bytes) {
    for (int attempt = 0; attempt < kOpenAttempts; ++attempt) {
        if (platform::ReadFileExclusive(path, bytes))
            return true;
        platform::SleepMilliseconds(kPauseAfterFailedOpenMs);
    }
    bytes.clear();
    return false;
}

std::u16string WidenBytes(std::string_view bytes) {
    std::u16string text(bytes.size(), u'\0');
    const auto* source = reinterpret_cast<const unsigned char*>(bytes.data());
    char16_t* target = text.data();
    for (std::size_t i = 0; i < bytes.size(); ++i)
        target[i] = source[i];
    return text;
}

std::size_t CountLines(std::string_view bytes) {
    // A branch-free pass the compiler can vectorise; it counts exactly the pairs ForEachLine cuts
    // at, because a CR LF pair cannot overlap another.
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t breaks = 0;
    for (std::size_t i = 1; i < bytes.size(); ++i) {
        breaks += static_cast<std::size_t>((data[i - 1] == '\r') & (data[i] == '\n'));
    }
    return breaks + 1;
}

}  // namespace ini

bool ReadLines(const std::u16string& path, CArray<std::u16string, const std::u16string&>& lines) {
    lines.RemoveAll();
    std::string bytes;
    if (!ini::ReadFileWithRetries(path, bytes))
        return false;
    lines.Reserve(static_cast<std::ptrdiff_t>(ini::CountLines(bytes)));
    ini::ForEachLine(bytes, [&lines](std::string_view line) { lines.Add(ini::WidenBytes(line)); });
    return true;
}
