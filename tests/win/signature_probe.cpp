// Prints what the system's WinVerifyTrust says of this program's own file
// (raw result and the seam's reading of it): sign a copy of it to learn what
// a system does with a given signature.
#include <cstdio>

#include "platform/win32/win32_os.h"

int main() {
    cabsetup::Win32Os os;
    const char* names[] = {"Valid", "UntrustedChain", "Absent", "Invalid", "Unavailable"};
    cabsetup::SignatureState state = os.OwnSignature();
    std::printf("%s 0x%08lx\n", names[static_cast<int>(state)], static_cast<unsigned long>(os.LastError()));
    return static_cast<int>(state);
}
