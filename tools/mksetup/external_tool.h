// Runs a program found on the PATH and collects what it prints.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace mksetup {

// The program's full path, or empty when no folder of the PATH holds it.
std::filesystem::path FindOnPath(const std::string& program);

// Runs program (found on the PATH) with args; its output and error output
// go to `output`. The exit code, or -1 when it could not be run.
int RunTool(const std::filesystem::path& program, const std::vector<std::string>& args, std::string& output);

}  // namespace mksetup
