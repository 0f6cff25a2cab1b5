// The Win32 side of the seam against Wine's real registry and file system.
#include <gtest/gtest.h>

#include "app/folders.h"
#include "app/paths.h"
#include "platform/win32/win32_os.h"
#include "wine_support.h"

namespace cabsetup {
namespace {

TEST(WineFolders, DiscoveryReadsTheSystemsFolders) {
    Win32Os os;
    SetupState state;
    DiscoverFolders(os, state);
    const FolderTable& f = state.folders;
    EXPECT_EQ(f.windowsDir, "C:\\windows");
    EXPECT_EQ(f.rootDrive, "C:");
    EXPECT_EQ(f.programFilesDir, "C:\\Program Files");
    EXPECT_EQ(f.systemDir, "C:\\windows\\system32");
    EXPECT_EQ(f.tempDir, "C:\\windows\\temp");
    EXPECT_EQ(f.commonDesktopDir, "C:\\users\\Public\\Desktop");
    EXPECT_EQ(f.commonStartMenuDir, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu");
    EXPECT_EQ(f.commonProgramsDir, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs");
    EXPECT_EQ(f.commonStartupDir, "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\StartUp");
    for (const std::string* user : {&f.desktopDir, &f.startMenuDir, &f.programsDir, &f.startupDir}) {
        EXPECT_EQ(user->rfind("C:\\users\\", 0), 0u) << *user;
    }
    EXPECT_NE(f.startupDir.find("\\Start Menu\\Programs\\"), std::string::npos) << f.startupDir;
    EXPECT_EQ(f.osCode, 0);  // Wine reports Windows 7, which has no code

    std::string text = "<DESKTOP_DIR>|<STARTMENUPROGRAM_DIR>";
    ExpandPlaceholders(os.Mbcs(), state, text, kExpandAllUsers);
    EXPECT_EQ(text, f.commonDesktopDir + "|" + f.commonProgramsDir);
    text = "<DESKTOP_DIR>";
    ExpandPlaceholders(os.Mbcs(), state, text, kExpandCurrentUser);
    EXPECT_EQ(text, f.desktopDir);
}

TEST(WineRegistry, ReadRegistryStringLengthsAndAbsence) {
    wine::TestKey key(HKEY_CURRENT_USER, "Software\\cabsetup-tests\\ReadRegistryString");
    key.SetString("v254", std::string(254, 'a'));
    key.SetString("v255", std::string(255, 'b'));
    key.SetString("v300", std::string(300, 'c'));
    key.SetString("empty", "");
    Win32Os os;
    struct Case {
        const char* name;
        std::string expected;
    } cases[] = {{"v254", std::string(254, 'a')}, {"v255", ""}, {"v300", ""}, {"empty", ""}, {"absent", ""}};
    for (const Case& c : cases)
        EXPECT_EQ(ReadRegistryString(os, RegRoot::CurrentUser, key.Subkey(), c.name), c.expected) << c.name;
    EXPECT_EQ(ReadRegistryString(os, RegRoot::CurrentUser, key.Subkey() + "\\missing", "v254"), "");
}

TEST(WineFiles, CreateFolderPathEdgeCases) {
    wine::TestFolder folder("CreateFolderPath");
    Win32Os os;
    EXPECT_TRUE(CreateFolderPath(os, folder / "Apps\\Tool\\Bin"));
    EXPECT_TRUE(FindFolderMatch(os, folder / "Apps\\Tool\\Bin"));
    EXPECT_TRUE(CreateFolderPath(os, folder / "Apps\\Tool\\Bin"));  // existing: accepted
    ASSERT_TRUE(wine::WriteBytes(folder / "Apps\\File", {'x'}));
    EXPECT_FALSE(CreateFolderPath(os, folder / "Apps\\File\\Bin"));
    EXPECT_FALSE(FindFolderMatch(os, folder / "Apps\\File\\Bin"));
    EXPECT_FALSE(CreateFolderPath(os, folder / "Trailing\\"));
    EXPECT_FALSE(CreateFolderPath(os, "Q:\\no-such-drive\\x"));

    FindData found;
    EXPECT_FALSE(FindFileMatch(os, folder / "Apps\\T*"));  // only a folder matches
    EXPECT_TRUE(FindFolderMatch(os, folder / "Apps\\T*", &found));
    EXPECT_EQ(found.name, "Tool");
    EXPECT_TRUE(FindFileMatch(os, folder / "Apps\\*", &found));
    EXPECT_EQ(found.name, "File");
    EXPECT_EQ(found.sizeLow, 1u);
}

TEST(WineFiles, ScriptLoadsThroughTheSystemsFileCalls) {
    wine::TestFolder folder("LoadScript");
    ScriptHalf s;
    s.header.setupKind = 3;
    s.header.modelName = "Tool";
    s.shortcuts.resize(2);
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(WriteScript(s, bytes));
    ASSERT_TRUE(wine::WriteBytes(folder / "Data.inf", bytes));
    Win32Os os;
    SetupScript script;
    ASSERT_TRUE(script.LoadScript(os, false, folder.Path(), ""));
    EXPECT_EQ(script.Second().header.modelName, "Tool");
    EXPECT_EQ(script.Second().shortcuts.size(), 2u);

    bytes.pop_back();  // one byte short of its last record
    ASSERT_TRUE(wine::WriteBytes(folder / "Data.inf", bytes));
    EXPECT_FALSE(script.LoadScript(os, false, folder.Path(), ""));
}

}  // namespace
}  // namespace cabsetup
