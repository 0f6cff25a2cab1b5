// What `mksetup try` learns about one run of a package under Wine, and the
// checks it draws from it: pure logic, no Wine, so the tests can feed it
// what a run would show.
#pragma once

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace mksetup::trying {

// The lines cabsetup-drive.exe writes: tab-separated fields, escaped.
std::vector<std::vector<std::string>> ParseFacts(const std::string& text);

struct ControlFact {
    int page = 0, id = 0;
    std::string kind;
    bool fits = true;
    int needWidth = 0, needHeight = 0, haveWidth = 0, haveHeight = 0;
    std::string why, text;
};

struct PageFact {
    int number = 0;
    std::string name, picture, caption, face;
    int charset = 0, hangul = 0, hangulMissing = 0;
    bool sidePictureArea = false;
    double sidePictureInk = 0;
    std::vector<ControlFact> controls;
};

struct BoxFact {
    std::string caption, text, picture;
};

struct FileEntry {
    std::string path;  // as Windows names it: C:\...
    bool folder = false;
    long long size = 0;
};

struct ValueEntry {
    std::string key, name, type, data;
};

struct LinkFact {
    std::string file, target, arguments, folder, description;
    bool read = false;
};

// What is on the disk and in the registry at one moment.
struct Snapshot {
    std::map<std::string, FileEntry> files;  // by lower-cased path
    std::set<std::string> keys;              // lower-cased
    std::map<std::string, ValueEntry> values;  // by lower-cased key + "\\" + name
    std::map<std::string, std::string> keyNames;  // lower-cased -> as spelled
};

// Reads the drive's files below `driveRoot` (C:\ on Windows), leaving out
// the folders in `skip` (lower-cased Windows paths).
void AddFiles(Snapshot& s, const std::filesystem::path& driveRoot, const std::string& drive,
              const std::set<std::string>& skip);
// Takes in cabsetup-drive's "registry" lines.
void AddRegistry(Snapshot& s, const std::vector<std::vector<std::string>>& facts);

// What `after` holds that `before` does not (or holds differently).
struct Changes {
    std::vector<FileEntry> files;
    std::vector<std::string> keys;
    std::vector<ValueEntry> values;
    bool Empty() const { return files.empty() && keys.empty() && values.empty(); }
};
Changes Added(const Snapshot& before, const Snapshot& after);

// Something still there after removal, and whose it is: the package's when
// the installation put it there and recorded it (in its log, its target
// folder or its uninstall key), else the user's (a program it ran, Wine).
struct Leftover {
    std::string kind;  // "file", "folder", "key", "value"
    std::string path;
    bool package = false;
};

struct InstallRecord {
    std::string target;        // the target folder
    std::string uninstallKey;  // full path of the package's uninstall key
    std::vector<std::string> logLines;  // flist.lst's record lines
    // Whether the installation answers for this file or folder (inside its
    // target folder, or logged) or registry key or value (below its
    // uninstall key, or logged).
    bool Covers(const std::string& path, bool registry) const;
};
// The target folder, the uninstall key and flist.lst's records, from what
// an installation added and the text of its flist.lst.
InstallRecord RecordOf(const Changes& installed, const std::string& flist);
std::vector<Leftover> LeftoversOf(const Changes& left, const Changes& installed, const InstallRecord& record);

bool SameTextIgnoringCase(const std::string& a, const std::string& b);
// Whether `path` is `folder` or inside it (case ignored, Windows separators).
bool InsideFolder(const std::string& path, const std::string& folder);

}  // namespace mksetup::trying
