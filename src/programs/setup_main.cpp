// setup.exe's entry: start-up, then the wizard.
#include "platform/win32/windows_clean.h"
#include <commctrl.h>

#include "app/library_failures.h"
#include "app/setup_state.h"
#include "app/startup.h"
#include "app/switches.h"
#include "platform/win32/win32_os.h"
#include "wizard/wizard_dialog.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    cabsetup::RestrictDllSearchPath();
    InitCommonControls();

    cabsetup::Win32Os os;
    const std::string arguments = commandLine ? commandLine : "";
    // Known as early as can be: a failure that ends the program still
    // leaves "Error" where "/s" asked for the outcome.
    cabsetup::SetStatusFileOnLibraryFailure(
        (cabsetup::ParseSwitches(os.Mbcs(), arguments) & cabsetup::kSwitchStatusFile) != 0);
    cabsetup::SetupState& state = cabsetup::TheSetupState();
    cabsetup::StartupResult result = cabsetup::RunStartup(os, state, arguments);
    if (result.outcome != cabsetup::StartupOutcome::Proceed) {
        cabsetup::ReportStartupRefusal(os, state, result);
        return cabsetup::ExitCodeFor(result.outcome);
    }
    return cabsetup::RunWizard(os, state);
}
