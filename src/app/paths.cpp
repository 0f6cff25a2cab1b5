#include "app/paths.h"

#include <cstring>

namespace cabsetup {

bool CreateFolderPath(Os& os, const std::string& path, std::vector<std::string>* made) {
    const CodePage& cp = os.Mbcs();
    // CreateDirectoryA succeeds only for a folder that was not there.
    auto create = [&](const std::string& folder) {
        if (os.CreateDirectory(folder) && made) made->push_back(folder);
    };
    for (std::size_t i = 0; i < path.size(); i += cp.CharLength(path, i)) {
        if (path[i] != '\\' || cp.CharLength(path, i) != 1) continue;
        std::string prefix = path.substr(0, i);
        // A bare drive such as C: is neither created nor tested.
        if (cp.FindChar(prefix, '\\') == std::string::npos) continue;
        create(prefix);
        if (!FindFolderMatch(os, prefix)) return false;
    }
    create(path);
    return FindFolderMatch(os, path);
}

namespace {

bool FindMatch(Os& os, const std::string& pattern, FindData* out, bool wantFolder) {
    FindData entry;
    Os::HandlePtr search = os.FindFirst(pattern, entry);
    if (!search) return false;
    do {
        if (((entry.attributes & kAttrDirectory) != 0) == wantFolder) {
            if (out) *out = entry;
            return true;
        }
    } while (os.FindNext(*search, entry));
    return false;
}

}  // namespace

bool FindFileMatch(Os& os, const std::string& pattern, FindData* out) {
    return FindMatch(os, pattern, out, false);
}

bool FindFolderMatch(Os& os, const std::string& pattern, FindData* out) {
    return FindMatch(os, pattern, out, true);
}

std::string ReadRegistryString(Os& os, RegRoot root, const std::string& subkey, const std::string& valueName) {
    Os::HandlePtr key = os.RegOpenKey(root, subkey, kKeyAllAccess);
    if (!key) return {};
    char buffer[kRegistryReadBuffer] = {};
    std::size_t size = sizeof buffer;
    if (!os.RegQueryValue(*key, valueName, buffer, size)) return {};
    if (size > sizeof buffer) size = sizeof buffer;
    const void* zero = std::memchr(buffer, 0, size);
    return std::string(buffer, zero ? static_cast<const char*>(zero) - buffer : size);
}

bool ReadWholeFile(Os& os, const std::string& path, std::uint64_t limit, std::string& out) {
    out.clear();
    Os::HandlePtr file = os.OpenRead(path);
    std::uint64_t size = 0;
    if (!file || !os.FileSize(*file, size) || size > limit) return false;
    out.resize(static_cast<std::size_t>(size));
    std::size_t got = 0;
    bool ok = os.Read(*file, out.data(), out.size(), got) && got == out.size();
    if (!ok) out.clear();
    return ok;
}

}  // namespace cabsetup
