// setup.exe itself under Wine: what start-up shows, writes and exits with.
#include <gtest/gtest.h>

#include <cstdlib>

#include "app/startup.h"
#include "formats/setup_script.h"
#include "wine_support.h"

namespace cabsetup {
namespace {

const char kUninstallRoot[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class SetupExeTest : public ::testing::Test {
protected:
    SetupExeTest()
        // The Korean run (wine.korean) may overlap the ordinary one: own folders and keys.
        : name_(std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) +
                (std::getenv("CABSETUP_KOREAN_RUN") ? "-ko" : "")),
          folder_(name_),
          key_(HKEY_LOCAL_MACHINE, kUninstallRoot + ("cabsetup-" + name_)),
          exe_(wine::CopySetupExe(folder_)) {}

    void WriteScript(std::int32_t kind) {
        ScriptHalf s;
        s.header.setupKind = kind;
        s.header.modelName = "Tool";
        s.header.modelVersion = "2.0";
        s.header.requiredVersion = "1.0";
        s.header.uninstallKey = "cabsetup-" + name_;
        s.header.defaultTargetDir = "<PROGRAMFILES_DIR>\\Vendor\\Tool";
        std::vector<unsigned char> bytes;
        ASSERT_TRUE(cabsetup::WriteScript(s, bytes));
        ASSERT_TRUE(wine::WriteBytes(folder_ / "setup.inf", bytes));
    }
    wine::SetupRun Run(const std::string& arguments) {
        wine::SetupRun run = wine::RunAndAnswerBoxes(exe_, arguments, folder_.Path());
        EXPECT_TRUE(run.finished) << "setup.exe did not end by itself (start error " << run.startError << ")";
        return run;
    }
    std::string StatusFile() { return wine::ReadText(folder_ / "installerror.txt"); }

    std::string name_;
    wine::TestFolder folder_;
    wine::TestKey key_;
    std::string exe_;
};

TEST_F(SetupExeTest, MissingScriptShowsInitErrorAndExits1603) {
    wine::SetupRun run = Run("");
    EXPECT_EQ(run.exitCode, 1603u);
    ASSERT_EQ(run.boxTexts.size(), 1u);
    EXPECT_EQ(run.boxTexts[0], "Init Error!");
    EXPECT_EQ(run.boxCaptions[0], "setup");
    EXPECT_EQ(StatusFile(), "<missing>");
}

TEST_F(SetupExeTest, BadScriptsAreInitErrors) {
    const std::vector<unsigned char> cases[] = {
        {},                                                  // empty
        std::vector<unsigned char>(5163, 0),                 // short
        std::vector<unsigned char>(5164, 0),                 // no magic
    };
    for (const auto& bytes : cases) {
        ASSERT_TRUE(wine::WriteBytes(folder_ / "setup.inf", bytes));
        wine::SetupRun run = Run("/a /s");
        EXPECT_EQ(run.exitCode, 1603u) << bytes.size();
        EXPECT_TRUE(run.boxTexts.empty());
        EXPECT_EQ(StatusFile(), "Error");
    }
}

TEST_F(SetupExeTest, StatusSwitchWritesErrorAndShowsNoBox) {
    ASSERT_TRUE(wine::WriteBytes(folder_ / "installerror.txt", {'S', 'u', 'c', 'c', 'e', 's', 's', '!', '!'}));
    wine::SetupRun run = Run("/A /S");
    EXPECT_EQ(run.exitCode, 1603u);
    EXPECT_TRUE(run.boxTexts.empty());
    EXPECT_EQ(StatusFile(), "Error");
}

TEST_F(SetupExeTest, UpdateWithoutEarlierInstallation) {
    WriteScript(kSetupKindUpdate);
    wine::SetupRun run = Run("");
    EXPECT_EQ(run.exitCode, 1605u);
    ASSERT_EQ(run.boxTexts.size(), 1u);
    EXPECT_EQ(run.boxTexts[0], "Cannot find the existing installed program. Retry after Installing 'Tool v1.0'");
    EXPECT_EQ(run.boxCaptions[0], "setup");

    run = Run("/s");
    EXPECT_EQ(run.exitCode, 1605u);
    EXPECT_TRUE(run.boxTexts.empty());
    EXPECT_EQ(StatusFile(), "Error");
}

// When the standard library cannot go on (memory refused to a small need, a
// length beyond any string), the programs end as every failure ends: 1603,
// "Error" in the status file under "/s" and no box, else a box with the
// system's text for the cause. The nothrow form stays fallible.
TEST(LibraryFailure, EndsWith1603AndTheStatusFileSaysError) {
    if (std::getenv("CABSETUP_KOREAN_RUN")) GTEST_SKIP();
    wine::TestFolder folder("LibraryFailure");
    char memory[512] = {};
    ASSERT_GT(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             ERROR_NOT_ENOUGH_MEMORY, 0, memory, sizeof memory, nullptr), 0u);
    for (const char* mode : {"new", "length"}) {
        ASSERT_TRUE(wine::WriteBytes(folder / "installerror.txt", {'S', 'u', 'c', 'c', 'e', 's', 's'}));
        wine::SetupRun run = wine::RunAndAnswerBoxes(CABSETUP_LIBRARY_FAILURE_PROBE, std::string("/s ") + mode, folder.Path());
        ASSERT_TRUE(run.finished) << mode;
        EXPECT_EQ(run.exitCode, 1603u) << mode;
        EXPECT_TRUE(run.boxTexts.empty()) << mode;
        EXPECT_EQ(wine::ReadText(folder / "installerror.txt"), "Error") << mode;

        ASSERT_TRUE(DeleteFileA((folder / "installerror.txt").c_str()));
        run = wine::RunAndAnswerBoxes(CABSETUP_LIBRARY_FAILURE_PROBE, mode, folder.Path());
        EXPECT_EQ(run.exitCode, 1603u) << mode;
        ASSERT_EQ(run.boxTexts.size(), 1u) << mode;
        EXPECT_EQ(run.boxTexts[0], memory) << mode;
        EXPECT_EQ(wine::ReadText(folder / "installerror.txt"), "<missing>") << mode;
    }
    wine::SetupRun run = wine::RunAndAnswerBoxes(CABSETUP_LIBRARY_FAILURE_PROBE, "/s nothrow", folder.Path());
    EXPECT_EQ(run.exitCode, 7u);
}

// Wine takes a process's code page and language from the Linux locale it
// starts with, and a child started by CreateProcess keeps its parent's: so
// this runs only in the CTest run that starts the whole driver in Korean.
TEST_F(SetupExeTest, KoreanSystemShowsTheKoreanText) {
    if (!std::getenv("CABSETUP_KOREAN_RUN")) GTEST_SKIP() << "runs as wine.korean, in a Korean locale";
    ASSERT_EQ(GetACP(), 949u);
    WriteScript(kSetupKindUpdate);
    wine::SetupRun run = Run("");
    EXPECT_EQ(run.exitCode, 1605u);
    ASSERT_EQ(run.boxTextsW.size(), 1u);
    // Both %s of the Korean text receive the required version.
    EXPECT_EQ(run.boxTextsW[0],
              L"'Tool v1.0' \uC774(\uAC00) \uC124\uCE58\uB41C \uD3F4\uB354\uB97C \uCC3E\uC744 \uC218 "
              L"\uC5C6\uC2B5\uB2C8\uB2E4. 'Tool v1.0' \uD504\uB85C\uADF8\uB7A8\uC744 \uC124\uCE58\uD558\uACE0 "
              L"\uD328\uCE58 \uD504\uB85C\uADF8\uB7A8\uC744 \uC2E4\uD589\uD574 \uC8FC\uC2ED\uC2DC\uC624.");
}

TEST_F(SetupExeTest, UpdateOverAVersionOutOfRange) {
    WriteScript(kSetupKindUpdate);
    key_.SetString("InstalledPath", "C:\\Apps\\Tool");
    key_.SetString("InstalledVersion", "2.1");
    wine::SetupRun run = Run("/a");
    EXPECT_EQ(run.exitCode, 1638u);
    ASSERT_EQ(run.boxTexts.size(), 1u);
    EXPECT_EQ(run.boxTexts[0], "Wrong version! Cannot install  'v2.0'");

    run = Run("/a /s");
    EXPECT_EQ(run.exitCode, 1638u);
    EXPECT_TRUE(run.boxTexts.empty());
    EXPECT_EQ(StatusFile(), "Error");
}

// Past start-up the wizard runs and the engine creates the target folder
// before it looks for the data volumes, which these scripts do not have: the
// folder shows where start-up pointed the installation.
TEST_F(SetupExeTest, UpdateFindsAQuotedUninstallString) {
    WriteScript(kSetupKindUpdate);
    const std::string installed = folder_ / "Installed Tool";
    key_.SetString("UninstallString", "\"" + installed + "\\uninstall.exe\" Tool");
    key_.SetString("InstalledVersion", "1.5");
    wine::SetupRun run = Run("/a /s");
    EXPECT_EQ(run.exitCode, 1603u);
    EXPECT_TRUE(run.boxTexts.empty());
    EXPECT_EQ(StatusFile(), "Error");
    EXPECT_NE(GetFileAttributesA(installed.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(SetupExeTest, FullInstallationPassesStartup) {
    const std::string target = "C:\\Program Files\\Vendor\\Tool";
    wine::RemoveTree(target);
    WriteScript(kSetupKindFull);
    wine::SetupRun run = Run("/a /s");
    EXPECT_EQ(run.exitCode, 1603u);
    EXPECT_TRUE(run.boxTexts.empty());
    EXPECT_EQ(StatusFile(), "Error");
    EXPECT_NE(GetFileAttributesA(target.c_str()), INVALID_FILE_ATTRIBUTES);
    wine::RemoveTree(target);
}

}  // namespace
}  // namespace cabsetup
