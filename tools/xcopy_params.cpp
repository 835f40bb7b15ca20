#include "tools/xcopy_params.h"

#include <algorithm>

#include "platform/text.h"

namespace xcopy {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

// Walks the parameter string from left to right.
class Cursor {
public:
    explicit Cursor(std::string_view text) : text_(text) {}

    bool AtEnd() const { return pos_ == text_.size(); }

    // Skips blanks; true when at least one was there (or the text has ended).
    bool SkipBlanks() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && IsBlank(text_[pos_]))
            ++pos_;
        return pos_ > start || AtEnd();
    }

    // Consumes word when it stands next, letter case ignored, followed by a blank or the end.
    bool TakeWord(std::string_view word) {
        if (text_.size() - pos_ < word.size())
            return false;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (Lower(text_[pos_ + i]) != word[i])
                return false;
        }
        const std::size_t after = pos_ + word.size();
        if (after < text_.size() && !IsBlank(text_[after]))
            return false;
        pos_ = after;
        return true;
    }

    // Consumes a double-quoted text and gives what lies between the quotes. False when no quote
    // opens here or none closes it.
    bool TakeQuoted(std::string_view& inside) {
        if (AtEnd() || text_[pos_] != '"')
            return false;
        const std::size_t close = text_.find('"', pos_ + 1);
        if (close == std::string_view::npos)
            return false;
        inside = text_.substr(pos_ + 1, close - pos_ - 1);
        pos_ = close + 1;
        return true;
    }

    // The blank-delimited word that stands next.
    std::string_view TakeToken() {
        const std::size_t start = pos_;
        while (pos_ < text_.size() && !IsBlank(text_[pos_]))
            ++pos_;
        return text_.substr(start, pos_ - start);
    }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

std::string HostPath(std::string_view path) {
    std::string host(path);
    std::replace(host.begin(), host.end(), '\\', '/');
    return host;
}

// Sets the switch that token names; false for anything but /e /i /v /y.
bool ApplySwitch(std::string_view token, XcopyRequest& request) {
    if (token.size() != 2 || token[0] != '/')
        return false;
    switch (Lower(token[1])) {
        case 'e':
            request.subfolders = true;
            return true;
        case 'i':
            request.createFolder = true;
            return true;
        case 'v':
            request.verify = true;
            return true;
        case 'y':
            request.overwrite = true;
            return true;
        default:
            return false;
    }
}

}  // namespace

ParamsStatus ParseXcopyParameters(std::string_view parameters, XcopyRequest& request) {
    Cursor cursor(parameters);
    cursor.SkipBlanks();
    if (!cursor.TakeWord("/c"))
        return ParamsStatus::MissingCommandSwitch;
    cursor.SkipBlanks();
    if (!cursor.TakeWord("xcopy"))
        return ParamsStatus::NotXcopy;
    cursor.SkipBlanks();

    std::string_view source;
    if (!cursor.TakeQuoted(source))
        return ParamsStatus::BadSource;
    if (source.empty())
        return ParamsStatus::EmptySource;

    // The destination must stand apart from the source: "a""b" would be one word to XCOPY.
    std::string_view destination;
    if (!cursor.SkipBlanks() || !cursor.TakeQuoted(destination))
        return ParamsStatus::BadDestination;
    if (destination.empty())
        return ParamsStatus::EmptyDestination;

    XcopyRequest read;
    read.source = HostPath(source);
    read.destination = HostPath(destination);
    while (true) {
        const bool blankBefore = cursor.SkipBlanks();
        if (cursor.AtEnd())
            break;
        const std::string_view token = cursor.TakeToken();
        if (!blankBefore || token.empty() || token[0] != '/')
            return ParamsStatus::ExtraText;
        if (!ApplySwitch(token, read))
            return ParamsStatus::UnknownSwitch;
    }
    request = std::move(read);
    return ParamsStatus::Ok;
}

ParamsStatus ParseXcopyParameters(std::u16string_view parameters, XcopyRequest& request) {
    return ParseXcopyParameters(platform::ToUtf8(parameters), request);
}

}  // namespace xcopy
