#include "platform/posix_path.h"

#include <algorithm>

#include "platform/text.h"

namespace platform {

std::string NativePath(std::u16string_view path) {
    std::string native = ToUtf8(path);
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}

}  // namespace platform
