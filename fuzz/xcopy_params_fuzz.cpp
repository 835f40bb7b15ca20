// libFuzzer target: the parameter reader must never crash, and whatever it accepts must read back
// the same when written out again in the tool's own form.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "tools/xcopy_params.h"

namespace {

void Require(bool condition) {
    if (!condition)
        std::abort();
}

std::string Rewritten(const xcopy::XcopyRequest& request) {
    std::string text = "/c XCOPY \"" + request.source + "\" \"" + request.destination + "\"";
    if (request.subfolders)
        text += " /e";
    if (request.createFolder)
        text += " /i";
    if (request.verify)
        text += " /v";
    if (request.overwrite)
        text += " /y";
    return text;
}

bool Same(const xcopy::XcopyRequest& a, const xcopy::XcopyRequest& b) {
    return a.source == b.source && a.destination == b.destination && a.subfolders == b.subfolders &&
           a.createFolder == b.createFolder && a.verify == b.verify && a.overwrite == b.overwrite;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    xcopy::XcopyRequest request;
    request.source = "untouched";
    const xcopy::ParamsStatus status = xcopy::ParseXcopyParameters(text, request);
    if (status != xcopy::ParamsStatus::Ok) {
        Require(request.source == "untouched" && request.destination.empty());
    } else {
        Require(!request.source.empty() && !request.destination.empty());
        for (const std::string* path : {&request.source, &request.destination}) {
            Require(path->find('"') == std::string::npos && path->find('\\') == std::string::npos);
        }
        xcopy::XcopyRequest again;
        Require(xcopy::ParseXcopyParameters(std::string_view(Rewritten(request)), again) ==
                xcopy::ParamsStatus::Ok);
        Require(Same(request, again));
    }

    // The UTF-16 entry agrees with the UTF-8 one on text that survives the round trip.
    const std::u16string wide = platform::FromUtf8(text);
    if (platform::ToUtf8(wide) == text) {
        xcopy::XcopyRequest fromWide;
        fromWide.source = "untouched";
        Require(xcopy::ParseXcopyParameters(std::u16string_view(wide), fromWide) == status);
        Require(Same(fromWide, request));
    }
    return 0;
}
