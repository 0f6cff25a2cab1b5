// Installs a package with the real install worker and a hidden window
// standing in for the wizard, and reports when NOTIFY_DONE arrives.
//   engine_driver.exe PACKAGE_FOLDER TARGET_FOLDER
#include <cstdio>

#include "engine/install_worker.h"
#include "platform/win32/win32_os.h"
#include "platform/win32/windows_clean.h"

namespace {

cabsetup::InstallStatus status;
unsigned finalCode = 0;
unsigned progressMessages = 0;

LRESULT CALLBACK Proc(HWND w, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg != cabsetup::kWmInstallNotify) return DefWindowProcA(w, msg, wp, lp);
    if (wp == cabsetup::NOTIFY_PROGRESS) {
        status.progressPending = false;
        ++progressMessages;
    } else if (wp == cabsetup::NOTIFY_DONE || wp == cabsetup::NOTIFY_FAILED) {
        finalCode = static_cast<unsigned>(wp);
        PostQuitMessage(0);
    } else if (wp == cabsetup::NOTIFY_ASK_MEDIA) {
        status.SetText("FALSE");
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: engine_driver PACKAGE_FOLDER TARGET_FOLDER [/p]\n");
        return 2;
    }
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "CabsetupBenchWizard";
    RegisterClassA(&wc);
    HWND window = CreateWindowA(wc.lpszClassName, "", 0, 0, 0, 0, 0, nullptr, nullptr, wc.hInstance, nullptr);

    cabsetup::Win32Os os;
    cabsetup::SetupState state;
    state.sourceDir = argv[1];
    state.folders.targetDir = argv[2];
    state.folders.workBaseDir = os.WindowsDirectory() + "\\temp";
    state.switchFlags = 0x08;  // "/s": never ask
    if (argc > 3) state.switchFlags |= 0x02;  // "/p": everything but the unpacking, to measure it
    status.hwnd = reinterpret_cast<cabsetup::WindowHandle>(window);
    cabsetup::CInstallLog log;

    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    cabsetup::InstallEngine engine(os, state);
    if (!engine.StartInstallWorker(&status, &log)) return 3;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    QueryPerformanceCounter(&end);
    engine.Join();
    double ms = 1000.0 * double(end.QuadPart - start.QuadPart) / double(frequency.QuadPart);
    std::printf("%s after %.1f ms, %u progress messages\n", finalCode == cabsetup::NOTIFY_DONE ? "done" : "FAILED", ms,
                progressMessages);
    if (finalCode != cabsetup::NOTIFY_DONE) std::printf("%s\n", status.Text().c_str());
    return finalCode == cabsetup::NOTIFY_DONE ? 0 : 1;
}
