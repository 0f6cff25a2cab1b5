// uninstall.exe: removes what an installation logged in flist.lst.
//
// Started as the registration wrote it ("<folder>\uninstall.exe" MODEL
// [/a] [/s]), it asks once, copies itself to the temporary folder and starts
// the copy, which removes everything, hands the result back through a pipe
// and, once this process has ended, deletes this program's file and its
// folder (a running program's file cannot be deleted). This process ends
// with the removal's exit code, so a deployment tool that waits on it sees
// the real result.
#include "platform/win32/windows_clean.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "app/library_failures.h"
#include "app/paths.h"
#include "app/startup.h"
#include "platform/win32/win32_os.h"
#include "uninstall/removal.h"

namespace cabsetup {
namespace {

constexpr int kExitRemoved = 0, kExitRestartNeeded = 3010, kExitNo = 1602, kExitFailed = 1603;
constexpr std::uint64_t kLogLimit = 64ull << 20;

struct Arguments {
    std::string model, from;
    bool unattended = false, status = false, asked = false;
    HANDLE result = nullptr;
    DWORD parent = 0;
};

std::vector<std::string> SplitCommandLine(const char* line) {
    std::vector<std::string> out;
    std::string current;
    bool quoted = false, any = false;
    for (const char* p = line; *p; ++p) {
        if (*p == '"') {
            quoted = !quoted;
            any = true;
        } else if ((*p == ' ' || *p == '\t') && !quoted) {
            if (any) out.push_back(current);
            current.clear();
            any = false;
        } else {
            current += *p;
            any = true;
        }
    }
    if (any) out.push_back(current);
    return out;
}

Arguments Parse(const char* line) {
    Arguments a;
    for (const std::string& arg : SplitCommandLine(line)) {
        std::string lower = arg;
        for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        if (lower == "/a") a.unattended = true;
        else if (lower == "/s") a.status = true;
        else if (lower == "/asked") a.asked = true;
        else if (lower.rfind("/from:", 0) == 0) a.from = arg.substr(6);
        else if (lower.rfind("/result:", 0) == 0) a.result = reinterpret_cast<HANDLE>(std::strtoull(arg.c_str() + 8, nullptr, 16));
        else if (lower.rfind("/parent:", 0) == 0) a.parent = static_cast<DWORD>(std::strtoul(arg.c_str() + 8, nullptr, 10));
        // The registration writes the model name unquoted: a name with
        // spaces arrives in several parts.
        else a.model += (a.model.empty() ? "" : " ") + arg;
    }
    return a;
}

std::string Text(Os& os, unsigned id, const std::string& insert) {
    std::string text = os.LoadString(id);
    std::size_t at = text.find("%s");
    if (at != std::string::npos) text.replace(at, 2, insert);
    return text;
}

std::string OwnPath() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}

// The removal itself, in the copy (or in the started process when no copy
// can be made). `self`: the uninstaller's own file, left to the caller.
int Remove(Win32Os& os, const Arguments& a, const std::string& self) {
    std::string target = ParentFolder(os.Mbcs(), self);
    std::string logPath = target + "\\flist.lst", log;
    int code;
    if (!ReadWholeFile(os, logPath, kLogLimit, log)) {
        code = kExitFailed;
        if (!a.status) os.MessageBox(Text(os, 6103, logPath), os.LoadString(6102), MB_OK | MB_ICONSTOP);
    } else {
        RemovalOutcome outcome = CarryOut(os, PlanRemoval(os.Mbcs(), log, target, self), target);
        os.DeleteFile(logPath);
        RemoveEmptyFolders(os, target);
        code = outcome.failed ? kExitFailed : outcome.scheduled ? kExitRestartNeeded : kExitRemoved;
        if (code == kExitFailed && !a.status) {
            os.MessageBox(Text(os, 6106, a.model), os.LoadString(6102), MB_OK | MB_ICONSTOP);
        } else if (code != kExitFailed && !a.unattended) {
            os.MessageBox(Text(os, code == kExitRemoved ? 6105 : 6104, a.model), os.LoadString(6102),
                          MB_OK | MB_ICONINFORMATION);
        }
    }
    // The restart finishes the removal: done, as far as anyone waiting can tell.
    if (a.status) WriteStatusFile(os, code == kExitFailed ? "Error" : "Success");
    return code;
}

// The file of a program that has ended, and its folder when that is empty.
void DeleteProgramAndFolder(Win32Os& os, const std::string& program) {
    bool gone = false;
    for (int attempt = 0; attempt < 50 && !gone; ++attempt) {
        gone = DeleteFileA(program.c_str()) || GetFileAttributesA(program.c_str()) == INVALID_FILE_ATTRIBUTES;
        if (!gone) Sleep(100);
    }
    if (!gone) os.DeleteAtRestart(program);
    RemoveDirectoryA(ParentFolder(os.Mbcs(), program).c_str());
}

int RunCopy(Win32Os& os, const Arguments& a) {
    HANDLE parent = a.parent ? OpenProcess(SYNCHRONIZE, FALSE, a.parent) : nullptr;
    int code = Remove(os, a, a.from);
    if (a.result) {
        DWORD written = 0;
        WriteFile(a.result, &code, sizeof code, &written, nullptr);
        CloseHandle(a.result);
    }
    if (parent) {
        WaitForSingleObject(parent, 60000);
        CloseHandle(parent);
    }
    DeleteProgramAndFolder(os, a.from);
    // This copy in the temporary folder goes at the next start.
    std::string self = OwnPath();
    if (!self.empty()) MoveFileExA(self.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    return code;
}

// Starts the copy and waits for its result; -1 when no copy could run.
int RunThroughACopy(const Arguments& a, const std::string& self) {
    char temp[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, temp);
    if (n == 0 || n >= MAX_PATH) return -1;
    std::string copy = std::string(temp, n) + "cabsetup-uninstall-" + std::to_string(GetCurrentProcessId()) + ".exe";
    if (!CopyFileA(self.c_str(), copy.c_str(), FALSE)) return -1;

    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr, writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    std::string handle;
    for (auto v = reinterpret_cast<std::uintptr_t>(writeEnd); v || handle.empty(); v >>= 4)
        handle.insert(handle.begin(), "0123456789abcdef"[v & 0xF]);
    std::string line = "\"" + copy + "\" \"" + a.model + "\"" + (a.unattended ? " /a" : "") + (a.status ? " /s" : "") +
                       " /asked \"/from:" + self + "\" /result:" + handle + " /parent:" + std::to_string(GetCurrentProcessId());
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    std::vector<char> buffer(line.begin(), line.end());
    buffer.push_back('\0');
    BOOL started = CreateProcessA(copy.c_str(), buffer.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si, &pi);
    CloseHandle(writeEnd);
    if (!started) {
        CloseHandle(readEnd);
        DeleteFileA(copy.c_str());
        return -1;
    }
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    int code = kExitFailed;
    DWORD got = 0;
    if (!ReadFile(readEnd, &code, sizeof code, &got, nullptr) || got != sizeof code) code = kExitFailed;
    CloseHandle(readEnd);
    return code;
}

int Run(const char* commandLine) {
    RestrictDllSearchPath();
    Win32Os os;
    Arguments a = Parse(commandLine);
    SetStatusFileOnLibraryFailure(a.status);
    if (!a.from.empty()) return RunCopy(os, a);

    if (!a.unattended && !a.asked &&
        os.MessageBox(Text(os, 6101, a.model), os.LoadString(6102), MB_YESNO | MB_ICONQUESTION) != IDYES) {
        if (a.status) WriteStatusFile(os, "Error");
        return kExitNo;
    }
    std::string self = OwnPath();
    if (self.empty()) return kExitFailed;
    int code = RunThroughACopy(a, self);
    if (code >= 0) return code;
    // No copy could run: remove from here, and this file at the next start.
    code = Remove(os, a, self);
    os.DeleteAtRestart(self);
    return code == kExitRemoved ? kExitRestartNeeded : code;
}

}  // namespace
}  // namespace cabsetup

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) { return cabsetup::Run(commandLine ? commandLine : ""); }
