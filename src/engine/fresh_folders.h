// The folders this run created, and what it wrote into them. Nothing stood
// in such a folder before the run, so a file can stand there only when this
// run wrote it: looking for an existing file or a set-aside copy there
// (each lookup of a missing name scans the folder) finds nothing that is
// not already known here.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "platform/codepage.h"

namespace cabsetup {

class FreshFolders {
public:
    explicit FreshFolders(const CodePage& cp) : cp_(cp) {}

    // `folder` did not exist and this run created it.
    void Made(const std::string& folder);
    // This run is about to write `destination` (wherever it lies).
    void Writing(const std::string& destination);
    // True only when nothing can stand at `destination`: its folder is one
    // this run created, no earlier record of this run may have written the
    // same file, and the path names it in one way only (no "." or ".."
    // parts, no short 8.3 name, no trailing dot or blank the system drops).
    // False means "look", never "something is there".
    bool NothingCanStand(const std::string& destination) const;

private:
    // Names compared as the file system may compare them: ASCII case folded,
    // every other byte alike, so that two names it might take for one
    // always share a key (sharing one by chance only costs a lookup).
    static std::string Key(const std::string& path);
    static bool OneSpelling(const std::string& path);
    std::uint64_t Hash(const std::string& key) const;

    const CodePage& cp_;
    std::set<std::string> made_;
    // What was written, as a fixed-size filter: a name it has never seen is
    // answered exactly, a name it may have seen costs the lookup. Its size
    // does not grow with the number of files.
    std::vector<std::uint64_t> written_;
};

}  // namespace cabsetup
