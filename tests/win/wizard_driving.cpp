#include "wizard_driving.h"

#include "wine_support.h"

#include <cstdio>
#include <vector>

namespace cabsetup::wine {

bool DrivenSetup::Start(const std::string& exe, const std::string& arguments, const std::string& currentDir) {
    std::string commandLine = "\"" + exe + "\" " + arguments;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    return CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, currentDir.c_str(),
                          &si, &process_) != 0;
}

DrivenSetup::~DrivenSetup() {
    if (!process_.hProcess) return;
    if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_.hProcess, 9999);
        WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

bool DrivenSetup::WaitUntil(const std::function<bool()>& done, DWORD ms) {
    DWORD start = GetTickCount();
    while (!done()) {
        if (GetTickCount() - start > ms) return false;
        Sleep(20);
    }
    return true;
}

bool DrivenSetup::WaitForWizard(DWORD ms) {
    return WaitUntil([&] { return (wizard_ = FindDialogOfProcess(process_.dwProcessId, DialogKind::Wizard)) != nullptr; }, ms);
}

HWND DrivenSetup::WaitForOtherDialog(DWORD ms) {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindDialogOfProcess(process_.dwProcessId, DialogKind::Other)) != nullptr; }, ms);
    return found;
}

DWORD DrivenSetup::WaitForExit(DWORD ms) {
    if (WaitForSingleObject(process_.hProcess, ms) != WAIT_OBJECT_0) {
        TerminateProcess(process_.hProcess, 9999);
        WaitForSingleObject(process_.hProcess, 5000);
        return 9999;
    }
    DWORD code = 0;
    GetExitCodeProcess(process_.hProcess, &code);
    return code;
}

std::string DrivenSetup::Text(int id) const { return DialogText(wizard_, id); }
std::string DrivenSetup::Caption() const { return WindowText(wizard_); }

std::string DialogText(HWND dialog, int id) { return WindowText(GetDlgItem(dialog, id)); }

bool CaptureWindow(HWND window, const std::string& bmpPath) {
    // The client area: without a window manager there is no frame to show.
    RECT r;
    if (!GetClientRect(window, &r)) return false;
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
    const int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, section);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u, size = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + size;
    bool ok = false;
    if (std::FILE* f = std::fopen(bmpPath.c_str(), "wb")) {
        ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, f) == 1 &&
             std::fwrite(bits, 1, size, f) == size;
        ok = std::fclose(f) == 0 && ok;
    }
    SelectObject(memory, old);
    DeleteObject(section);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

}  // namespace cabsetup::wine
