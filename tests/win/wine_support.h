// Helpers for tests that run under Wine: private C:\ folders, registry keys
// that clean up after themselves, and running setup.exe while watching for
// its message boxes.
#pragma once

#include "platform/win32/windows_clean.h"

#include <string>
#include <vector>

namespace cabsetup::wine {

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

// A window's text, read by message (works across processes).
std::string WindowText(HWND window);
// The first static text of a dialog that holds some text (a message box's message).
std::string StaticText(HWND dialog);

// A visible dialog of a process: the wizard (the dialog with a Next button)
// or any other (a message box, a prompt, a browser); `except` is skipped.
enum class DialogKind { Wizard, Other };
HWND FindDialogOfProcess(DWORD processId, DialogKind kind, HWND except = nullptr);

// setup.exe as built, copied into a test folder under its shipped name.
std::string CopySetupExe(const TestFolder& folder);

struct SetupRun {
    DWORD exitCode = 0;
    bool finished = false;          // ended by itself within the time limit
    DWORD startError = 0;           // GetLastError of the last start that failed
    std::vector<std::string> boxTexts;     // every message box seen, in order
    std::vector<std::string> boxCaptions;
    std::vector<std::wstring> boxTextsW;  // the same texts as the box holds them, in UTF-16
};

// Starts exe with arguments in the folder `currentDir`, answers every message
// box of it and of the programs it started with OK (after reading it) and
// waits for the exit.
SetupRun RunAndAnswerBoxes(const std::string& exe, const std::string& arguments, const std::string& currentDir,
                           DWORD timeoutMs = 30000);

}  // namespace cabsetup::wine
