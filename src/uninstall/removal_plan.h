// What the uninstaller removes, read from the installed-file log
// (flist.lst): one step per line, in the log's order (longest first, so
// files before their folders and values before their keys).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/os.h"

namespace cabsetup {

enum class RemovalKind {
    File,    // deleted (scheduled for the next start when in use)
    Folder,  // removed when empty
    Value,   // a registry value
    Key,     // a registry key's default value, then the key when nothing is left in it
};

struct RemovalStep {
    RemovalKind kind = RemovalKind::File;
    std::string path;  // File, Folder: a normalised full path
    RegRoot root = RegRoot::LocalMachine;
    std::string subkey, value;  // Value, Key
    bool operator==(const RemovalStep&) const = default;
};

// The path with "." and ".." resolved and empty parts dropped; empty when it
// is not a full path (a drive letter and a backslash first) or climbs above its drive.
std::string NormalizePath(const CodePage& cp, std::string_view path);
// Whether path lies inside folder (or is it), both normalised, compared
// part by part without regard to case: C:\Tool is not inside C:\To.
bool IsInsideFolder(const CodePage& cp, const std::string& path, const std::string& folder);

// The steps for a log's text. Files are removed only inside `target` (the
// installation's folder); outside it only shortcuts (.lnk) and the folders
// the log names with a trailing backslash. `keep` (the running uninstaller)
// is left out, as are empty lines, lines with an unexpanded placeholder,
// unknown tags and repeated lines.
std::vector<RemovalStep> PlanRemoval(const CodePage& cp, std::string_view log, const std::string& target,
                                     const std::string& keep);

}  // namespace cabsetup
