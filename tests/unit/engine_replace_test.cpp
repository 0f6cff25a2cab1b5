// Replacing a file that stands at a destination: the decision, the names
// beside it, the old file's attributes when it comes back, a program that
// runs from it, a copy that cannot go, and a destination whose earlier write
// is still under way.
#include <gtest/gtest.h>

#include <atomic>
#include <cctype>
#include <cstring>
#include <chrono>
#include <set>
#include <thread>

#include "engine/replace_decision.h"
#include "engine/set_aside.h"
#include "engine_fixture.h"

namespace cabsetup::testing {
namespace {

using EngineUnpack = EngineTest;  // these do not run again through the system's interface

constexpr char kTool[] = "C:\\Program Files\\Tool";
constexpr std::uint32_t kKeptAttributes = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;
const char* const kInUseText =
    "\nAn error occurs when the installer tries to open a specified file.\n"
    "Please terminate the program using the file, and try to install again.\nInstallation is canceled.";

TEST(ReplaceDecision, FromWhatStandsThereAndWhatTheRecordAsks) {
    using A = ReplaceAction;
    using R = ReplaceReason;
    constexpr std::uint8_t kOther = 0x02;
    struct Row {
        StandingFile standing;
        std::uint8_t mode;
        std::uint32_t fileSize;
        bool noChanges;
        A action;
        R reason;
        bool setAside;
    } rows[] = {
        {{false, 0, 0}, ReplaceAlways, 10, false, A::New, R::NoFile, false},
        {{false, 0, 0}, KeepExisting, 10, true, A::New, R::NoFile, false},
        {{true, kAttrDirectory, 0}, ReplaceAlways, 10, false, A::New, R::NoFile, false},
        {{true, kAttrDirectory | kAttrReadOnly, 10}, KeepExisting, 10, false, A::New, R::NoFile, false},
        {{true, 0x80, 10}, ReplaceAlways, 10, false, A::Replace, R::Always, true},
        {{true, kAttrHidden | kAttrSystem, 10}, ReplaceAlways, 10, false, A::Replace, R::Always, true},
        {{true, 0x80, 10}, ReplaceAlways, 10, true, A::Replace, R::Always, false},
        {{true, 0x80, 9}, ReplaceIfSizeDiffers, 10, false, A::Replace, R::SizeDiffers, true},
        {{true, 0x80, 10}, ReplaceIfSizeDiffers, 10, false, A::Keep, R::SameSize, false},
        {{true, 0x80, 0}, ReplaceIfSizeDiffers, 0, false, A::Keep, R::SameSize, false},
        {{true, 0x80, 11}, ReplaceIfSizeDiffers, 10, true, A::Replace, R::SizeDiffers, false},
        {{true, 0x80, 10}, KeepExisting, 99, false, A::Keep, R::KeepExisting, false},
        {{true, kAttrReadOnly, 10}, KeepExisting, 99, false, A::Keep, R::KeepExisting, false},
        {{true, 0x80, 10}, kOther, 10, false, A::Replace, R::UnknownMode, true},
        {{true, 0x80, 10}, 0, 10, false, A::Replace, R::UnknownMode, true},
        {{true, 0x80, 10}, 0xFF, 10, false, A::Replace, R::UnknownMode, true},
        // Read-only: what would be replaced is refused; what is kept stays; "/p" deletes nothing.
        {{true, kAttrReadOnly, 10}, ReplaceAlways, 10, false, A::Refuse, R::ReadOnly, false},
        {{true, kAttrReadOnly | kAttrHidden, 9}, ReplaceIfSizeDiffers, 10, false, A::Refuse, R::ReadOnly, false},
        {{true, kAttrReadOnly, 10}, ReplaceIfSizeDiffers, 10, false, A::Keep, R::SameSize, false},
        {{true, kAttrReadOnly, 10}, ReplaceAlways, 10, true, A::Replace, R::Always, false},
    };
    for (const Row& r : rows) {
        ReplaceDecision d = DecideReplace(r.standing, r.mode, r.fileSize, r.noChanges);
        std::string row = std::string(DescribeDecision(d)) + " at row " + std::to_string(&r - rows);
        EXPECT_EQ(d.action, r.action) << row;
        EXPECT_EQ(d.reason, r.reason) << row;
        EXPECT_EQ(d.setAside, r.setAside) << row;
        // Only a replacement sets anything aside, and never a dry run's.
        EXPECT_TRUE(!d.setAside || (d.action == A::Replace && !r.noChanges)) << row;
        EXPECT_EQ(d.Writes(), d.action == A::New || d.action == A::Replace) << row;
    }
}

TEST(NameBeside, UniqueInItsFolderAndWithinThePathLimit) {
    TableCodePage cp(1252);
    for (std::size_t folderLength : {30u, 241u, 242u, 245u, 247u, 249u, 250u, 257u}) {
        const std::string folder = "C:\\" + std::string(folderLength - 3, 'f');
        std::set<std::string> names;
        std::size_t files = 0;
        for (const char* suffix : {".cabsetup-old", ".cabsetup-new"})
            for (std::size_t nameLength = 1; folderLength + 1 + nameLength < kMaxPath; nameLength += 3)
                for (char c : std::string("0123456789abcdefghijklmnopqrstuvwxyz_-~$")) {
                    const std::string dest = folder + "\\" + std::string(nameLength, c);
                    std::string name = NameBeside(cp, dest, suffix, suffix[10] == 'o' ? '~' : '$');
                    const std::string why = dest.substr(folderLength) + suffix + " in a folder of " +
                                            std::to_string(folderLength);
                    if (folderLength >= 250 && dest.size() + 13 >= kMaxPath) {
                        EXPECT_EQ(name, "") << why;  // nothing fits beside it
                        continue;
                    }
                    ++files;
                    EXPECT_LT(name.size(), kMaxPath) << why;
                    EXPECT_EQ(name.rfind(folder + "\\", 0), 0u) << why;
                    EXPECT_NE(name, dest) << why;
                    EXPECT_TRUE(names.insert(name).second) << why << ": " << name;
                    // Case does not make another file, nor another name.
                    std::string upper = dest;
                    for (char& u : upper) u = static_cast<char>(std::toupper(static_cast<unsigned char>(u)));
                    if (dest + suffix != name) {
                        EXPECT_EQ(NameBeside(cp, upper, suffix, name[folderLength + 1]).substr(folderLength), name.substr(folderLength)) << why;
                    }
                }
        EXPECT_EQ(names.size(), files) << folderLength;
    }
}

// A set-aside copy is only ever put back over the destination it was made
// for, also where the suffixed name does not fit and a short one is used,
// on both unpacking paths: a copy a crash left for file 1 is not file 2's,
// nor is file 1's copy of this very run while its write is under way.
TEST_F(EngineUnpack, SetAsideCopyGoesBackOnlyOverItsOwnDestination) {
    const std::string folderName = std::string(246 - std::strlen(kTool) - 1, 'd');
    const std::string folder = std::string(kTool) + "\\" + folderName;
    const std::string one = folder + "\\1", two = folder + "\\2";
    ASSERT_GE(one.size() + std::strlen(".cabsetup-old"), kMaxPath);
    struct Case {
        const char* what;
        bool systemPath;
        bool crashLeftover;  // else: the same run, file 1's write held back
    } cases[] = {
        {"own reader, a crash's leftover", false, true},
        {"system interface, a crash's leftover", true, true},
        {"own reader, one run, file 1 still being written", false, false},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(root_ / "C");
        std::filesystem::create_directories(root_ / "C" / "work");
        mksetup::Manifest m;
        std::filesystem::path newOne = Payload("one", 3000);
        if (c.crashLeftover) {
            // The next run, of an update that keeps file 2, reaches it first.
            m.files.push_back(File(Payload("two", 2000), "<TARGET_DIR>\\" + folderName + "\\2", KeepExisting));
            m.files.push_back(File(newOne, "<TARGET_DIR>\\" + folderName + "\\1", ReplaceAlways));
        } else {
            m.files.push_back(File(newOne, "<TARGET_DIR>\\" + folderName + "\\1", ReplaceAlways));
            m.files.push_back(File(Payload("two", 2000), "<TARGET_DIR>\\" + folderName + "\\2", KeepExisting));
        }
        Build(m);
        WriteFile(one, "the user's file 1");
        WriteFile(two, "the user's file 2");
        if (c.crashLeftover) {
            const std::string leftover = NameBeside(os_.Mbcs(), one, ".cabsetup-old", '~');
            ASSERT_NE(leftover, "");
            WriteFile(leftover, "file 1 before the crash");
            host_.SetAttributes(leftover, kAttrHidden);
        } else {
            // File 1's write waits until the worker has reached file 2.
            os_.SetHook(OsOp::Write, [this, held = std::make_shared<std::atomic<bool>>(false)] {
                if (held->exchange(true)) return;
                for (int i = 0; i < 10000 && status_.Position() < 900; ++i)
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            });
        }
        InstallEngine::SetSystemUnpackerOnly(c.systemPath);
        wizard_.codes.clear();
        status_.SetPosition(0);
        Install();
        os_.SetHook(OsOp::Write, nullptr);
        InstallEngine::SetSystemUnpackerOnly(false);
        EXPECT_EQ(LastCode(), NOTIFY_DONE) << c.what << ": " << wizard_.failedText;
        EXPECT_EQ(ReadFile(two), "the user's file 2") << c.what;
        EXPECT_EQ(ReadFile(one).size(), 3000u) << c.what;
        std::vector<std::string> entries;
        for (auto& e : std::filesystem::directory_iterator(host_.HostPath(folder))) entries.push_back(e.path().filename().string());
        EXPECT_EQ(entries.size(), 2u) << c.what << ": nothing left beside them";
    }
}

// In a folder so deep that nothing fits beside its files (one CreateDirectoryA
// never makes), a file to replace fails as a path too long before anything
// moves, never under a name another file shares.
TEST_F(EngineTest, NoRoomBesideAFileFailsBeforeAnythingMoves) {
    const std::string folderName = std::string(250 - std::strlen(kTool) - 1, 'd');
    const std::string dest = std::string(kTool) + "\\" + folderName + "\\x";
    ASSERT_EQ(NameBeside(os_.Mbcs(), dest, ".cabsetup-old", '~'), "");
    mksetup::Manifest m;
    m.files.push_back(File(Payload("x", 3000), "<TARGET_DIR>\\" + folderName + "\\x", ReplaceAlways));
    Build(m);
    WriteFile(dest, "the old x");
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_FAILED);
    EXPECT_EQ(wizard_.failedText, "Can't find data file.");
    EXPECT_EQ(ReadFile(dest), "the old x");
    std::size_t entries = 0;
    for (auto& e : std::filesystem::directory_iterator(host_.HostPath(dest).parent_path())) entries += e.exists();
    EXPECT_EQ(entries, 1u);
}

// Restored after a failed replacement, the old file has exactly the
// attributes it had; a read-only one is refused before anything moves.
TEST_F(EngineTest, OldFileComesBackWithExactlyItsAttributes) {
    const std::string dest = std::string(kTool) + "\\a.bin";
    mksetup::Manifest m;
    m.files.push_back(File(Payload("a", 40000), "<TARGET_DIR>\\a.bin", ReplaceAlways));
    Build(m);
    for (std::uint32_t attributes :
         {0u, kAttrArchive, kAttrHidden, kAttrSystem, kAttrHidden | kAttrSystem, kAttrArchive | kAttrHidden | kAttrSystem,
          kAttrReadOnly, kAttrReadOnly | kAttrHidden, kAttrReadOnly | kAttrArchive | kAttrHidden | kAttrSystem}) {
        const std::string row = "attributes " + std::to_string(attributes);
        host_.SetAttributes(dest, 0);
        WriteFile(dest, "the old a");
        host_.SetAttributes(dest, attributes);
        os_.FailNth(OsOp::Write, 1);  // the new file, or its cabinet copy, cannot be written
        wizard_.codes.clear();
        Install();
        os_.FailNth(OsOp::Write, 0);
        const bool readOnly = attributes & kAttrReadOnly;
        EXPECT_EQ(LastCode(), NOTIFY_FAILED) << row;
        EXPECT_EQ(wizard_.failedText, readOnly ? dest + kInUseText : "Can't find data file.") << row;
        EXPECT_EQ(ReadFile(dest), "the old a") << row;
        std::uint32_t now = 0;
        ASSERT_TRUE(host_.GetAttributes(dest, now)) << row;
        EXPECT_EQ(now & kKeptAttributes, attributes) << row;
        std::size_t entries = 0;
        for (auto& e : std::filesystem::directory_iterator(host_.HostPath(kTool))) entries += e.exists();
        EXPECT_EQ(entries, 1u) << row << ": nothing left beside it";
    }
    // Replaced, the file is the package's: none of the old file's attributes go with it.
    host_.SetAttributes(dest, kAttrHidden | kAttrSystem);
    wizard_.codes.clear();
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_DONE) << wizard_.failedText;
    std::uint32_t now = 0;
    ASSERT_TRUE(host_.GetAttributes(dest, now));
    EXPECT_EQ(now & (kAttrReadOnly | kAttrHidden | kAttrSystem), 0u);
}

// A running program (or a loaded library) can be renamed but not deleted:
// it is reported in use where a file in use is, and stays in its place.
TEST_F(EngineTest, RunningProgramIsReportedInUseAndStays) {
    const std::string dest = std::string(kTool) + "\\tool.exe";
    mksetup::Manifest m;
    m.files.push_back(File(Payload("tool.exe", 5000), "<TARGET_DIR>\\tool.exe", ReplaceAlways));
    Build(m);
    WriteFile(dest, "the running tool");
    host_.SetRunning(dest, true);
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_FAILED);
    EXPECT_EQ(wizard_.failedText, dest + kInUseText);
    EXPECT_EQ(ReadFile(dest), "the running tool");
    EXPECT_FALSE(Exists(dest + ".cabsetup-old"));
    EXPECT_TRUE(host_.RestartDeletes().empty());
}

// The old copy that something holds once the new file is in place goes when
// the system next starts; until then it stays hidden, and no later run puts
// it back over the new file.
TEST_F(EngineTest, OldCopyThatCannotGoIsDeletedAtTheNextStartAndStaysHidden) {
    const std::string dest = std::string(kTool) + "\\a.dll";
    const std::string aside = dest + ".cabsetup-old", discarded = dest + ".cabsetup-del";
    struct Case {
        const char* what;
        bool renamable;  // held as a running image is; else opened without sharing
        std::string scheduled;  // what DeleteAtRestart was given
    } cases[] = {
        {"loaded by a program since it was set aside", true, discarded},
        {"held open without sharing", false, aside},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(root_ / "C");
        std::filesystem::create_directories(root_ / "C" / "work");
        mksetup::Manifest m;
        std::filesystem::path source = Payload("a.dll", 6000);
        m.files.push_back(File(source, "<TARGET_DIR>\\a.dll", ReplaceAlways));
        Build(m);
        WriteFile(dest, "the old a");
        // Whatever ends up at the set-aside name is held.
        if (c.renamable) host_.SetRunning(aside, true);
        else host_.SetInUse(aside, true);
        const std::size_t scheduledBefore = host_.RestartDeletes().size();
        wizard_.codes.clear();
        Install();
        EXPECT_EQ(LastCode(), NOTIFY_DONE) << c.what << ": " << wizard_.failedText;
        EXPECT_EQ(ReadFile(dest).size(), 6000u) << c.what;
        ASSERT_EQ(host_.RestartDeletes().size(), scheduledBefore + 1) << c.what;
        EXPECT_EQ(host_.RestartDeletes().back(), c.scheduled) << c.what;
        std::uint32_t attributes = 0;
        ASSERT_TRUE(host_.GetAttributes(c.scheduled, attributes)) << c.what;
        EXPECT_EQ(attributes & (kAttrHidden | kAttrReadOnly), kAttrHidden) << c.what;
        if (!c.renamable) continue;  // under the old copy's name it would come back: see below
        EXPECT_FALSE(Exists(aside)) << c.what;
        // A later run of a package that keeps the file leaves the new one.
        mksetup::Manifest keep;
        keep.files.push_back(File(Payload("other", 10), "<TARGET_DIR>\\a.dll", KeepExisting));
        Build(keep);
        wizard_.codes.clear();
        Install();
        EXPECT_EQ(LastCode(), NOTIFY_DONE) << c.what;
        EXPECT_EQ(ReadFile(dest).size(), 6000u) << c.what;
        host_.SetRunning(discarded, false);
    }
    host_.SetInUse(aside, false);
}

// The same destination twice in one package, the first write still under
// way when the second record is reached (the writer is held back until
// then): the second record sees the first file in place, as one after the
// other would.
TEST_F(EngineUnpack, DestinationNamedTwiceWhileTheFirstWriteIsPending) {
    const std::string dest = std::string(kTool) + "\\twice.bin";
    struct Case {
        const char* what;
        std::uint8_t secondMode;
        std::size_t secondSize;
        bool oldFile;
        std::size_t expectedSize;  // the first file is 5000 bytes
    } cases[] = {
        {"keep existing keeps the first", KeepExisting, 7000, true, 5000},
        {"keep existing, nothing there before", KeepExisting, 7000, false, 5000},
        {"same size keeps the first", ReplaceIfSizeDiffers, 5000, true, 5000},
        {"size differs replaces the first", ReplaceIfSizeDiffers, 7000, true, 7000},
        {"always replaces the first", ReplaceAlways, 7000, false, 7000},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(root_ / "C");
        std::filesystem::create_directories(root_ / "C" / "work");
        mksetup::Manifest m;
        m.files.push_back(File(Payload("first", 5000), "<TARGET_DIR>\\twice.bin", ReplaceAlways));
        m.files.push_back(File(Payload("second", c.secondSize, 9), "<TARGET_DIR>\\twice.bin", c.secondMode));
        Build(m);
        if (c.oldFile) WriteFile(dest, "the old one");
        std::atomic<bool> reachedSecond{false};
        os_.SetHook(OsOp::Write, [&, held = std::make_shared<std::atomic<bool>>(false)] {
            if (held->exchange(true)) return;
            for (int i = 0; i < 10000 && status_.Position() < 900; ++i)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            reachedSecond = status_.Position() >= 900;
            // A slow disk: a worker that went on now would find the first file not yet there.
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        });
        wizard_.codes.clear();
        status_.SetPosition(0);
        log_ = CInstallLog();
        Install();
        os_.SetHook(OsOp::Write, nullptr);
        EXPECT_TRUE(reachedSecond) << c.what << ": the first write was not held back";
        EXPECT_EQ(LastCode(), NOTIFY_DONE) << c.what << ": " << wizard_.failedText;
        EXPECT_EQ(ReadFile(dest).size(), c.expectedSize) << c.what;
        std::ifstream in(root_ / "src" / (c.expectedSize == 5000 ? "first" : "second"), std::ios::binary);
        EXPECT_TRUE(ReadFile(dest) == std::string(std::istreambuf_iterator<char>(in), {})) << c.what;
        std::size_t entries = 0;
        for (auto& e : std::filesystem::directory_iterator(host_.HostPath(kTool))) entries += e.exists();
        EXPECT_EQ(entries, 1u) << c.what << ": nothing left beside it";
        EXPECT_NE(log_.Text().find("FILE    " + dest + "\n"), std::string::npos) << c.what;
    }
}

}  // namespace
}  // namespace cabsetup::testing
