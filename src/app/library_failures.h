// How setup.exe and uninstall.exe end when the standard library cannot go
// on: memory refused to a small, fixed need (the engine's large or
// package-sized requests fail their step instead), a length beyond any
// string, a failed lock. Under "/s" the status file says "Error", else a
// message box shows the system's text for the cause; then the program ends
// at once with 1603. Nothing on this path allocates.
#pragma once

namespace cabsetup {

// Set once the switches are known: "/s" was given.
void SetStatusFileOnLibraryFailure(bool statusSwitch);

// systemError: ERROR_NOT_ENOUGH_MEMORY or ERROR_INTERNAL_ERROR, for the text.
[[noreturn]] void EndOnLibraryFailure(unsigned long systemError);

}  // namespace cabsetup
