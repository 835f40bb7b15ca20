// Whole-file load and save of CFileXml: UTF-8 on disk, UTF-16 in memory.
#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "platform/platform.h"
#include "platform/text.h"
#include "xml/file_xml.h"
#include "xml/utf8.h"

namespace {

void SetMessage(std::u16string* message, std::u16string text) {
    if (message != nullptr)
        *message = std::move(text);
}

std::u16string Number(std::size_t value) {
    return platform::FromUtf8(std::to_string(value));
}

// Closes the stream when the load returns, whichever way it returns.
struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

}  // namespace

bool CFileXml::LoadFileText(const std::u16string& filePath, std::u16string& text, std::u16string* message,
                            std::int32_t* encoding) {
    // The encoding word is carried for callers that pass one; it never changes here.
    static_cast<void>(encoding);

    const std::unique_ptr<std::FILE, FileCloser> file(platform::OpenFile(filePath, "rb"));
    if (!file) {
        SetMessage(message, platform::SystemErrorText(errno));
        return false;
    }
    // Some systems open a folder as a stream; it has no readable bytes and no meaningful size, so it
    // is refused like a file that cannot be opened, before anything is allocated from that size.
    long end = -1;
    if (std::fseek(file.get(), 0, SEEK_END) == 0)
        end = std::ftell(file.get());
    if (end < 0 || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        SetMessage(message, platform::SystemErrorText(errno));
        return false;
    }
    if (end > 0) {
        const int first = std::fgetc(file.get());
        if (first == EOF && std::ferror(file.get())) {
            SetMessage(message, platform::SystemErrorText(errno));
            return false;
        }
        if (first != EOF)
            std::ungetc(first, file.get());
    }

    text.clear();
    const auto size = static_cast<std::size_t>(end);
    if (size != 0) {
        const auto bytes = std::make_unique_for_overwrite<char[]>(size);
        // Only the bytes actually read are decoded, should the file have shrunk since it was sized.
        const std::string_view read(bytes.get(), std::fread(bytes.get(), 1, size, file.get()));
        text.resize(xml::DecodeUtf8(read));
        xml::DecodeUtf8(read, text.data());
    }
    SetMessage(message, Number(size) + u" bytes to " + Number(text.size()) + u" wide chars");
    return true;
}

bool CFileXml::SaveFileText(const std::u16string& filePath, const std::u16string& text,
                            std::u16string* message, std::int32_t* encoding) {
    static_cast<void>(encoding);

    // "CommonConfig.xml" is rewritten in place: the new bytes are complete on disk before they take
    // the old file's place, so a full disk or a crash never leaves it empty or cut.
    std::string bytes;
    if (!text.empty()) {
        bytes.resize(xml::EncodeUtf8(text) + 1);
        bytes.resize(xml::EncodeUtf8(text, bytes.data(), bytes.size()));
    }
    if (!platform::ReplaceFileContents(filePath, bytes)) {
        SetMessage(message, platform::SystemErrorText(errno));
        return false;
    }
    SetMessage(message, Number(text.size()) + u" wide chars to " + Number(bytes.size()) + u" bytes");
    return true;
}
