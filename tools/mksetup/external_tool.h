// Runs a program found on the PATH and collects what it prints.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace mksetup {

// The program's full path, or empty when no folder of the PATH holds it.
std::filesystem::path FindOnPath(const std::string& program);

// Bytes a tool reads from a file named on its command line (a password),
// handed over so that no other user can ever open them: a pipe the tool
// sees as /dev/fd/N (nothing on disk), on Windows a file in a folder only
// this user may open, gone when the tool is.
struct ToolSecret {
    std::string bytes;
    std::size_t argument = 0;        // the argument that becomes the path the tool reads
    std::string environmentVariable;  // where mksetup found the secret: kept from the tool
};

// Runs program (found on the PATH) with args; its output and error output
// go to `output`. The exit code, or -1 when it could not be run (`output`
// says why). A signal that ends mksetup meanwhile stops the tool first.
int RunTool(const std::filesystem::path& program, std::vector<std::string> args, std::string& output,
            const ToolSecret* secret = nullptr);

}  // namespace mksetup
