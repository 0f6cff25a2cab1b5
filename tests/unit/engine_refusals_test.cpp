// The system says no: a thread or memory refused to the engine over an
// existing installation. A refusal fails the step (or, for the writer's
// thread, changes only where the writing happens); it never ends the
// program, never loses a file, and a clean run afterwards completes.
#include <gtest/gtest.h>

#include <cstdio>

#include "app/switches.h"
#include "engine_fixture.h"
#include "platform/memory.h"
#include "sweep_support.h"

namespace cabsetup::testing {
namespace {

constexpr char kTool[] = "C:\\Program Files\\Tool";

class EngineRefusals : public EngineTest {
protected:
    EngineRefusals() {
        mksetup::Manifest m;
        // Larger than one of the writer's buffers, so several carry it.
        m.files.push_back(File(Payload("a", 530000), "<TARGET_DIR>\\a.bin", ReplaceAlways));
        m.files.push_back(File(Payload("b", 300), "<TARGET_DIR>\\b.txt", ReplaceIfSizeDiffers));
        m.files.push_back(File(Payload("k", 200), "<TARGET_DIR>\\keep.txt", KeepExisting));
        m.files.push_back(File(Payload("c", 5000), "<TARGET_DIR>\\new\\tree\\c.txt"));
        m.files.push_back(File(Payload("e", 0), "<TARGET_DIR>\\empty.txt", ReplaceAlways));
        m.hasLinked = true;
        m.linked.label = "Extras";
        m.linked.files.push_back(File(Payload("l", 7000), "<TARGET_DIR>\\extra.bin", ReplaceAlways));
        RegistryRecord r;
        r.keyPath = "HKEY_CURRENT_USER\\Software\\Tool";
        r.valueName = "Extra";
        r.valueType = 2;
        r.SetText("yes");
        m.linked.script.registry.push_back(r);
        Build(m);
        // The tree of an uninterrupted installation over the old one.
        PutOldInstallation();
        Run();
        EXPECT_EQ(LastCode(), NOTIFY_DONE) << wizard_.failedText;
        installed_ = Now();
    }

    void PutOldInstallation() {
        std::filesystem::remove_all(host_.HostPath(kTool));
        for (const char* name : {"a.bin", "b.txt", "keep.txt"}) WriteFile(std::string(kTool) + "\\" + name, std::string("old ") + name);
        host_.SetAttributes(std::string(kTool) + "\\keep.txt", kAttrReadOnly);
        old_ = Now();
    }

    Tree Now() { return Snapshot(host_, root_); }

    void Run() {
        log_ = CInstallLog();
        wizard_.codes.clear();
        wizard_.failedText.clear();
        state_.script.ClearSecond();
        Install();
    }

    // What must hold after any run, failed or not.
    void CheckInvariants(const std::string& what) {
        const Tree now = Now();
        // Every path as it was or as an uninterrupted run leaves it (the
        // workspace gone, nothing left beside the files), in the target
        // and everywhere else.
        for (const std::string& p : NeitherOldNorNew(old_, installed_, now, [](const std::string&) { return true; }))
            ADD_FAILURE() << what << ": " << p;
        EXPECT_TRUE(WorkspaceGone()) << what;
        const unsigned last = LastCode();
        if (last == NOTIFY_DONE) {
            // Success only when everything the package asked for happened.
            EXPECT_TRUE(now == installed_) << what;
            EXPECT_EQ(state_.script.Second().registry.size(), 1u) << what << ": Data.inf's actions were dropped";
        } else {
            EXPECT_EQ(last, NOTIFY_FAILED) << what;
            EXPECT_EQ(wizard_.failedText, "Can't find data file.") << what;
        }
    }

    // A clean run afterwards ends with the tree of an uninterrupted installation.
    void CheckCleanRerun(const std::string& what) {
        RefuseAllocations(0);
        os_.Reset();
        Run();
        EXPECT_EQ(LastCode(), NOTIFY_DONE) << what << ": " << wizard_.failedText;
        EXPECT_TRUE(Now() == installed_) << what;
    }

    Tree old_, installed_;
};

// A worker that never ran reports its failure as a worker does (the
// wizard then ends as for any failed worker), and nothing has changed.
TEST_F(EngineRefusals, RefusedWorkerThreadFailsAndChangesNothing) {
    PutOldInstallation();
    wizard_.codes.clear();
    os_.FailNth(OsOp::StartThread, 1);
    {
        InstallEngine engine(os_, state_);
        EXPECT_EQ(engine.StartInstallWorker(&status_, &log_), 0);
        EXPECT_FALSE(engine.WorkerRunning());
        EXPECT_EQ(engine.PauseInstallWorker(1), 0);
    }
    EXPECT_EQ(wizard_.codes, std::vector<unsigned>{NOTIFY_FAILED});
    EXPECT_EQ(wizard_.failedText, "Folder  \"C:\\Program Files\\Tool\" can't be created.\n\nEnter another folder name.");
    EXPECT_TRUE(Now() == old_);
    CheckCleanRerun("after a refused worker");
}

TEST_F(EngineRefusals, RefusedWriterThreadWritesOnTheWorkersThread) {
    // Every writer's start refused (the main set's and the linked set's).
    PutOldInstallation();
    os_.FailNth(OsOp::StartThread, 2, FaultyOs::kFromThenOn);
    Run();
    EXPECT_EQ(os_.Calls(OsOp::StartThread), 3);
    EXPECT_EQ(os_.Injected(), 2);
    EXPECT_EQ(LastCode(), NOTIFY_DONE) << wizard_.failedText;
    EXPECT_TRUE(Now() == installed_);
    CheckInvariants("writer refused");
}

// Every memory request a clean run makes, refused in turn: once, and from
// then on.
TEST_F(EngineRefusals, EveryRefusedAllocationFailsTheStepOrChangesNothing) {
    PutOldInstallation();
    RefuseAllocations(0);
    Run();
    const int requests = AllocationRequests();
    ASSERT_EQ(LastCode(), NOTIFY_DONE);
    ASSERT_GE(requests, 10);  // header, decoding, copy and writer buffers, Data.inf
    int failed = 0;
    for (int n = 1; n <= requests; ++n) {
        for (int count : {1, 1000}) {
            const std::string what = "request " + std::to_string(n) + (count == 1 ? " refused once" : " and all after");
            PutOldInstallation();
            RefuseAllocations(n, count);
            Run();
            RefuseAllocations(0);
            CheckInvariants(what);
            failed += LastCode() == NOTIFY_FAILED;
            CheckCleanRerun(what);
        }
    }
    std::printf("%d memory requests in a clean run; %d of %d refusals failed the run\n", requests, failed, 2 * requests);
    // Only the writer's buffers after its first (seven for each data set)
    // may be refused without a failure: each once, and the linked set's
    // also from then on, as nothing is asked for after them. So may the
    // stream's read-ahead, once: the stream is then read as it is asked for.
    EXPECT_EQ(failed, 2 * requests - 3 * 7 - 1);
}

}  // namespace
}  // namespace cabsetup::testing
