// Entry point of the Windows build. The C runtime has already split the UTF-16 command line into
// arguments by the platform's usual rules for blanks and double quotes; they are handed on as
// they came, argument 0 (the program's own path) included.
#include <string>
#include <string_view>
#include <vector>

#include "app/driver.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::u16string> arguments;
    arguments.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        const std::wstring_view argument(argv[i]);
        arguments.emplace_back(argument.begin(), argument.end());
    }
    return static_cast<int>(RunLumvar(arguments, PlatformStartupServices()));
}
