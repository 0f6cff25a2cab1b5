// setup.exe's entry: start-up, then the wizard.
#include "platform/win32/windows_clean.h"

#include "app/library_failures.h"
#include "app/setup_state.h"
#include "app/startup.h"
#include "app/switches.h"
#include "platform/win32/win32_os.h"
#include "runlog/log_name.h"
#include "runlog/run_log.h"
#include "runlog/system_lines.h"
#include "wizard/wizard_dialog.h"

// The package digest block: a marker the vendor's tool finds it by, then a
// body that stays all zero in the program as built ("vouches for nothing").
// mksetup fills the body of a package's copy before it signs that copy, so
// the signature covers it. Volatile: its bytes are read from the image as
// they are, never folded into the zeros the compiler sees here.
extern "C" {
__attribute__((used, section(".data"))) volatile unsigned char cabsetup_package_digest_block[256] = {
    'c', 'a', 'b', 's', 'e', 't', 'u', 'p', '-', 'd', 'i', 'g', 'e', 's', 't', 0x1A};
}

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR commandLine, int) {
    cabsetup::RestrictDllSearchPath();

    cabsetup::Win32Os os;
    const std::string arguments = commandLine ? commandLine : "";
    // Known as early as can be: a failure that ends the program still
    // leaves "Error" where "/s" asked for the outcome.
    cabsetup::SetStatusFileOnLibraryFailure(
        (cabsetup::ParseSwitches(os.Mbcs(), arguments) & cabsetup::kSwitchStatusFile) != 0);
    // Every run leaves its log; its name waits for the package's key.
    cabsetup::RunLog log(os);
    cabsetup::SetRunLog(&log);
    cabsetup::LogProgramStart(os, "setup.exe", arguments);
    cabsetup::SetupState& state = cabsetup::TheSetupState();
    unsigned char digestBody[256 - 16];
    for (unsigned i = 0; i < sizeof digestBody; ++i) digestBody[i] = cabsetup_package_digest_block[16 + i];
    cabsetup::StartupResult result = cabsetup::RunStartup(os, state, arguments, digestBody);
    cabsetup::OpenRunLog(os, log, cabsetup::LogSwitchPath(arguments), state.script.First().header.uninstallKey, false);
    int exitCode;
    if (result.outcome != cabsetup::StartupOutcome::Proceed) {
        cabsetup::ReportStartupRefusal(os, state, result);
        exitCode = cabsetup::ExitCodeFor(result.outcome);
    } else {
        exitCode = cabsetup::RunWizard(os, state);
    }
    log.End(exitCode);
    cabsetup::SetRunLog(nullptr);
    return exitCode;
}
