#include "app/run_outcome.h"

#include <atomic>

#include "app/startup.h"

namespace cabsetup {

namespace {
std::atomic<int> removalsAtRestart{0};
}

int ExitCodeOf(const RunOutcome& o) {
    switch (o.end) {
    case WizardEnd::Cancelled: return kExitCancelled;
    case WizardEnd::Failed: return kExitFatal;
    case WizardEnd::NotEnoughSpace: return kExitDiskFull;
    case WizardEnd::Installed: break;
    }
    if (o.restartStarted) return kExitRestartStarted;
    // A dry run installed nothing that a restart would finish.
    if (o.noChanges) return kExitSuccess;
    return o.restartAsked || o.removalsAtRestart ? kExitRestartNeeded : kExitSuccess;
}

bool IsSuccessCode(int exitCode) {
    return exitCode == kExitSuccess || exitCode == kExitRestartNeeded || exitCode == kExitRestartStarted;
}

bool RestartAsked(const CodePage& cp, const SetupScript& script) {
    return cp.Find(script.First().header.finishOptions, "REBOOT") != std::string::npos ||
           cp.Find(script.Second().header.finishOptions, "REBOOT") != std::string::npos;
}

void NoteRemovalAtRestart() { ++removalsAtRestart; }
bool RemovalsAtRestartPending() { return removalsAtRestart.load() != 0; }
void ForgetRemovalsAtRestart() { removalsAtRestart = 0; }

}  // namespace cabsetup
