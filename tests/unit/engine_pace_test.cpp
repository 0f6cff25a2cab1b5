// What makes a run fast without changing what it does: progress at the rate
// a person can see, no lookups in folders the run created itself, and few
// hand-overs between the worker and its writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cstring>
#include <iostream>

#include "app/paths.h"
#include "engine/background_writer.h"
#include "engine/fresh_folders.h"
#include "engine/progress_throttle.h"
#include "engine/set_aside.h"
#include "engine_fixture.h"

namespace cabsetup::testing {
namespace {

constexpr char kTool[] = "C:\\Program Files\\Tool";

TEST(ProgressThrottle, AtMostOncePerIntervalAndNothingLeftUntold) {
    // Each step: a change (or only a look) at a time; whether it goes now.
    struct Step {
        bool change;
        std::uint32_t now;
        bool goes;
    } steps[] = {
        {true, 1000, true},    // the first change always goes
        {true, 1010, false},   // within the interval: held
        {false, 1049, false},  // still held
        {false, 1050, true},   // a held change goes once the interval has passed
        {false, 1200, false},  // nothing new: nothing to tell
        {true, 1300, true},    // a change after a pause goes at once
        {true, 0xFFFFFFF0u, true},  // the clock wraps: differences still count
        {true, 0x10u, false},       // 32 ms after, across the wrap
        {false, 0x22u, true},       // 50 ms after
    };
    ProgressThrottle t;
    bool held = false;
    for (const Step& s : steps) {
        bool goes = s.change ? t.Changed(s.now) : t.Due(s.now);
        EXPECT_EQ(goes, s.goes) << s.now;
        held = (held || s.change) && !goes;
        if (goes) t.Posted(s.now);
        EXPECT_EQ(t.Unposted(), held) << s.now;
    }
}

// Progress under a clock the test moves: the posts that reach the wizard are
// spaced by the interval, positions never go back, and the last one before
// the final message shows where the engine ended.
class ProgressRate : public EngineTest {
protected:
    struct Post {
        std::uint32_t at;
        std::int32_t position;
        std::string text;
    };
    void Watch() {
        host_.SetNotifySink([this](WindowHandle, unsigned code, bool) {
            std::lock_guard lock(wizard_.mutex);
            wizard_.codes.push_back(code);
            if (code == NOTIFY_PROGRESS) {
                posts_.push_back({now_.load(), status_.Position(), status_.Text()});
                status_.progressPending = false;
            }
        });
    }
    void CheckInvariants(unsigned finalCode, std::int32_t lastPosition) {
        ASSERT_FALSE(wizard_.codes.empty());
        EXPECT_EQ(wizard_.codes.back(), finalCode);
        ASSERT_GE(posts_.size(), 2u);
        EXPECT_TRUE(std::is_sorted(posts_.begin(), posts_.end(),
                                   [](const Post& a, const Post& b) { return a.position < b.position; }));
        EXPECT_EQ(posts_.front().position, 0);
        EXPECT_EQ(posts_.back().position, lastPosition);
        EXPECT_EQ(posts_.back().text, status_.Text());
        // Between the start and the last word, one post per interval at most.
        for (std::size_t i = 2; i + 1 < posts_.size(); ++i)
            EXPECT_GE(posts_[i].at - posts_[i - 1].at, ProgressThrottle::kIntervalMs) << i;
    }
    std::atomic<std::uint32_t> now_{5000};
    std::vector<Post> posts_;
};

TEST_F(ProgressRate, SpacedByTheIntervalEndingAt900) {
    mksetup::Manifest m;
    for (int i = 0; i < 60; ++i) m.files.push_back(File(Payload("p" + std::to_string(i), 50 + i), "<TARGET_DIR>\\p" + std::to_string(i)));
    Build(m);
    struct Case {
        const char* what;
        std::uint32_t stepPerReading;
    } cases[] = {{"a clock that stands still", 0}, {"7 ms per reading", 7}, {"30 ms per reading", 30}};
    for (const Case& c : cases) {
        std::filesystem::remove_all(host_.HostPath(kTool));
        posts_.clear();
        wizard_.codes.clear();
        host_.SetClock([this, step = c.stepPerReading] { return now_ += step; });
        Watch();
        Install();
        CheckInvariants(NOTIFY_DONE, 900);
        EXPECT_EQ(posts_.back().text, "Installation is about to complete.") << c.what;
        EXPECT_TRUE(Exists(std::string(kTool) + "\\p59")) << c.what;
    }
}

TEST_F(ProgressRate, ANewFileAfterAPauseIsShownAtOnce) {
    mksetup::Manifest m;
    for (int i = 0; i < 12; ++i) m.files.push_back(File(Payload("q" + std::to_string(i), 80 + i), "<TARGET_DIR>\\q" + std::to_string(i)));
    Build(m);
    // The clock stands still but for one pause of 200 ms, just before q7's
    // progress is reported (the worker sets a file's text, then reads the clock).
    const std::string q7 = "Installing  : " + std::string(kTool) + "\\q7";
    host_.SetClock([this, &q7, paused = false]() mutable {
        if (!paused && status_.Text() == q7) {
            paused = true;
            now_ += 200;
        }
        return now_.load();
    });
    Watch();
    Install();
    CheckInvariants(NOTIFY_DONE, 900);
    auto shown = std::find_if(posts_.begin(), posts_.end(), [&](const Post& p) { return p.text == q7; });
    ASSERT_NE(shown, posts_.end()) << "the file after the pause was not shown";
    EXPECT_EQ(shown->position, 8 * 900 / 12);
    // Files within the interval of the last post are not.
    for (const Post& p : posts_) EXPECT_NE(p.text, "Installing  : " + std::string(kTool) + "\\q6");
}

TEST_F(ProgressRate, TheLastPositionGoesBeforeAFailure) {
    mksetup::Manifest m;
    for (int i = 0; i < 10; ++i) m.files.push_back(File(Payload("r" + std::to_string(i), 60 + i), "<TARGET_DIR>\\r" + std::to_string(i), ReplaceAlways));
    Build(m);
    // r6 is in use: the run stops there with 6051. Under a clock that stands
    // still nothing after the start was posted until then.
    WriteFile(std::string(kTool) + "\\r6", "in use");
    host_.SetInUse(std::string(kTool) + "\\r6", true);
    host_.SetClock([this] { return now_.load(); });
    Watch();
    Install();
    CheckInvariants(NOTIFY_FAILED, 7 * 900 / 10);
    EXPECT_EQ(posts_.back().text.substr(0, std::strlen(kTool)), kTool);  // 6051 names the file
}

TEST(FreshFolders, NothingCanStandOnlyWhereTheRunMadeTheFolderAndWroteNothing) {
    TableCodePage cp(1252);
    FreshFolders fresh(cp);
    fresh.Made("C:\\T");
    fresh.Made("C:\\T\\New");
    fresh.Writing("C:\\T\\New\\written.txt");
    struct Row {
        const char* destination;
        bool nothingThere;
    } rows[] = {
        {"C:\\T\\a.txt", true},
        {"C:\\T\\New\\b.txt", true},
        {"c:\\t\\nEW\\b.txt", true},             // the same folder, spelled in another case
        {"C:\\T\\New\\written.txt", false},      // this run wrote it
        {"C:\\T\\NEW\\WRITTEN.TXT", false},      // the same file to the file system
        {"C:\\T\\Old\\b.txt", false},            // a folder that was there before
        {"C:\\Other\\b.txt", false},
        {"C:\\T\\New\\.\\written.txt", false},   // other spellings are looked up
        {"C:\\T\\New\\..\\New\\b.txt", false},
        {"C:\\T\\New\\WRITTE~1.TXT", false},
        {"C:\\T\\New\\written.txt.", false},
        {"C:\\T\\New\\written.txt ", false},
        {"C:\\T\\New/written.txt", false},
        {"C:\\T\\New\\b.txt:stream", false},
        {"\\\\server\\share\\b.txt", false},
        {"C:\\T", false},                        // its folder is C:\, which was there
    };
    for (const Row& r : rows) EXPECT_EQ(fresh.NothingCanStand(r.destination), r.nothingThere) << r.destination;
    // Folded names: outside ASCII every byte counts alike, so two names the
    // file system may take for one are never told apart.
    fresh.Writing("C:\\T\\caf\xC9.txt");
    EXPECT_FALSE(fresh.NothingCanStand("C:\\T\\caf\xE9.txt"));
    // A filter of fixed size: after many files some unwritten names are
    // looked up needlessly, never a written one skipped.
    for (int i = 0; i < 20000; ++i) fresh.Writing("C:\\T\\New\\f" + std::to_string(i));
    int skipped = 0;
    for (int i = 0; i < 20000; ++i) EXPECT_FALSE(fresh.NothingCanStand("C:\\T\\New\\f" + std::to_string(i)));
    for (int i = 0; i < 1000; ++i) skipped += fresh.NothingCanStand("C:\\T\\New\\g" + std::to_string(i));
    EXPECT_GT(skipped, 950);
}

TEST_F(EngineTest, CreateFolderPathNamesOnlyTheFoldersItMade) {
    struct Row {
        const char* path;
        std::vector<std::string> made;
    } rows[] = {
        {"C:\\work\\a\\b", {"C:\\work\\a", "C:\\work\\a\\b"}},  // C:\work was there
        {"C:\\work\\a\\b", {}},                                        // all there now
        {"C:\\work\\a\\c", {"C:\\work\\a\\c"}},
    };
    for (const Row& r : rows) {
        std::vector<std::string> made;
        EXPECT_TRUE(CreateFolderPath(os_, r.path, &made)) << r.path;
        EXPECT_EQ(made, r.made) << r.path;
    }
    // A folder the system refuses to make is not named, and the path fails.
    os_.FailNth(OsOp::CreateDirectory, 1, FaultyOs::kFromThenOn);
    std::vector<std::string> made;
    EXPECT_FALSE(CreateFolderPath(os_, "C:\\work\\d\\e", &made));
    EXPECT_TRUE(made.empty());
}

// Lookups of the destination and of a set-aside copy, counted where the
// system sees them.
class FreshInstall : public EngineTest {
protected:
    int Lookups() { return os_.Calls(OsOp::FileInfo) + os_.Calls(OsOp::GetAttributes) + os_.Calls(OsOp::FindFirst); }
};

TEST_F(FreshInstall, NoLookupsInFoldersTheRunCreated) {
    mksetup::Manifest m;
    const int kFiles = 60;
    for (int i = 0; i < kFiles; ++i)
        m.files.push_back(File(Payload("n" + std::to_string(i), 40 + i), "<TARGET_DIR>\\d" + std::to_string(i % 3) + "\\n" + std::to_string(i)));
    Build(m);
    struct Case {
        const char* what;
        bool folders;  // the target and its subfolders are there before the run
    } cases[] = {{"a new target", false}, {"folders that were there", true}};
    int lookups[2] = {};
    for (const Case& c : cases) {
        std::filesystem::remove_all(host_.HostPath(kTool));
        if (c.folders)
            for (int d = 0; d < 3; ++d) MakeFolder(std::string(kTool) + "\\d" + std::to_string(d));
        os_.Reset();
        Install();
        EXPECT_EQ(LastCode(), NOTIFY_DONE) << c.what << ": " << wizard_.failedText;
        for (int i = 0; i < kFiles; ++i)
            EXPECT_EQ(ReadFile(std::string(kTool) + "\\d" + std::to_string(i % 3) + "\\n" + std::to_string(i)).size(),
                      40u + i) << c.what;
        lookups[c.folders] = Lookups();
    }
    std::cout << "lookups for " << kFiles << " files: " << lookups[0] << " into new folders, " << lookups[1]
              << " into folders that were there\n";
    // Each new folder is looked at while it is made, and a file that comes
    // before its folder exists is looked up; nothing per file beyond that.
    EXPECT_LT(lookups[0], kFiles / 2);
    EXPECT_GE(lookups[1], 2 * kFiles);  // the leftover and the file, for every file
}

TEST_F(FreshInstall, WhatStandsInFoldersThatWereThereIsStillFound) {
    const std::string sub = std::string(kTool) + "\\sub";
    mksetup::Manifest m;
    m.files.push_back(File(Payload("keep", 500), "<TARGET_DIR>\\sub\\keep.txt", KeepExisting));
    m.files.push_back(File(Payload("same", 11), "<TARGET_DIR>\\sub\\same.txt", ReplaceIfSizeDiffers));
    m.files.push_back(File(Payload("differs", 300), "<TARGET_DIR>\\sub\\differs.txt", ReplaceIfSizeDiffers));
    m.files.push_back(File(Payload("crashed", 400), "<TARGET_DIR>\\sub\\crashed.txt", KeepExisting));
    m.files.push_back(File(Payload("new", 200), "<TARGET_DIR>\\sub\\fresh\\new.txt", KeepExisting));
    Build(m);
    WriteFile(sub + "\\keep.txt", "the user's own");
    WriteFile(sub + "\\same.txt", "eleven byte");
    WriteFile(sub + "\\differs.txt", "older");
    // A crash while crashed.txt was replaced left the whole old copy aside
    // and a partial new one in its place.
    WriteFile(sub + "\\crashed.txt", "partial");
    const std::string aside = NameBeside(os_.Mbcs(), sub + "\\crashed.txt", ".cabsetup-old", '~');
    WriteFile(aside, "the whole old copy");
    host_.SetAttributes(aside, kAttrHidden);
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_DONE) << wizard_.failedText;
    struct Row {
        const char* name;
        std::string content;
    } rows[] = {
        {"keep.txt", "the user's own"},
        {"same.txt", "eleven byte"},
        {"crashed.txt", "the whole old copy"},
    };
    for (const Row& r : rows) EXPECT_EQ(ReadFile(sub + "\\" + r.name), r.content) << r.name;
    EXPECT_EQ(ReadFile(sub + "\\differs.txt").size(), 300u);
    EXPECT_EQ(ReadFile(sub + "\\fresh\\new.txt").size(), 200u);
    EXPECT_FALSE(Exists(aside));
    std::size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(host_.HostPath(sub))) entries += e.exists();
    EXPECT_EQ(entries, 5u) << "nothing left beside them";
}

// Small files go to the writer in batches: it is woken for a batch, not per file.
TEST_F(EngineTest, SmallFilesReachTheWriterInBatches) {
    std::filesystem::create_directories(host_.HostPath("C:\\w"));
    BackgroundWriter writer(os_);
    ASSERT_TRUE(writer.Ready());
    const int kFiles = 320;
    const unsigned char bytes[100] = {7};
    for (int i = 0; i < kFiles; ++i) {
        std::string dest = "C:\\w\\s" + std::to_string(i);
        writer.Begin(dest + ".new", dest, std::make_unique<SetAside>(os_, dest), sizeof bytes);
        EXPECT_TRUE(writer.Write(bytes, sizeof bytes));
        writer.End(true);
    }
    EXPECT_TRUE(writer.Drain());
    for (int i = 0; i < kFiles; ++i) EXPECT_EQ(ReadFile("C:\\w\\s" + std::to_string(i)).size(), 100u) << i;
    EXPECT_LE(writer.HandOvers(), kFiles / 16u);
    // For each batch at most: the writer woken for it, the placer for its
    // files, the writer for room at the placer, the worker for a buffer.
    EXPECT_LE(writer.WakeUps(), 4 * writer.HandOvers() + 2);
    std::size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(host_.HostPath("C:\\w"))) entries += e.exists();
    EXPECT_EQ(entries, std::size_t(kFiles)) << "nothing left beside them";
}

// The writer creates and writes files while a second thread puts them in
// place in the order begun. Held up on one file, the placer lets the writer
// run only so far ahead (each file waiting holds a handle); a file that
// cannot be put in place undoes itself and every file begun after it, each
// old file back with its attributes, whatever the writer had done with them.
TEST_F(EngineTest, FilesGoInPlaceInTheOrderBegunAndAFailureUndoesTheRest) {
    std::filesystem::create_directories(host_.HostPath("C:\\w"));
    const int kFiles = 400, kFailing = 150;
    for (int i = 0; i < kFiles; ++i) {
        WriteFile("C:\\w\\s" + std::to_string(i), "old " + std::to_string(i));
        host_.SetAttributes("C:\\w\\s" + std::to_string(i), kAttrReadOnly | kAttrArchive);
    }
    std::atomic<int> placing{0}, createdWhileHeld{-1};
    os_.SetHook(OsOp::PutInPlace, [&] {
        // The first file held until the writer can go no further.
        if (placing++ != 0) return;
        int created = -1;
        while (created != os_.Calls(OsOp::CreateHidden)) {
            created = os_.Calls(OsOp::CreateHidden);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        createdWhileHeld = created;
    });
    os_.FailNth(OsOp::PutInPlace, kFailing + 1);
    const unsigned char bytes[100] = {7};
    {
        BackgroundWriter writer(os_);
        ASSERT_TRUE(writer.Ready());
        for (int i = 0; i < kFiles; ++i) {
            std::string dest = "C:\\w\\s" + std::to_string(i);
            auto old = std::make_unique<SetAside>(os_, dest);
            ASSERT_TRUE(old->Move()) << i;
            writer.Begin(NameBeside(os_.Mbcs(), dest, ".cabsetup-new", '$'), dest, std::move(old), sizeof bytes);
            writer.Write(bytes, sizeof bytes);
            writer.End(true);
        }
        EXPECT_FALSE(writer.Drain());
        EXPECT_TRUE(writer.Failed());
    }
    os_.SetHook(OsOp::PutInPlace, nullptr);
    // Held on the first file, the writer stopped at its backlog, far short
    // of all 400: at most 64 files with the placer, 64 queued for it, a
    // batch of 32 in the writer's hands and the file it is writing.
    EXPECT_GT(createdWhileHeld.load(), 32);
    EXPECT_LE(createdWhileHeld.load(), 64 + 64 + 32 + 1);
    for (int i = 0; i < kFiles; ++i) {
        const std::string dest = "C:\\w\\s" + std::to_string(i);
        std::uint32_t attributes = 0;
        EXPECT_TRUE(host_.GetAttributes(dest, attributes)) << i;
        if (i < kFailing) {
            EXPECT_EQ(ReadFile(dest).size(), sizeof bytes) << i;
            EXPECT_EQ(attributes & (kAttrReadOnly | kAttrHidden), 0u) << i;
        } else {
            EXPECT_EQ(ReadFile(dest), "old " + std::to_string(i)) << i;
            EXPECT_EQ(attributes, kAttrReadOnly | kAttrArchive) << i;
        }
    }
    std::size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(host_.HostPath("C:\\w"))) entries += e.exists();
    EXPECT_EQ(entries, std::size_t(kFiles)) << "nothing left beside them";
}

// A system that refuses the placer's thread: the writer puts each file in
// place itself, in the same order.
TEST_F(EngineTest, ARefusedPlacerLeavesThePlacingToTheWriter) {
    std::filesystem::create_directories(host_.HostPath("C:\\w"));
    os_.FailNth(OsOp::StartThread, 2);  // the writer's second thread
    const unsigned char bytes[10] = {1};
    {
        BackgroundWriter writer(os_);
        for (int i = 0; i < 100; ++i) {
            std::string dest = "C:\\w\\s" + std::to_string(i);
            writer.Begin(dest + ".new", dest, std::make_unique<SetAside>(os_, dest), sizeof bytes);
            writer.Write(bytes, sizeof bytes);
            writer.End(true);
        }
        EXPECT_TRUE(writer.Drain());
    }
    EXPECT_EQ(os_.Injected(), 1);
    EXPECT_EQ(os_.Calls(OsOp::StartThread), 2);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(ReadFile("C:\\w\\s" + std::to_string(i)).size(), sizeof bytes) << i;
}

}  // namespace
}  // namespace cabsetup::testing
