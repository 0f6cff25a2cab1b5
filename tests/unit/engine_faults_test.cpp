// The engine's failure paths a review found untested or wrong: left-over
// copies, long destinations, read-only files, short unpacks, a lost wizard
// window, the main set of type 3, and the log that cannot be written whole.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

#include "actions/completion.h"
#include "app/switches.h"
#include "engine/engine_messages.h"
#include "engine/workspace.h"
#include "engine_fixture.h"
#include "sweep_support.h"
#include "formats/volume_reader.h"

namespace cabsetup::testing {
namespace {

constexpr char kTool[] = "C:\\Program Files\\Tool";
using EngineSandbox = HostSandbox;


TEST_F(EngineTest, LeftoverCopyAlwaysGoesBackBeforeTheRecordIsHandled) {
    const std::string dest = std::string(kTool) + "\\a.dll";
    struct Case {
        const char* what;
        std::uint8_t mode;
        const char* standing;  // what a crash left at the destination; null: nothing
        std::string expected;  // the destination afterwards
    } cases[] = {
        {"keep: the whole old copy replaces the partial one", KeepExisting, "partial", "the whole old a"},
        {"keep: nothing at the destination", KeepExisting, nullptr, "the whole old a"},
        {"always: restored, then replaced by the package's", ReplaceAlways, "partial", "new a contents"},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(root_ / "C");
        std::filesystem::create_directories(root_ / "C" / "work");
        mksetup::Manifest m;
        std::filesystem::path source = root_ / "src" / "a.dll";
        std::filesystem::create_directories(source.parent_path());
        std::ofstream(source, std::ios::binary) << "new a contents";
        m.files.push_back(File(source, "<TARGET_DIR>\\a.dll", c.mode));
        Build(m);
        if (c.standing) WriteFile(dest, c.standing);
        WriteFile(dest + ".cabsetup-old", "the whole old a");
        os_.SetAttributes(dest + ".cabsetup-old", kAttrHidden);
        log_ = CInstallLog();
        Install();
        EXPECT_EQ(LastCode(), NOTIFY_DONE) << c.what;
        EXPECT_EQ(ReadFile(dest), c.expected) << c.what;
        EXPECT_FALSE(Exists(dest + ".cabsetup-old")) << c.what;
        EXPECT_NE(log_.Text().find("FILE    " + dest + "\n"), std::string::npos) << c.what;
    }
}

// A dry run over an installation, through the engine and the completion step
// as the wizard runs them: it succeeds and leaves every file as it was, the
// uninstaller's list included.
TEST_F(EngineTest, NoChangesRunOverAnInstallationLeavesItAsItWas) {
    mksetup::Manifest m;
    m.files.push_back(File(Payload("a", 70000), "<TARGET_DIR>\\a.bin", ReplaceAlways));
    m.files.push_back(File(Payload("b", 300), "<TARGET_DIR>\\sub\\b.txt"));
    m.files.push_back(File(Payload("e", 0), "<TARGET_DIR>\\empty.txt", ReplaceAlways));
    Build(m);
    ASSERT_TRUE(state_.script.LoadScript(os_, true, std::string(), state_.sourceDir));
    auto run = [&] {
        log_ = CInstallLog();
        wizard_.codes.clear();
        Install();
        EXPECT_EQ(LastCode(), NOTIFY_DONE) << wizard_.failedText;
        host_.SetComInitialised(false);
        PollingWaiter waiter(os_);
        return FinishInstallation(os_, state_, log_, waiter);
    };
    ASSERT_TRUE(run());
    const std::string flist = ReadFile(std::string(kTool) + "\\flist.lst");
    ASSERT_NE(flist.find("FILE    C:\\Program Files\\Tool\\sub\\b.txt\n"), std::string::npos) << flist;
    // The user has since changed a file the package would replace.
    WriteFile(std::string(kTool) + "\\sub\\b.txt", "the user's b");
    const Tree before = Snapshot(host_, root_);

    state_.switchFlags = kSwitchNoChanges;
    EXPECT_TRUE(run());
    // Nothing anywhere changed: files, attributes, registry.
    for (const std::string& p : NeitherOldNorNew(before, before, Snapshot(host_, root_), [](const std::string&) { return true; }))
        ADD_FAILURE() << "the dry run changed " << p;
    EXPECT_EQ(ReadFile(std::string(kTool) + "\\flist.lst"), flist);
    EXPECT_TRUE(WorkspaceGone());
}

TEST_F(EngineTest, ReplacingUpToThePathLimitNeverClaimsAFileInUse) {
    // Destinations of 247 to 259 characters: the suffixed set-aside name would not fit.
    const std::string folder = std::string(kTool) + "\\" + std::string(200, 'd');
    for (std::size_t length : {246u, 250u, 259u}) {
        const std::string name = std::string(length - folder.size() - 1, 'n');
        const std::string dest = folder + "\\" + name;
        ASSERT_EQ(dest.size(), length);
        std::filesystem::remove_all(root_ / "C");
        std::filesystem::create_directories(root_ / "C" / "work");
        mksetup::Manifest m;
        m.files.push_back(File(Payload("long", 3000), "<TARGET_DIR>\\" + std::string(200, 'd') + "\\" + name, ReplaceAlways));
        Build(m);
        WriteFile(dest, "the old file");
        wizard_.codes.clear();
        Install();
        EXPECT_EQ(LastCode(), NOTIFY_DONE) << length << ": " << wizard_.failedText;
        EXPECT_EQ(ReadFile(dest).size(), 3000u) << length;
        std::size_t entries = 0;
        for (auto& e : std::filesystem::directory_iterator(host_.HostPath(folder))) entries += e.exists();
        EXPECT_EQ(entries, 1u) << length << ": no set-aside copy stays behind";
    }
    // The host side refuses what the system refuses.
    const std::string deep = "C:\\" + std::string(150, 'p');
    MakeFolder(deep);
    EXPECT_FALSE(os_.CreateAlways(deep + "\\" + std::string(106, 'x')));  // 260 characters
    EXPECT_TRUE(os_.CreateAlways(deep + "\\" + std::string(105, 'x')));
}

TEST_F(EngineTest, ReadOnlyOrShortUnpackedFilesFailAndKeepTheOld) {
    const std::string dest = std::string(kTool) + "\\a.bin";
    struct Case {
        const char* what;
        std::function<void()> arrange;
        const char* text;
    } cases[] = {
        {"read-only destination", [&] { os_.SetAttributes(dest, kAttrReadOnly); },
         "C:\\Program Files\\Tool\\a.bin\nAn error occurs when the installer tries to open a specified file.\n"
         "Please terminate the program using the file, and try to install again.\nInstallation is canceled."},
        {"unpacked one byte short", [&] { UseSystemPath(); host_.SetShortUnpack(true); }, "Can't find data file."},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(root_ / "C");
        std::filesystem::create_directories(root_ / "C" / "work");
        mksetup::Manifest m;
        m.files.push_back(File(Payload("a", 40000), "<TARGET_DIR>\\a.bin", ReplaceAlways));
        Build(m);
        WriteFile(dest, "the old a");
        c.arrange();
        Install();
        InstallEngine::SetSystemUnpackerOnly(SystemPathRun());
        host_.SetShortUnpack(false);
        os_.SetAttributes(dest, 0);
        EXPECT_EQ(LastCode(), NOTIFY_FAILED) << c.what;
        EXPECT_EQ(wizard_.failedText, c.text) << c.what;
        EXPECT_EQ(ReadFile(dest), "the old a") << c.what;
        EXPECT_FALSE(Exists(dest + ".cabsetup-old")) << c.what;
    }
}

TEST_F(EngineTest, MainSetOfTypeThreeWithALinkedSet) {
    mksetup::Manifest m;
    m.medium.volumeSize = 30000;  // several volumes: Data2.dat, Data3.dat, ...
    for (int i = 0; i < 4; ++i) m.files.push_back(File(Payload("m" + std::to_string(i), 20000 + i), "<TARGET_DIR>\\m" + std::to_string(i)));
    m.hasLinked = true;
    m.linked.label = "Extras";
    m.linked.files.push_back(File(Payload("l0", 500), "<TARGET_DIR>\\l0"));
    Build(m);
    ASSERT_TRUE(Exists("C:\\pkg\\Data2.dat"));
    // The same set, marked as an update's main set.
    std::fstream f(root_ / "C" / "pkg" / "Data.dat", std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(4);
    f.write("\x03\x00\x00\x00", 4);
    f.close();
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_DONE) << wizard_.failedText;
    for (const char* name : {"m0", "m3", "l0"}) EXPECT_TRUE(Exists(std::string(kTool) + "\\" + name)) << name;
    // A labelled main set other than type 1 fills 650-900, and the linked set
    // after it never moves the bar back.
    std::vector<std::int32_t> expected{0};
    for (int n = 1; n <= 4; ++n) expected.push_back(650 + n * 250 / 4);
    expected.insert(expected.end(), {900, 900});
    EXPECT_EQ(wizard_.positions, expected);
}

TEST_F(EngineTest, TheFinalMessageIsRetriedUntilTheWindowIsGone) {
    mksetup::Manifest m;
    m.files.push_back(File(Payload("a", 100), "<TARGET_DIR>\\a"));
    Build(m);
    // A full queue: the first 300 posts fail, progress ones are dropped, the final one waits.
    os_.FailNth(OsOp::PostNotify, 1, 300);
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_DONE);

    // The wizard's window has gone: one attempt, then the worker ends.
    wizard_.codes.clear();
    host_.SetWindowGone(true);
    os_.FailNth(OsOp::PostNotify, 0);
    InstallEngine engine(os_, state_);
    ASSERT_EQ(engine.StartInstallWorker(&status_, &log_), 1);
    engine.Join();
    EXPECT_EQ(LastCode(), 0u);
    EXPECT_LE(os_.Calls(OsOp::PostNotify), 4);  // three progress posts and the final one, once each
    EXPECT_EQ(engine.PauseInstallWorker(1), 0);   // no worker to pause once it has ended
}

TEST_F(EngineTest, PausedWorkerPostsAndAsksNothingUntilResumed) {
    mksetup::Manifest m;
    for (int i = 0; i < 30; ++i) m.files.push_back(File(Payload("c" + std::to_string(i), 5000 + i), "<TARGET_DIR>\\c" + std::to_string(i)));
    Build(m);
    InstallEngine engine(os_, state_);
    std::atomic<int> progress{0};
    host_.SetNotifySink([&](WindowHandle, unsigned code, bool sent) {
        OnNotify(code);
        (void)sent;
        ++progress;
    });
    ASSERT_EQ(engine.StartInstallWorker(&status_, &log_), 1);
    while (progress < 5) std::this_thread::yield();
    ASSERT_EQ(engine.PauseInstallWorker(1), 1);
    const int postedAtPause = progress;
    const int unpackedAtPause = os_.Calls(OsOp::ExtractCabinet);
    // Held: the worker waits at the gate, and from the pause on nothing went out.
    while (engine.HeldAtGate() == 0) std::this_thread::yield();
    EXPECT_EQ(progress, postedAtPause);
    EXPECT_LE(os_.Calls(OsOp::ExtractCabinet), unpackedAtPause + 1);  // at most the unpack under way
    const int unpackedWhileHeld = os_.Calls(OsOp::ExtractCabinet);
    EXPECT_EQ(engine.HeldAtGate(), 1);
    EXPECT_EQ(progress, postedAtPause);
    EXPECT_EQ(os_.Calls(OsOp::ExtractCabinet), unpackedWhileHeld);
    ASSERT_EQ(engine.PauseInstallWorker(0), 1);
    engine.Join();
    EXPECT_EQ(LastCode(), NOTIFY_DONE);
    EXPECT_GT(progress, postedAtPause);
}

TEST_F(EngineSandbox, LogShortWriteIsReported) {
    CInstallLog log;
    log.SetFolder("C:\\Tool");
    log.AddFile("C:\\Tool\\a.txt");
    MakeFolder("C:\\Tool");
    os_.FailNth(OsOp::Write, 2);  // the header goes out, the records do not
    EXPECT_FALSE(log.Save(os_, false));
    os_.FailNth(OsOp::Write, 0);
    EXPECT_TRUE(log.Save(os_, false));
    EXPECT_EQ(ReadFile("C:\\Tool\\flist.lst"), "//Do not edit this file\nFILE    C:\\Tool\\a.txt\n");
    os_.FailNth(OsOp::CreateAlways, 1);
    EXPECT_TRUE(log.Save(os_, false));  // a log that cannot be created is skipped, as ever
}

TEST_F(EngineSandbox, WorkspaceIsTriedTwiceThenGoesAtTheNextStart) {
    const std::string work = "C:\\WINDOWS\\temp\\_setup_1_", cab = work + "\\0.cab";
    struct Case {
        const char* what;
        OsOp op;
        int count;      // calls failed from the first on
        bool gone;      // removed now
        std::vector<std::string> scheduled;
    } cases[] = {
        {"listing refused once", OsOp::FindFirst, 1, true, {}},
        {"cabinet refused once", OsOp::DeleteFile, 1, true, {}},
        {"folder refused once", OsOp::RemoveDirectory, 1, true, {}},
        {"listing always refused", OsOp::FindFirst, FaultyOs::kFromThenOn, false, {work}},
        {"cabinet held open", OsOp::DeleteFile, FaultyOs::kFromThenOn, false, {cab, work}},
    };
    for (const Case& c : cases) {
        host_.ForgetRestartDeletes();
        WriteFile(cab, "x");
        os_.Reset();
        os_.FailNth(c.op, 1, c.count);
        RemoveWorkspace(os_, work);
        os_.Reset();
        EXPECT_EQ(!Exists(work), c.gone) << c.what;
        EXPECT_EQ(host_.RestartDeletes(), c.scheduled) << c.what;
        std::filesystem::remove_all(host_.HostPath(work));
    }
}

TEST_F(EngineSandbox, LinkedVolumeWithAShortVersionTextOpens) {
    VolumeHeader h;
    h.magic = kVolumeMagic;
    h.formatVersion = kVolumeFormatVersion;
    h.setType = kSetTypeLinked;
    h.label = "Extras";
    std::vector<unsigned char> bytes(kVolumeHeaderSize + 5);
    ASSERT_TRUE(WriteVolumeHeader(h, bytes.data()));
    std::memcpy(bytes.data() + kVolumeHeaderSize, "4.0.1", 5);  // the file ends inside the version text
    WriteFile("C:\\pkg\\Data-A.dat", bytes);
    VolumeReader reader(os_);
    std::string version;
    ASSERT_TRUE(reader.OpenVolume("C:\\pkg\\Data-A.dat", &version));
    EXPECT_EQ(version, "4.0.1");
}

TEST(StatusText, CutAtACharacterBoundary) {
    TableCodePage korean(949);
    for (std::size_t before : {253u, 254u}) {
        // A double-byte character at bytes `before` and `before`+1 of a long text.
        std::string text = std::string(before, 'a') + "\xC7\xD1" + std::string(10, 'b');
        std::string cut = CutToStatusField(korean, text);
        EXPECT_LE(cut.size(), 255u) << before;
        EXPECT_EQ(cut, text.substr(0, before == 253 ? 255 : 254)) << before;
    }
}

}  // namespace
}  // namespace cabsetup::testing
