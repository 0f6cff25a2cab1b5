// The Win32 side of the seam against Wine's real registry and file system.
#include <gtest/gtest.h>

#include "app/folders.h"
#include "app/paths.h"
#include "platform/win32/win32_os.h"
#include "wine_support.h"

#include <aclapi.h>
#include <sddl.h>

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

// The operations the uninstaller's copy relies on, as the system does them.
TEST(WineUninstallerSeam, PrivateFolderHeldCopyAndLongNames) {
    wine::TestFolder folder("UninstallerSeam");
    Win32Os os;
    const std::string priv = folder / "private";
    ASSERT_TRUE(os.CreatePrivateDirectory(priv));
    EXPECT_FALSE(os.CreatePrivateDirectory(priv)) << "a folder that exists is never taken over";
    // The descriptor it is made with: protected, administrators and the
    // system only, inherited by all it holds. (Wine keeps no descriptor on
    // this file system, so it is read from what the call is given.)
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(kPrivateFolderSddl, SDDL_REVISION_1, &descriptor,
                                                                     nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    ASSERT_TRUE(present && dacl);
    EXPECT_EQ(dacl->AceCount, 2);
    std::vector<std::string> sids;
    for (DWORD i = 0; i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        ASSERT_TRUE(GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
        EXPECT_EQ(ace->Header.AceType, ACCESS_ALLOWED_ACE_TYPE);
        EXPECT_EQ(ace->Header.AceFlags & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE),
                  OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
        EXPECT_EQ(ace->Mask & FILE_ALL_ACCESS, static_cast<DWORD>(FILE_ALL_ACCESS));
        char* sid = nullptr;
        ASSERT_TRUE(ConvertSidToStringSidA(&ace->SidStart, &sid));
        sids.push_back(sid);
        LocalFree(sid);
    }
    EXPECT_EQ(sids, (std::vector<std::string>{"S-1-5-32-544", "S-1-5-18"}));
    LocalFree(descriptor);

    // A copy held for reading: nobody writes, renames or deletes it, and it still starts.
    const std::string program = priv + "\\probe.exe";
    std::string source = "C:\\windows\\system32\\cmd.exe";
    ASSERT_TRUE(os.CopyFile(source, program));
    EXPECT_FALSE(os.CopyFile(source, program)) << "never over a file that exists";
    {
        Os::HandlePtr held = os.HoldFile(program);
        ASSERT_TRUE(held);
        EXPECT_FALSE(DeleteFileA(program.c_str()));
        EXPECT_FALSE(MoveFileA(program.c_str(), (priv + "\\moved.exe").c_str()));
        EXPECT_EQ(CreateFileA(program.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                              nullptr),
                  INVALID_HANDLE_VALUE);
        ProcessStart start;
        start.application = program;
        start.commandLine = "probe.exe /c exit 7";
        Os::HandlePtr process = os.CreateProcess(start);
        ASSERT_TRUE(process) << GetLastError();
        EXPECT_TRUE(os.WaitForProcess(*process, 10000));
    }
    EXPECT_TRUE(DeleteFileA(program.c_str()));

    // Short names made long; a part that does not exist gives nothing.
    ASSERT_TRUE(CreateDirectoryA((folder / "A Long Folder Name").c_str(), nullptr));
    char shortName[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameA((folder / "A Long Folder Name").c_str(), shortName, MAX_PATH), 0u);
    EXPECT_NE(std::string(shortName), folder / "A Long Folder Name");
    EXPECT_EQ(os.LongPathName(shortName), folder / "A Long Folder Name");
    EXPECT_EQ(os.LongPathName(folder / "missing\\x"), "");
}

TEST(WineUninstallerSeam, PipeProcessesRegistryAndRandom) {
    Win32Os os;
    Os::HandlePtr writeEnd;
    std::string name;
    Os::HandlePtr readEnd = os.CreatePipe(writeEnd, name);
    ASSERT_TRUE(readEnd && writeEnd);
    EXPECT_FALSE(name.empty());
    Os::HandlePtr inherited = os.OpenInheritedHandle(name);
    ASSERT_TRUE(inherited);
    EXPECT_FALSE(os.OpenInheritedHandle("zz"));
    EXPECT_FALSE(os.OpenInheritedHandle(""));
    const std::uint32_t sent = 3010;
    ASSERT_TRUE(os.Write(*inherited, &sent, sizeof sent));
    inherited.reset();
    writeEnd.reset();
    std::uint32_t got = 0;
    std::size_t n = 0;
    EXPECT_TRUE(os.Read(*readEnd, &got, sizeof got, n));
    EXPECT_EQ(n, sizeof got);
    EXPECT_EQ(got, sent);

    Os::HandlePtr self = os.OpenProcess(os.ProcessId());
    ASSERT_TRUE(self);
    EXPECT_FALSE(os.WaitForProcess(*self, 10)) << "this process is still running";

    wine::TestKey parent(HKEY_CURRENT_USER, "Software\\cabsetup-tests\\Enum");
    wine::TestKey child(HKEY_CURRENT_USER, "Software\\cabsetup-tests\\Enum\\Child");
    Os::HandlePtr key = os.RegOpenKey(RegRoot::CurrentUser, parent.Subkey(), kKeyAllAccess);
    ASSERT_TRUE(key);
    std::string sub;
    EXPECT_TRUE(os.RegEnumKey(*key, 0, sub));
    EXPECT_EQ(sub, "Child");
    EXPECT_FALSE(os.RegEnumKey(*key, 1, sub));
    key.reset();

    unsigned char a[16] = {}, b[16] = {};
    ASSERT_TRUE(os.Random(a, sizeof a));
    ASSERT_TRUE(os.Random(b, sizeof b));
    EXPECT_NE(std::string(a, a + 16), std::string(b, b + 16));
}

}  // namespace
}  // namespace cabsetup
