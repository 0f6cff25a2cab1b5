#include "platform/path_text.h"

namespace cabsetup {

std::string ParentFolder(const CodePage& cp, std::string_view path) {
    std::size_t last = cp.FindLastChar(path, '\\');
    return last == std::string_view::npos ? std::string() : std::string(path.substr(0, last));
}

std::string GrandparentFolder(const CodePage& cp, std::string_view path) {
    return ParentFolder(cp, ParentFolder(cp, path));
}

std::string FirstComponent(const CodePage& cp, std::string_view path) {
    std::size_t first = cp.FindChar(path, '\\');
    return first == std::string_view::npos ? std::string() : std::string(path.substr(0, first));
}

}  // namespace cabsetup
