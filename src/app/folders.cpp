#include "app/folders.h"

#include "app/message_text.h"
#include "app/paths.h"

namespace cabsetup {

namespace {

const char kShellFolders[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

const std::string& AllUsersOr(int mode, const std::string& common, const std::string& user) {
    return mode == kExpandAllUsers && !common.empty() ? common : user;
}

struct VersionCode {
    std::uint32_t platformId, major, minor;
    std::int32_t code;
};

std::int32_t Lookup(const OsVersion& v, const VersionCode* table, std::size_t n) {
    if (!v.ok) return 0;
    for (std::size_t i = 0; i < n; ++i)
        if (table[i].platformId == v.platformId && table[i].major == v.major && table[i].minor == v.minor)
            return table[i].code;
    return 0;
}

}  // namespace

std::int32_t OsCodeFor(const OsVersion& v) {
    static constexpr VersionCode kTable[] = {{1, 4, 0, 1},   {1, 4, 10, 2},  {1, 4, 90, 3},
                                             {2, 4, 0, 101}, {2, 5, 0, 102}, {2, 5, 1, 103}};
    return Lookup(v, kTable, std::size(kTable));
}

std::int32_t RestartOsCodeFor(const OsVersion& v) {
    static constexpr VersionCode kTable[] = {{1, 4, 10, 1}, {2, 5, 0, 2}, {2, 5, 1, 3}};
    return Lookup(v, kTable, std::size(kTable));
}

void DiscoverFolders(Os& os, SetupState& state) {
    FolderTable& f = state.folders;
    const CodePage& cp = os.Mbcs();
    std::string windows = os.WindowsDirectory();
    f.rootDrive = FirstComponent(cp, windows);
    f.windowsDir = windows;
    f.programFilesDir = f.rootDrive + "\\Program Files";
    f.systemDir = os.SystemDirectory();

    const struct {
        RegRoot root;
        const char* value;
        std::string FolderTable::*slot;
    } kShell[] = {
        {RegRoot::LocalMachine, "Common Start Menu", &FolderTable::commonStartMenuDir},
        {RegRoot::CurrentUser, "Start Menu", &FolderTable::startMenuDir},
        {RegRoot::LocalMachine, "Common Desktop", &FolderTable::commonDesktopDir},
        {RegRoot::CurrentUser, "Desktop", &FolderTable::desktopDir},
        {RegRoot::LocalMachine, "Common Startup", &FolderTable::commonStartupDir},
        {RegRoot::CurrentUser, "Startup", &FolderTable::startupDir},
        {RegRoot::LocalMachine, "Common Programs", &FolderTable::commonProgramsDir},
        {RegRoot::CurrentUser, "Programs", &FolderTable::programsDir},
    };
    for (const auto& s : kShell) f.*s.slot = ReadRegistryString(os, s.root, kShellFolders, s.value);

    f.workBaseDir = f.windowsDir + "\\temp";
    f.tempDir = f.workBaseDir;
    const ScriptHeader& h = state.script.First().header;
    if (h.setupKind == kSetupKindFull && f.targetDir.empty()) {
        f.targetDir = h.defaultTargetDir;
        ExpandPlaceholders(cp, state, f.targetDir, kExpandAllUsers);
    }
    f.osCode = OsCodeFor(os.Version());
}

void ExpandPlaceholders(const CodePage& cp, const SetupState& state, std::string& text, int mode) {
    const FolderTable& f = state.folders;
    const ScriptHeader& h = state.script.First().header;
    // The value is copied first: expanding targetDir in place must not read
    // the text it is rewriting.
    const std::pair<const char*, std::string> kSteps[] = {
        {"<TARGET_DIR>", f.targetDir},
        {"<TEMP_DIR>", f.tempDir},
        {"<COMPANY_NAME>", h.companyName},
        {"<MODEL_NAME>", h.modelName},
        {"<MODEL_VERSION>", h.modelVersion},
        {"<ROOT_DRIVE>", f.rootDrive},
        {"<WINDOW_DIR>", f.windowsDir},
        {"<DESKTOP_DIR>", AllUsersOr(mode, f.commonDesktopDir, f.desktopDir)},
        {"<PROGRAMFILES_DIR>", f.programFilesDir},
        {"<STARTMENU_DIR>", AllUsersOr(mode, f.commonStartMenuDir, f.startMenuDir)},
        {"<STARTMENUPROGRAM_DIR>", AllUsersOr(mode, f.commonProgramsDir, f.programsDir)},
        {"<STARTMENUSTARTUP_DIR>", AllUsersOr(mode, f.commonStartupDir, f.startupDir)},
        {"<SYSTEM_DIR>", f.systemDir},
        // A second pass, so that folders inserted by the steps above may name it.
        {"<WINDOW_DIR>", f.windowsDir},
    };
    for (const auto& [placeholder, value] : kSteps) ReplaceEvery(cp, text, placeholder, value);
}

}  // namespace cabsetup
