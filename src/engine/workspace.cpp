#include "engine/workspace.h"

#include <cstdio>

#include "app/paths.h"

namespace cabsetup {

std::string CreateWorkspace(Os& os, const std::string& baseFolder) {
    LocalTime t = os.Now();
    char name[64];
    std::snprintf(name, sizeof name, "\\_setup_%04d%02d%02d%02d%02d%02d_", t.year % 10000, t.month % 100, t.day % 100,
                  t.hour % 100, t.minute % 100, t.second % 100);
    std::string path = baseFolder + name;
    if (!CreateFolderPath(os, baseFolder)) return {};
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::string candidate = attempt == 1 ? path : path + std::to_string(attempt);
        if (os.CreateDirectory(candidate)) return candidate;
        // Taken by another run: try the next name. Anything else is a failure.
        if (!FindFolderMatch(os, candidate) && !FindFileMatch(os, candidate)) return {};
    }
    return {};
}

void RemoveWorkspace(Os& os, const std::string& workDir) {
    if (workDir.empty()) return;
    FindData entry;
    Os::HandlePtr search = os.FindFirst(workDir + "\\*.*", entry);
    if (search) {
        do {
            if (!(entry.attributes & kAttrDirectory)) os.DeleteFile(workDir + "\\" + entry.name);
        } while (os.FindNext(*search, entry));
        search.reset();
    }
    os.RemoveDirectory(workDir);
}

}  // namespace cabsetup
