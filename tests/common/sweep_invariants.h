// What a fault sweep checks, on either side of the seam: trees of files
// and registry values (bytes and attributes), compared as "old or new" and
// nothing else, and the loop that fails every call in turn.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "platform/faulty/faulty_os.h"

namespace cabsetup::testing {

struct TreeEntry {
    bool folder = false;
    std::uint32_t attributes = 0;
    std::string bytes;
    bool operator==(const TreeEntry&) const = default;
};
// By Windows path ("C:\Program Files\Tool\a.txt"), and registry keys and
// values by "registry:" and the key's path.
using Tree = std::map<std::string, TreeEntry>;
constexpr char kRegistryPrefix[] = "registry:";

inline std::string Describe(const TreeEntry* e) {
    if (!e) return "absent";
    if (e->folder) return "folder";
    std::ostringstream out;
    out << e->bytes.size() << " bytes \"" << e->bytes.substr(0, 12) << (e->bytes.size() > 12 ? "..." : "")
        << "\" attributes 0x" << std::hex << e->attributes;
    return out.str();
}

inline bool Under(const std::string& path, const std::string& folder) {
    return path == folder || path.rfind(folder + "\\", 0) == 0;
}

// Paths of `after` whose state is neither their state in `before` nor in
// `expected` (absent counts as a state), each with what was found.
inline std::vector<std::string> NeitherOldNorNew(const Tree& before, const Tree& expected, const Tree& after,
                                                 const std::function<bool(const std::string&)>& within) {
    std::vector<std::string> wrong;
    std::map<std::string, int> paths;
    for (const Tree* t : {&before, &expected, &after})
        for (const auto& [path, entry] : *t) paths[path];
    for (const auto& [path, unused] : paths) {
        if (!within(path)) continue;
        auto find = [&](const Tree& t) -> const TreeEntry* {
            auto it = t.find(path);
            return it == t.end() ? nullptr : &it->second;
        };
        const TreeEntry *b = find(before), *e = find(expected), *a = find(after);
        auto same = [](const TreeEntry* x, const TreeEntry* y) { return (!x && !y) || (x && y && *x == *y); };
        if (!same(a, b) && !same(a, e))
            wrong.push_back(path + ": " + Describe(a) + " (before: " + Describe(b) + ", clean run: " + Describe(e) + ")");
    }
    return wrong;
}

// For n = 1, 2, ...: `arrange` (no faults), then `run` with the nth call
// of any kind failed, then `check(n)` (no faults: it may run the scenario
// again), until a run makes no call that could be failed: it then ran
// clean, and is checked too. Returns how many fault points were swept.
inline int SweepEveryCall(FaultyOs& os, const std::function<void()>& arrange, const std::function<void()>& run,
                          const std::function<void(int)>& check, int limit = 5000) {
    int n = 1;
    for (; n <= limit; ++n) {
        os.Reset();
        arrange();
        os.FailNthOfAny(n);
        run();
        bool injected = os.Injected() > 0;
        os.Reset();
        check(n);
        if (!injected) break;
    }
    EXPECT_LE(n, limit) << "the sweep did not reach a clean run";
    return n - 1;
}

}  // namespace cabsetup::testing
