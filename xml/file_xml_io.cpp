// Whole-file load and save of CFileXml: UTF-8 on disk, UTF-16 in memory.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
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

// Bytes read and decoded at a time: small enough that the block and its units stay in the cache
// while they are appended to the text.
constexpr std::size_t kReadBlock = 64 * 1024;
// Bytes of a sequence cut by the end of a block, carried to the start of the next.
constexpr std::size_t kLongestCut = 3;

// Reads at most size bytes of file and appends their decoding to text. The text is sized once,
// from the file's size (no byte gives more than one unit), with room beyond it so that edits which
// lengthen it do not move it whole; untouched room costs address space only. Nothing is read past
// the zero byte that ends the text, and only the bytes actually read are decoded, should the file
// have shrunk since it was sized. False, with errno set, when a read fails: a cut text never passes
// for the whole file.
bool ReadDecoded(std::FILE* file, std::size_t size, std::u16string& text) {
    text.reserve(std::min(size + size / 8 + 128, CFileXml::kLongestText));
    const auto bytes = std::make_unique_for_overwrite<char[]>(kLongestCut + kReadBlock);
    const auto units = std::make_unique_for_overwrite<char16_t[]>(kLongestCut + kReadBlock);
    std::size_t carried = 0;
    std::size_t left = size;
    while (left != 0) {
        const std::size_t read = std::fread(bytes.get() + carried, 1, std::min(left, kReadBlock), file);
        if (read == 0)
            return std::ferror(file) == 0;
        left -= read;
        const std::size_t held = carried + read;
        const xml::DecodeStep step = xml::DecodeUtf8Part(std::string_view(bytes.get(), held), units.get());
        text.append(units.get(), step.produced);
        if (step.ended)
            return true;
        // A sequence cut at the end of this block is decoded again with the bytes after it; one cut
        // at the end of the file is dropped when the loop ends.
        carried = held - step.consumed;
        std::memmove(bytes.get(), bytes.get() + step.consumed, carried);
    }
    return true;
}

}  // namespace

bool CFileXml::LoadFileText(const std::u16string& filePath, std::u16string& text, std::u16string* message,
                            std::int32_t* encoding) {
    // The encoding word is carried for callers that pass one; it never changes here.
    static_cast<void>(encoding);

    // Only a regular file opens (a FIFO or device would never end or never answer).
    const std::unique_ptr<std::FILE, FileCloser> file(platform::OpenFile(filePath, "rb"));
    std::uint64_t length = 0;
    if (!file || !platform::FileLength(file.get(), length)) {
        SetMessage(message, platform::SystemErrorText(errno));
        return false;
    }
    // Offsets into the text are 32-bit; since no byte gives more than one unit, a file within the
    // limit always gives a text within it. Refused before anything is allocated from that length.
    if (length > kLongestText) {
        SetMessage(message, u"File larger than " + Number(kLongestText) + u" bytes");
        return false;
    }

    // Decoded beside the destination, which keeps its text when a read fails.
    std::u16string loaded;
    const auto size = static_cast<std::size_t>(length);
    if (size != 0 && !ReadDecoded(file.get(), size, loaded)) {
        SetMessage(message, platform::SystemErrorText(errno));
        return false;
    }
    text = std::move(loaded);
    SetMessage(message, Number(size) + u" bytes to " + Number(text.size()) + u" wide chars");
    return true;
}

bool CFileXml::SaveFileText(const std::u16string& filePath, const std::u16string& text,
                            std::u16string* message, std::int32_t* encoding) {
    static_cast<void>(encoding);

    // "CommonConfig.xml" is rewritten in place: the new bytes are complete on disk before they take
    // the old file's place, so a full disk or a crash never leaves it empty or cut.
    // The bytes are counted first so that their buffer is allocated once at its exact size, beside
    // the text, and written only by the encoding.
    std::unique_ptr<char[]> buffer;
    std::size_t length = 0;
    if (!text.empty()) {
        const std::size_t room = xml::EncodeUtf8(text) + 1;
        buffer = std::make_unique_for_overwrite<char[]>(room);
        length = xml::EncodeUtf8(text, buffer.get(), room);
    }
    if (!platform::ReplaceFileContents(filePath, std::string_view(buffer.get(), length))) {
        SetMessage(message, platform::SystemErrorText(errno));
        return false;
    }
    SetMessage(message, Number(text.size()) + u" wide chars to " + Number(length) + u" bytes");
    return true;
}
