// One setup.exe per package at a time: two runs of the same package (a full
// installation or an update, the same Uninstall key) would write the same
// files, registration and log over each other.
#pragma once

#include <string>

#include "platform/os.h"

namespace cabsetup {

// The mutex every setup.exe of the package holds while it runs: in the
// global namespace (another user's session installs into the same HKLM and
// Program Files), named by the SHA-256 of the Uninstall key name as the
// registry compares it (case folded), since a key name may hold any
// character and be longer than an object name can.
std::string InstanceMutexName(const CodePage& cp, const std::string& uninstallKey);

// Takes the package's mutex for as long as `lock` is held. False when
// another setup.exe of the package holds it. A mutex the system cannot make
// at all (a system without the global namespace is asked again without it)
// lets the run go on unguarded rather than refuse every installation.
bool HoldInstanceLock(Os& os, const std::string& uninstallKey, Os::HandlePtr& lock);

}  // namespace cabsetup
