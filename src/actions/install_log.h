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
    // Sorts the records longest first and writes folder\flist.lst; with
    // noChanges nothing is written or deleted. False when a write failed: a
    // log cut short would make the uninstaller leave files behind. A log
    // that cannot be created at all is skipped silently, as before.
    bool Save(Os& os, bool noChanges);

    const std::string& Folder() const { return folder_; }
    const std::string& Text() const { return text_; }
    // The records sorted as Save writes them (without the header line).
    static std::string SortedLongestFirst(const std::string& text);

private:
    std::string folder_, text_;
};

}  // namespace cabsetup
