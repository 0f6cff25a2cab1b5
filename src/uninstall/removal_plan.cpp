#include "uninstall/removal_plan.h"

#include <set>

#include "actions/registry_action.h"
#include "platform/path_text.h"

namespace cabsetup {

namespace {

std::vector<std::string> Parts(const CodePage& cp, std::string_view path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= path.size();) {
        if (i == path.size() || (path[i] == '\\' && cp.CharLength(path, i) == 1)) {
            parts.emplace_back(path.substr(start, i - start));
            start = ++i;
        } else {
            i += cp.CharLength(path, i);
        }
    }
    return parts;
}

bool SameText(const CodePage& cp, std::string a, std::string b) {
    cp.ToLower(a);
    cp.ToLower(b);
    return a == b;
}

bool HasPlaceholder(std::string_view text) {
    std::size_t open = text.find('<');
    return open != std::string_view::npos && text.find('>', open) != std::string_view::npos;
}

bool IsShortcut(const CodePage& cp, const std::string& path) {
    return path.size() > 4 && SameText(cp, path.substr(path.size() - 4), ".lnk");
}

}  // namespace

std::string NormalizePath(const CodePage& cp, std::string_view path) {
    std::vector<std::string> parts = Parts(cp, path);
    if (parts.size() < 2 || parts[0].size() != 2 || parts[0][1] != ':') return {};
    std::vector<std::string> kept = {parts[0]};
    for (std::size_t i = 1; i < parts.size(); ++i) {
        if (parts[i].empty() || parts[i] == ".") continue;
        if (parts[i] == "..") {
            if (kept.size() == 1) return {};
            kept.pop_back();
            continue;
        }
        kept.push_back(parts[i]);
    }
    std::string out = kept[0];
    for (std::size_t i = 1; i < kept.size(); ++i) out += "\\" + kept[i];
    return kept.size() == 1 ? out + "\\" : out;
}

bool IsInsideFolder(const CodePage& cp, const std::string& path, const std::string& folder) {
    std::string p = NormalizePath(cp, path), f = NormalizePath(cp, folder);
    if (p.empty() || f.empty()) return false;
    std::vector<std::string> pp = Parts(cp, p), fp = Parts(cp, f);
    if (!fp.empty() && fp.back().empty()) fp.pop_back();  // a drive's root
    if (pp.size() < fp.size()) return false;
    for (std::size_t i = 0; i < fp.size(); ++i)
        if (!SameText(cp, pp[i], fp[i])) return false;
    return true;
}

std::vector<RemovalStep> PlanRemoval(const CodePage& cp, std::string_view log, const std::string& target,
                                     const std::string& keep) {
    static constexpr std::string_view kFile = "FILE    ", kRegistry = "REGE    ";
    std::vector<RemovalStep> steps;
    std::set<std::string> seen;
    const std::string keepPath = NormalizePath(cp, keep);
    for (std::size_t start = 0; start < log.size();) {
        std::size_t end = log.find('\n', start);
        if (end == std::string_view::npos) end = log.size();
        std::string_view line = log.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        bool file = line.substr(0, kFile.size()) == kFile, registry = line.substr(0, kRegistry.size()) == kRegistry;
        if (!file && !registry) continue;
        std::string_view rest = line.substr(kFile.size());
        if (rest.empty() || HasPlaceholder(rest)) continue;

        RemovalStep step;
        if (file) {
            step.kind = rest.back() == '\\' ? RemovalKind::Folder : RemovalKind::File;
            step.path = NormalizePath(cp, rest);
            if (step.path.empty()) continue;
            if (step.kind == RemovalKind::File) {
                if (!keepPath.empty() && SameText(cp, step.path, keepPath)) continue;
                if (!IsInsideFolder(cp, step.path, target) && !IsShortcut(cp, step.path)) continue;
            }
        } else {
            std::size_t last = cp.FindLastChar(rest, '\\');
            if (last == std::string_view::npos) continue;
            std::string key(rest.substr(0, last));
            step.value = std::string(rest.substr(last + 1));
            std::string rootName = FirstComponent(cp, key);
            if (rootName.empty() || !RootKeyByName(rootName, step.root)) continue;
            step.subkey = key.substr(rootName.size() + 1);
            // Never a root key itself, never a path that is not one.
            if (step.subkey.empty() || step.subkey.front() == '\\' || step.subkey.back() == '\\' ||
                step.subkey.find("\\\\") != std::string::npos)
                continue;
            step.kind = step.value.empty() ? RemovalKind::Key : RemovalKind::Value;
        }
        std::string identity = std::to_string(static_cast<int>(step.kind)) + "|" + step.path + "|" +
                               std::to_string(static_cast<int>(step.root)) + "|" + step.subkey + "|" + step.value;
        cp.ToLower(identity);
        if (seen.insert(identity).second) steps.push_back(std::move(step));
    }
    return steps;
}

}  // namespace cabsetup
