// Fault sweeps against the host sandbox: trees are snapshots of the whole
// sandbox and its registry, so "nothing else changed" is checked
// everywhere, not only where a test thought to look.
#pragma once

#include <cctype>
#include <filesystem>
#include <fstream>

#include "platform/host/host_os.h"
#include "sweep_invariants.h"

namespace cabsetup::testing {

inline Tree Snapshot(HostOs& host, const std::filesystem::path& sandbox) {
    Tree tree;
    for (const auto& [name, value] : host.RegistryContents()) {
        TreeEntry entry;
        entry.folder = !name.empty() && name.back() == '\\';
        entry.attributes = value.first;  // the value's type
        entry.bytes.assign(value.second.begin(), value.second.end());
        tree[kRegistryPrefix + name] = std::move(entry);
    }
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator(sandbox, ec);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        std::string relative = std::filesystem::relative(it->path(), sandbox, ec).string();
        if (relative.size() < 1) continue;
        std::string windows = relative.substr(0, 1) + ":" + (relative.size() > 1 ? relative.substr(1) : "\\");
        for (char& c : windows)
            if (c == '/') c = '\\';
        TreeEntry entry;
        entry.folder = it->is_directory(ec);
        host.GetAttributes(windows, entry.attributes);
        if (!entry.folder) {
            std::ifstream in(it->path(), std::ios::binary);
            entry.bytes.assign(std::istreambuf_iterator<char>(in), {});
        }
        tree[windows] = std::move(entry);
    }
    return tree;
}

// A copy that could not be deleted but is hidden and will go at the next
// start is allowed to stay: it is dropped from the tree.
inline void DropScheduledForRestart(Tree& tree, const HostOs& host) {
    for (std::string scheduled : host.RestartDeletes()) {
        auto lower = [](std::string s) {
            for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return s;
        };
        for (auto it = tree.begin(); it != tree.end();) {
            if (lower(it->first) == lower(scheduled) && (it->second.attributes & kAttrHidden)) it = tree.erase(it);
            else ++it;
        }
    }
}

}  // namespace cabsetup::testing
