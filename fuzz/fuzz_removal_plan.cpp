// Any bytes as an installed-file log: the uninstaller's plan must never
// crash, and must never name a file outside the installation's folder other
// than a shortcut, a folder above it or one that holds no logged shortcut,
// a path the system would read otherwise, nor a registry entry outside the
// roots it may change or another program's registration, whatever the log says.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/host/host_os.h"
#include "platform/path_text.h"
#include "uninstall/removal_plan.h"

namespace {

std::string Lower(const cabsetup::CodePage& cp, std::string s) {
    cp.ToLower(s);
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // No sandbox folder exists: nothing is found on disk, and nothing is written.
    static cabsetup::HostOs os("/nonexistent/cabsetup-fuzz", 949);
    const cabsetup::CodePage& cp = os.Mbcs();
    std::string_view log(reinterpret_cast<const char*>(data), size);
    const std::string target = "C:\\Program Files\\Tool";
    const cabsetup::RemovalPlan plan =
        cabsetup::PlanRemoval(os, log, {target, {target + "\\uninstall.exe", target + "\\flist.lst"}, {"ToolKey"}});
    std::string shortcutFolders;
    for (const cabsetup::RemovalStep& s : plan.steps)
        if (s.kind == cabsetup::RemovalKind::File && !cabsetup::IsInsideFolder(cp, s.path, target))
            shortcutFolders += "|" + Lower(cp, cabsetup::ParentFolder(cp, s.path)) + "|";
    for (const cabsetup::RemovalStep& s : plan.steps) {
        switch (s.kind) {
        case cabsetup::RemovalKind::File:
        case cabsetup::RemovalKind::Folder: {
            std::string canonical;
            if (cabsetup::CanonicalPath(cp, s.path, canonical) != cabsetup::PathVerdict::Plain || canonical != s.path)
                std::abort();
            const bool inside = cabsetup::IsInsideFolder(cp, s.path, target);
            if (s.kind == cabsetup::RemovalKind::File) {
                std::string tail = s.path.size() > 4 ? Lower(cp, s.path.substr(s.path.size() - 4)) : std::string();
                if (!inside && tail != ".lnk") std::abort();
                if (inside && cabsetup::IsInsideFolder(cp, target, s.path)) std::abort();  // the folder as a file
                const std::string lower = Lower(cp, s.path);
                if (lower == Lower(cp, target + "\\uninstall.exe") || lower == Lower(cp, target + "\\flist.lst")) std::abort();
            } else if (!inside) {
                if (cabsetup::IsInsideFolder(cp, target, s.path)) std::abort();  // above the target
                if (shortcutFolders.find("|" + Lower(cp, s.path) + "|") == std::string::npos) std::abort();
            }
            break;
        }
        case cabsetup::RemovalKind::Value:
        case cabsetup::RemovalKind::Key: {
            const std::string key = Lower(cp, s.subkey);
            if (s.root == cabsetup::RegRoot::ClassesRoot) {
                if (key.empty()) std::abort();
            } else if (s.root == cabsetup::RegRoot::LocalMachine || s.root == cabsetup::RegRoot::CurrentUser) {
                if (key.rfind("software\\", 0) != 0 || key.size() <= 9) std::abort();
            } else {
                std::abort();
            }
            const std::string uninstall = Lower(cp, cabsetup::kUninstallRoot) + "\\";
            if (key.rfind(uninstall, 0) == 0 || key + "\\" == uninstall) {
                const std::string own = uninstall + "toolkey";
                if (s.root != cabsetup::RegRoot::LocalMachine || !s.registration ||
                    (key != own && key.rfind(own + "\\", 0) != 0))
                    std::abort();
            } else if (s.registration) {
                std::abort();
            }
            break;
        }
        }
    }
    return 0;
}
