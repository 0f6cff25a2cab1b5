#include "window_driving.h"

#include <tlhelp32.h>

#include <cstdio>
#include <set>

namespace cabsetup::drive {

namespace {

BOOL CALLBACK FindStaticText(HWND w, LPARAM param) {
    auto* found = reinterpret_cast<HWND*>(param);
    char cls[64] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (std::string(cls) == "Static" && GetWindowTextLengthW(w) > 0) {
        *found = w;
        return FALSE;
    }
    return TRUE;
}

void EndProcesses(const std::vector<DWORD>& processes, DWORD except) {
    for (DWORD child : processes)
        if (HANDLE h = child != except ? OpenProcess(PROCESS_TERMINATE, FALSE, child) : nullptr) {
            TerminateProcess(h, 9999);
            CloseHandle(h);
        }
}

}  // namespace

std::wstring WindowTextW(HWND w) {
    std::wstring buffer(65536, L'\0');
    LRESULT n = SendMessageW(w, WM_GETTEXT, buffer.size(), reinterpret_cast<LPARAM>(buffer.data()));
    buffer.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return buffer;
}

std::string WindowText(HWND w) {
    char buffer[8192] = {};
    SendMessageA(w, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), n);
    return out;
}

std::string WindowTextUtf8(HWND w) { return Utf8(WindowTextW(w)); }

HWND StaticTextControl(HWND dialog) {
    HWND text = nullptr;
    EnumChildWindows(dialog, FindStaticText, reinterpret_cast<LPARAM>(&text));
    return text;
}

std::string StaticText(HWND dialog) {
    HWND text = StaticTextControl(dialog);
    return text ? WindowText(text) : std::string();
}

namespace {

struct DialogSearch {
    DWORD processId;
    DialogKind kind;
    HWND except, found;
};

// A callback of the system's own convention (stdcall on i686), never a lambda.
BOOL CALLBACK MatchDialog(HWND w, LPARAM param) {
    auto* s = reinterpret_cast<DialogSearch*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(w, &pid);
    char cls[64] = {};
    GetClassNameA(w, cls, sizeof cls);
    if (w == s->except || pid != s->processId || !IsWindowVisible(w) || std::string(cls) != "#32770") return TRUE;
    // The wizard is the dialog with a Next button.
    if ((GetDlgItem(w, 1001) != nullptr) != (s->kind == DialogKind::Wizard)) return TRUE;
    s->found = w;
    return FALSE;
}

}  // namespace

HWND FindDialogOfProcess(DWORD processId, DialogKind kind, HWND except) {
    DialogSearch search{processId, kind, except, nullptr};
    EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

std::vector<DWORD> CopiesStartedBy(DWORD processId, const std::string& exe) {
    std::vector<DWORD> out;
    const std::size_t slash = exe.find_last_of("\\/");
    const std::string name = exe.substr(slash == std::string::npos ? 0 : slash + 1);
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return out;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        std::string child = entry.szExeFile;
        const std::size_t at = child.find_last_of("\\/");
        if (at != std::string::npos) child = child.substr(at + 1);
        if (entry.th32ParentProcessID == processId && entry.th32ProcessID != processId && lstrcmpiA(child.c_str(), name.c_str()) == 0)
            out.push_back(entry.th32ProcessID);
    }
    CloseHandle(snapshot);
    return out;
}

std::vector<DWORD> ProcessAndChildren(DWORD processId) {
    std::vector<DWORD> out{processId};
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return out;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
        if (entry.th32ParentProcessID == processId && entry.th32ProcessID != processId) out.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return out;
}

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

DWORD Picture::At(int x, int y) const {
    const unsigned char* p = bits.data() + static_cast<std::size_t>(height - 1 - y) * stride + static_cast<std::size_t>(x) * 3;
    return static_cast<DWORD>(p[2]) << 16 | static_cast<DWORD>(p[1]) << 8 | p[0];
}

bool GrabWindow(HWND window, Picture& picture) {
    // The client area: without a window manager there is no frame to show.
    RECT r;
    if (!GetClientRect(window, &r)) return false;
    MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
    picture.width = r.right - r.left;
    picture.height = r.bottom - r.top;
    if (picture.width <= 0 || picture.height <= 0) return false;
    picture.stride = (static_cast<DWORD>(picture.width) * 3 + 3) & ~3u;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = picture.width;
    info.bmiHeader.biHeight = picture.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = section != nullptr;
    if (ok) {
        HGDIOBJ old = SelectObject(memory, section);
        BitBlt(memory, 0, 0, picture.width, picture.height, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        const auto* first = static_cast<const unsigned char*>(bits);
        picture.bits.assign(first, first + picture.stride * static_cast<DWORD>(picture.height));
        SelectObject(memory, old);
        DeleteObject(section);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

bool SaveBmp(const Picture& picture, const std::string& bmpPath) {
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = picture.width;
    header.biHeight = picture.height;
    header.biPlanes = 1;
    header.biBitCount = 24;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof header;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(picture.bits.size());
    bool ok = false;
    if (std::FILE* f = std::fopen(bmpPath.c_str(), "wb")) {
        ok = std::fwrite(&file, sizeof file, 1, f) == 1 && std::fwrite(&header, sizeof header, 1, f) == 1 &&
             std::fwrite(picture.bits.data(), 1, picture.bits.size(), f) == picture.bits.size();
        ok = std::fclose(f) == 0 && ok;
    }
    return ok;
}

bool CaptureWindow(HWND window, const std::string& bmpPath) {
    Picture picture;
    return GrabWindow(window, picture) && SaveBmp(picture, bmpPath);
}

SetupRun RunAndAnswerBoxes(const std::string& exe, const std::string& arguments, const std::string& currentDir,
                           DWORD timeoutMs, bool waitForChildren, const BoxSeen& seen) {
    SetupRun run;
    std::string commandLine = "\"" + exe + "\" " + arguments;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    // Under load Wine has refused a start now and then (seen once in CI, right
    // after the program's previous run ended): try again before giving up.
    bool started = false;
    for (int attempt = 0; attempt < 5 && !started; ++attempt) {
        started = CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 currentDir.c_str(), &si, &pi) != 0;
        if (!started) {
            run.startError = GetLastError();
            Sleep(200);
        }
    }
    if (!started) return run;
    DWORD start = GetTickCount();
    HWND answered = nullptr;
    std::set<DWORD> children;
    while (WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT) {
        std::vector<DWORD> processes = ProcessAndChildren(pi.dwProcessId);
        if (waitForChildren)
            for (DWORD copy : CopiesStartedBy(pi.dwProcessId, exe)) children.insert(copy);
        if (GetTickCount() - start > timeoutMs) {
            // Its children first: left behind, they would hold the caller's pipes open.
            EndProcesses(processes, pi.dwProcessId);
            TerminateProcess(pi.hProcess, 9999);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
        HWND box = nullptr;
        for (DWORD process : processes)
            if ((box = FindDialogOfProcess(process, DialogKind::Other)) != nullptr) break;
        if (!box || box == answered) continue;
        HWND text = StaticTextControl(box);
        run.boxTexts.push_back(text ? WindowText(text) : std::string());
        run.boxTextsW.push_back(text ? WindowTextW(text) : std::wstring());
        run.boxCaptions.push_back(WindowText(box));
        if (seen) seen(box);
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        answered = box;
    }
    run.finished = GetTickCount() - start <= timeoutMs;
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    // What it started and left running (a copy of itself that finishes the
    // work) is part of the run: wait for it, within the same limit.
    if (waitForChildren)
        for (DWORD child : children)
            if (HANDLE h = OpenProcess(SYNCHRONIZE, FALSE, child)) {
                DWORD spent = GetTickCount() - start;
                WaitForSingleObject(h, spent < timeoutMs ? timeoutMs - spent : 0);
                CloseHandle(h);
            }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

}  // namespace cabsetup::drive
