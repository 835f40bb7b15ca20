// Runs the lumvar-cmd of this build as a child, with its arguments as the tool passes them.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// The lumvar-cmd that this build put into its bin folder.
std::filesystem::path LumvarCmdPath();

// Runs lumvar-cmd with arguments and waits for it. beforeStart, when given, runs in the child just
// before the program starts (to restrict it); false from it ends the child with 126. The exit
// code, or -1 when the program did not start or did not exit normally.
int RunLumvarCmd(const std::vector<std::string>& arguments, const std::function<bool()>& beforeStart = {});

}  // namespace testing_support
