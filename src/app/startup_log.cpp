#include "app/startup_log.h"

#include "app/switches.h"
#include "runlog/run_log.h"

namespace cabsetup {

void LogSwitches(const SetupState& state, const std::string& logSwitchPath) {
    if (!RunLogOn()) return;
    std::string text = "switches:";
    if (state.Has(kSwitchUnattended)) text += " /a (unattended)";
    if (state.Has(kSwitchNoChanges)) text += " /p (no changes: this log is the plan of a real run)";
    if (state.Has(kSwitchStatusFile)) text += " /s (status file)";
    if (state.switchFlags == 0) text += " none (interactive)";
    if (!logSwitchPath.empty()) text += ", /l=" + logSwitchPath;
    LogLine(text);
}

void LogScript(const SetupState& state) {
    if (!RunLogOn()) return;
    const ScriptHeader& h = state.script.First().header;
    const char* kind = h.setupKind == kSetupKindFull ? "full installation" : h.setupKind == kSetupKindUpdate ? "update" : "other";
    LogLine("setup script: " + state.sourceDir + "\\setup.inf, " + kind + " (kind " + std::to_string(h.setupKind) +
            "), model \"" + h.modelName + "\" version \"" + h.modelVersion + "\", Uninstall key \"" + h.uninstallKey +
            "\"");
}

void LogFolders(const SetupState& state) {
    if (!RunLogOn()) return;
    const FolderTable& f = state.folders;
    const struct {
        const char* name;
        const std::string& value;
    } kFolders[] = {
        {"targetDir", f.targetDir},
        {"systemDir", f.systemDir},
        {"windowsDir", f.windowsDir},
        {"tempDir", f.tempDir},
        {"workBaseDir", f.workBaseDir},
        {"rootDrive", f.rootDrive},
        {"desktopDir", f.desktopDir},
        {"programFilesDir", f.programFilesDir},
        {"startMenuDir", f.startMenuDir},
        {"programsDir", f.programsDir},
        {"startupDir", f.startupDir},
        {"commonDesktopDir", f.commonDesktopDir},
        {"commonStartMenuDir", f.commonStartMenuDir},
        {"commonProgramsDir", f.commonProgramsDir},
        {"commonStartupDir", f.commonStartupDir},
    };
    for (const auto& folder : kFolders) LogLine(std::string("folder ") + folder.name + ": " + folder.value);
    LogLine("system code (osCode): " + std::to_string(f.osCode));
}

}  // namespace cabsetup
