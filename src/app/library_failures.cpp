// setup.exe and uninstall.exe are built without exceptions. The standard
// library still reports its failures (an allocation refused, a length
// beyond any string, a failed lock) by throwing; these replace its throwing
// functions and its allocation, as its manual allows for programs without
// exceptions, so that such a failure ends the program in the one controlled
// way below, and the library's exception classes, their strings and the
// unwinder stay out of setup.exe (some 60 KiB).
#include "app/library_failures.h"

#include "platform/win32/windows_clean.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

#include "app/startup.h"

namespace cabsetup {

namespace {

std::atomic<bool> statusFile{false};
std::atomic<DWORD> endingThread{0};

// Written with the system's own calls: the library may be what failed.
void WriteErrorStatus() {
    HANDLE file = CreateFileA(kStatusFileName, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    static const char kError[] = "Error";
    DWORD written = 0;
    WriteFile(file, kError, sizeof kError - 1, &written, nullptr);
    CloseHandle(file);
}

void ShowCause(unsigned long systemError) {
    char text[512];
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, systemError, 0, text,
                             sizeof text, nullptr);
    MessageBoxA(nullptr, n ? text : "The program cannot continue.", nullptr, MB_OK | MB_ICONSTOP | MB_TASKMODAL);
}

}  // namespace

void SetStatusFileOnLibraryFailure(bool statusSwitch) { statusFile = statusSwitch; }

void EndOnLibraryFailure(unsigned long systemError) {
    const DWORD self = GetCurrentThreadId();
    DWORD none = 0;
    if (!endingThread.compare_exchange_strong(none, self)) {
        // Another thread is already ending the program; this one waits for
        // the end. The same thread failing again on the way out ends it now.
        if (none != self) Sleep(INFINITE);
        TerminateProcess(GetCurrentProcess(), kExitFatal);
    }
    if (statusFile) WriteErrorStatus();
    else ShowCause(systemError);
    // At once: other threads may hold locks that an orderly exit would wait for.
    TerminateProcess(GetCurrentProcess(), kExitFatal);
    for (;;) Sleep(INFINITE);
}

}  // namespace cabsetup

// Allocation: the library's own throws bad_alloc, which a program without
// exceptions cannot catch. The nothrow forms answer null, as they must, so
// that the program's fallible requests stay fallible. The library's
// operator delete frees with free(), which matches.
void* operator new(std::size_t size) {
    if (void* p = std::malloc(size ? size : 1)) return p;
    cabsetup::EndOnLibraryFailure(ERROR_NOT_ENOUGH_MEMORY);
}
void* operator new[](std::size_t size) { return ::operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return std::malloc(size ? size : 1); }

namespace std {

[[noreturn]] void __throw_bad_alloc() { cabsetup::EndOnLibraryFailure(ERROR_NOT_ENOUGH_MEMORY); }
[[noreturn]] void __throw_bad_array_new_length() { cabsetup::EndOnLibraryFailure(ERROR_NOT_ENOUGH_MEMORY); }
[[noreturn]] void __throw_length_error(const char*) { cabsetup::EndOnLibraryFailure(ERROR_NOT_ENOUGH_MEMORY); }
[[noreturn]] void __throw_bad_cast() { cabsetup::EndOnLibraryFailure(ERROR_INTERNAL_ERROR); }
[[noreturn]] void __throw_bad_typeid() { cabsetup::EndOnLibraryFailure(ERROR_INTERNAL_ERROR); }
[[noreturn]] void __throw_bad_function_call() { cabsetup::EndOnLibraryFailure(ERROR_INTERNAL_ERROR); }
[[noreturn]] void __throw_logic_error(const char*) { cabsetup::EndOnLibraryFailure(ERROR_INTERNAL_ERROR); }
[[noreturn]] void __throw_domain_error(const char*) { cabsetup::EndOnLibraryFailure(ERROR_INTERNAL_ERROR); }
[[noreturn]] void __throw_invalid_argument(const char*) { cabsetup::EndOnLibraryFailure(ERROR_INTERNAL_ERROR); }
[[noreturn]] void __throw_out_of_range(const char*) { cabsetup::EndOnLibraryFailure(ERROR_INTERNAL_ERROR); }
[[noreturn]] void __throw_out_of_range_fmt(const char*, ...) { cabsetup::EndOnLibraryFailure(ERROR_INTERNAL_ERROR); }
[[noreturn]] void __throw_runtime_error(const char*) { cabsetup::EndOnLibraryFailure(ERROR_INTERNAL_ERROR); }
[[noreturn]] void __throw_range_error(const char*) { cabsetup::EndOnLibraryFailure(ERROR_INTERNAL_ERROR); }
[[noreturn]] void __throw_overflow_error(const char*) { cabsetup::EndOnLibraryFailure(ERROR_INTERNAL_ERROR); }
[[noreturn]] void __throw_underflow_error(const char*) { cabsetup::EndOnLibraryFailure(ERROR_INTERNAL_ERROR); }
// A lock or a thread the system refused.
[[noreturn]] void __throw_system_error(int error) {
    cabsetup::EndOnLibraryFailure(error == ENOMEM || error == EAGAIN ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INTERNAL_ERROR);
}

}  // namespace std

// The library's handler for an uncaught exception prints the exception's
// demangled type: a demangler of some 30 KiB that a GUI program never shows.
// Whatever the library threw (an over-aligned allocation refused, say) ends
// the program the same controlled way.
namespace __gnu_cxx {
void __verbose_terminate_handler() { cabsetup::EndOnLibraryFailure(ERROR_INTERNAL_ERROR); }
}  // namespace __gnu_cxx
