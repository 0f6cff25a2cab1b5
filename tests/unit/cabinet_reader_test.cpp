// The cabinet reader against our writer, gcab and libmspack, and against
// cabinets damaged in every way a header or block can lie.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <random>

#include "formats/cabinet_format.h"
#include "formats/cabinet_reader.h"
#include "formats/cabinet_writer.h"
#include "formats/little_endian.h"
#include "package_surgery.h"
#include "unpack.h"

namespace cabsetup {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

class MemorySource : public CabinetSource {
public:
    explicit MemorySource(const Bytes& bytes) : bytes_(bytes) {}
    bool Read(unsigned char* buffer, std::size_t size) override {
        if (size > bytes_.size() - at_) return false;
        std::copy_n(bytes_.begin() + static_cast<std::ptrdiff_t>(at_), size, buffer);
        at_ += size;
        return true;
    }
    std::size_t at_ = 0;

private:
    const Bytes& bytes_;
};

class MemorySink : public CabinetSink {
public:
    bool Write(const unsigned char* data, std::size_t size) override {
        out.insert(out.end(), data, data + size);
        return true;
    }
    Bytes out;
};

struct Decoded {
    CabinetShape shape = CabinetShape::Other;
    bool ok = false;  // decoded to the end
    Bytes out;
};

// Reads `cab` as a container of `containerSize` bytes (default: its own size).
Decoded Decode(const Bytes& cab, std::size_t containerSize = 0) {
    Bytes stream = cab;
    if (containerSize > stream.size()) stream.resize(containerSize, 0xAA);
    MemorySource source(stream);
    CabinetReader reader;
    std::uint32_t size = static_cast<std::uint32_t>(containerSize ? containerSize : cab.size());
    Decoded d;
    d.shape = reader.ReadHeader(source, size);
    MemorySink sink;
    if (d.shape == CabinetShape::OneFile) {
        d.ok = reader.Decode(source, &sink);
        // What the reader leaves must be exactly the rest of the container.
        if (d.ok) {
            EXPECT_EQ(source.at_ + reader.Remaining(), size);
        }
    } else {
        EXPECT_EQ(reader.Consumed().size(), source.at_);
    }
    d.out = std::move(sink.out);
    return d;
}

Bytes Payload(std::size_t size, bool text) {
    std::mt19937 random(static_cast<unsigned>(size));
    Bytes data(size);
    static const char kWords[] = "setup cabinet volume record folder ";
    for (auto& b : data)
        b = text ? static_cast<unsigned char>(kWords[random() % (sizeof kWords - 1)]) : static_cast<unsigned char>(random());
    return data;
}

Bytes Written(const Bytes& data, CabinetCompression mode) {
    Bytes cab;
    CabinetOptions options;
    options.compression = mode;
    EXPECT_TRUE(WriteSingleFileCabinet("file.bin", data.data(), data.size(), options, cab));
    return cab;
}

// Offsets in a cabinet our writer made (no reserve, name "file.bin").
constexpr std::size_t kFolderAt = 36, kFileAt = 44, kFirstBlockAt = 44 + 16 + 9;

std::size_t BlockAt(const Bytes& cab, unsigned n) {
    std::size_t at = kFirstBlockAt;
    while (n--) at += cab::kDataHeaderSize + le::U16(&cab[at + 4]);
    return at;
}


// MSZIP as other writers make it: each block's deflate stream may refer
// back into the block before (its dictionary), which our writer never does.
Bytes WithHistory(const Bytes& data) {
    Bytes cab = Written(data, CabinetCompression::Stored);
    Bytes out(cab.begin(), cab.begin() + kFirstBlockAt);  // header, folder and file entry
    le::PutU16(&out[kFolderAt + 6], cab::kCompressMszip);
    for (std::size_t at = 0; at < data.size(); at += cab::kBlockSize) {
        std::size_t n = std::min(cab::kBlockSize, data.size() - at);
        z_stream z{};
        deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
        if (at > 0) deflateSetDictionary(&z, &data[at - cab::kBlockSize], cab::kBlockSize);
        Bytes block(8 + 2 + deflateBound(&z, n));
        block[8] = 'C';
        block[9] = 'K';
        z.next_in = const_cast<Bytef*>(&data[at]);
        z.avail_in = static_cast<uInt>(n);
        z.next_out = &block[10];
        z.avail_out = static_cast<uInt>(block.size() - 10);
        EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
        block.resize(block.size() - z.avail_out);
        deflateEnd(&z);
        le::PutU16(&block[4], static_cast<std::uint16_t>(block.size() - 8));
        le::PutU16(&block[6], static_cast<std::uint16_t>(n));
        le::PutU32(&block[0], cab::Checksum(&block[4], 4, cab::Checksum(&block[8], block.size() - 8, 0)));
        out.insert(out.end(), block.begin(), block.end());
    }
    le::PutU32(&out[cab::kCabinetSizeAt], static_cast<std::uint32_t>(out.size()));
    return out;
}

// The writer's cabinet with reserve areas: 6 bytes in the header, 2 per
// folder, 3 per data block (not covered by the checksums).
Bytes WithReserves(const Bytes& plain, unsigned blocks) {
    Bytes cab(plain.begin(), plain.begin() + 36);
    le::PutU16(&cab[cab::kFlagsAt], cab::kFlagReserve);
    cab.insert(cab.end(), {6, 0, 2, 3, 'h', 'h', 'h', 'h', 'h', 'h'});
    std::size_t grow = 10 + 2;
    cab.insert(cab.end(), plain.begin() + kFolderAt, plain.begin() + kFileAt);
    cab.insert(cab.end(), {'f', 'f'});
    cab.insert(cab.end(), plain.begin() + kFileAt, plain.begin() + kFirstBlockAt);
    le::PutU32(&cab[kFolderAt + 10], static_cast<std::uint32_t>(kFirstBlockAt + grow));
    le::PutU32(&cab[cab::kFilesOffsetAt], static_cast<std::uint32_t>(kFileAt + grow));
    for (unsigned b = 0; b < blocks; ++b) {
        std::size_t at = BlockAt(plain, b), packed = le::U16(&plain[at + 4]);
        cab.insert(cab.end(), plain.begin() + at, plain.begin() + at + 8);
        cab.insert(cab.end(), {'d', 'd', 'd'});
        cab.insert(cab.end(), plain.begin() + at + 8, plain.begin() + at + 8 + packed);
    }
    le::PutU32(&cab[cab::kCabinetSizeAt], static_cast<std::uint32_t>(cab.size()));
    return cab;
}

class CabinetReaderTest : public ::testing::Test {
protected:
    CabinetReaderTest() : dir_(fs::temp_directory_path() / ("cabreader-" + std::to_string(getpid()))) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    ~CabinetReaderTest() override { fs::remove_all(dir_); }

    Bytes Load(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    }
    void Save(const fs::path& p, const Bytes& data) {
        std::ofstream(p, std::ios::binary).write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    }
    // gcab's cabinet of the given files (names in the folder), MSZIP or stored.
    Bytes Gcab(const std::vector<std::pair<std::string, Bytes>>& files, bool mszip) {
        std::string names;
        for (const auto& [name, data] : files) {
            Save(dir_ / name, data);
            names += " " + name;
        }
        std::string command = "cd " + dir_.string() + " && gcab -c " + (mszip ? "-z " : "") + "g.cab" + names + " >/dev/null 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0);
        return Load(dir_ / "g.cab");
    }
    // libmspack's reading of the same cabinet: the independent oracle.
    Bytes Mspack(const Bytes& cab) {
        Save(dir_ / "o.cab", cab);
        std::string error;
        EXPECT_TRUE(mksetup::UnpackSingleFile(dir_ / "o.cab", dir_ / "o.out", error)) << error;
        return Load(dir_ / "o.out");
    }

    fs::path dir_;
};

TEST_F(CabinetReaderTest, UnpacksWhatTheWriterAndGcabMake) {
    struct Case {
        std::size_t size;
        bool text;
    } cases[] = {{0, true}, {1, true}, {32768, true}, {32769, true}, {300000, true}, {100000, false}, {200000, false}};
    for (const Case& c : cases) {
        Bytes data = Payload(c.size, c.text);
        // Random bytes repeating every 20,000: each block starts with what the block before holds.
        if (c.size == 200000) {
            for (std::size_t i = 20000; i < data.size(); ++i) data[i] = data[i - 20000];
        }
        std::pair<const char*, Bytes> cabinets[] = {
            {"writer stored", Written(data, CabinetCompression::Stored)},
            {"writer mszip", Written(data, CabinetCompression::Mszip)},
            {"gcab stored", Gcab({{"file.bin", data}}, false)},
            {"gcab mszip", Gcab({{"file.bin", data}}, true)},
            {"mszip with history", WithHistory(data)},
        };
        for (const auto& [what, cab] : cabinets) {
            std::string label = std::string(what) + " " + std::to_string(c.size);
            Decoded d = Decode(cab);
            ASSERT_EQ(d.shape, CabinetShape::OneFile) << label;
            EXPECT_TRUE(d.ok) << label;
            EXPECT_TRUE(d.out == data) << label;
            if (c.size > 0) {
                EXPECT_TRUE(Mspack(cab) == data) << label;
            }
            // Bytes after the cabinet in its container are left for the caller.
            EXPECT_TRUE(Decode(cab, cab.size() + 7).ok) << label;
        }
    }
}

// Files larger than the reader's output buffer (32 KiB of history and 512
// KiB of output): each MSZIP block refers back up to 30,011 bytes into the
// block before, so the history must survive every turnover of the buffer.
TEST_F(CabinetReaderTest, MszipHistorySurvivesEveryTurnoverOfTheOutputBuffer) {
    constexpr std::size_t kBuffer = 32768 + 512 * 1024, kPeriod = 30011;
    for (std::size_t size : {kBuffer + 1, kBuffer + cab::kBlockSize + 5, 3 * kBuffer + 12345}) {
        // Pseudo-random blocks repeating: no match is shorter than the period.
        Bytes data = Payload(size, false);
        for (std::size_t i = kPeriod; i < data.size(); ++i) data[i] = data[i - kPeriod];
        const Bytes cab = WithHistory(data);
        // Compressed well below its size: the blocks do refer back.
        ASSERT_LT(cab.size(), size / 4) << size;
        Decoded d = Decode(cab);
        ASSERT_EQ(d.shape, CabinetShape::OneFile) << size;
        EXPECT_TRUE(d.ok) << size;
        ASSERT_EQ(d.out.size(), data.size()) << size;
        EXPECT_TRUE(std::equal(d.out.begin(), d.out.end(), data.begin())) << size;
        EXPECT_TRUE(Mspack(cab) == data) << size;
        // The same through our writer's blocks, which keep no history.
        Decoded plain = Decode(Written(data, CabinetCompression::Mszip));
        EXPECT_TRUE(plain.ok && plain.out == data) << size;
    }
}

TEST_F(CabinetReaderTest, ReservesAndCabinetsOfOtherShapes) {
    Bytes data = Payload(100000, true);
    Bytes reserved = WithReserves(Written(data, CabinetCompression::Mszip), 4);
    EXPECT_TRUE(Mspack(reserved) == data);  // the oracle agrees the edit is a valid cabinet
    Decoded d = Decode(reserved);
    EXPECT_EQ(d.shape, CabinetShape::OneFile);
    EXPECT_TRUE(d.ok && d.out == data);

    Bytes lzx = Written(data, CabinetCompression::Mszip);
    le::PutU16(&lzx[kFolderAt + 6], 0x1503);  // LZX, 21-bit window
    Bytes chained = Written(data, CabinetCompression::Stored);
    le::PutU16(&chained[cab::kFlagsAt], cab::kFlagNext);
    std::pair<const char*, Bytes> others[] = {
        {"two files", Gcab({{"a.bin", data}, {"b.bin", Payload(10, true)}}, true)},
        {"LZX", lzx},
        {"continued in a next cabinet", chained},
        {"not a cabinet", Bytes(200, 'x')},
        {"shorter than a header", Bytes{'M', 'S', 'C', 'F'}},
    };
    for (const auto& [what, cab] : others) EXPECT_EQ(Decode(cab).shape, CabinetShape::Other) << what;
}

TEST_F(CabinetReaderTest, DamageIsAnErrorNeverAWrongFile) {
    const Bytes data = Payload(100000, true);  // four blocks
    struct Case {
        const char* what;
        CabinetCompression mode;
        std::function<void(Bytes&)> damage;
        std::size_t container;  // 0: the cabinet's own size
        CabinetShape shape;     // Damaged, or OneFile when only the decoding fails
    } cases[] = {
        {"bad checksum", CabinetCompression::Mszip, [](Bytes& c) { c[BlockAt(c, 1) + 100] ^= 1; }, 0, CabinetShape::OneFile},
        {"bad checksum, stored", CabinetCompression::Stored, [](Bytes& c) { c[BlockAt(c, 3) + 9] ^= 1; }, 0, CabinetShape::OneFile},
        {"cut in a block", CabinetCompression::Mszip, [](Bytes& c) {
             c.resize(BlockAt(c, 2) + 50);
             le::PutU32(&c[cab::kCabinetSizeAt], static_cast<std::uint32_t>(c.size()));
         }, 0, CabinetShape::OneFile},
        {"longer than its container", CabinetCompression::Mszip, [](Bytes& c) { c.resize(c.size() - 10); },
         0, CabinetShape::Damaged},
        {"block inflates beyond its size", CabinetCompression::Mszip, [](Bytes& c) {
             le::PutU16(&c[BlockAt(c, 0) + 6], 32000);
             testing::FixBlockChecksum(c, BlockAt(c, 0));
         }, 0, CabinetShape::OneFile},
        {"block inflates short of its size", CabinetCompression::Mszip, [](Bytes& c) {
             std::size_t last = BlockAt(c, 3);
             le::PutU16(&c[last + 6], static_cast<std::uint16_t>(le::U16(&c[last + 6]) + 1));
             testing::FixBlockChecksum(c, last);
         }, 0, CabinetShape::OneFile},
        {"block without its CK", CabinetCompression::Mszip, [](Bytes& c) {
             c[BlockAt(c, 2) + 8] = 'X';
             testing::FixBlockChecksum(c, BlockAt(c, 2));
         }, 0, CabinetShape::OneFile},
        {"stored block of two sizes", CabinetCompression::Stored, [](Bytes& c) {
             le::PutU16(&c[BlockAt(c, 0) + 6], 30000);
             testing::FixBlockChecksum(c, BlockAt(c, 0));
         }, 0, CabinetShape::OneFile},
        {"data beyond the cabinet", CabinetCompression::Mszip, [](Bytes& c) { le::PutU32(&c[kFolderAt], 1u << 30); },
         0, CabinetShape::Damaged},
        {"file entry inside the folders", CabinetCompression::Mszip, [](Bytes& c) { le::PutU32(&c[cab::kFilesOffsetAt], 40); },
         0, CabinetShape::Damaged},
        // A file table that runs into the data area is refused, never read out of the blocks.
        {"file table starting where the data starts", CabinetCompression::Mszip,
         [](Bytes& c) { le::PutU32(&c[cab::kFilesOffsetAt], kFirstBlockAt); }, 0, CabinetShape::Damaged},
        {"file entry's fixed part running into the data", CabinetCompression::Mszip,
         [](Bytes& c) { le::PutU32(&c[cab::kFilesOffsetAt], kFirstBlockAt - 10); }, 0, CabinetShape::Damaged},
        {"data starting inside the file entry", CabinetCompression::Stored,
         [](Bytes& c) { le::PutU32(&c[kFolderAt], kFileAt + 12); }, 0, CabinetShape::Damaged},
        {"data starting inside the file's name", CabinetCompression::Stored,
         [](Bytes& c) { le::PutU32(&c[kFolderAt], kFileAt + 16 + 4); }, 0, CabinetShape::Damaged},
        {"file name without its end", CabinetCompression::Mszip, [](Bytes& c) { c[kFirstBlockAt - 1] = 'x'; },
         0, CabinetShape::Damaged},
        {"file in another folder", CabinetCompression::Mszip, [](Bytes& c) { le::PutU16(&c[kFileAt + 8], 1); },
         0, CabinetShape::Damaged},
        {"file larger than its blocks", CabinetCompression::Mszip, [](Bytes& c) { le::PutU32(&c[kFileAt], 200000); },
         0, CabinetShape::Damaged},
        {"file offset past the folder's end", CabinetCompression::Mszip, [](Bytes& c) { le::PutU32(&c[kFileAt + 4], 100); },
         0, CabinetShape::OneFile},
        {"more blocks than the cabinet holds", CabinetCompression::Stored, [](Bytes& c) { le::PutU16(&c[kFolderAt + 4], 5); },
         0, CabinetShape::OneFile},
    };
    for (const Case& c : cases) {
        Bytes cab = Written(data, c.mode);
        c.damage(cab);
        Decoded d = Decode(cab, c.container);
        EXPECT_EQ(d.shape, c.shape) << c.what;
        EXPECT_FALSE(d.ok) << c.what;
    }
    // A block whose writer computed no checksum is taken as it is.
    Bytes unsummed = Written(data, CabinetCompression::Mszip);
    le::PutU32(&unsummed[BlockAt(unsummed, 1)], 0);
    EXPECT_TRUE(Decode(unsummed).out == data);
}

// Blocks that refer back into the block before and blocks that do not,
// mixed in one file (a cabinet rewritten block by block), anywhere in it and
// across the output buffer's turnover; and one reader going on to the next
// cabinet after such a one.
TEST_F(CabinetReaderTest, ABlockThatRefersBackAmongBlocksThatDoNot) {
    constexpr std::size_t kPeriod = 30011, kBlocks = 41;
    Bytes data = Payload(40 * cab::kBlockSize + 5, false);
    for (std::size_t i = kPeriod; i < data.size(); ++i) data[i] = data[i - kPeriod];
    const Bytes plain = Written(data, CabinetCompression::Mszip), history = WithHistory(data);
    // The blocks of `history` at `from`, our writer's elsewhere.
    auto mixed = [&](std::initializer_list<unsigned> from) {
        Bytes cab(plain.begin(), plain.begin() + kFirstBlockAt);
        for (unsigned b = 0; b < kBlocks; ++b) {
            const Bytes& source = std::count(from.begin(), from.end(), b) ? history : plain;
            std::size_t at = BlockAt(source, b);
            cab.insert(cab.end(), source.begin() + at, source.begin() + at + 8 + le::U16(&source[at + 4]));
        }
        le::PutU32(&cab[cab::kCabinetSizeAt], static_cast<std::uint32_t>(cab.size()));
        return cab;
    };
    // Block 16 is the first after the output buffer turns over.
    for (auto from : {std::initializer_list<unsigned>{1}, {16}, {17, 30}, {40}}) {
        Bytes cab = mixed(from);
        std::string label = "history at block " + std::to_string(*from.begin());
        ASSERT_TRUE(Mspack(cab) == data) << label;  // the oracle agrees it is a valid cabinet
        Decoded d = Decode(cab);
        EXPECT_TRUE(d.ok && d.out == data) << label;
        // One reader, one cabinet after another: what the first needed does not change the next.
        MemorySource source(cab), again(plain);
        CabinetReader reader;
        MemorySink first, second;
        ASSERT_EQ(reader.ReadHeader(source, static_cast<std::uint32_t>(cab.size())), CabinetShape::OneFile);
        EXPECT_TRUE(reader.Decode(source, &first) && first.out == data) << label;
        ASSERT_EQ(reader.ReadHeader(again, static_cast<std::uint32_t>(plain.size())), CabinetShape::OneFile);
        EXPECT_TRUE(reader.Decode(again, &second) && second.out == data) << label;
    }
}

}  // namespace
}  // namespace cabsetup
