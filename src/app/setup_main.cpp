// setup.exe's entry: start-up, then the wizard.
#include "platform/win32/windows_clean.h"
#include <commctrl.h>

#include "app/setup_state.h"
#include "app/startup.h"
#include "platform/win32/win32_os.h"
#include "wizard/wizard_dialog.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    cabsetup::RestrictDllSearchPath();
    InitCommonControls();

    cabsetup::Win32Os os;
    cabsetup::SetupState& state = cabsetup::TheSetupState();
    cabsetup::StartupResult result = cabsetup::RunStartup(os, state, commandLine ? commandLine : "");
    if (result.outcome != cabsetup::StartupOutcome::Proceed) {
        cabsetup::ReportStartupRefusal(os, state, result);
        return cabsetup::ExitCodeFor(result.outcome);
    }
    return cabsetup::RunWizard(os, state);
}
