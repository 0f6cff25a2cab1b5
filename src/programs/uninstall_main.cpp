// uninstall.exe's entry: the real system behind the uninstaller's logic.
#include "platform/win32/windows_clean.h"

#include "app/library_failures.h"
#include "platform/win32/win32_os.h"
#include "runlog/run_log.h"
#include "runlog/system_lines.h"
#include "uninstall/uninstaller.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    cabsetup::RestrictDllSearchPath();
    const char* line = commandLine ? commandLine : "";
    cabsetup::SetStatusFileOnLibraryFailure(cabsetup::ParseUninstallArguments(line).status);
    cabsetup::Win32Os os;
    // Every run leaves its log (the copy that removes writes into its first process's).
    cabsetup::RunLog log(os);
    cabsetup::SetRunLog(&log);
    cabsetup::LogProgramStart(os, "uninstall.exe", line);
    int exitCode = cabsetup::RunUninstaller(os, line);
    log.End(exitCode);
    cabsetup::SetRunLog(nullptr);
    return exitCode;
}
