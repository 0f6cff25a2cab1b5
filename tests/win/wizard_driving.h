// Driving setup.exe's wizard from another process (or thread) by window
// messages, as a user's clicks would, and photographing it.
#pragma once

#include "platform/win32/windows_clean.h"

#include <functional>
#include <string>

namespace cabsetup::wine {

// A running setup.exe and its wizard window.
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

// Saves what the screen shows of `window` as a 24-bit BMP file.
bool CaptureWindow(HWND window, const std::string& bmpPath);

}  // namespace cabsetup::wine
