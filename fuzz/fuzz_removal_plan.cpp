// Any bytes as an installed-file log: the uninstaller's plan must never
// crash, and must never name a file outside the installation's folder other
// than a shortcut, nor a registry root, whatever the log says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/codepage.h"
#include "uninstall/removal_plan.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const cabsetup::TableCodePage kKorean(949);
    std::string_view log(reinterpret_cast<const char*>(data), size);
    const std::string target = "C:\\Program Files\\Tool";
    for (const cabsetup::RemovalStep& s : cabsetup::PlanRemoval(kKorean, log, target, target + "\\uninstall.exe")) {
        switch (s.kind) {
        case cabsetup::RemovalKind::File: {
            bool inside = cabsetup::IsInsideFolder(kKorean, s.path, target);
            std::string tail = s.path.size() > 4 ? s.path.substr(s.path.size() - 4) : std::string();
            kKorean.ToLower(tail);
            if (!inside && tail != ".lnk") std::abort();
            if (cabsetup::NormalizePath(kKorean, s.path) != s.path) std::abort();
            break;
        }
        case cabsetup::RemovalKind::Folder:
            if (s.path.empty()) std::abort();
            break;
        case cabsetup::RemovalKind::Value:
        case cabsetup::RemovalKind::Key:
            if (s.subkey.empty()) std::abort();
            break;
        }
    }
    return 0;
}
