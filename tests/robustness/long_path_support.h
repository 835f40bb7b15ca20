// Folders whose paths have an exact length, built from nested folders of at most 200 characters.
#pragma once

#include <filesystem>
#include <string>

namespace robustness {

// The argument lengths tried: short, around the 260 characters of MAX_PATH, and far beyond.
inline constexpr std::size_t kArgumentLengths[] = {10,  100, 200, 240, 250,  255,  259,
                                                   260, 261, 270, 300, 500, 1000, 4000};

// A path below base whose form as the tool sees it (toolPrefix characters longer than the host
// path: 0 natively, 2 for the "Z:" of Wine) is exactly length characters long, its last folder
// named after marker. Empty when base is already too long for that.
inline std::filesystem::path PathOfLength(const std::filesystem::path& base, std::size_t toolPrefix,
                                          std::size_t length, const std::string& marker) {
    const std::size_t baseLength = base.string().size() + toolPrefix;
    // A separator, then at least the marker and one more character.
    if (length < baseLength + 1 + marker.size() + 1)
        return {};
    std::filesystem::path path = base;
    std::size_t left = length - baseLength;
    int level = 0;
    while (left > 1 + 200 + 1 + marker.size() + 1) {
        std::string name = "livello " + std::to_string(level++) + " ";
        name.append(200 - name.size(), 'x');
        path /= name;
        left -= 1 + name.size();
    }
    std::string name(left - 1 - marker.size(), 'n');
    path /= name + marker;
    return path;
}

}  // namespace robustness
