#include "uninstall/removal.h"

#include "platform/path_text.h"

namespace cabsetup {

namespace {

// Whether a folder between `target` and `path` is a link or junction: a
// logged path must not lead the removal out of the installation's folder.
bool PassesThroughALink(Os& os, const std::string& path, const std::string& target) {
    const CodePage& cp = os.Mbcs();
    if (!IsInsideFolder(cp, path, target)) return false;
    std::string top = NormalizePath(cp, target);
    for (std::string folder = ParentFolder(cp, path); folder.size() > top.size(); folder = ParentFolder(cp, folder)) {
        FindData info;
        if (os.FileInfo(folder, info) && (info.attributes & kAttrReparsePoint)) return true;
    }
    return false;
}

void RemoveFile(Os& os, const std::string& path, const std::string& target, RemovalOutcome& out) {
    FindData info;
    if (!os.FileInfo(path, info) || (info.attributes & kAttrDirectory) || PassesThroughALink(os, path, target)) return;
    if (info.attributes & kAttrReadOnly) os.SetAttributes(path, info.attributes & ~kAttrReadOnly);
    if (os.DeleteFile(path)) {
        ++out.removed;
    } else if (os.DeleteAtRestart(path)) {
        ++out.scheduled;
    } else {
        ++out.failed;
    }
}

void RemoveKey(Os& os, const RemovalStep& step, RemovalOutcome& out) {
    Os::HandlePtr key = os.RegOpenKey(step.root, step.subkey, kKeyAllAccess);
    if (!key) return;
    if (step.kind == RemovalKind::Value) {
        if (os.RegDeleteValue(*key, step.value)) ++out.removed;
        return;
    }
    os.RegDeleteValue(*key, std::string());  // the key's default value
    bool empty = os.RegKeyIsEmpty(*key);
    key.reset();
    if (empty && os.RegDeleteKey(step.root, step.subkey)) ++out.removed;
}

// The folders inside `folder`, each listed after all of its own.
void FoldersDeepestFirst(Os& os, const std::string& folder, std::vector<std::string>& out, int depth) {
    if (depth > 64) return;
    FindData entry;
    Os::HandlePtr search = os.FindFirst(folder + "\\*.*", entry);
    if (!search) return;
    std::vector<std::string> children;
    do {
        if ((entry.attributes & kAttrDirectory) && entry.name != "." && entry.name != "..")
            children.push_back(folder + "\\" + entry.name);
    } while (os.FindNext(*search, entry));
    search.reset();
    for (const std::string& child : children) {
        FindData info;
        bool link = os.FileInfo(child, info) && (info.attributes & kAttrReparsePoint);
        if (!link) FoldersDeepestFirst(os, child, out, depth + 1);
        out.push_back(child);
    }
}

}  // namespace

RemovalOutcome CarryOut(Os& os, const std::vector<RemovalStep>& steps, const std::string& target) {
    RemovalOutcome out;
    for (const RemovalStep& step : steps) {
        switch (step.kind) {
        case RemovalKind::File: RemoveFile(os, step.path, target, out); break;
        case RemovalKind::Folder:
            // Only an empty folder goes (the system refuses any other), and
            // a link or junction goes as itself, never what it points to.
            if (os.RemoveDirectory(step.path)) ++out.removed;
            break;
        case RemovalKind::Value:
        case RemovalKind::Key: RemoveKey(os, step, out); break;
        }
    }
    return out;
}

void RemoveEmptyFolders(Os& os, const std::string& target) {
    std::string top = NormalizePath(os.Mbcs(), target);
    if (top.empty()) return;
    if (top.back() == '\\') return;  // never a whole drive
    std::vector<std::string> folders;
    FoldersDeepestFirst(os, top, folders, 0);
    for (const std::string& f : folders) os.RemoveDirectory(f);
    os.RemoveDirectory(top);
}

}  // namespace cabsetup
