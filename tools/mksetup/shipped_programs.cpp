#include "shipped_programs.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace fs = std::filesystem;

namespace mksetup {

namespace {

fs::path OwnFolder() {
    std::error_code ec;
#ifdef _WIN32
    wchar_t path[MAX_PATH * 4];
    DWORD n = GetModuleFileNameW(nullptr, path, static_cast<DWORD>(sizeof path / sizeof path[0]));
    if (n == 0 || n >= sizeof path / sizeof path[0]) return {};
    return fs::path(path).parent_path();
#else
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : self.parent_path();
#endif
}

}  // namespace

std::vector<fs::path> ShippedProgramPlaces(const std::string& program) {
    fs::path folder = OwnFolder();
    if (folder.empty()) return {};
    return {folder / program, (folder.parent_path() / "share" / "cabsetup" / program).lexically_normal()};
}

fs::path FindShippedProgram(const std::string& program) {
    for (const fs::path& p : ShippedProgramPlaces(program)) {
        std::error_code ec;
        if (fs::is_regular_file(p, ec)) return p;
    }
    return {};
}

}  // namespace mksetup
