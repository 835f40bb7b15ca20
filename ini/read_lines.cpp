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
        target[i] = static_cast<char16_t>(source[i]);
    return text;
}

void SplitLines(std::u16string_view text, std::vector<std::u16string_view>& lines) {
    lines.clear();
    std::size_t lineStart = 0;
    std::size_t cr = text.find(u'\r');
    while (cr != std::u16string_view::npos && cr + 1 < text.size()) {
        if (text[cr + 1] != u'\n') {
            cr = text.find(u'\r', cr + 1);
            continue;
        }
        lines.push_back(text.substr(lineStart, cr - lineStart));
        lineStart = cr + 2;
        cr = text.find(u'\r', lineStart);
    }
    lines.push_back(text.substr(lineStart));
}

}  // namespace ini

bool ReadLines(const std::u16string& path, CArray<std::u16string, const std::u16string&>& lines) {
    lines.RemoveAll();
    std::string bytes;
    if (!ini::ReadFileWithRetries(path, bytes))
        return false;
    const std::u16string text = ini::WidenBytes(bytes);
    std::vector<std::u16string_view> views;
    ini::SplitLines(text, views);
    lines.Reserve(static_cast<std::ptrdiff_t>(views.size()));
    for (const std::u16string_view line : views)
        lines.Add(std::u16string(line));
    return true;
}
