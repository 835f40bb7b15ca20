// Entry point of the POSIX build: the arguments arrive as UTF-8 and are handed on as UTF-16.
#include <string>
#include <vector>

#include "app/driver.h"
#include "platform/text.h"

int main(int argc, char** argv) {
    std::vector<std::u16string> arguments;
    arguments.reserve(static_cast<std::size_t>(argc));
    for (int i = 0; i < argc; ++i)
        arguments.push_back(platform::FromUtf8(argv[i]));
    return static_cast<int>(RunLumvar(arguments, PlatformStartupServices()));
}
