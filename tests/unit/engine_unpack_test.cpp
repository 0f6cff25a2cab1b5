// The engine's own cabinet reader inside the engine: MSZIP files across a
// disk change, damaged cabinets and failing writes (the old file always
// comes back, nothing new is left), and cabinets it leaves to the system's
// interface. (EngineUnpack: these do not run again through that interface.)
#include <gtest/gtest.h>

#include <functional>

#include "app/switches.h"
#include "engine_fixture.h"
#include "package_surgery.h"

namespace cabsetup::testing {
namespace {

using EngineUnpack = EngineTest;
constexpr char kDest[] = "C:\\Program Files\\Tool\\a.bin";

TEST_F(EngineUnpack, MszipFilesAcrossDiskChanges) {
    mksetup::Manifest m;
    m.medium.volumeSize = 30000;  // boundaries fall inside the cabinets' blocks
    std::vector<std::filesystem::path> sources;
    for (int i = 0; i < 3; ++i) {
        sources.push_back(Payload("m" + std::to_string(i), 50000 + i, 4));
        m.files.push_back(File(sources.back(), "<TARGET_DIR>\\m" + std::to_string(i)));
    }
    Build(m, "disk1");
    ASSERT_TRUE(Exists("C:\\disk1\\Data2.dat"));
    std::vector<std::string> answers;
    for (int k = 2; Exists("C:\\disk1\\Data" + std::to_string(k) + ".dat"); ++k) {
        std::string name = "Data" + std::to_string(k) + ".dat";
        std::filesystem::create_directories(root_ / "C" / ("disk" + std::to_string(k)));
        std::filesystem::rename(root_ / "C" / "disk1" / name, root_ / "C" / ("disk" + std::to_string(k)) / name);
        answers.push_back("C:\\disk" + std::to_string(k) + "\\" + name);
    }
    state_.sourceDir = "C:\\disk1";
    wizard_.answers.assign(answers.begin(), answers.end());
    Install();
    EXPECT_EQ(LastCode(), NOTIFY_DONE) << wizard_.failedText;
    EXPECT_EQ(wizard_.questions.size(), answers.size());
    for (int i = 0; i < 3; ++i) {
        std::ifstream in(sources[i], std::ios::binary);
        std::string want(std::istreambuf_iterator<char>(in), {});
        EXPECT_EQ(ReadFile("C:\\Program Files\\Tool\\m" + std::to_string(i)), want) << i;
    }
}

TEST_F(EngineUnpack, DamageOrAFailedWriteKeepsTheOldFileAndLeavesNothingNew) {
    struct Case {
        const char* what;
        std::function<void(Bytes& volume, std::size_t firstBlock)> damage;  // of Data.dat
        std::function<void()> arrange;
        unsigned switches = 0;
    } cases[] = {
        {"bad checksum", [](Bytes& v, std::size_t b) { v[b + 8 + 300] ^= 1; }, nullptr},
        {"volume cut inside a block", [](Bytes& v, std::size_t b) { v.resize(b + 2000); }, nullptr},
        {"block inflating beyond its size", [](Bytes& v, std::size_t b) {
             le::PutU16(&v[b + 6], 30000);
             FixBlockChecksum(v, b);
         }, nullptr},
        {"header longer than its record", [](Bytes& v, std::size_t) {
             le::PutU32(&v[kFirstCabinetAt + cab::kCabinetSizeAt], 1u << 20);
         }, nullptr},
        {"file offset outside its folder", [](Bytes& v, std::size_t) {
             std::size_t file = kFirstCabinetAt + le::U32(&v[kFirstCabinetAt + cab::kFilesOffsetAt]);
             le::PutU32(&v[file + 4], 100);
         }, nullptr},
        {"write fails", nullptr, [this] { os_.FailNth(OsOp::Write, 1); }},
        {"putting it in place fails", nullptr, [this] { os_.FailNth(OsOp::PutInPlace, 1); }},
        {"/p: the dry run finds the bad block", [](Bytes& v, std::size_t b) { v[b + 8 + 300] ^= 1; }, nullptr,
         kSwitchNoChanges},
    };
    mksetup::Manifest m;
    m.files.push_back(File(Payload("a", 100000), "<TARGET_DIR>\\a.bin", ReplaceAlways));
    for (const Case& c : cases) {
        std::filesystem::remove_all(root_ / "C");
        std::filesystem::create_directories(root_ / "C" / "work");
        Build(m);
        if (c.damage) {
            std::string text = ReadFile("C:\\pkg\\Data.dat");
            Bytes volume(text.begin(), text.end());
            c.damage(volume, kFirstCabinetAt + le::U32(&volume[kFirstCabinetAt + cab::kHeaderSize]));
            WriteFile("C:\\pkg\\Data.dat", volume);
        }
        WriteFile(kDest, "the old a");
        if (c.arrange) c.arrange();
        state_.switchFlags = kSwitchUnattended | kSwitchStatusFile | c.switches;
        wizard_.codes.clear();
        Install();
        os_.Reset();
        EXPECT_EQ(LastCode(), NOTIFY_FAILED) << c.what;
        EXPECT_EQ(wizard_.failedText, "Can't find data file.") << c.what;
        EXPECT_EQ(ReadFile(kDest), "the old a") << c.what;
        for (const char* left : {".cabsetup-new", ".cabsetup-old"})
            EXPECT_FALSE(Exists(std::string(kDest) + left)) << c.what << left;
    }
}

TEST_F(EngineUnpack, CabinetOfAnotherKindGoesThroughTheSystemInterface) {
    mksetup::Manifest m;
    std::filesystem::path source = Payload("a", 5000);
    m.files.push_back(File(source, "<TARGET_DIR>\\a.bin"));
    Build(m);
    std::string text = ReadFile("C:\\pkg\\Data.dat");
    Bytes volume(text.begin(), text.end());
    std::ifstream in(source, std::ios::binary);
    Bytes want(std::istreambuf_iterator<char>(in), {});
    // The interface unpacks both files to the record's destination: the second stays.
    ReplaceFirstCabinet(volume, TwoFileCabinet(Bytes(10, 'x'), want));
    WriteFile("C:\\pkg\\Data.dat", volume);
    for (unsigned switches : {unsigned(kSwitchNoChanges), 0u}) {
        state_.switchFlags = switches;
        os_.FailNth(OsOp::ExtractCabinet, 0);
        wizard_.codes.clear();
        Install();
        EXPECT_EQ(LastCode(), NOTIFY_DONE) << switches << wizard_.failedText;
        EXPECT_EQ(os_.Calls(OsOp::ExtractCabinet), switches ? 0 : 1) << switches;
        EXPECT_EQ(Exists(kDest), switches == 0) << switches;
    }
    EXPECT_EQ(ReadFile(kDest), std::string(want.begin(), want.end()));
    EXPECT_TRUE(WorkspaceGone());
}

}  // namespace
}  // namespace cabsetup::testing
