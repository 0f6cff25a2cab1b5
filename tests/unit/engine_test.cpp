#include <gtest/gtest.h>

#include "app/switches.h"
#include "engine/workspace.h"
#include "engine_fixture.h"
#include "formats/little_endian.h"

namespace cabsetup {
namespace {

using testing::EngineTest;

TEST_F(EngineTest, SingleSetInstallsEveryFileWithItsProgress) {
    mksetup::Manifest m;
    for (int i = 0; i < 20; ++i)
        m.files.push_back(File(Payload("f" + std::to_string(i), 1000 + 977 * i), "<TARGET_DIR>\\sub\\f" + std::to_string(i)));
    Build(m);
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_DONE);
    std::vector<std::int32_t> expected{0};
    for (int n = 1; n <= 20; ++n) expected.push_back(n * 900 / 20);
    expected.push_back(900);
    EXPECT_EQ(wizard_.positions, expected);  // 0, 45, 90, ... 900, 900
    EXPECT_EQ(wizard_.texts[1], "Installing  : C:\\Program Files\\Tool\\sub\\f0");
    EXPECT_EQ(status_.Text(), "Installation is about to complete.");
    for (int i = 0; i < 20; ++i) {
        std::ifstream in(root_ / "src" / ("f" + std::to_string(i)), std::ios::binary);
        std::string want(std::istreambuf_iterator<char>(in), {});
        EXPECT_EQ(ReadFile("C:\\Program Files\\Tool\\sub\\f" + std::to_string(i)), want) << i;
    }
    EXPECT_TRUE(WorkspaceGone());
    EXPECT_EQ(log_.Folder(), "C:\\Program Files\\Tool");
    EXPECT_EQ(log_.Text().substr(0, 35), "FILE    C:\\Program Files\\Tool\\\nFILE");
}

TEST_F(EngineTest, LinkedSetSharesTheBar) {
    mksetup::Manifest m;
    for (int i = 0; i < 20; ++i) m.files.push_back(File(Payload("m" + std::to_string(i), 100 + i), "<TARGET_DIR>\\m" + std::to_string(i)));
    m.hasLinked = true;
    m.linked.label = "Extras";
    m.linked.volumeVersion = "3.1.4";
    for (int i = 0; i < 5; ++i) m.linked.files.push_back(File(Payload("l" + std::to_string(i), 50 + i), "<TARGET_DIR>\\l" + std::to_string(i)));
    m.linked.script.header.finishOptions = "REBOOT";
    Build(m);
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_DONE);
    std::vector<std::int32_t> expected{0};
    for (int n = 1; n <= 20; ++n) expected.push_back(n * 650 / 20);
    for (std::int32_t p : {700, 750, 800, 850, 900, 900}) expected.push_back(p);
    EXPECT_EQ(wizard_.positions, expected);  // 32, 65, ... 650, 700 ... 900
    EXPECT_EQ(state_.script.VolumeVersion(), "3.1.4");
    EXPECT_EQ(state_.script.Second().header.finishOptions, "REBOOT");  // Data.inf beside Data-A.dat
    EXPECT_TRUE(Exists("C:\\Program Files\\Tool\\l4"));
}

TEST_F(EngineTest, ProgressWaitsForTheWizardAndNeverGoesBack) {
    mksetup::Manifest m;
    for (int i = 0; i < 200; ++i) m.files.push_back(File(Payload("s" + std::to_string(i), 10 + i), "<TARGET_DIR>\\s" + std::to_string(i)));
    Build(m);
    // A wizard too busy to handle any progress message until the end: the
    // queue must hold at most one, while the position itself moves on.
    std::atomic<int> progressPosts{0};
    std::atomic<bool> done{false};
    host_.SetNotifySink([&](WindowHandle, unsigned code, bool) {
        if (code == NOTIFY_PROGRESS) ++progressPosts;
        if (code == NOTIFY_DONE || code == NOTIFY_FAILED) done = true;
    });
    InstallEngine engine(os_, state_);
    ASSERT_EQ(engine.StartInstallWorker(&status_, &log_), 1);
    std::vector<std::int32_t> seen;
    while (!done) seen.push_back(status_.Position());
    engine.Join();
    EXPECT_EQ(progressPosts, 1);
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
    EXPECT_EQ(status_.Position(), 900);
    EXPECT_TRUE(Exists("C:\\Program Files\\Tool\\s199"));
}

// An unattended run starts its worker before the wizard's window exists:
// nothing may be posted to no window, and every word the worker had (its
// last position, then its final message; or its question for a disk) comes
// once the window is there, in the order a window from the start would see.
TEST_F(EngineTest, AWorkerStartedBeforeTheWindowHoldsItsMessagesUntilItExists) {
    mksetup::Manifest m;
    for (int i = 0; i < 30; ++i) m.files.push_back(File(Payload("e" + std::to_string(i), 100 + i), "<TARGET_DIR>\\e" + std::to_string(i)));
    Build(m);
    for (bool fails : {false, true}) {
        SCOPED_TRACE(fails ? "a failing run" : "a whole run");
        std::filesystem::remove_all(root_ / "C" / "Program Files");
        if (fails) std::filesystem::remove(root_ / "C" / "pkg" / "Data.dat");
        {
            std::lock_guard lock(wizard_.mutex);
            wizard_.codes.clear();
            wizard_.positions.clear();
        }
        status_.hwnd = 0;
        std::vector<WindowHandle> windows;
        host_.SetNotifySink([&](WindowHandle window, unsigned code, bool) {
            windows.push_back(window);
            OnNotify(code);
        });
        InstallEngine engine(os_, state_);
        ASSERT_EQ(engine.StartInstallWorker(&status_, &log_), 1);
        // The worker does all it can without the window, then waits.
        for (int i = 0; i < 2000 && !(fails ? !engine.WorkerEntered() : Exists("C:\\Program Files\\Tool\\e29")); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_TRUE(engine.WorkerRunning());
        EXPECT_TRUE(windows.empty());
        status_.hwnd = 0x1234;
        engine.Join();
        std::lock_guard lock(wizard_.mutex);
        ASSERT_GE(wizard_.codes.size(), 2u);
        EXPECT_EQ(wizard_.codes.back(), fails ? NOTIFY_FAILED : NOTIFY_DONE);
        // The position the worker reached went before its last word.
        EXPECT_EQ(wizard_.codes[wizard_.codes.size() - 2], NOTIFY_PROGRESS);
        EXPECT_EQ(wizard_.positions.back(), status_.Position());
        if (!fails) {
            EXPECT_EQ(status_.Position(), 900);
        }
        for (WindowHandle w : windows) EXPECT_EQ(w, 0x1234u);
    }
    status_.hwnd = 0x1234;
}

// A stop before the window ever came ends a worker that waits for it.
TEST_F(EngineTest, AStopEndsAWorkerStillWaitingForTheWindow) {
    mksetup::Manifest m;
    m.files.push_back(File(Payload("w", 300), "<TARGET_DIR>\\w"));
    Build(m);
    status_.hwnd = 0;
    InstallEngine engine(os_, state_);
    ASSERT_EQ(engine.StartInstallWorker(&status_, &log_), 1);
    for (int i = 0; i < 2000 && !Exists("C:\\Program Files\\Tool\\w"); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(engine.StopInstallWorker(), 1);
    EXPECT_FALSE(engine.WorkerRunning());
    EXPECT_TRUE(wizard_.codes.empty());
    EXPECT_TRUE(WorkspaceGone());
    status_.hwnd = 0x1234;
}

TEST_F(EngineTest, FailuresSetTheirTextAndPostFailed) {
    struct Case {
        const char* what;
        std::function<void()> arrange;
        const char* text;  // the status text when NOTIFY_FAILED arrived
    };
    mksetup::Manifest m;
    for (int i = 0; i < 3; ++i) m.files.push_back(File(Payload("f" + std::to_string(i), 40000 + i), "<TARGET_DIR>\\f" + std::to_string(i)));
    Case cases[] = {
        {"first volume missing", [&] { std::filesystem::remove(root_ / "C" / "pkg" / "Data.dat"); }, "Can't find data file."},
        {"wrong magic", [&] {
             std::fstream f(root_ / "C" / "pkg" / "Data.dat", std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(276);
             f.write("\x00\x10\x00\x00", 4);  // format version 0x1000
         }, ""},
        {"cabinet number out of sequence", [&] {
             std::fstream f(root_ / "C" / "pkg" / "Data.dat", std::ios::in | std::ios::out | std::ios::binary);
             f.seekp(284 + 256);
             f.write("\x05\x00\x00\x00", 4);
         }, "Can't find data file."},
        {"cabinet copy or new file cannot be created", [&] {
             os_.FailNth(OsOp::CreateAlways, 1);
             os_.FailNth(OsOp::CreateHidden, 1);
         }, "Can't find data file."},
        {"full disk during copy", [&] { os_.FailNth(OsOp::Write, 1); }, "Can't find data file."},
        {"unpacking fails", [&] { UseSystemPath(); os_.FailNth(OsOp::ExtractCabinet, 2); }, "Can't find data file."},
        {"target folder cannot be created", [&] {
             WriteFile("C:\\Program Files", "a file where the folder should be");
         }, "Folder  \"C:\\Program Files\\Tool\" can't be created.\n\nEnter another folder name."},
        // The text names the folder that failed: the temporary folder, or the workspace in it.
        {"temporary folder cannot be created", [&] { WriteFile("C:\\WINDOWS\\temp", "x"); },
         "Folder  \"C:\\WINDOWS\\temp\" can't be created.\n\nEnter another folder name."},
        {"workspace cannot be created", [&] {
             // After C:\WINDOWS and C:\WINDOWS\temp, the third folder made is the workspace.
             MakeFolder("C:\\WINDOWS\\temp");
             os_.FailNth(OsOp::CreateDirectory, 3);
         },
         "Folder  \"C:\\WINDOWS\\temp\\_setup_20261207093005_\" can't be created.\n\nEnter another folder name."},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(root_ / "C");
        std::filesystem::create_directories(root_ / "C" / "work");
        Build(m);
        wizard_.codes.clear();
        wizard_.failedText = "<none>";
        status_.SetText("");
        c.arrange();
        Install();
        InstallEngine::SetSystemUnpackerOnly(SystemPathRun());
        EXPECT_EQ(LastCode(), NOTIFY_FAILED) << c.what;
        EXPECT_EQ(wizard_.failedText, c.text) << c.what;
        os_.Reset();
        std::error_code ec;
        EXPECT_TRUE(WorkspaceGone() || !std::filesystem::is_directory(root_ / "C" / "WINDOWS" / "temp", ec)) << c.what;
    }
}

TEST_F(EngineTest, FileInUseStopsWith6051AndKeepsIt) {
    mksetup::Manifest m;
    m.files.push_back(File(Payload("a", 5000), "<TARGET_DIR>\\a.dll", ReplaceAlways));
    Build(m);
    WriteFile("C:\\Program Files\\Tool\\a.dll", "old contents");
    host_.SetInUse("C:\\Program Files\\Tool\\a.dll", true);
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_FAILED);
    EXPECT_EQ(wizard_.failedText,
              "C:\\Program Files\\Tool\\a.dll\nAn error occurs when the installer tries to open a specified file.\n"
              "Please terminate the program using the file, and try to install again.\nInstallation is canceled.");
    EXPECT_EQ(ReadFile("C:\\Program Files\\Tool\\a.dll"), "old contents");
}

TEST_F(EngineTest, CorruptedCabinetLeavesNoPartialFileAndRestoresTheOld) {
    mksetup::Manifest m;
    m.files.push_back(File(Payload("a", 100000), "<TARGET_DIR>\\a.bin", ReplaceAlways));
    m.files.push_back(File(Payload("b", 100000, 2), "<TARGET_DIR>\\b.bin"));
    Build(m);
    std::string data = ReadFile("C:\\pkg\\Data.dat");
    data[data.size() - 500] ^= 0x20;  // inside b's last block
    data[284 + 288 + 2000] ^= 0x20;   // inside a's first block
    WriteFile("C:\\pkg\\Data.dat", std::vector<unsigned char>(data.begin(), data.end()));
    WriteFile("C:\\Program Files\\Tool\\a.bin", "the old a");
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_FAILED);
    EXPECT_EQ(wizard_.failedText, "Can't find data file.");
    EXPECT_EQ(ReadFile("C:\\Program Files\\Tool\\a.bin"), "the old a");
    EXPECT_FALSE(Exists("C:\\Program Files\\Tool\\a.bin.cabsetup-old"));
    EXPECT_FALSE(Exists("C:\\Program Files\\Tool\\b.bin"));
}

TEST_F(EngineTest, ReplaceModesAgainstExistingFiles) {
    struct Case {
        std::uint8_t mode;
        std::size_t existingSize;
        bool replaced;
    } cases[] = {
        {ReplaceAlways, 3000, true},         {ReplaceAlways, 10, true},
        {ReplaceIfSizeDiffers, 3000, false}, {ReplaceIfSizeDiffers, 10, true},
        {KeepExisting, 3000, false},         {KeepExisting, 10, false},
        {0x99, 3000, true},  // an unknown mode replaces
    };
    mksetup::Manifest m;
    m.medium.volumeSize = 4096;  // kept cabinets are skipped across volume boundaries
    m.medium.cabinet.compression = CabinetCompression::Stored;
    m.medium.layout = mksetup::Layout::Folders;
    m.medium.firstFolder = "pkg";
    int i = 0;
    for (const Case& c : cases) {
        m.files.push_back(File(Payload("r" + std::to_string(i), 3000, 9), "<TARGET_DIR>\\r" + std::to_string(i), c.mode));
        ++i;
    }
    mksetup::BuildOptions options;
    options.outDir = root_ / "C";
    options.clean = false;
    m.script.header.uninstallKey = "Tool";
    mksetup::BuildResult result;
    std::string error;
    std::filesystem::remove_all(root_ / "C" / "work");
    std::filesystem::remove_all(root_ / "C" / "setup");
    ASSERT_TRUE(mksetup::BuildPackage(m, options, result, error)) << error;
    ASSERT_GT(result.volumes.size(), 5u);
    i = 0;
    for (const Case& c : cases) WriteFile("C:\\Program Files\\Tool\\r" + std::to_string(i++), std::string(c.existingSize, 'o'));
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_DONE);
    i = 0;
    for (const Case& c : cases) {
        std::string now = ReadFile("C:\\Program Files\\Tool\\r" + std::to_string(i));
        EXPECT_EQ(now == std::string(c.existingSize, 'o'), !c.replaced) << "mode " << int(c.mode) << " size " << c.existingSize;
        EXPECT_NE(log_.Text().find("FILE    C:\\Program Files\\Tool\\r" + std::to_string(i) + "\n"), std::string::npos);
        ++i;
    }
}

TEST_F(EngineTest, NoChangesUnpacksNothingButLogsAndCreatesEmptyFiles) {
    mksetup::Manifest m;
    m.files.push_back(File(Payload("a", 5000), "<TARGET_DIR>\\a.bin", ReplaceAlways));
    m.files.push_back(File(Payload("b", 5000), "<TARGET_DIR>\\b.bin"));
    m.files.push_back(File(Payload("empty", 0), "<TARGET_DIR>\\empty.txt"));
    m.files.push_back(File(Payload("empty", 0), "<TARGET_DIR>\\notes.txt", ReplaceAlways));
    Build(m);
    state_.switchFlags = kSwitchNoChanges;
    MakeFolder("C:\\Program Files\\Tool");
    WriteFile("C:\\Program Files\\Tool\\a.bin", "old");
    WriteFile("C:\\Program Files\\Tool\\notes.txt", "the user's notes");
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_DONE);
    EXPECT_EQ(ReadFile("C:\\Program Files\\Tool\\a.bin"), "old");  // not deleted, not replaced
    EXPECT_FALSE(Exists("C:\\Program Files\\Tool\\b.bin"));
    EXPECT_TRUE(Exists("C:\\Program Files\\Tool\\empty.txt"));
    EXPECT_EQ(ReadFile("C:\\Program Files\\Tool\\notes.txt"), "the user's notes");  // never truncated
    for (const char* name : {"a.bin", "b.bin", "empty.txt", "notes.txt"})
        EXPECT_NE(log_.Text().find(std::string("C:\\Program Files\\Tool\\") + name), std::string::npos) << name;
    EXPECT_TRUE(WorkspaceGone());
}

TEST_F(EngineTest, NoChangesOnACleanMachineMakesNoFolderAndSucceeds) {
    // Empty files in folders a real run would create: a dry run makes
    // neither the folders nor the files, and still ends in success.
    mksetup::Manifest m;
    m.files.push_back(File(Payload("a", 5000), "<TARGET_DIR>\\a.bin"));
    m.files.push_back(File(Payload("empty", 0), "<TARGET_DIR>\\empty.txt"));
    m.files.push_back(File(Payload("empty", 0), "<TARGET_DIR>\\data\\deep\\empty.log"));
    Build(m);
    state_.switchFlags = kSwitchNoChanges;
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_DONE);
    EXPECT_FALSE(Exists("C:\\Program Files\\Tool"));
    EXPECT_NE(log_.Text().find("C:\\Program Files\\Tool\\data\\deep\\empty.log"), std::string::npos);
    EXPECT_TRUE(WorkspaceGone());
}

TEST_F(EngineTest, CdLayoutMovesTheDataFolder) {
    mksetup::Manifest m;
    m.medium.volumeSize = 8192;
    m.medium.layout = mksetup::Layout::Folders;
    m.medium.firstFolder = "Disk1";
    for (int i = 0; i < 4; ++i) m.files.push_back(File(Payload("c" + std::to_string(i), 6000 + i, 3), "<TARGET_DIR>\\c" + std::to_string(i)));
    mksetup::BuildOptions options;
    options.outDir = root_ / "D" / "CD";
    m.script.header.uninstallKey = "Tool";
    mksetup::BuildResult result;
    std::string error;
    ASSERT_TRUE(mksetup::BuildPackage(m, options, result, error)) << error;
    state_.sourceDir = "D:\\CD\\Disk1";
    InstallEngine engine(os_, state_);
    ASSERT_EQ(engine.StartInstallWorker(&status_, &log_), 1);
    engine.Join();
    EXPECT_EQ(LastCode(), NOTIFY_DONE);
    EXPECT_EQ(engine.Locator().DataFolder(), "D:\\CD\\Data" + std::to_string(result.volumes.size()));
    EXPECT_TRUE(wizard_.questions.empty());
}

TEST_F(EngineTest, FloppiesAskForTheNextDisk) {
    mksetup::Manifest m;
    m.medium.volumeSize = 8192;
    m.medium.cabinet.compression = CabinetCompression::Stored;
    for (int i = 0; i < 2; ++i) m.files.push_back(File(Payload("p" + std::to_string(i), 6000 + i, 3), "<TARGET_DIR>\\p" + std::to_string(i)));
    Build(m, "floppies");
    // Disk 1 in drive A:, the others in folders as if they were the next disks.
    host_.MapDrive('A', root_ / "disk1");
    std::filesystem::create_directories(root_ / "disk1");
    std::filesystem::create_directories(root_ / "disk2" / "Data2");
    std::filesystem::rename(root_ / "C" / "floppies" / "Data.dat", root_ / "disk1" / "Data.dat");
    std::filesystem::rename(root_ / "C" / "floppies" / "Data2.dat", root_ / "C" / "disk2.dat");
    // A volume beside the first that belongs to another package is not taken.
    mksetup::Manifest other;
    other.medium.volumeSize = 8192;
    other.medium.cabinet.compression = CabinetCompression::Stored;
    other.spanSeed = 77;
    for (int i = 0; i < 2; ++i) other.files.push_back(File(Payload("o" + std::to_string(i), 6000 + i, 5), "<TARGET_DIR>\\o" + std::to_string(i)));
    Build(other, "other");
    state_.sourceDir = "A:";
    wizard_.answers = {"C:\\other\\Data2.dat", "C:\\disk2.dat"};
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_DONE);
    ASSERT_EQ(wizard_.questions.size(), 2u);
    EXPECT_EQ(wizard_.questions[0], std::make_pair(std::string("A:\\Data2.dat"), std::string("Data2.dat")));
    // Asked again, showing the wrong answer.
    EXPECT_EQ(wizard_.questions[1], std::make_pair(std::string("C:\\other\\Data2.dat"), std::string("Data2.dat")));
}

TEST_F(EngineTest, StatusSwitchNeverAsks) {
    mksetup::Manifest m;
    m.medium.volumeSize = 8192;
    m.medium.cabinet.compression = CabinetCompression::Stored;
    for (int i = 0; i < 2; ++i) m.files.push_back(File(Payload("p" + std::to_string(i), 6000 + i, 3), "<TARGET_DIR>\\p" + std::to_string(i)));
    Build(m);
    std::filesystem::remove(root_ / "C" / "pkg" / "Data2.dat");
    state_.switchFlags = kSwitchUnattended | kSwitchStatusFile;
    Install();
    EXPECT_TRUE(wizard_.questions.empty());
    EXPECT_EQ(LastCode(), NOTIFY_FAILED);
    EXPECT_EQ(wizard_.failedText, "Can't find data file.");

    // Without /s the user is asked, and a cancel fails the same way.
    state_.switchFlags = 0;
    wizard_.codes.clear();
    Install();
    EXPECT_EQ(wizard_.questions.size(), 1u);
    EXPECT_EQ(LastCode(), NOTIFY_FAILED);
}

TEST_F(EngineTest, CancelDuringACabinetPostsNothing) {
    mksetup::Manifest m;
    for (int i = 0; i < 50; ++i) m.files.push_back(File(Payload("c" + std::to_string(i), 20000 + i), "<TARGET_DIR>\\c" + std::to_string(i)));
    Build(m);
    InstallEngine engine(os_, state_);
    std::atomic<int> progress{0};
    std::atomic<bool> asked{false};
    // The wizard's Cancel: pause on the fifth file, then the user says Yes.
    host_.SetNotifySink([&](WindowHandle, unsigned code, bool) {
        std::lock_guard lock(wizard_.mutex);
        wizard_.codes.push_back(code);
        status_.progressPending = false;
        if (code == NOTIFY_PROGRESS && ++progress == 5) asked = true;
    });
    ASSERT_EQ(engine.StartInstallWorker(&status_, &log_), 1);
    while (!asked) std::this_thread::yield();
    engine.PauseInstallWorker(1);
    std::size_t codesWhilePaused;
    {
        std::lock_guard lock(wizard_.mutex);
        codesWhilePaused = wizard_.codes.size();
    }
    while (engine.HeldAtGate() == 0) std::this_thread::yield();
    {
        std::lock_guard lock(wizard_.mutex);
        EXPECT_EQ(wizard_.codes.size(), codesWhilePaused);  // held still from the pause on
    }
    engine.PauseInstallWorker(0);
    EXPECT_EQ(engine.StopInstallWorker(), 1);
    EXPECT_FALSE(engine.WorkerRunning());
    for (unsigned code : wizard_.codes) EXPECT_EQ(code, NOTIFY_PROGRESS);
    EXPECT_TRUE(WorkspaceGone());
    EXPECT_FALSE(Exists("C:\\Program Files\\Tool\\c49"));
}

TEST_F(EngineTest, DestinationTooLongIsRefusedNotCut) {
    mksetup::Manifest m;
    m.files.push_back(File(Payload("short", 100), "<TARGET_DIR>\\short.txt"));
    m.files.push_back(File(Payload("long", 100), "<TARGET_DIR>\\" + std::string(60, 'd') + "\\" + std::string(60, 'e') + "\\" + std::string(60, 'f') + ".txt"));
    Build(m);
    state_.folders.targetDir = "C:\\" + std::string(40, 'a') + "\\" + std::string(40, 'b');
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_FAILED);
    EXPECT_EQ(wizard_.failedText, "Can't find data file.");
    EXPECT_TRUE(Exists(state_.folders.targetDir + "\\short.txt"));
    // Nothing was written under any shortened name.
    EXPECT_FALSE(Exists(state_.folders.targetDir + "\\" + std::string(60, 'd')));
}

TEST_F(EngineTest, TwoRunsInOneSecondGetTheirOwnWorkspaces) {
    std::string a = CreateWorkspace(os_, "C:\\WINDOWS\\temp");
    std::string b = CreateWorkspace(os_, "C:\\WINDOWS\\temp");
    EXPECT_EQ(a, "C:\\WINDOWS\\temp\\_setup_20261207093005_");
    EXPECT_EQ(b, "C:\\WINDOWS\\temp\\_setup_20261207093005_2");
    WriteFile(b + "\\1.cab", "x");
    RemoveWorkspace(os_, b);
    EXPECT_FALSE(Exists(b));
    EXPECT_TRUE(Exists(a));
}

TEST(InstallLog, WorkedExampleByteForByte) {
    CInstallLog log;
    log.SetFolder("C:\\Tool");
    log.AddFile("C:\\Tool\\");
    log.AddFile("C:\\Tool\\tool.exe");
    log.AddFile("C:\\Tool\\doc\\read.txt");
    log.AddRegistry("HKEY_CURRENT_USER\\Software\\Tool", "");
    log.AddRegistry("HKEY_CURRENT_USER\\Software\\Tool", "Path");
    EXPECT_EQ("//Do not edit this file\n" + CInstallLog::SortedLongestFirst(log.Text()),
              "//Do not edit this file\n"
              "REGE    HKEY_CURRENT_USER\\Software\\Tool\\Path\n"
              "REGE    HKEY_CURRENT_USER\\Software\\Tool\\\n"
              "FILE    C:\\Tool\\doc\\read.txt\n"
              "FILE    C:\\Tool\\tool.exe\n"
              "FILE    C:\\Tool\\\n");
    EXPECT_EQ(CInstallLog::SortedLongestFirst(""), "");
}

using InstallLogFile = testing::HostSandbox;

TEST_F(InstallLogFile, SaveWritesLfOnlyAndNoChangesKeepsTheInstalledLog) {
    MakeFolder("C:\\Tool");
    CInstallLog log;
    log.SetFolder("C:\\Tool");
    log.AddFile("C:\\Tool\\a");
    log.AddFile("C:\\Tool\\");
    EXPECT_TRUE(log.Save(os_, false));
    const std::string written = "//Do not edit this file\nFILE    C:\\Tool\\a\nFILE    C:\\Tool\\\n";
    EXPECT_EQ(ReadFile("C:\\Tool\\flist.lst"), written);
    // A dry run changes nothing: the installed package keeps its uninstaller's list ...
    CInstallLog dry;
    dry.SetFolder("C:\\Tool");
    dry.AddFile("C:\\Tool\\other");
    EXPECT_TRUE(dry.Save(os_, true));
    EXPECT_EQ(ReadFile("C:\\Tool\\flist.lst"), written);
    // ... and where there is none, none is made.
    MakeFolder("C:\\Fresh");
    dry.SetFolder("C:\\Fresh");
    EXPECT_TRUE(dry.Save(os_, true));
    EXPECT_FALSE(Exists("C:\\Fresh\\flist.lst"));
    CInstallLog empty;
    empty.SetFolder("C:\\Tool");
    empty.Save(os_, false);
    EXPECT_EQ(ReadFile("C:\\Tool\\flist.lst").size(), 24u);
    // A dry run over an installation leaves its log exactly as it was.
    EXPECT_TRUE(log.Save(os_, true));
    EXPECT_EQ(ReadFile("C:\\Tool\\flist.lst").size(), 24u);
}

TEST(Progress, PositionsOfTheSets) {
    VolumeHeader single{kVolumeMagic, kSetTypeMain, "", 20, 0, kVolumeFormatVersion};
    VolumeHeader main{kVolumeMagic, kSetTypeMain, "X", 20, 0, kVolumeFormatVersion};
    VolumeHeader linked{kVolumeMagic, kSetTypeLinked, "X", 5, 0, kVolumeFormatVersion};
    VolumeHeader huge{kVolumeMagic, kSetTypeMain, "", 0xFFFFFFF0u, 0, kVolumeFormatVersion};
    EXPECT_EQ(ProgressPosition(ProgressKind::PerCabinet, 1, single, 0), 45);
    EXPECT_EQ(ProgressPosition(ProgressKind::PerCabinet, 20, single, 0), 900);
    EXPECT_EQ(ProgressPosition(ProgressKind::PerCabinet, 1, main, 0), 32);
    EXPECT_EQ(ProgressPosition(ProgressKind::PerCabinet, 1, linked, 650), 700);
    EXPECT_EQ(ProgressPosition(ProgressKind::PerCabinet, 0xFFFFFFF0u, huge, 0), 900);  // no wrap-around
    EXPECT_EQ(ProgressPosition(ProgressKind::Start, 5, single, 300), 0);
    EXPECT_EQ(ProgressPosition(ProgressKind::Finish, 5, single, 300), 900);
}

}  // namespace
}  // namespace cabsetup
