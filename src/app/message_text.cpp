#include "app/message_text.h"

namespace cabsetup {

std::string FormatEachS(const CodePage& cp, const std::string& format, const std::string& argument) {
    std::string out;
    for (std::size_t i = 0; i < format.size();) {
        std::size_t n = cp.CharLength(format, i);
        if (n == 1 && format[i] == '%' && i + 1 < format.size()) {
            if (format[i + 1] == 's') {
                out += argument;
                i += 2;
                continue;
            }
            if (format[i + 1] == '%') {
                out += '%';
                i += 2;
                continue;
            }
        }
        out.append(format, i, n);
        i += n;
    }
    return out;
}

void ReplaceEvery(const CodePage& cp, std::string& text, const std::string& marker, const std::string& value) {
    for (std::size_t pos = cp.Find(text, marker); pos != std::string::npos; pos = cp.Find(text, marker, pos + value.size()))
        text.replace(pos, marker.size(), value);
}

std::string ApplicationName(const CodePage& cp, const std::string& modulePath) {
    std::size_t slash = cp.FindLastChar(modulePath, '\\');
    std::string name = slash == std::string::npos ? modulePath : modulePath.substr(slash + 1);
    std::size_t dot = cp.FindLastChar(name, '.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

int ShowMessage(Os& os, const std::string& text, const std::string& caption, unsigned flags) {
    if ((flags & kMbIconMask) == 0) flags |= kMbIconExclamation;
    return os.MessageBox(text, caption.empty() ? ApplicationName(os.Mbcs(), os.ModulePath()) : caption, flags);
}

}  // namespace cabsetup
