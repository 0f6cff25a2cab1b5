// Helpers for tests that run under Wine: private C:\ folders and registry
// keys that clean up after themselves; driving windows comes from
// tools/drive, which cabsetup-drive.exe shares.
#pragma once

#include "platform/win32/windows_clean.h"
#include "window_driving.h"

#include <string>
#include <vector>

namespace cabsetup::wine {

// Window driving and photographs, shared with cabsetup-drive.exe.
using namespace drive;

// C:\cabsetup-tests\<name>, emptied when created and removed afterwards.
class TestFolder {
public:
    explicit TestFolder(const std::string& name);
    ~TestFolder();
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

bool WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes);
std::string ReadText(const std::string& path);  // "<missing>" when it cannot be opened
void RemoveTree(const std::string& path);

// A registry key (without subkeys) created for one test and deleted afterwards.
class TestKey {
public:
    TestKey(HKEY root, std::string subkey);
    ~TestKey();
    TestKey(const TestKey&) = delete;
    TestKey& operator=(const TestKey&) = delete;
    void SetString(const std::string& name, const std::string& value);
    const std::string& Subkey() const { return subkey_; }

private:
    HKEY root_;
    std::string subkey_;
};

// setup.exe as built, copied into a test folder under its shipped name.
std::string CopySetupExe(const TestFolder& folder);

}  // namespace cabsetup::wine
