#include "platform/win32/system_library.h"

#include <string>

namespace cabsetup {

FARPROC SystemFunction(const char* dll, const char* name) {
    // Loaded already (by another DLL that imports it): no second search.
    HMODULE module = GetModuleHandleA(dll);
    if (!module) {
        char folder[MAX_PATH];
        UINT n = GetSystemDirectoryA(folder, MAX_PATH);
        if (n == 0 || n >= MAX_PATH) return nullptr;
        module = LoadLibraryA((std::string(folder, n) + "\\" + dll).c_str());
        if (!module) return nullptr;
    }
    return GetProcAddress(module, name);
}

}  // namespace cabsetup
