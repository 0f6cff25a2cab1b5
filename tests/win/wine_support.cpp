#include "wine_support.h"

#include <tlhelp32.h>

#include <cstdio>

namespace cabsetup::wine {

TestFolder::TestFolder(const std::string& name) : path_("C:\\cabsetup-tests\\" + name) {
    CreateDirectoryA("C:\\cabsetup-tests", nullptr);
    RemoveTree(path_);
    CreateDirectoryA(path_.c_str(), nullptr);
}

TestFolder::~TestFolder() { RemoveTree(path_); }

bool WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

std::string ReadText(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return "<missing>";
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
    std::fclose(f);
    return text;
}

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &data);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) RemoveTree(child);
            else DeleteFileA(child.c_str());
        } while (FindNextFileA(h, &data));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

TestKey::TestKey(HKEY root, std::string subkey) : root_(root), subkey_(std::move(subkey)) {
    RegDeleteKeyA(root_, subkey_.c_str());
    HKEY key;
    if (RegCreateKeyExA(root_, subkey_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) ==
        ERROR_SUCCESS)
        RegCloseKey(key);
}

TestKey::~TestKey() { RegDeleteKeyA(root_, subkey_.c_str()); }

void TestKey::SetString(const std::string& name, const std::string& value) {
    HKEY key;
    if (RegOpenKeyExA(root_, subkey_.c_str(), 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegSetValueExA(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>(value.size() + 1));
    RegCloseKey(key);
}

std::string CopySetupExe(const TestFolder& folder) {
    // The build's Unix path, as Wine shows it on drive Z:.
    std::string source = "Z:" CABSETUP_SETUP_EXE;
    for (char& c : source)
        if (c == '/') c = '\\';
    std::string target = folder / "setup.exe";
    CopyFileA(source.c_str(), target.c_str(), FALSE);
    return target;
}

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

std::wstring WindowTextW(HWND w) {
    wchar_t buffer[4096] = {};
    SendMessageW(w, WM_GETTEXT, sizeof buffer / sizeof *buffer, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

}  // namespace

std::string WindowText(HWND w) {
    char buffer[8192] = {};
    SendMessageA(w, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
    return buffer;
}

std::string StaticText(HWND dialog) {
    HWND text = nullptr;
    EnumChildWindows(dialog, FindStaticText, reinterpret_cast<LPARAM>(&text));
    return text ? WindowText(text) : std::string();
}

HWND FindDialogOfProcess(DWORD processId, DialogKind kind, HWND except) {
    struct Search {
        DWORD processId;
        DialogKind kind;
        HWND except, found;
    } search{processId, kind, except, nullptr};
    EnumWindows([](HWND w, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        char cls[64] = {};
        GetClassNameA(w, cls, sizeof cls);
        if (w == s->except || pid != s->processId || !IsWindowVisible(w) || std::string(cls) != "#32770") return TRUE;
        // The wizard is the dialog with a Next button.
        if ((GetDlgItem(w, 1001) != nullptr) != (s->kind == DialogKind::Wizard)) return TRUE;
        s->found = w;
        return FALSE;
    }, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

namespace {

// The process and the ones it started (uninstall.exe shows its boxes from its copy).
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

}  // namespace

SetupRun RunAndAnswerBoxes(const std::string& exe, const std::string& arguments, const std::string& currentDir,
                           DWORD timeoutMs) {
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
    while (WaitForSingleObject(pi.hProcess, 50) == WAIT_TIMEOUT) {
        if (GetTickCount() - start > timeoutMs) {
            // Its children first: left behind, they would hold the test's pipes open.
            for (DWORD child : ProcessAndChildren(pi.dwProcessId))
                if (HANDLE h = child != pi.dwProcessId ? OpenProcess(PROCESS_TERMINATE, FALSE, child) : nullptr) {
                    TerminateProcess(h, 9999);
                    CloseHandle(h);
                }
            TerminateProcess(pi.hProcess, 9999);
            WaitForSingleObject(pi.hProcess, 5000);
            break;
        }
        HWND box = nullptr;
        for (DWORD process : ProcessAndChildren(pi.dwProcessId))
            if ((box = FindDialogOfProcess(process, DialogKind::Other)) != nullptr) break;
        if (!box || box == answered) continue;
        HWND text = nullptr;
        EnumChildWindows(box, FindStaticText, reinterpret_cast<LPARAM>(&text));
        run.boxTexts.push_back(text ? WindowText(text) : std::string());
        run.boxTextsW.push_back(text ? WindowTextW(text) : std::wstring());
        run.boxCaptions.push_back(WindowText(box));
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        answered = box;
    }
    run.finished = GetTickCount() - start <= timeoutMs;
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return run;
}

}  // namespace cabsetup::wine
