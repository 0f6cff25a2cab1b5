// How a run of setup.exe ends, as deployment tools read it: the exit code
// (MSI's numbers, which winget, Intune and Configuration Manager act on) and
// whether the status file says "Success".
#pragma once

#include <cstdint>
#include <string>

#include "formats/setup_script.h"
#include "platform/codepage.h"

namespace cabsetup {

constexpr int kExitDiskFull = 112;           // ERROR_DISK_FULL: not enough room, checked before copying
constexpr int kExitAlreadyRunning = 1618;    // ERROR_INSTALL_ALREADY_RUNNING
constexpr int kExitRestartStarted = 1641;    // ERROR_SUCCESS_REBOOT_INITIATED
constexpr int kExitRestartNeeded = 3010;     // ERROR_SUCCESS_REBOOT_REQUIRED

enum class WizardEnd {
    Installed,       // the finish page was reached
    Cancelled,       // the user said Yes to the cancel question
    Failed,          // the engine or the completion step failed
    NotEnoughSpace,  // unattended, and the target's drive cannot hold the package
};

struct RunOutcome {
    WizardEnd end = WizardEnd::Failed;
    bool noChanges = false;       // "/p": nothing was installed, so nothing waits for a restart
    bool restartAsked = false;    // the package's finishOptions ask for a restart
    bool restartStarted = false;  // setup.exe asked the system to restart, and it agreed
    bool removalsAtRestart = false;  // old copies of replaced files go only at the next start
};

int ExitCodeOf(const RunOutcome& outcome);

// 0, 3010 and 1641: the package is installed. The status file says "Success"
// for exactly these.
bool IsSuccessCode(int exitCode);

// Whether either script's finishOptions holds "REBOOT" (exact case, anywhere).
bool RestartAsked(const CodePage& cp, const SetupScript& script);

// Old copies of the package's files that something still held when they
// were to go: the system deletes them at its next start, so the
// installation ends with a restart still to come. Process-wide, from any
// thread; Forget starts a new run's count.
void NoteRemovalAtRestart();
bool RemovalsAtRestartPending();
void ForgetRemovalsAtRestart();

}  // namespace cabsetup
