// Ends as setup.exe and uninstall.exe end when the standard library cannot
// go on: built like them (without exceptions, with their replacements of
// the library's failures) and run by the Wine tests, which read its exit
// code, the status file and the message box.
//   library_failure_probe [/s] new|length|nothrow
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "app/library_failures.h"

int main(int argc, char** argv) {
    bool status = false;
    const char* mode = "";
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "/s") == 0) status = true;
        else mode = argv[i];
    }
    cabsetup::SetStatusFileOnLibraryFailure(status);
    // More than any address space holds: every system refuses it.
    volatile std::size_t huge = static_cast<std::size_t>(-1) / 2;
    if (std::strcmp(mode, "new") == 0) {
        // Handed out, so that the request cannot be left out as unused.
        char* p = new char[huge];
        std::printf("%p\n", static_cast<void*>(p));
        return 0;
    }
    if (std::strcmp(mode, "length") == 0) {
        std::string s;
        s.reserve(s.max_size() + 1);
        return 0;
    }
    if (std::strcmp(mode, "nothrow") == 0) {
        // The fallible form stays fallible: null, and the program goes on.
        char* p = new (std::nothrow) char[huge];
        std::printf("%p\n", static_cast<void*>(p));
        return p ? 1 : 7;
    }
    return 2;
}
