// A scratch folder for one test, removed with everything in it when the test ends.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace testing_support {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(std::string_view relative) const { return path_ / relative; }

private:
    std::filesystem::path path_;
};

// Writes bytes to a file, creating its folders.
void WriteFile(const std::filesystem::path& file, std::string_view bytes);
// Reads a whole file; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& file);
// UTF-16 form of a host path, as the tool's code takes it.
std::u16string U16(const std::filesystem::path& path);

}  // namespace testing_support
