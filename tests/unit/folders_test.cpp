#include <gtest/gtest.h>

#include "app/folders.h"
#include "host_sandbox.h"

namespace cabsetup {
namespace {

const char kShell[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

SetupState FilledState() {
    SetupState s;
    FolderTable& f = s.folders;
    f.targetDir = "D:\\Tool";
    f.tempDir = "D:\\WINNT\\temp";
    f.rootDrive = "D:";
    f.windowsDir = "D:\\WINNT";
    f.programFilesDir = "D:\\Program Files";
    f.systemDir = "D:\\WINNT\\system32";
    f.desktopDir = "U-Desktop";
    f.commonDesktopDir = "C-Desktop";
    f.startMenuDir = "U-Start";
    f.commonStartMenuDir = "C-Start";
    f.programsDir = "U-Programs";
    f.commonProgramsDir = "";
    f.startupDir = "U-Startup";
    f.commonStartupDir = "C-Startup";
    return s;
}

TEST(ExpandPlaceholders, StepsModesAndOrder) {
    TableCodePage cp(1252);
    SetupState s = FilledState();
    struct Case {
        const char* text;
        int mode;
        const char* expected;
    } cases[] = {
        {"<TARGET_DIR>\\a\\<TARGET_DIR>", 1, "D:\\Tool\\a\\D:\\Tool"},
        {"<ROOT_DRIVE>|<PROGRAMFILES_DIR>|<TEMP_DIR>|<WINDOW_DIR>|<SYSTEM_DIR>", 1,
         "D:|D:\\Program Files|D:\\WINNT\\temp|D:\\WINNT|D:\\WINNT\\system32"},
        {"<DESKTOP_DIR>", 1, "C-Desktop"},
        {"<DESKTOP_DIR>", 2, "U-Desktop"},
        {"<DESKTOP_DIR>", 0, "U-Desktop"},  // any mode but 1 is the user's
        {"<STARTMENUPROGRAM_DIR>", 1, "U-Programs"},  // no all-users value: the user's
        {"<STARTMENU_DIR>|<STARTMENUSTARTUP_DIR>", 1, "C-Start|C-Startup"},
        {"<STARTMENU_DIR>|<STARTMENUSTARTUP_DIR>", 2, "U-Start|U-Startup"},
        {"<target_dir>|<Target_Dir>|<OTHER>|*msg1*|*drv*", 1, "<target_dir>|<Target_Dir>|<OTHER>|*msg1*|*drv*"},
        {"<TARGET_DIR<TARGET_DIR>>", 1, "<TARGET_DIRD:\\Tool>"},
        {"", 1, ""},
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        ExpandPlaceholders(cp, s, text, c.mode);
        EXPECT_EQ(text, c.expected) << c.text << " mode " << c.mode;
    }
}

TEST(ExpandPlaceholders, InsertedTextIsSearchedOnlyByLaterSteps) {
    TableCodePage cp(1252);
    struct Case {
        std::string FolderTable::*slot;
        const char *value, *text, *expected;
    } cases[] = {
        // A later step's placeholder inside an inserted value is expanded.
        {&FolderTable::targetDir, "<PROGRAMFILES_DIR>\\Vendor", "<TARGET_DIR>", "D:\\Program Files\\Vendor"},
        // The same step does not search what it inserted.
        {&FolderTable::targetDir, "<TARGET_DIR>x", "<TARGET_DIR>", "<TARGET_DIR>x"},
        // An earlier step's placeholder inside a value stays.
        {&FolderTable::programFilesDir, "<TARGET_DIR>", "<PROGRAMFILES_DIR>", "<TARGET_DIR>"},
        // <WINDOW_DIR> inserted by steps 8-13 is caught by the second pass.
        {&FolderTable::commonDesktopDir, "<WINDOW_DIR>\\Desktop", "<DESKTOP_DIR>", "D:\\WINNT\\Desktop"},
        // An empty value removes the placeholder.
        {&FolderTable::targetDir, "", "[<TARGET_DIR>]", "[]"},
    };
    for (const Case& c : cases) {
        SetupState s = FilledState();
        s.folders.*c.slot = c.value;
        std::string text = c.text;
        ExpandPlaceholders(cp, s, text, kExpandAllUsers);
        EXPECT_EQ(text, c.expected) << c.text << " with " << c.value;
    }
}

TEST(ExpandPlaceholders, ScriptValuesAndDoubleByteText) {
    TableCodePage cp(949);
    SetupState s = FilledState();
    s.folders.targetDir = "D:\\\xB0<";  // a trail byte '<' must not start a placeholder
    std::string text = "\xB0<TARGET_DIR>";
    ExpandPlaceholders(cp, s, text, 1);
    EXPECT_EQ(text, "\xB0<TARGET_DIR>");
    text = "\xB0\xB0<TARGET_DIR>";
    ExpandPlaceholders(cp, s, text, 1);
    EXPECT_EQ(text, "\xB0\xB0" "D:\\\xB0<");
}

class DiscoverFoldersTest : public testing::HostSandbox {};

TEST_F(DiscoverFoldersTest, FillsTheTableFromTheSystem) {
    host_.SetWindowsDirectory("D:\\WINNT");
    host_.SetSystemDirectory("D:\\WINNT\\system32");
    host_.SetVersion({true, 2, 5, 0});
    host_.SetRegistryString(RegRoot::LocalMachine, kShell, "Common Desktop", "D:\\All\\Desktop");
    host_.SetRegistryString(RegRoot::CurrentUser, kShell, "Desktop", "D:\\Me\\Desktop");
    host_.SetRegistryString(RegRoot::CurrentUser, kShell, "Programs", "D:\\Me\\Programs");
    host_.SetRegistryString(RegRoot::LocalMachine, kShell, "Common Startup", std::string(300, 'x'));
    SetupState s;
    DiscoverFolders(os_, s);
    const FolderTable& f = s.folders;
    EXPECT_EQ(f.rootDrive, "D:");
    EXPECT_EQ(f.windowsDir, "D:\\WINNT");
    EXPECT_EQ(f.systemDir, "D:\\WINNT\\system32");
    EXPECT_EQ(f.programFilesDir, "D:\\Program Files");
    EXPECT_EQ(f.tempDir, "D:\\WINNT\\temp");
    EXPECT_EQ(f.workBaseDir, "D:\\WINNT\\temp");
    EXPECT_EQ(f.commonDesktopDir, "D:\\All\\Desktop");
    EXPECT_EQ(f.desktopDir, "D:\\Me\\Desktop");
    EXPECT_EQ(f.programsDir, "D:\\Me\\Programs");
    EXPECT_EQ(f.commonStartupDir, "");  // too long for the read buffer
    EXPECT_EQ(f.startMenuDir, "");
    EXPECT_EQ(f.targetDir, "");  // no script: not a full installation
    EXPECT_EQ(f.osCode, 102);
}

TEST_F(DiscoverFoldersTest, OsCodes) {
    struct Case {
        OsVersion v;
        int osCode, restartOsCode;
    } cases[] = {
        {{true, 1, 4, 0}, 1, 0},   {{true, 1, 4, 10}, 2, 1},  {{true, 1, 4, 90}, 3, 0},
        {{true, 2, 4, 0}, 101, 0}, {{true, 2, 5, 0}, 102, 2}, {{true, 2, 5, 1}, 103, 3},
        {{true, 2, 5, 2}, 0, 0},   {{true, 2, 6, 1}, 0, 0},   {{false, 2, 5, 1}, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OsCodeFor(c.v), c.osCode) << c.v.platformId << " " << c.v.major << "." << c.v.minor;
        EXPECT_EQ(RestartOsCodeFor(c.v), c.restartOsCode) << c.v.platformId << " " << c.v.major << "." << c.v.minor;
    }
}

}  // namespace
}  // namespace cabsetup
