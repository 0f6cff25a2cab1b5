#include "wizard/folder_check.h"

#include <cstring>

namespace cabsetup {

int IsValidFolderName(const CodePage& cp, const std::string& name) {
    if (name.empty()) return 0;
    auto edge = [](char c) { return c == '\t' || c == ' ' || c == '.'; };
    if (edge(name.front()) || edge(name.back())) return 0;
    for (std::size_t i = 0; i < name.size(); i += cp.CharLength(name, i)) {
        // A trail byte is never one of these: only single-byte characters are looked at.
        if (cp.CharLength(name, i) == 1 && std::strchr("\"*/:<>?\\|", name[i]) && name[i] != 0) return 0;
    }
    return 1;
}

int IsValidFolderPath(const CodePage& cp, const std::string& path) {
    // The text travels in a 260-byte buffer.
    std::string p = path.substr(0, 259);
    if (p.size() < 3) return 1;
    unsigned char letter = static_cast<unsigned char>(p[0]);
    bool isLetter = (letter >= 'A' && letter <= 'Z') || (letter >= 'a' && letter <= 'z');
    if (!isLetter || p[1] != ':' || p[2] != '\\') return 1;
    if (p.size() == 3) return 0;
    std::string rest = p.substr(3);
    for (;;) {
        std::size_t slash = cp.FindChar(rest, '\\');
        std::string component = slash == std::string::npos ? rest : rest.substr(0, slash);
        if (!IsValidFolderName(cp, component)) return 1;
        if (slash == std::string::npos) return 0;
        rest = rest.substr(slash + 1);
    }
}

}  // namespace cabsetup
