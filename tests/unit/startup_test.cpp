#include <gtest/gtest.h>

#include "app/folders.h"
#include "app/startup.h"
#include "app/switches.h"
#include "host_sandbox.h"

namespace cabsetup {
namespace {

const char kUninstall[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\VendorTool";

class StartupTest : public testing::HostSandbox {
protected:
    StartupTest() { host_.SetWindowsDirectory("D:\\WINNT"); }

    void WriteScript(std::int32_t kind, const std::string& modelName = "Tool") {
        ScriptHalf s;
        s.header.setupKind = kind;
        s.header.modelName = modelName;
        s.header.modelVersion = "2.0";
        s.header.requiredVersion = "1.0";
        s.header.uninstallKey = "VendorTool";
        s.header.defaultTargetDir = "<PROGRAMFILES_DIR>\\Vendor\\Tool";
        std::vector<unsigned char> bytes;
        ASSERT_TRUE(cabsetup::WriteScript(s, bytes));
        WriteFile("C:\\setup\\setup.inf", bytes);
    }
    void SetUninstall(const char* name, const std::string& value) {
        host_.SetRegistryString(RegRoot::LocalMachine, kUninstall, name, value);
    }
    StartupResult Run(const std::string& arguments = "") { return RunStartup(os_, state_, arguments); }

    SetupState state_;
};

TEST_F(StartupTest, MissingScriptIsAnInitError) {
    StartupResult r = Run();
    EXPECT_EQ(r.outcome, StartupOutcome::InitError);
    EXPECT_EQ(r.message, "Init Error!");
    EXPECT_EQ(ExitCodeFor(r.outcome), 1603);
    ReportStartupRefusal(os_, state_, r);
    ASSERT_EQ(host_.Messages().size(), 1u);
    EXPECT_EQ(host_.Messages()[0].text, "Init Error!");
    EXPECT_EQ(host_.Messages()[0].caption, "setup");  // the program's name without extension
    EXPECT_EQ(host_.Messages()[0].flags, kMbOk | kMbIconExclamation);
    EXPECT_FALSE(Exists("installerror.txt"));
}

TEST_F(StartupTest, StatusFileSwitchReportsErrorWithoutABox) {
    WriteFile("C:\\work\\installerror.txt", "Success and more");
    StartupResult r = Run("/a /S");
    ASSERT_EQ(r.outcome, StartupOutcome::InitError);
    ReportStartupRefusal(os_, state_, r);
    EXPECT_TRUE(host_.Messages().empty());
    EXPECT_EQ(ReadFile("C:\\work\\installerror.txt"), "Error");  // in the current folder, replaced whole
}

TEST_F(StartupTest, StatusFileThatCannotBeWrittenLeavesNoEarlierSuccess) {
    for (OsOp op : {OsOp::CreateAlways, OsOp::Write}) {
        WriteFile("C:\\work\\installerror.txt", "Success");
        os_.FailNth(op, 1);
        WriteStatusFile(os_, "Error");
        os_.Reset();
        EXPECT_FALSE(Exists("C:\\work\\installerror.txt")) << OsOpName(op);
    }
}

TEST_F(StartupTest, SourceFolderAtTheRootOfADisc) {
    host_.SetModulePath("D:\\SETUP.EXE");
    ScriptHalf s;
    s.header.setupKind = 1;
    s.header.modelName = "FromDisc";
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(cabsetup::WriteScript(s, bytes));
    WriteFile("D:\\setup.inf", bytes);
    ASSERT_EQ(Run().outcome, StartupOutcome::Proceed);
    EXPECT_EQ(state_.sourceDir, "D:");
    EXPECT_EQ(state_.script.First().header.modelName, "FromDisc");
}

TEST_F(StartupTest, FullInstallationTargetFolder) {
    struct Case {
        const char* arguments;
        const char* installedPath;  // nullptr: no value
        const char* targetDir;
    } cases[] = {
        {"", "C:\\Old", "D:\\Program Files\\Vendor\\Tool"},  // earlier installation ignored
        {"/a", "C:\\Old", "C:\\Old"},
        {"/a", nullptr, "D:\\Program Files\\Vendor\\Tool"},
        {"/a", "", "D:\\Program Files\\Vendor\\Tool"},
    };
    WriteScript(kSetupKindFull);
    for (const Case& c : cases) {
        HostOs fresh(root_);
        fresh.SetWindowsDirectory("D:\\WINNT");
        if (c.installedPath) fresh.SetRegistryString(RegRoot::LocalMachine, kUninstall, "InstalledPath", c.installedPath);
        SetupState state;
        ASSERT_EQ(RunStartup(fresh, state, c.arguments).outcome, StartupOutcome::Proceed);
        EXPECT_EQ(state.folders.targetDir, c.targetDir) << c.arguments << " " << (c.installedPath ? c.installedPath : "-");
        EXPECT_EQ(state.sourceDir, "C:\\setup");
        EXPECT_EQ(state.folders.rootDrive, "D:");
    }
}

TEST_F(StartupTest, OtherKindsSkipTheCheckAndTheDefaultFolder) {
    WriteScript(2);
    ASSERT_EQ(Run().outcome, StartupOutcome::Proceed);
    EXPECT_EQ(state_.folders.targetDir, "");
    SetUninstall("InstalledPath", "C:\\Old");
    SetupState state;
    ASSERT_EQ(RunStartup(os_, state, "/a").outcome, StartupOutcome::Proceed);
    EXPECT_EQ(state.folders.targetDir, "C:\\Old");
}

TEST_F(StartupTest, UpdateDecisionTable) {
    struct Case {
        const char *installedPath, *uninstallString, *installedVersion;  // nullptr: absent
        StartupOutcome outcome;
        const char* targetDir;
    } cases[] = {
        {nullptr, nullptr, "1.5", StartupOutcome::NoPreviousInstall, ""},
        {"", "", nullptr, StartupOutcome::NoPreviousInstall, ""},
        {nullptr, "uninstall.exe Tool", nullptr, StartupOutcome::NoPreviousInstall, ""},
        {"C:\\Tool", nullptr, nullptr, StartupOutcome::Proceed, "C:\\Tool"},
        {nullptr, "C:\\Apps\\Tool\\uninstall.exe Tool", nullptr, StartupOutcome::Proceed, "C:\\Apps\\Tool"},
        {nullptr, "\"C:\\Program Files\\Tool\\uninstall.exe\" Tool", nullptr, StartupOutcome::Proceed,
         "C:\\Program Files\\Tool"},
        {"C:\\Tool", "C:\\Elsewhere\\uninstall.exe", nullptr, StartupOutcome::Proceed, "C:\\Tool"},
        {"C:\\Tool", nullptr, "2.0", StartupOutcome::Proceed, "C:\\Tool"},
        {"C:\\Tool", nullptr, "1.5", StartupOutcome::Proceed, "C:\\Tool"},
        {"C:\\Tool", nullptr, "1.0", StartupOutcome::Proceed, "C:\\Tool"},
        {"C:\\Tool", nullptr, "", StartupOutcome::Proceed, "C:\\Tool"},
        {"C:\\Tool", nullptr, "2.1", StartupOutcome::WrongVersion, "C:\\Tool"},
        {"C:\\Tool", nullptr, "0.9", StartupOutcome::WrongVersion, "C:\\Tool"},
        {"C:\\Tool", nullptr, "1.10", StartupOutcome::Proceed, "C:\\Tool"},  // text order: 1.0 <= 1.10 < 2.0
        {"C:\\Tool", nullptr, "2.0.1", StartupOutcome::WrongVersion, "C:\\Tool"},
    };
    WriteScript(kSetupKindUpdate);
    for (const Case& c : cases) {
        HostOs fresh(root_);
        fresh.SetWindowsDirectory("D:\\WINNT");
        const std::pair<const char*, const char*> values[] = {{"InstalledPath", c.installedPath},
                                                              {"UninstallString", c.uninstallString},
                                                              {"InstalledVersion", c.installedVersion}};
        for (const auto& [name, value] : values)
            if (value) fresh.SetRegistryString(RegRoot::LocalMachine, kUninstall, name, value);
        SetupState state;
        StartupResult r = RunStartup(fresh, state, "/a");
        std::string label = std::string(c.installedPath ? c.installedPath : "-") + " | " +
                            (c.uninstallString ? c.uninstallString : "-") + " | " +
                            (c.installedVersion ? c.installedVersion : "-");
        EXPECT_EQ(r.outcome, c.outcome) << label;
        EXPECT_EQ(state.folders.targetDir, c.targetDir) << label;
    }
}

TEST_F(StartupTest, UpdateMessagesAreFilledAndExpanded) {
    WriteScript(kSetupKindUpdate);
    StartupResult r = Run();
    EXPECT_EQ(r.outcome, StartupOutcome::NoPreviousInstall);
    EXPECT_EQ(ExitCodeFor(r.outcome), 1605);
    EXPECT_EQ(r.message, "Cannot find the existing installed program. Retry after Installing 'Tool v1.0'");

    host_.SetKorean(true);
    SetupState korean;
    r = RunStartup(os_, korean, "");
    // The Korean text names the required version twice; both get it.
    EXPECT_EQ(r.message, "'Tool v1.0' 이(가) 설치된 폴더를 찾을 수 없습니다. 'Tool v1.0' 프로그램을 설치하고 패치 프로그램을 실행해 주십시오.");

    host_.SetKorean(false);
    SetUninstall("InstalledPath", "C:\\Tool");
    SetUninstall("InstalledVersion", "3.0");
    SetupState wrong;
    r = RunStartup(os_, wrong, "");
    EXPECT_EQ(r.outcome, StartupOutcome::WrongVersion);
    EXPECT_EQ(ExitCodeFor(r.outcome), 1638);
    EXPECT_EQ(r.message, "Wrong version! Cannot install  'v2.0'");
}

TEST_F(StartupTest, FolderPlaceholdersAreEmptyBeforeDiscoveryAndValuesAreNotReexpanded) {
    // A model name that holds a placeholder of an earlier step keeps it.
    WriteScript(kSetupKindUpdate, "<TARGET_DIR>|<WINDOW_DIR>");
    StartupResult r = Run();
    ASSERT_EQ(r.outcome, StartupOutcome::NoPreviousInstall);
    // <WINDOW_DIR> comes after <MODEL_NAME> but folders are not discovered yet.
    EXPECT_EQ(r.message, "Cannot find the existing installed program. Retry after Installing '<TARGET_DIR>| v1.0'");
}

TEST_F(StartupTest, KeyThatCannotBeOpenedForFullAccessReadsAsAbsent) {
    WriteScript(kSetupKindUpdate);
    SetUninstall("InstalledPath", "C:\\Tool");
    host_.DenyFullAccess(RegRoot::LocalMachine, kUninstall);
    EXPECT_EQ(Run().outcome, StartupOutcome::NoPreviousInstall);
}

TEST_F(StartupTest, SwitchesAndOsCodes) {
    WriteScript(kSetupKindFull);
    host_.SetVersion({true, 2, 5, 0});
    ASSERT_EQ(Run("/P /s").outcome, StartupOutcome::Proceed);
    EXPECT_EQ(state_.switchFlags, kSwitchNoChanges | kSwitchStatusFile);
    EXPECT_EQ(state_.restartOsCode, 2);
    EXPECT_EQ(state_.folders.osCode, 102);
}

}  // namespace
}  // namespace cabsetup
