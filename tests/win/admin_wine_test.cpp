// setup.exe's exit codes as deployment tools read them, from the real
// program under Wine: 3010 for a restart asked for and not made, 1618 for a
// second run of the same package, 112 for a target on a drive too small.
#include <gtest/gtest.h>

#include <cstdlib>

#include "manifest.h"
#include "package_builder.h"
#include "wine_support.h"

namespace cabsetup {
namespace {

// A one-file package with setup.exe, under its own Uninstall key.
class AdminPackage : public ::testing::Test {
protected:
    AdminPackage() : folder_(::testing::UnitTest::GetInstance()->current_test_info()->name()) {}
    ~AdminPackage() override { RegDeleteKeyA(HKEY_LOCAL_MACHINE, Key().c_str()); }

    std::string Key() const { return "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + key_; }

    void Build(std::size_t fileSize, const std::string& target, const std::string& finishOptions = "") {
        key_ = "Cabsetup" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name());
        RegDeleteKeyA(HKEY_LOCAL_MACHINE, Key().c_str());
        std::vector<unsigned char> bytes(fileSize);
        std::uint32_t x = 2463534242u;  // noise, so that compression cannot shrink it
        for (unsigned char& b : bytes) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            b = static_cast<unsigned char>(x);
        }
        const std::string source = folder_ / "payload.bin";
        ASSERT_TRUE(wine::WriteBytes(source, bytes));
        mksetup::Manifest m;
        m.files.push_back({source, "<TARGET_DIR>\\payload.bin", 0x08, 0});
        ScriptHeader& h = m.script.header;
        h.setupKind = kSetupKindFull;
        h.modelName = "Admin Test";
        h.modelVersion = "1.0";
        h.windowTitle = "Admin Test " + key_;
        h.displayName = "Admin Test";
        h.uninstallKey = key_;
        h.defaultTargetDir = target;
        h.finishOptions = finishOptions;
        mksetup::BuildOptions options;
        options.outDir = folder_ / "pkg";
        options.setupExe = std::string(CABSETUP_SETUP_EXE);
        options.clean = true;
        mksetup::BuildResult result;
        std::string error;
        ASSERT_TRUE(mksetup::BuildPackage(m, options, result, error)) << error;
    }
    wine::SetupRun Run(const std::string& arguments) {
        return wine::RunAndAnswerBoxes(folder_ / "pkg\\setup.exe", arguments, folder_ / "pkg", 90000);
    }
    std::string Status() { return wine::ReadText(folder_ / "pkg\\installerror.txt"); }
    static bool English() { return GetUserDefaultUILanguage() != 0x412; }

    wine::TestFolder folder_;
    std::string key_;
};

// The restart the package asks for never happens unattended: the run says
// it is still to come, and the status file still says "Success".
TEST_F(AdminPackage, RestartAskedForUnattendedEndsWith3010) {
    Build(1000, folder_ / "target", "REBOOT");
    wine::SetupRun run = Run("/a /s");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 3010u);
    EXPECT_TRUE(run.boxTexts.empty());
    EXPECT_EQ(Status(), "Success");
    EXPECT_EQ(wine::ReadText(folder_ / "target\\payload.bin").size(), 1000u);
    // Without a restart asked for, the same package ends with 0.
    Build(1000, folder_ / "target2");
    run = Run("/a /s");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Status(), "Success");
}

// While one setup.exe of the package waits on its wizard, a second one of
// the same package ends at once with 1618: quietly under "/s", with the
// message otherwise. Once the first has ended, the package installs.
TEST_F(AdminPackage, ASecondRunOfThePackageEndsWith1618) {
    Build(1000, folder_ / "target");
    wine::DrivenSetup first;
    ASSERT_TRUE(first.Start(folder_ / "pkg\\setup.exe", "", folder_ / "pkg"));
    ASSERT_TRUE(first.WaitForWizard());

    wine::SetupRun run = Run("/a /s");
    ASSERT_TRUE(run.finished);
    EXPECT_EQ(run.exitCode, 1618u);
    EXPECT_TRUE(run.boxTexts.empty());
    EXPECT_EQ(Status(), "Error");
    run = Run("/a");
    EXPECT_EQ(run.exitCode, 1618u);
    ASSERT_EQ(run.boxTexts.size(), 1u);
    if (English()) {
        EXPECT_EQ(run.boxTexts[0], "Setup of 'Admin Test' is already running.\n\nWait until it has finished, then try again.");
    }
    EXPECT_EQ(wine::ReadText(folder_ / "target\\payload.bin"), "<missing>") << "the second run installed nothing";

    PostMessageA(first.Wizard(), WM_CLOSE, 0, 0);
    HWND question = first.WaitForOtherDialog();
    ASSERT_NE(question, nullptr);
    PostMessageA(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    EXPECT_EQ(first.WaitForExit(), 1602u);

    run = Run("/a /s");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(Status(), "Success");
}

// T: is a small drive of its own (a tmpfs the test run mounts; see
// tests/win/CMakeLists.txt). Its free space, and the size of a drive,
// come from the system as setup.exe asks for them.
bool TinyDrive(ULONGLONG& free) {
    ULARGE_INTEGER available, total, all;
    if (!GetDiskFreeSpaceExA("T:\\", &available, &total, &all)) return false;
    free = available.QuadPart;
    return total.QuadPart <= (16ull << 20);
}

// A file that fits on the drive, but not twice (as it must for a moment):
// unattended, 112 before anything is written; interactively, the message
// with what is needed and what is free, and the folder page stays.
TEST_F(AdminPackage, ATargetOnATinyDriveEndsWith112) {
    ULONGLONG free = 0;
    if (!TinyDrive(free)) GTEST_SKIP() << "no small drive T: (mounting a tmpfs was not permitted here)";
    const std::size_t size = static_cast<std::size_t>(free * 2 / 3);
    ASSERT_GT(size, 0u);
    Build(size, "T:\\AdminTest");
    for (const char* arguments : {"/a /s", "/a"}) {
        wine::SetupRun run = Run(arguments);
        ASSERT_TRUE(run.finished) << arguments;
        EXPECT_EQ(run.exitCode, 112u) << arguments;
        EXPECT_TRUE(run.boxTexts.empty()) << arguments;
        EXPECT_EQ(GetFileAttributesA("T:\\AdminTest"), INVALID_FILE_ATTRIBUTES) << arguments << ": nothing written";
    }
    EXPECT_EQ(Status(), "Error");

    wine::DrivenSetup setup;
    ASSERT_TRUE(setup.Start(folder_ / "pkg\\setup.exe", "", folder_ / "pkg"));
    ASSERT_TRUE(setup.WaitForWizard());
    setup.Click(1001);
    setup.Click(1014);
    setup.Click(1001);
    ASSERT_TRUE(setup.Visible(1007));
    PostMessageA(setup.Wizard(), WM_COMMAND, MAKEWPARAM(1001, BN_CLICKED), 0);
    HWND box = setup.WaitForOtherDialog();
    ASSERT_NE(box, nullptr);
    const std::string text = wine::StaticText(box);
    EXPECT_NE(text.find("T:"), std::string::npos) << text;
    if (English()) {
        EXPECT_EQ(text.rfind("There is not enough free space on drive T: to install 'Admin Test'.", 0), 0u) << text;
        EXPECT_NE(text.find("Needed: "), std::string::npos) << text;
        EXPECT_NE(text.find("Free: "), std::string::npos) << text;
    }
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    ASSERT_TRUE(wine::DrivenSetup::WaitUntil([&] { return !IsWindow(box); }));
    EXPECT_TRUE(setup.Visible(1007)) << "back on the folder page";
    EXPECT_TRUE(setup.Enabled(1001));
    EXPECT_FALSE(setup.Visible(1010)) << "no copying started";
    PostMessageA(setup.Wizard(), WM_CLOSE, 0, 0);
    HWND question = setup.WaitForOtherDialog();
    ASSERT_NE(question, nullptr);
    PostMessageA(question, WM_COMMAND, MAKEWPARAM(IDYES, BN_CLICKED), 0);
    EXPECT_EQ(setup.WaitForExit(), 1602u);
    EXPECT_EQ(GetFileAttributesA("T:\\AdminTest"), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace cabsetup
