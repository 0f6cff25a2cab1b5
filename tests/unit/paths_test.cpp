#include <gtest/gtest.h>

#include "app/paths.h"
#include "platform/date_text.h"
#include "host_sandbox.h"

namespace cabsetup {
namespace {

using testing::HostSandbox;

TEST(PathText, ParentGrandparentAndFirstComponent) {
    TableCodePage cp(1252);
    struct Case {
        const char *path, *parent, *grandparent, *first;
    } cases[] = {
        {"C:\\a\\b.exe", "C:\\a", "C:", "C:"},
        {"C:\\a\\", "C:\\a", "C:", "C:"},
        {"\\setup.inf", "", "", ""},
        {"setup.exe", "", "", ""},
        {"D:\\SETUP.EXE", "D:", "", "D:"},
        {"HKEY_CURRENT_USER\\Software\\x", "HKEY_CURRENT_USER\\Software", "HKEY_CURRENT_USER", "HKEY_CURRENT_USER"},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParentFolder(cp, c.path), c.parent) << c.path;
        EXPECT_EQ(GrandparentFolder(cp, c.path), c.grandparent) << c.path;
        EXPECT_EQ(FirstComponent(cp, c.path), c.first) << c.path;
    }
}

using CreateFolderPathTest = HostSandbox;

TEST_F(CreateFolderPathTest, CreatesMissingLevels) {
    MakeFolder("D:\\Apps");
    EXPECT_TRUE(CreateFolderPath(os_, "D:\\Apps\\Tool\\Bin"));
    EXPECT_TRUE(std::filesystem::is_directory(host_.HostPath("D:\\Apps\\Tool\\Bin")));
    // An existing folder is accepted.
    EXPECT_TRUE(CreateFolderPath(os_, "D:\\Apps\\Tool\\Bin"));
}

TEST_F(CreateFolderPathTest, StopsAtALevelThatIsAFile) {
    MakeFolder("D:\\Apps");
    WriteFile("D:\\Apps\\Tool", "not a folder");
    EXPECT_FALSE(CreateFolderPath(os_, "D:\\Apps\\Tool\\Bin"));
    EXPECT_FALSE(Exists("D:\\Apps\\Tool\\Bin"));
}

TEST_F(CreateFolderPathTest, TrailingBackslashFails) {
    EXPECT_FALSE(CreateFolderPath(os_, "D:\\New\\"));
}

TEST_F(CreateFolderPathTest, FailsWhenTheLastLevelCannotBeCreated) {
    os_.FailNth(OsOp::CreateDirectory, 2);
    EXPECT_FALSE(CreateFolderPath(os_, "D:\\One\\Two"));
    EXPECT_TRUE(Exists("D:\\One"));
}

TEST_F(CreateFolderPathTest, KoreanLevelWhoseTrailByteIs5C) {
    host_.SetCodePage(949);
    EXPECT_TRUE(CreateFolderPath(os_, "D:\\\xB0\x5C\\sub"));
    // One folder named by the two-byte character, not a folder "\xB0".
    EXPECT_TRUE(std::filesystem::is_directory(root_ / "D" / "\xB0\x5C" / "sub"));
    EXPECT_FALSE(std::filesystem::exists(root_ / "D" / "\xB0"));
}

using FindMatchTest = HostSandbox;

TEST_F(FindMatchTest, FilesAndFoldersAreTellApart) {
    MakeFolder("C:\\data\\Disk1");
    WriteFile("C:\\data\\Data.dat", "x");
    FindData found;
    EXPECT_FALSE(FindFileMatch(os_, "C:\\data\\Disk*"));  // only a folder matches
    EXPECT_TRUE(FindFolderMatch(os_, "C:\\data\\Disk*", &found));
    EXPECT_EQ(found.name, "Disk1");
    EXPECT_TRUE(FindFileMatch(os_, "C:\\data\\*", &found));
    EXPECT_EQ(found.name, "Data.dat");
    EXPECT_EQ(found.sizeLow, 1u);
    EXPECT_FALSE(FindFolderMatch(os_, "C:\\data\\Data.dat"));
    EXPECT_FALSE(FindFileMatch(os_, "C:\\nothing\\*"));
}

using RegistryReadTest = HostSandbox;

TEST_F(RegistryReadTest, ValueLengthsAndAccess) {
    const std::string key = "Software\\Test";
    host_.SetRegistryString(RegRoot::LocalMachine, key, "v254", std::string(254, 'x'));  // 255 bytes with its zero
    host_.SetRegistryString(RegRoot::LocalMachine, key, "v255", std::string(255, 'x'));
    host_.SetRegistryString(RegRoot::LocalMachine, key, "v300", std::string(300, 'x'));
    host_.SetRegistryBytes(RegRoot::LocalMachine, key, "noZero", {'a', 'b'});
    host_.SetRegistryBytes(RegRoot::LocalMachine, key, "embedded", {'a', 0, 'b', 0});
    struct Case {
        const char* name;
        std::string expected;
    } cases[] = {
        {"v254", std::string(254, 'x')}, {"v255", ""}, {"v300", ""}, {"noZero", "ab"},
        {"embedded", "a"},               {"absent", ""}, {"V254", std::string(254, 'x')},
    };
    for (const Case& c : cases) EXPECT_EQ(ReadRegistryString(os_, RegRoot::LocalMachine, key, c.name), c.expected) << c.name;
    EXPECT_EQ(ReadRegistryString(os_, RegRoot::CurrentUser, key, "v254"), "");

    // Readable, but not with full access: reads as absent.
    host_.DenyFullAccess(RegRoot::LocalMachine, key);
    EXPECT_EQ(ReadRegistryString(os_, RegRoot::LocalMachine, key, "v254"), "");
}

TEST(DateText, DigitsOnlyZeroPaddedAndCut) {
    struct Case {
        LocalTime t;
        const char* date;
        const char* time;
    } cases[] = {
        {{2026, 12, 8, 6, 2, 5}, "20261208", "060205"},
        {{1999, 1, 31, 23, 59, 59}, "19990131", "235959"},
        {{12345, 10, 1, 0, 0, 0}, "23451001", "000000"},  // never wider than its field
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DateDigits(c.t), c.date);
        EXPECT_EQ(TimeDigits(c.t), c.time);
    }
}

}  // namespace
}  // namespace cabsetup
