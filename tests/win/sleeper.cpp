// A program of the tests' own that runs until it is told to end: while it
// runs, its image and the library it is given are in use as any running
// program's are. It ends by itself after thirty seconds whatever happens,
// so that nothing (CTest, the wineserver) waits for it for ever.
//   sleeper.exe <end-file> <library>
// It loads the library (without running any of it), writes "<end-file>.ready"
// and ends when <end-file> exists.
#include <windows.h>

#include <string>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    if (!LoadLibraryExA(argv[2], nullptr, DONT_RESOLVE_DLL_REFERENCES)) return 3;
    std::string ready = std::string(argv[1]) + ".ready";
    HANDLE h = CreateFileA(ready.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 4;
    CloseHandle(h);
    for (int i = 0; i < 600 && GetFileAttributesA(argv[1]) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(50);
    return 0;
}
