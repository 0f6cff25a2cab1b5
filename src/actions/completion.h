// The step after copying: the main module moved into place, shortcuts,
// registry entries and programs of both scripts, and the package's uninstall
// registration.
#pragma once

#include <vector>

#include "actions/program_action.h"

namespace cabsetup {

// The uninstall registration's records, in the order they are written, each
// with its logExistingKey. False when a text does not fit its field: the
// registration is refused rather than written under a cut name.
struct UninstallValue {
    RegistryRecord record;
    int logExistingKey = 0;
};
bool BuildUninstallValues(const SetupState& state, std::vector<UninstallValue>& out);

// True when every step succeeded. Fails, with nothing registered, when the
// uninstall texts do not fit or the main module cannot be moved; fails at the
// first shortcut, registry entry or program that fails, or when COM cannot be
// initialised on this thread (S_FALSE included).
bool CompleteInstallation(Os& os, const SetupState& state, CInstallLog& log, ProgramWaiter& waiter);

}  // namespace cabsetup
