#include "engine/workspace.h"

#include "app/paths.h"

namespace cabsetup {

namespace {

// Zero-padded decimal digits; the printf family would cost setup.exe its
// whole floating-point formatter.
void AppendDigits(std::string& out, int value, int width) {
    char digits[8];
    for (int i = width - 1; i >= 0; --i, value /= 10) digits[i] = static_cast<char>('0' + value % 10);
    out.append(digits, static_cast<std::size_t>(width));
}

}  // namespace

std::string CreateWorkspace(Os& os, const std::string& baseFolder, std::string* failedFolder) {
    LocalTime t = os.Now();
    std::string path = baseFolder + "\\_setup_";
    AppendDigits(path, t.year % 10000, 4);
    for (int part : {t.month, t.day, t.hour, t.minute, t.second}) AppendDigits(path, part % 100, 2);
    path += '_';
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
