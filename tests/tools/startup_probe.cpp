// Runs setup.exe's start-up with the real system calls and prints what it
// decided: the switches, the script, the outcome and the folder table. It
// reads setup.inf beside itself, exactly as setup.exe does.
#include <cstdio>

#include "app/setup_state.h"
#include "app/startup.h"
#include "platform/win32/win32_os.h"

int main(int argc, char** argv) {
    std::string arguments;
    for (int i = 1; i < argc; ++i) arguments += (i > 1 ? " " : "") + std::string(argv[i]);
    cabsetup::Win32Os os;
    cabsetup::SetupState state;
    cabsetup::StartupResult r = cabsetup::RunStartup(os, state, arguments);
    static const char* const kOutcomes[] = {"proceed to the wizard", "Init Error!", "no earlier installation (6048)",
                                            "installed version out of range (6049)"};
    const cabsetup::FolderTable& f = state.folders;
    const cabsetup::ScriptHeader& h = state.script.First().header;
    std::printf("arguments        : %s\n", arguments.c_str());
    std::printf("switches         : 0x%02x\n", static_cast<unsigned>(state.switchFlags));
    std::printf("sourceDir        : %s\n", state.sourceDir.c_str());
    std::printf("setupKind        : %d (%s %s)\n", static_cast<int>(h.setupKind), h.modelName.c_str(),
                h.modelVersion.c_str());
    std::printf("outcome          : %s, exit code %d\n", kOutcomes[static_cast<int>(r.outcome)],
                cabsetup::ExitCodeFor(r.outcome));
    if (r.outcome != cabsetup::StartupOutcome::Proceed) std::printf("message          : %s\n", r.message.c_str());
    const std::pair<const char*, const std::string*> rows[] = {
        {"targetDir", &f.targetDir},           {"windowsDir", &f.windowsDir},
        {"systemDir", &f.systemDir},           {"tempDir", &f.tempDir},
        {"rootDrive", &f.rootDrive},           {"programFilesDir", &f.programFilesDir},
        {"desktopDir", &f.desktopDir},         {"startMenuDir", &f.startMenuDir},
        {"programsDir", &f.programsDir},       {"startupDir", &f.startupDir},
        {"commonDesktopDir", &f.commonDesktopDir}, {"commonStartMenuDir", &f.commonStartMenuDir},
        {"commonProgramsDir", &f.commonProgramsDir}, {"commonStartupDir", &f.commonStartupDir},
    };
    for (const auto& [name, value] : rows) std::printf("%-17s: %s\n", name, value->c_str());
    std::printf("osCode           : %d, restartOsCode %d\n", static_cast<int>(f.osCode),
                static_cast<int>(state.restartOsCode));
    return cabsetup::ExitCodeFor(r.outcome);
}
