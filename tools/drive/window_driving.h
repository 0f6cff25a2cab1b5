// Driving a dialog program from another process by window messages, as a
// user's clicks would, and photographing it. Used by cabsetup-drive.exe (what
// `mksetup try` runs under Wine) and by the tests that run under Wine.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace cabsetup::drive {

// A window's text, read by message (works across processes).
std::string WindowText(HWND window);
std::wstring WindowTextW(HWND window);
// The same text as UTF-8, whatever the system's code page.
std::string WindowTextUtf8(HWND window);
std::string Utf8(const std::wstring& text);
std::wstring Wide(const std::string& utf8);
// The first static text of a dialog that holds some text (a message box's message).
std::string StaticText(HWND dialog);
HWND StaticTextControl(HWND dialog);

// A visible dialog of a process: the wizard (the dialog with a Next button)
// or any other (a message box, a prompt, a browser); `except` is skipped.
enum class DialogKind { Wizard, Other };
HWND FindDialogOfProcess(DWORD processId, DialogKind kind, HWND except = nullptr);

// The process and the ones it started (uninstall.exe shows its boxes from its copy).
std::vector<DWORD> ProcessAndChildren(DWORD processId);
// The programs it started under its own file name (a copy of itself); not
// the system's services that its first window or COM call brought up.
std::vector<DWORD> CopiesStartedBy(DWORD processId, const std::string& exe);

// A running program and its wizard window.
class DrivenSetup {
public:
    // Starts exe with arguments in currentDir; false when it did not start.
    bool Start(const std::string& exe, const std::string& arguments, const std::string& currentDir);
    ~DrivenSetup();

    // Waits (up to ms) until the wizard window exists.
    bool WaitForWizard(DWORD ms = 30000);
    HWND Wizard() const { return wizard_; }
    // A visible dialog of the process that is not the wizard (a message box
    // or the file prompt); null when there is none within ms.
    HWND WaitForOtherDialog(DWORD ms = 15000);
    // Waits for the process to end; its exit code, or 9999 on timeout (then killed).
    DWORD WaitForExit(DWORD ms = 60000);
    bool Ended() const { return process_.hProcess && WaitForSingleObject(process_.hProcess, 0) == WAIT_OBJECT_0; }
    DWORD ProcessId() const { return process_.dwProcessId; }

    std::string Text(int id) const;
    std::string Caption() const;
    bool Visible(int id) const { return IsWindowVisible(GetDlgItem(wizard_, id)) != 0; }
    bool Enabled(int id) const { return IsWindowEnabled(GetDlgItem(wizard_, id)) != 0; }
    bool Checked(int id) const { return SendMessageA(GetDlgItem(wizard_, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void Click(int id) const { SendMessageA(GetDlgItem(wizard_, id), BM_CLICK, 0, 0); }
    // Polls `done` until it holds or ms pass.
    static bool WaitUntil(const std::function<bool()>& done, DWORD ms = 30000);

private:
    PROCESS_INFORMATION process_ = {};
    HWND wizard_ = nullptr;
};

std::string DialogText(HWND dialog, int id);

// What the screen shows of a window's client area: 24-bit pixels, bottom-up
// rows of `stride` bytes, as a BMP file holds them.
struct Picture {
    int width = 0, height = 0;
    DWORD stride = 0;
    std::vector<unsigned char> bits;
    // The colour at (x, y), counted from the top left, as 0xRRGGBB.
    DWORD At(int x, int y) const;
};
bool GrabWindow(HWND window, Picture& picture);
bool SaveBmp(const Picture& picture, const std::string& bmpPath);
// Saves what the screen shows of `window` as a 24-bit BMP file.
bool CaptureWindow(HWND window, const std::string& bmpPath);

struct SetupRun {
    DWORD exitCode = 0;
    bool finished = false;          // ended by itself within the time limit
    DWORD startError = 0;           // GetLastError of the last start that failed
    std::vector<std::string> boxTexts;     // every message box seen, in order
    std::vector<std::string> boxCaptions;
    std::vector<std::wstring> boxTextsW;  // the same texts as the box holds them, in UTF-16
};

// Called with every message box before it is answered (to photograph it).
using BoxSeen = std::function<void(HWND box)>;

// Starts exe with arguments in the folder `currentDir`, answers every message
// box of it and of the programs it started with OK (after reading it) and
// waits for the exit; with waitForChildren also for the copies of itself it
// started while it ran (uninstall.exe finishes its work from one).
SetupRun RunAndAnswerBoxes(const std::string& exe, const std::string& arguments, const std::string& currentDir,
                           DWORD timeoutMs = 30000, bool waitForChildren = false, const BoxSeen& seen = nullptr);

}  // namespace cabsetup::drive
