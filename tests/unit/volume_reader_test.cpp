#include <gtest/gtest.h>

#include <random>

#include "formats/little_endian.h"
#include "formats/volume_reader.h"
#include "platform/sha256.h"
#include "host_sandbox.h"
#include "volume_set_writer.h"

namespace cabsetup {
namespace {

using mksetup::Layout;
using mksetup::Medium;
using mksetup::VolumeSetWriter;

// One entry of a hand-made stream: a record and `size` bytes standing in for
// its cabinet (the reader does not look inside).
struct Piece {
    std::uint32_t size;
    std::vector<unsigned char> data;
};

class VolumeReaderTest : public testing::HostSandbox {
protected:
    // Writes a set into D:\Disk1 (first volume) and sibling folders D:\DataN.
    std::vector<Piece> WriteSet(std::uint64_t volumeSize, std::vector<std::uint32_t> sizes,
                                std::uint32_t setType = kSetTypeMain, std::uint32_t spanId = 0x5EED) {
        Medium medium;
        medium.volumeSize = volumeSize;
        medium.layout = Layout::Folders;
        VolumeSetWriter writer(medium, root_ / "D" / "Disk1", root_ / "D");
        VolumeHeader h{kVolumeMagic, setType, "Label", static_cast<std::uint32_t>(sizes.size()),
                       volumeSize ? spanId : 0, kVolumeFormatVersion};
        EXPECT_TRUE(writer.Begin(h, "7.1.2"));
        std::mt19937 random(42);
        std::vector<Piece> pieces;
        std::uint32_t first = setType == kSetTypeLinked ? kFirstLinkedCabinet : 0;
        for (std::size_t i = 0; i < sizes.size(); ++i) {
            Piece p{sizes[i], std::vector<unsigned char>(sizes[i])};
            for (auto& b : p.data) b = static_cast<unsigned char>(random());
            unsigned char record[kCabinetRecordSize];
            EXPECT_TRUE(WriteCabinetRecord({"<TARGET_DIR>\\f" + std::to_string(i), first + static_cast<std::uint32_t>(i),
                                            sizes[i], sizes[i] * 2, ReplaceIfSizeDiffers},
                                           record));
            EXPECT_TRUE(writer.Append(record, sizeof record));
            EXPECT_TRUE(writer.Append(p.data.data(), p.data.size()));
            pieces.push_back(std::move(p));
        }
        EXPECT_TRUE(writer.Finish()) << writer.Error();
        volumes_ = writer.Volumes().size();
        return pieces;
    }

    // The search setup.exe makes without asking: data folder, then sibling.
    void UseSiblingSearch(VolumeReader& reader) {
        reader.SetFindVolume(
            [this, &reader](std::uint32_t k) { return FindVolumeWithoutAsking(reader, os_.Mbcs(), dataFolder_, k); });
    }

    // Reads every record and cabinet back; returns the (volume, offset) of each record.
    std::vector<std::pair<std::uint32_t, std::uint64_t>> ReadBack(VolumeReader& reader, const std::vector<Piece>& pieces,
                                                                  std::uint32_t firstNumber = 0) {
        std::vector<std::pair<std::uint32_t, std::uint64_t>> starts;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            starts.emplace_back(reader.VolumeIndex(), reader.Offset());
            CabinetRecord r;
            EXPECT_TRUE(reader.ReadCabinetRecord(r)) << i;
            EXPECT_EQ(r.targetPath, "<TARGET_DIR>\\f" + std::to_string(i));
            EXPECT_EQ(r.cabinetNumber, firstNumber + i);
            EXPECT_EQ(r.cabinetSize, pieces[i].size);
            EXPECT_TRUE(reader.CopyCabinetData(r, "C:\\work\\cab", true)) << i;
            std::string copied = ReadFile("C:\\work\\cab");
            EXPECT_EQ(std::vector<unsigned char>(copied.begin(), copied.end()), pieces[i].data)
                << "cabinet " << i << " differs";
        }
        return starts;
    }

    std::string dataFolder_ = "D:\\Disk1";
    std::size_t volumes_ = 0;
};

TEST_F(VolumeReaderTest, ReadsAcrossEveryKindOfBoundary) {
    // 4096-byte volumes: the first holds 3812 stream bytes, the others 4076.
    // Record 1 starts exactly at volume 2's start; record 2 is cut by the
    // boundary; cabinet 2 runs through three volumes; an empty cabinet follows.
    auto pieces = WriteSet(4096, {3812 - 288, 3600, 10000, 0, 100});
    ASSERT_GE(volumes_, 5u);
    VolumeReader reader(os_);
    UseSiblingSearch(reader);
    ASSERT_TRUE(reader.OpenVolume("D:\\Disk1\\Data.dat"));
    auto starts = ReadBack(reader, pieces);
    // Record 1 begins where Data.dat ends: it is read whole from Data2.dat.
    EXPECT_EQ(starts[1], std::make_pair(0u, std::uint64_t{4096}));
    EXPECT_EQ(starts[2].first, 1u);
    EXPECT_EQ(starts[2].second, 20u + 288 + 3600);
    EXPECT_GT(starts[2].second + kCabinetRecordSize, 4096u);  // record 2 is cut
    EXPECT_EQ(reader.Offset(), reader.VolumeLength());
    EXPECT_EQ(dataFolder_, "D:\\Data" + std::to_string(volumes_));  // the data folder followed the medium
}

TEST_F(VolumeReaderTest, SkippingMovesThroughTheSameBoundaries) {
    auto pieces = WriteSet(4096, {3812 - 288, 3600, 10000, 0, 100});
    VolumeReader reader(os_);
    UseSiblingSearch(reader);
    ASSERT_TRUE(reader.OpenVolume("D:\\Disk1\\Data.dat"));
    for (std::size_t i = 0; i < pieces.size(); ++i) {
        CabinetRecord r;
        ASSERT_TRUE(reader.ReadCabinetRecord(r)) << i;
        EXPECT_EQ(r.cabinetNumber, i);
        ASSERT_TRUE(reader.CopyCabinetData(r, "", false)) << i;
    }
    EXPECT_EQ(reader.Offset(), reader.VolumeLength());
}

// The stream is read ahead in large pieces: whatever mixes of small and
// large reads, skips and tapped bytes ask for it, on one volume or across
// volumes smaller and larger than one piece read ahead, every byte arrives
// once and in order, and a package of small files costs a few reads.
TEST_F(VolumeReaderTest, ReadAheadHandsOutEveryByteOnceWhateverIsAskedFor) {
    std::mt19937 random(7);
    std::vector<std::uint32_t> sizes;
    std::uint64_t total = 0;
    for (int i = 0; i < 300; ++i) {
        sizes.push_back(i % 50 == 7 ? 150000 + i : static_cast<std::uint32_t>(random() % 3000));
        total += kCabinetRecordSize + sizes.back();
    }
    for (std::uint64_t volumeSize : {std::uint64_t{0}, std::uint64_t{70000}, std::uint64_t{4096}}) {
        std::filesystem::remove_all(root_ / "D");
        std::filesystem::create_directories(root_ / "D");
        const auto pieces = WriteSet(volumeSize, sizes);
        VolumeReader reader(os_);
        dataFolder_ = "D:\\Disk1";
        UseSiblingSearch(reader);
        ASSERT_TRUE(reader.OpenVolume("D:\\Disk1\\Data.dat"));
        os_.Reset();
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            const std::string what = "volumes of " + std::to_string(volumeSize) + ", cabinet " + std::to_string(i);
            CabinetRecord r;
            ASSERT_TRUE(reader.ReadCabinetRecord(r)) << what;
            ASSERT_EQ(r.cabinetSize, pieces[i].size) << what;
            Sha256 tapped;
            if (i % 3 == 1) reader.Tap(&tapped);
            if (i % 4 == 3) {
                ASSERT_TRUE(reader.Skip(r.cabinetSize)) << what;
            } else {
                // In pieces of every size: a few bytes, a block's, one of 64 KiB or more.
                std::vector<unsigned char> got(r.cabinetSize);
                for (std::size_t at = 0, n = 0; at < got.size(); at += n) {
                    static const std::size_t kSizes[] = {1, 8, 7000, 32768, 65536, 100000};
                    n = std::min(kSizes[random() % 6], got.size() - at);
                    ASSERT_TRUE(reader.Read(got.data() + at, n)) << what;
                }
                EXPECT_TRUE(got == pieces[i].data) << what;
            }
            if (i % 3 == 1) {
                reader.Tap(nullptr);
                Sha256 expected;
                expected.Update(pieces[i].data.data(), pieces[i].data.size());
                EXPECT_TRUE(tapped.Final() == expected.Final()) << what << ": the tap saw other bytes";
            }
        }
        EXPECT_EQ(reader.Offset(), reader.VolumeLength());
        CabinetRecord past;
        EXPECT_FALSE(reader.ReadCabinetRecord(past)) << "nothing after the last cabinet";
        if (volumeSize == 0) {
            // About one read for each 64 KiB of the stream, and one for each large read.
            EXPECT_LE(os_.Calls(OsOp::Read), static_cast<int>(total / 65536 + 3 * 6 + 10));
        }
    }
}

TEST_F(VolumeReaderTest, LinkedSetStartsAfterItsVersionText) {
    auto pieces = WriteSet(0, {10, 20}, kSetTypeLinked);
    VolumeReader reader(os_);
    EXPECT_TRUE(reader.IsLinkedVolumeFile("Label", "D:\\Disk1\\Data-A.dat"));
    EXPECT_FALSE(reader.IsLinkedVolumeFile("label", "D:\\Disk1\\Data-A.dat"));
    EXPECT_FALSE(reader.IsVolumeFile("D:\\Disk1\\Data.dat"));
    std::string version;
    ASSERT_TRUE(reader.OpenVolume("D:\\Disk1\\Data-A.dat", &version));
    EXPECT_EQ(version, "7.1.2");
    EXPECT_EQ(reader.Offset(), 540u);
    ReadBack(reader, pieces, kFirstLinkedCabinet);
}

TEST_F(VolumeReaderTest, SingleVolumeSetNeverLooksFurther) {
    WriteSet(0, {100, 200});
    VolumeReader reader(os_);
    int searches = 0;
    reader.SetFindVolume([&](std::uint32_t) {
        ++searches;
        return std::string("D:\\Disk1\\Data.dat");
    });
    ASSERT_TRUE(reader.OpenVolume("D:\\Disk1\\Data.dat"));
    EXPECT_EQ(reader.CurrentHeader().spanId, 0u);
    CabinetRecord r;
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(reader.ReadCabinetRecord(r) && reader.CopyCabinetData(r, "", false));
    EXPECT_FALSE(reader.ReadCabinetRecord(r));  // a short read at the end is a failure
    EXPECT_EQ(searches, 0);
}

TEST_F(VolumeReaderTest, ContinuationTests) {
    WriteSet(4096, {5000});
    VolumeReader reader(os_);
    ASSERT_TRUE(reader.OpenVolume("D:\\Disk1\\Data.dat"));
    const std::string good = "D:\\Data2\\Data2.dat";
    EXPECT_TRUE(reader.IsContinuationFile(good, 1));
    EXPECT_FALSE(reader.IsContinuationFile(good, 2));  // wrong volume index

    std::string bytes = ReadFile(good);
    auto variant = [&](auto change) {
        std::vector<unsigned char> b(bytes.begin(), bytes.end());
        change(b);
        WriteFile("D:\\Other\\Data2.dat", b);
        return reader.IsContinuationFile("D:\\Other\\Data2.dat", 1);
    };
    EXPECT_TRUE(variant([](auto&) {}));
    EXPECT_FALSE(variant([](auto& b) { le::PutU32(&b[12], 0x1234); }));  // another package's span id
    EXPECT_FALSE(variant([](auto& b) { b.push_back(0); }));               // length differs from dataLength
    EXPECT_FALSE(variant([](auto& b) { b[0] = 0; }));                     // magic
    EXPECT_FALSE(variant([](auto& b) { b.resize(19); }));
    WriteFile("D:\\Tiny.dat", std::vector<unsigned char>{0x57, 0x44, 0x33});
    EXPECT_FALSE(reader.IsVolumeFile("D:\\Tiny.dat"));  // shorter than 4 bytes
}

TEST_F(VolumeReaderTest, FailuresOfTheMedium) {
    struct Case {
        const char* what;
        OsOp op;
        int nth;
        bool write;
    } cases[] = {
        {"read error in the middle of a cabinet", OsOp::Read, 4, true},
        {"seek error while skipping", OsOp::Seek, 1, false},
        {"full disk while copying the cabinet", OsOp::Write, 2, true},
        {"cabinet copy cannot be created", OsOp::CreateAlways, 1, true},
        {"next volume cannot be opened", OsOp::OpenRead, 3, false},
    };
    WriteSet(4096, {200000});
    for (const Case& c : cases) {
        VolumeReader reader(os_);
        dataFolder_ = "D:\\Disk1";
        UseSiblingSearch(reader);
        ASSERT_TRUE(reader.OpenVolume("D:\\Disk1\\Data.dat"));
        CabinetRecord r;
        ASSERT_TRUE(reader.ReadCabinetRecord(r));
        os_.FailNth(c.op, c.nth);
        EXPECT_FALSE(reader.CopyCabinetData(r, "C:\\work\\cab", c.write)) << c.what;
        os_.FailNth(c.op, 0);
    }
}

TEST_F(VolumeReaderTest, MissingOrForeignNextVolumeFails) {
    WriteSet(4096, {9000});
    std::filesystem::remove_all(root_ / "D" / "Data3");
    VolumeReader reader(os_);
    UseSiblingSearch(reader);
    ASSERT_TRUE(reader.OpenVolume("D:\\Disk1\\Data.dat"));
    CabinetRecord r;
    ASSERT_TRUE(reader.ReadCabinetRecord(r));
    EXPECT_FALSE(reader.CopyCabinetData(r, "C:\\work\\cab", true));

    // A search that answers with a volume of another set is not read on from.
    VolumeReader swapped(os_);
    swapped.SetFindVolume([](std::uint32_t) { return std::string("D:\\Disk1\\Data.dat"); });
    ASSERT_TRUE(swapped.OpenVolume("D:\\Disk1\\Data.dat"));
    ASSERT_TRUE(swapped.ReadCabinetRecord(r));
    EXPECT_FALSE(swapped.CopyCabinetData(r, "", false));
}

TEST_F(VolumeReaderTest, HeaderChecks) {
    WriteSet(0, {1});
    std::string bytes = ReadFile("D:\\Disk1\\Data.dat");
    struct Case {
        const char* what;
        std::size_t offset;
        std::uint32_t value;
    } cases[] = {{"magic", 0, 0x22334458}, {"format version", 276, 0x1000}};
    for (const Case& c : cases) {
        std::vector<unsigned char> b(bytes.begin(), bytes.end());
        le::PutU32(&b[c.offset], c.value);
        WriteFile("D:\\Bad\\Data.dat", b);
        VolumeReader reader(os_);
        EXPECT_FALSE(reader.OpenVolume("D:\\Bad\\Data.dat")) << c.what;
    }
    WriteFile("D:\\Bad\\Data.dat", std::vector<unsigned char>(bytes.begin(), bytes.begin() + 283));
    VolumeReader reader(os_);
    EXPECT_FALSE(reader.OpenVolume("D:\\Bad\\Data.dat"));
}

TEST(VolumePlaces, NamesAndPlaces) {
    TableCodePage cp(1252);
    struct Case {
        std::uint32_t setType, k;
        const char *name, *first, *second, *secondFolder;
    } cases[] = {
        {1, 0, "Data.dat", "D:\\CD\\Setup\\Data.dat", "", ""},
        {3, 1, "Data2.dat", "D:\\CD\\Setup\\Data2.dat", "D:\\CD\\Data2\\Data2.dat", "D:\\CD\\Data2"},
        {1, 11, "Data12.dat", "D:\\CD\\Setup\\Data12.dat", "D:\\CD\\Data12\\Data12.dat", "D:\\CD\\Data12"},
        {2, 0, "Data-A.dat", "D:\\CD\\Setup\\Data-A.dat", "D:\\CD\\Data-A\\Data-A.dat", "D:\\CD\\Data-A"},
        {2, 2, "Data-C.dat", "D:\\CD\\Setup\\Data-C.dat", "D:\\CD\\Data-C\\Data-C.dat", "D:\\CD\\Data-C"},
        {4, 1, "", "", "", ""},
    };
    for (const Case& c : cases) {
        VolumePlaces p = PlacesOfVolume(cp, "D:\\CD\\Setup", c.setType, c.k);
        EXPECT_EQ(p.name, c.name);
        EXPECT_EQ(p.first, c.first);
        EXPECT_EQ(p.second, c.second);
        EXPECT_EQ(p.secondFolder, c.secondFolder);
    }
}

}  // namespace
}  // namespace cabsetup
