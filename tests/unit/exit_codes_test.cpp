// The exit codes deployment tools act on, over every way a run ends; the
// one-run-per-package lock behind 1618; the free-space check behind 112;
// old copies left for the next start behind 3010.
#include <gtest/gtest.h>

#include "actions/replace_file.h"
#include "app/run_outcome.h"
#include "app/single_instance.h"
#include "app/switches.h"
#include "app/startup.h"
#include "engine/set_aside.h"
#include "engine/space_check.h"
#include "engine_fixture.h"
#include "host_sandbox.h"

namespace cabsetup::testing {
namespace {

TEST(ExitCodes, EveryWayARunEnds) {
    using E = WizardEnd;
    const struct {
        E end;
        bool noChanges, asked, started, removals;
        int code;
    } cases[] = {
        {E::Installed, false, false, false, false, 0},
        {E::Installed, false, true, false, false, 3010},   // asked for, not started: "/a", "/s", box unchecked
        {E::Installed, false, true, true, false, 1641},    // started by setup.exe
        {E::Installed, false, false, false, true, 3010},   // an old copy goes at the next start
        {E::Installed, false, true, false, true, 3010},
        {E::Installed, false, false, true, true, 1641},
        {E::Installed, true, true, false, false, 0},       // "/p" installed nothing to finish
        {E::Installed, true, true, true, false, 1641},     // ... but the restart the user chose happened
        {E::Cancelled, false, false, false, false, 1602},
        {E::Cancelled, false, true, true, true, 1602},
        {E::Failed, false, false, false, false, 1603},
        {E::Failed, false, true, false, true, 1603},
        {E::NotEnoughSpace, false, false, false, false, 112},
        {E::NotEnoughSpace, false, true, false, false, 112},
    };
    for (const auto& c : cases) {
        RunOutcome o{c.end, c.noChanges, c.asked, c.started, c.removals};
        const int code = ExitCodeOf(o);
        EXPECT_EQ(code, c.code) << static_cast<int>(c.end) << c.noChanges << c.asked << c.started << c.removals;
        // "Success" in the status file exactly when the package is installed.
        EXPECT_EQ(IsSuccessCode(code), c.end == E::Installed) << code;
    }
    // Start-up's refusals.
    const std::pair<StartupOutcome, int> startup[] = {
        {StartupOutcome::Proceed, 0},           {StartupOutcome::InitError, 1603},
        {StartupOutcome::NoPreviousInstall, 1605}, {StartupOutcome::WrongVersion, 1638},
        {StartupOutcome::AlreadyRunning, 1618},
    };
    for (auto [outcome, code] : startup) {
        EXPECT_EQ(ExitCodeFor(outcome), code);
        EXPECT_EQ(IsSuccessCode(code), outcome == StartupOutcome::Proceed);
    }
}

TEST(ExitCodes, RestartAskedByEitherScriptInExactCase) {
    TableCodePage cp(1252);
    const struct {
        const char* first;
        const char* second;
        bool asked;
    } cases[] = {{"", "", false}, {"REBOOT", "", true}, {"", "xREBOOTx", true}, {"reboot", "Reboot", false}};
    for (const auto& c : cases) {
        SetupScript script;
        ScriptHalf a, b;
        a.header.finishOptions = c.first;
        b.header.finishOptions = c.second;
        script.SetFirst(a);
        script.SetSecond(b);
        EXPECT_EQ(RestartAsked(cp, script), c.asked) << c.first << "|" << c.second;
    }
}

class LeftForRestart : public HostSandbox {
public:
    using HostSandbox::os_;
    using HostSandbox::WriteFile;

protected:
    LeftForRestart() { ForgetRemovalsAtRestart(); }
    ~LeftForRestart() override { ForgetRemovalsAtRestart(); }
};

// An old copy that cannot be deleted after its replacement is in place goes
// at the next start, and the run says a restart is pending; one the system
// could not even schedule is no reason to restart.
TEST_F(LeftForRestart, OldCopiesScheduledForTheNextStartAreNoted) {
    const struct {
        const char* what;
        std::function<bool(LeftForRestart&)> run;  // true: the replacement succeeded
        bool pending;
    } cases[] = {
        {"main module: old copy deleted",
         [](LeftForRestart& t) { return ReplaceByRenames(t.os_, "C:\\Tool\\m.exe", [] { return true; }); }, false},
        {"main module: old copy held",
         [](LeftForRestart& t) {
             t.os_.FailNth(OsOp::DeleteFile, 1);
             return ReplaceByRenames(t.os_, "C:\\Tool\\m.exe", [] { return true; });
         },
         true},
        {"main module: not even schedulable",
         [](LeftForRestart& t) {
             t.os_.FailNth(OsOp::DeleteFile, 1);
             t.os_.FailNth(OsOp::DeleteAtRestart, 1);
             return ReplaceByRenames(t.os_, "C:\\Tool\\m.exe", [] { return true; });
         },
         false},
        {"a file set aside, then deleted",
         [](LeftForRestart& t) {
             SetAside old(t.os_, "C:\\Tool\\m.exe");
             if (!old.Move()) return false;
             t.WriteFile("C:\\Tool\\m.exe", "new");
             old.Discard();
             return true;
         },
         false},
        {"a file set aside, held when it should go",
         [](LeftForRestart& t) {
             SetAside old(t.os_, "C:\\Tool\\m.exe");
             if (!old.Move()) return false;
             t.WriteFile("C:\\Tool\\m.exe", "new");
             t.os_.FailNth(OsOp::DeleteFile, 1, 2);
             old.Discard();
             return true;
         },
         true},
    };
    for (const auto& c : cases) {
        std::filesystem::remove_all(root_ / "C" / "Tool");  // and the copies an earlier case left
        WriteFile("C:\\Tool\\m.exe", "old");
        ForgetRemovalsAtRestart();
        host_.ForgetRestartDeletes();
        ASSERT_TRUE(c.run(*this)) << c.what;
        os_.Reset();
        EXPECT_EQ(RemovalsAtRestartPending(), c.pending) << c.what;
        EXPECT_EQ(!host_.RestartDeletes().empty(), c.pending) << c.what;
    }
}

TEST(InstanceLock, OneNamePerPackageWhateverTheCase) {
    TableCodePage cp(1252);
    const std::string name = InstanceMutexName(cp, "ExampleHello");
    EXPECT_EQ(name.rfind("Global\\cabsetup-", 0), 0u) << name;
    EXPECT_EQ(name.size(), std::string("Global\\cabsetup-").size() + 64);
    EXPECT_EQ(name.find('\\', 7), std::string::npos) << "no backslash after the namespace";
    EXPECT_EQ(InstanceMutexName(cp, "EXAMPLEHELLO"), name);  // the registry's key, compared as it compares
    for (const std::string& other : {std::string("ExampleHello2"), std::string("Example\\Hello"), std::string(), std::string(300, 'k')}) {
        std::string n = InstanceMutexName(cp, other);
        EXPECT_NE(n, name) << other;
        EXPECT_LT(n.size(), 260u) << "an object name fits MAX_PATH";
    }
}

class InstanceLockTest : public HostSandbox {};

TEST_F(InstanceLockTest, ASecondRunOfThePackageIsRefusedUntilTheFirstEnds) {
    Os::HandlePtr first, second, other;
    ASSERT_TRUE(HoldInstanceLock(os_, "ToolKey", first));
    EXPECT_TRUE(first);
    EXPECT_FALSE(HoldInstanceLock(os_, "toolkey", second));  // an update of the same package too
    EXPECT_FALSE(second);
    EXPECT_TRUE(HoldInstanceLock(os_, "OtherKey", other));
    first.reset();
    EXPECT_TRUE(HoldInstanceLock(os_, "ToolKey", second));
    // A system that refuses the global name is asked for the plain one;
    // one that makes neither lets the run go on, unguarded.
    second.reset();
    os_.FailNth(OsOp::CreateNamedMutex, 1);
    EXPECT_TRUE(HoldInstanceLock(os_, "ToolKey", first));
    EXPECT_EQ(host_.Mutexes().count(InstanceMutexName(os_.Mbcs(), "ToolKey").substr(7)), 1u);
    os_.FailNth(OsOp::CreateNamedMutex, 1);
    EXPECT_FALSE(HoldInstanceLock(os_, "ToolKey", second)) << "the plain name is held";
    first.reset();
    os_.FailNth(OsOp::CreateNamedMutex, 1, 2);
    EXPECT_TRUE(HoldInstanceLock(os_, "ToolKey", first));
    EXPECT_FALSE(first);
}

TEST_F(InstanceLockTest, StartupRefusesWith1618AndSaysWhy) {
    ScriptHalf s;
    s.header.setupKind = kSetupKindFull;
    s.header.modelName = "Tool";
    s.header.uninstallKey = "ToolKey";
    std::vector<unsigned char> bytes;
    ASSERT_TRUE(WriteScript(s, bytes));
    WriteFile("C:\\setup\\setup.inf", bytes);
    SetupState running;
    StartupResult first = RunStartup(os_, running, "");
    ASSERT_EQ(first.outcome, StartupOutcome::Proceed);
    EXPECT_TRUE(first.instanceLock);
    for (const char* arguments : {"", "/a /s"}) {
        SetupState state;
        StartupResult second = RunStartup(os_, state, arguments);
        EXPECT_EQ(second.outcome, StartupOutcome::AlreadyRunning) << arguments;
        EXPECT_EQ(ExitCodeFor(second.outcome), 1618);
        EXPECT_EQ(second.message, "Setup of 'Tool' is already running.\n\nWait until it has finished, then try again.");
        ReportStartupRefusal(os_, state, second);
    }
    // Told once with a box, once in the status file.
    ASSERT_EQ(host_.Messages().size(), 1u);
    EXPECT_EQ(ReadFile("C:\\work\\installerror.txt"), "Error");
    first.instanceLock.reset();
    SetupState after;
    EXPECT_EQ(RunStartup(os_, after, "").outcome, StartupOutcome::Proceed);
}

TEST(FreeSpace, DrivesAndSizesAsTheMessageShowsThem) {
    TableCodePage cp(1252);
    const std::pair<const char*, const char*> drives[] = {
        {"C:\\Program Files\\Tool", "C:"}, {"d:\\x", "D:"}, {"E:", "E:"},
        {"\\\\Server\\Share\\Tool", "\\\\server\\share"}, {"\\\\server\\share", "\\\\server\\share"},
        {"\\\\server", ""}, {"\\\\\\x", ""}, {"Tool\\x", ""}, {"", ""}, {"1:\\x", ""},
    };
    for (auto [path, drive] : drives) EXPECT_EQ(DriveOf(cp, path), drive) << path;
    const struct {
        std::uint64_t bytes;
        bool up;
        const char* text;
    } sizes[] = {
        {0, true, "0 KB"},           {1, true, "1 KB"},           {1, false, "0 KB"},
        {1023, false, "0 KB"},       {1024, false, "1 KB"},       {(1 << 20) - 1, false, "1023 KB"},
        {1 << 20, true, "1.0 MB"},   {(1 << 20) + 1, true, "1.1 MB"}, {(1 << 20) + 1, false, "1.0 MB"},
        {(10ull << 20) * 999 / 1000, false, "9.9 MB"}, {3ull << 30, false, "3.00 GB"},
        {(3ull << 30) + 1, true, "3.01 GB"}, {(1ull << 40), false, "1024.00 GB"},
    };
    for (const auto& s : sizes) EXPECT_EQ(SizeText(s.bytes, s.up), s.text) << s.bytes << " " << s.up;
}

TEST(FreeSpace, NeededAgainstFree) {
    const struct {
        std::uint64_t needed;
        bool known;
        std::uint64_t free;
        SpaceVerdict verdict;
    } cases[] = {
        {100, true, 100, SpaceVerdict::Enough},   {101, true, 100, SpaceVerdict::NotEnough},
        {0, true, 0, SpaceVerdict::Enough},       {1, false, 0, SpaceVerdict::Unknown},
        {~0ull, true, ~0ull - 1, SpaceVerdict::NotEnough},
    };
    for (const auto& c : cases) EXPECT_EQ(DecideSpace(c.needed, c.known, c.free), c.verdict) << c.needed << " " << c.free;
}

using SpaceTest = EngineTest;

// A package of files on the target's drive and elsewhere, some that will
// stay: what it needs is what it writes on that drive, plus its largest
// file once more.
TEST_F(SpaceTest, TheTargetsDriveMustHoldWhatIsWrittenThereAndTheLargestFileTwice) {
    mksetup::Manifest m;
    m.files.push_back(File(Payload("a", 3000), "<TARGET_DIR>\\a"));
    m.files.push_back(File(Payload("big", 5000), "<TARGET_DIR>\\big"));
    m.files.push_back(File(Payload("same", 400), "<TARGET_DIR>\\same"));          // same size: stays
    m.files.push_back(File(Payload("kept", 700), "<TARGET_DIR>\\kept", KeepExisting));  // there: stays
    m.files.push_back(File(Payload("new", 600), "<TARGET_DIR>\\new", KeepExisting));    // not there: written
    m.files.push_back(File(Payload("other", 9000), "D:\\Shared\\other"));             // another drive
    m.hasLinked = true;
    m.linked.label = "Extras";
    m.linked.files.push_back(File(Payload("l", 1000), "<TARGET_DIR>\\l", ReplaceAlways));
    Build(m);
    WriteFile("C:\\Program Files\\Tool\\same", std::string(400, 's'));
    WriteFile("C:\\Program Files\\Tool\\kept", "mine");
    const SpaceNeed need = MeasureSpaceNeeded(os_, state_);
    EXPECT_TRUE(need.complete);
    EXPECT_EQ(need.bytes, 3000u + 5000u + 600u + 1000u);
    EXPECT_EQ(need.largest, 5000u);
    EXPECT_EQ(need.Needed(), 9600u + 5000u);

    const std::uint64_t needed = need.Needed();
    const struct {
        const char* what;
        std::uint64_t free;
        std::uint32_t switches;
        SpaceVerdict verdict;
    } cases[] = {
        {"exactly enough", needed, 0, SpaceVerdict::Enough},
        {"one byte short", needed - 1, 0, SpaceVerdict::NotEnough},
        {"room for every file, not for the largest twice", need.bytes, 0, SpaceVerdict::NotEnough},
        {"nothing free, but /p writes nothing", 0, kSwitchNoChanges, SpaceVerdict::Enough},
    };
    for (const auto& c : cases) {
        host_.SetFreeSpace('C', c.free);
        state_.switchFlags = c.switches;
        SpaceCheck check = CheckFreeSpace(os_, state_);
        EXPECT_EQ(check.verdict, c.verdict) << c.what;
        EXPECT_EQ(check.drive, "C:") << c.what;
        if (!c.switches) {
            EXPECT_EQ(check.needed, needed) << c.what;
            EXPECT_EQ(check.free, c.free) << c.what;
        }
    }
    // Free space that cannot be read leaves the decision to the run itself.
    state_.switchFlags = 0;
    os_.FailNth(OsOp::DiskFreeSpace, 1, FaultyOs::kFromThenOn);
    EXPECT_EQ(CheckFreeSpace(os_, state_).verdict, SpaceVerdict::Unknown);
    os_.Reset();
    // Nothing was written by looking.
    EXPECT_FALSE(Exists("C:\\Program Files\\Tool\\a"));
    EXPECT_EQ(ReadFile("C:\\Program Files\\Tool\\kept"), "mine");
}

// A first installation's files lie in folders that are not there yet: one
// look at each folder, not at each file. A folder that is there, or that
// could not be looked at, still has each of its files looked at.
TEST_F(SpaceTest, FilesInAFolderThatIsNotThereAreNotLookedAtOneByOne) {
    mksetup::Manifest m;
    std::uint64_t fresh = 0;
    for (int i = 0; i < 40; ++i) {
        std::string name = "f" + std::to_string(i);
        m.files.push_back(File(Payload(name, 100 + i), "<TARGET_DIR>\\new\\deep\\" + name, KeepExisting));
        m.files.push_back(File(Payload("s" + name, 200 + i), "<TARGET_DIR>\\shared\\" + name, KeepExisting));
        fresh += 100 + i;
    }
    Build(m);
    // In the folder that is there, every other file is there and stays.
    std::uint64_t shared = 0;
    for (int i = 0; i < 40; ++i) {
        if (i % 2) WriteFile("C:\\Program Files\\Tool\\shared\\f" + std::to_string(i), "mine");
        else shared += 200 + i;
    }
    os_.Reset();
    SpaceNeed need = MeasureSpaceNeeded(os_, state_);
    EXPECT_EQ(need.bytes, fresh + shared);
    // The 40 files in "shared"; "Program Files", "Tool", "new" and "shared"
    // once each ("new\\deep" is known absent from "new").
    EXPECT_EQ(os_.Calls(OsOp::FileInfo), 40 + 4);

    // The looks at "new" and "new\\deep" refused (access denied): the files
    // in it are each looked at.
    os_.FailNth(OsOp::FileInfo, 3, 2);
    need = MeasureSpaceNeeded(os_, state_);
    EXPECT_EQ(need.bytes, fresh + shared);
    EXPECT_EQ(os_.Calls(OsOp::FileInfo), 40 + 5 + 40);
}

TEST_F(SpaceTest, AMissingVolumeLeavesTheCountToWhatCouldBeRead) {
    mksetup::Manifest m;
    m.files.push_back(File(Payload("a", 3000), "<TARGET_DIR>\\a"));
    m.hasLinked = true;
    m.linked.label = "Extras";
    m.linked.files.push_back(File(Payload("l", 1000), "<TARGET_DIR>\\l"));
    Build(m);
    std::filesystem::remove(root_ / "C" / "pkg" / "Data-A.dat");
    const SpaceNeed need = MeasureSpaceNeeded(os_, state_);
    EXPECT_FALSE(need.complete);
    EXPECT_EQ(need.bytes, 3000u);
    EXPECT_TRUE(wizard_.questions.empty()) << "nobody was asked for a disk";
}

TEST_F(SpaceTest, FreeSpaceIsAskedOfTheNearestFolderThatExists) {
    host_.SetFreeSpace('C', 777);
    std::uint64_t free = 0;
    ASSERT_TRUE(FreeSpaceFor(os_, "C:\\Not\\Yet\\There", free));
    EXPECT_EQ(free, 777u);
    free = 0;
    ASSERT_TRUE(FreeSpaceFor(os_, "C:", free));  // the drive's root
    EXPECT_EQ(free, 777u);
    EXPECT_FALSE(FreeSpaceFor(os_, "Q:\\Nowhere", free));
}

}  // namespace
}  // namespace cabsetup::testing
