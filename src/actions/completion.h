// The step after copying: the main module moved into place, shortcuts,
// registry entries and programs of both scripts, and the package's uninstall
// registration.
#pragma once

#include <vector>

#include "actions/program_action.h"

namespace cabsetup {

// The uninstall registration's records, in the order they are written, each
// with its logExistingKey: the values start-up and the uninstaller read,
// then those of the system's list of programs (DisplayVersion, Publisher,
// InstallLocation, QuietUninstallString, EstimatedSize in KiB, DisplayIcon,
// NoModify, NoRepair, InstallDate `today`); an update refreshes only
// DisplayVersion and DisplayName. False when a text does not fit its field:
// the registration is refused rather than written under a cut name.
struct UninstallValue {
    RegistryRecord record;
    int logExistingKey = 0;
};
bool BuildUninstallValues(const SetupState& state, const LocalTime& today, std::vector<UninstallValue>& out);

// True when every step succeeded. Fails, with nothing registered, when the
// uninstall texts do not fit or the main module cannot be moved; fails at the
// first shortcut, registry entry or program that fails, or when COM cannot be
// initialised on this thread (S_FALSE included).
bool CompleteInstallation(Os& os, const SetupState& state, CInstallLog& log, ProgramWaiter& waiter);

// After a successful completion step: a full installation saves its log and
// records the SHA-256 of the bytes saved as "InstallLogDigest" (REG_SZ,
// lower-case hex) in its Uninstall key, which only administrators may
// write, so the uninstaller can tell a log changed afterwards. The value is
// not logged: the log cannot hold its own digest. Whenever the log is
// written its digest is written with it; a log that could not be saved
// leaves the old log and its digest as they were, a digest that could not
// be written is removed. An update and "/p" record nothing. False when the
// log or its digest could not be written.
bool SaveInstallLog(Os& os, const SetupState& state, CInstallLog& log);

// What follows the engine's NOTIFY_DONE: the completion step, then, for a
// full installation, the log and its digest (SaveInstallLog). A log that
// could not be written whole fails it like any action: the uninstaller
// would leave behind what it does not list.
bool FinishInstallation(Os& os, const SetupState& state, CInstallLog& log, ProgramWaiter& waiter);

}  // namespace cabsetup
