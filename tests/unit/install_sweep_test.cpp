// Every call an installation over an older one makes, failed in turn: each
// destination keeps its old bytes and attributes or has its new ones,
// nothing outside the target changes, nothing is left behind, a run that
// did not do everything says so, and a clean run afterwards ends exactly
// as an uninterrupted one.
#include <gtest/gtest.h>

#include "engine_fixture.h"
#include "sweep_support.h"

namespace cabsetup::testing {
namespace {

constexpr char kTool[] = "C:\\Program Files\\Tool";

struct OldFile {
    const char* name;
    std::string bytes;
    std::uint32_t attributes;  // read-only and hidden, as the sandbox keeps them
};

// What stands in the way of replacing a.exe.
enum class Obstacle { None, ReadOnly, InUse };

struct Scenario {
    const char* what;
    std::vector<OldFile> old;  // the older installation
    Obstacle obstacle;         // when there is one, an uninterrupted run fails
};

class InstallSweep : public EngineTest {
protected:
    void BuildPackage() {
        mksetup::Manifest m;
        m.files.push_back(File(Payload("a", 70000, 1), "<TARGET_DIR>\\a.exe", ReplaceAlways));
        m.files.push_back(File(Payload("b", 3000, 2), "<TARGET_DIR>\\b.dll"));            // size differs
        m.files.push_back(File(Payload("same", 20, 3), "<TARGET_DIR>\\same.dat"));        // same size: kept
        m.files.push_back(File(Payload("c", 500, 4), "<TARGET_DIR>\\c.ini", KeepExisting));
        m.files.push_back(File(Payload("e", 9000, 5), "<TARGET_DIR>\\sub\\deep\\e.txt"));  // a new folder tree
        m.files.push_back(File(Payload("z", 0, 6), "<TARGET_DIR>\\empty.log"));
        Build(m);
    }

    void Arrange(const Scenario& s, bool withObstacle = true) {
        std::error_code ec;
        std::filesystem::remove_all(root_ / "C" / "Program Files", ec);
        std::filesystem::remove_all(root_ / "C" / "WINDOWS", ec);
        MakeFolder("C:\\WINDOWS\\temp");  // the system's temporary folder is always there
        host_.SetInUse(std::string(kTool) + "\\a.exe", false);
        host_.ForgetRestartDeletes();
        for (const OldFile& f : s.old) {
            std::string path = std::string(kTool) + "\\" + f.name;
            WriteFile(path, f.bytes);
            host_.SetAttributes(path, f.attributes);
        }
        WriteFile(std::string(kTool) + "\\user notes.txt", "the user's own file");
        WriteFile("C:\\Users\\me\\letter.doc", "outside the target");
        const std::string a = std::string(kTool) + "\\a.exe";
        if (withObstacle && s.obstacle == Obstacle::ReadOnly) host_.SetAttributes(a, kAttrReadOnly);
        if (withObstacle && s.obstacle == Obstacle::InUse) host_.SetInUse(a, true);
        wizard_.codes.clear();
        wizard_.failedText.clear();
        status_.SetText("");
        status_.progressPending = false;
        log_ = CInstallLog();
        state_.workDir.clear();
    }

    Tree Now() { return Snapshot(host_, root_); }
};

TEST_F(InstallSweep, EveryFailedCallKeepsOldOrNewAndACleanRunCompletes) {
    const std::string olderA(64000, 'A');
    const std::vector<OldFile> older = {
        {"a.exe", olderA, 0},
        {"b.dll", "an older b", 0},
        {"same.dat", std::string(20, 's'), kAttrReadOnly | kAttrHidden},
        {"c.ini", "the user's settings", kAttrReadOnly},
    };
    const std::vector<Scenario> scenarios = {
        {"over an older installation", older, Obstacle::None},
        {"a read-only file to replace", older, Obstacle::ReadOnly},
        {"a file in use", older, Obstacle::InUse},
        {"a fresh installation", {}, Obstacle::None},
    };
    BuildPackage();
    const auto inTarget = [](const std::string& p) { return Under(p, kTool); };
    const auto outside = [](const std::string& p) { return !Under(p, kTool); };
    for (const Scenario& s : scenarios) {
        const bool succeeds = s.obstacle == Obstacle::None;
        // The new state of every destination: the tree of a run nothing stood in the way of.
        Arrange(s, false);
        Install();
        ASSERT_EQ(LastCode(), NOTIFY_DONE) << s.what;
        const Tree expected = Now();
        const std::string expectedLog = log_.Text();
        Arrange(s);
        const Tree before = Now();
        Install();
        const unsigned cleanCode = LastCode();
        ASSERT_EQ(cleanCode, succeeds ? NOTIFY_DONE : NOTIFY_FAILED) << s.what;
        // A file in the way fails the run before anything changes.
        if (!succeeds) {
            EXPECT_TRUE(Now() == before) << s.what;
        }
        // Only the target changes; the workspace is gone again.
        for (const std::string& p : NeitherOldNorNew(before, before, expected, outside))
            ADD_FAILURE() << s.what << ", clean run changed outside the target: " << p;

        int points = SweepEveryCall(
            os_, [&] { Arrange(s); }, [&] { Install(); },
            [&](int n) {
                Tree after = Now();
                DropScheduledForRestart(after, host_);
                const unsigned code = LastCode();
                std::string at = std::string(s.what) + ", call " + std::to_string(n) + " failed";
                for (const std::string& p : NeitherOldNorNew(before, expected, after, inTarget))
                    ADD_FAILURE() << at << ": " << p;
                for (const std::string& p : NeitherOldNorNew(before, before, after, outside))
                    ADD_FAILURE() << at << ", outside the target: " << p;
                // Success claimed only for the whole result.
                if (code == NOTIFY_DONE) {
                    EXPECT_TRUE(succeeds) << at;
                    EXPECT_TRUE(after == expected) << at << ": reported done, but the tree differs";
                    EXPECT_EQ(log_.Text(), expectedLog) << at;
                }
                // A clean run from here ends as an uninterrupted one.
                wizard_.codes.clear();
                log_ = CInstallLog();
                Install();
                EXPECT_EQ(LastCode(), cleanCode) << at << ", then a clean run";
                if (succeeds) {
                    const Tree again = Now();
                    for (const std::string& p : NeitherOldNorNew(expected, expected, again, inTarget))
                        ADD_FAILURE() << at << ", then a clean run: " << p;
                }
            });
        std::cout << s.what << ": " << points << " fault points\n";
        EXPECT_GT(points, 10) << s.what;
    }
}

}  // namespace
}  // namespace cabsetup::testing
