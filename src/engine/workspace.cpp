#include "engine/workspace.h"

#include "app/paths.h"
#include "platform/date_text.h"

namespace cabsetup {

std::string CreateWorkspace(Os& os, const std::string& baseFolder, std::string* failedFolder) {
    LocalTime t = os.Now();
    std::string path = baseFolder + "\\_setup_" + DateDigits(t) + TimeDigits(t) + '_';
    if (failedFolder) *failedFolder = baseFolder;
    if (!CreateFolderPath(os, baseFolder)) return {};
    for (int attempt = 1; attempt <= 100; ++attempt) {
        std::string candidate = attempt == 1 ? path : path + std::to_string(attempt);
        if (os.CreateDirectory(candidate)) return candidate;
        if (failedFolder) *failedFolder = candidate;
        // Taken by another run: try the next name. Anything else is a failure.
        if (!FindFolderMatch(os, candidate) && !FindFileMatch(os, candidate)) return {};
    }
    return {};
}

namespace {

// Deletes the files in the workspace; with `schedule`, what cannot go now
// goes when the system next starts. False when the folder cannot be listed.
bool EmptyWorkspace(Os& os, const std::string& workDir, bool schedule) {
    FindData entry;
    Os::HandlePtr search = os.FindFirst(workDir + "\\*.*", entry);
    if (!search) return false;
    do {
        if (entry.attributes & kAttrDirectory) continue;
        std::string file = workDir + "\\" + entry.name;
        if (!os.DeleteFile(file) && schedule) os.DeleteAtRestart(file);
    } while (os.FindNext(*search, entry));
    return true;
}

}  // namespace

void RemoveWorkspace(Os& os, const std::string& workDir) {
    if (workDir.empty()) return;
    // A refusal may pass (a scanner still holding a cabinet): one more
    // try, then what is left goes at the next start rather than staying.
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool last = attempt == 1;
        if (!EmptyWorkspace(os, workDir, last) && !last) continue;
        if (os.RemoveDirectory(workDir)) return;
    }
    os.DeleteAtRestart(workDir);
}

}  // namespace cabsetup
