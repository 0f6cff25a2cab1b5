#include "external_tool.h"

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#define popen _popen
#define pclose _pclose
#else
#include <sys/wait.h>
#endif

namespace fs = std::filesystem;

namespace mksetup {

namespace {

// One argument for the shell, taken literally.
void AppendQuoted(std::string& line, const std::string& arg) {
#ifdef _WIN32
    line.push_back('"');
    for (char c : arg) {
        if (c == '"') line.push_back('\\');
        line.push_back(c);
    }
    line.push_back('"');
#else
    line.push_back('\'');
    for (char c : arg) {
        if (c == '\'') line.append("'\\''");
        else line.push_back(c);
    }
    line.push_back('\'');
#endif
}

}  // namespace

fs::path FindOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (!path) return {};
#ifdef _WIN32
    const char separator = ';';
    const std::string suffix = ".exe";
#else
    const char separator = ':';
    const std::string suffix;
#endif
    std::string all = path;
    for (std::size_t start = 0; start <= all.size();) {
        std::size_t end = all.find(separator, start);
        if (end == std::string::npos) end = all.size();
        fs::path candidate = fs::path(all.substr(start, end - start)) / (program + suffix);
        std::error_code ec;
        if (end > start && fs::is_regular_file(candidate, ec)) return candidate;
        start = end + 1;
    }
    return {};
}

int RunTool(const fs::path& program, const std::vector<std::string>& args, std::string& output) {
    std::string command;
#ifdef _WIN32
    command.push_back('"');  // cmd.exe strips one pair of quotes around the whole line
#endif
    AppendQuoted(command, program.string());
    for (const std::string& a : args) {
        command.push_back(' ');
        AppendQuoted(command, a);
    }
    command.append(" 2>&1");
#ifdef _WIN32
    command.push_back('"');
#endif
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return -1;
    char buffer[4096];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    int status = pclose(pipe);
#ifdef _WIN32
    return status;
#else
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#endif
}

}  // namespace mksetup
