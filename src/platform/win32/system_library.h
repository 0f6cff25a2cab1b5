// Functions of system DLLs a run may never need (the folder browser, the
// file dialog, COM for shortcuts, the system's cabinet interface), bound the
// first time they are called. Under Wine every DLL named in the import table
// is loaded and initialised before WinMain, and these few would cost every
// unattended run that never uses them.
#pragma once

#include "platform/win32/windows_clean.h"

namespace cabsetup {

// The function `name` of `dll`, loaded from the system folder only (a DLL
// planted beside setup.exe is never the one asked); null when either is
// missing, with the system's error kept for GetLastError. The DLL stays
// loaded for the rest of the run.
FARPROC SystemFunction(const char* dll, const char* name);

template <typename Fn>
Fn SystemFunctionAs(const char* dll, const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(SystemFunction(dll, name)));
}

}  // namespace cabsetup
