// How a UTF-16 path of the tool reaches the POSIX file system.
#pragma once

#include <string>
#include <string_view>

namespace platform {

// UTF-8 form of a path with every backslash read as "/" (a doubled one is harmless).
std::string NativePath(std::u16string_view path);

}  // namespace platform
