// The installed-file log: every folder, file and registry entry the
// installation put in place, written as flist.lst for the uninstaller.
#pragma once

#include <string>

#include "platform/os.h"

namespace cabsetup {

class CInstallLog {
public:
    virtual ~CInstallLog() = default;

    bool SetFolder(const std::string& folder) {
        text_.clear();
        folder_ = folder;
        return true;
    }
    void AddFile(const std::string& path) { text_ += "FILE    " + path + "\n"; }
    void AddRegistry(const std::string& keyPath, const std::string& valueName) {
        text_ += "REGE    " + keyPath + "\\" + valueName + "\n";
    }
    void Clear() {
        text_.clear();
        folder_.clear();
    }
    // Sorts the records longest first and writes folder\flist.lst whole
    // beside the old one before it takes its place; with noChanges nothing
    // is written and the old log stays. False when the log could not be
    // written whole: the old log then stays as it was.
    bool Save(Os& os, bool noChanges);
    // The bytes Save writes (after it has sorted the records).
    std::string FileBytes() const;

    const std::string& Folder() const { return folder_; }
    const std::string& Text() const { return text_; }
    // The records sorted as Save writes them (without the header line).
    static std::string SortedLongestFirst(const std::string& text);

private:
    std::string folder_, text_;
};

}  // namespace cabsetup
