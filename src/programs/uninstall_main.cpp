// uninstall.exe's entry: the real system behind the uninstaller's logic.
#include "platform/win32/windows_clean.h"

#include "app/library_failures.h"
#include "platform/win32/win32_os.h"
#include "uninstall/uninstaller.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    cabsetup::RestrictDllSearchPath();
    const char* line = commandLine ? commandLine : "";
    cabsetup::SetStatusFileOnLibraryFailure(cabsetup::ParseUninstallArguments(line).status);
    cabsetup::Win32Os os;
    return cabsetup::RunUninstaller(os, line);
}
