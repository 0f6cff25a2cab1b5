// Cabinets from our writer, read by three independent readers here:
// libmspack in-process, cabextract and gcab. (The system's own reader is
// tested under Wine.)
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include "formats/cabinet_format.h"
#include "formats/cabinet_writer.h"
#include "unpack.h"

namespace cabsetup {
namespace {

namespace fs = std::filesystem;

std::vector<unsigned char> Payload(std::size_t size, bool text) {
    std::mt19937 random(static_cast<unsigned>(size));
    std::vector<unsigned char> data(size);
    static const char kWords[] = "setup cabinet volume record folder ";
    for (std::size_t i = 0; i < size; ++i)
        data[i] = text ? static_cast<unsigned char>(kWords[random() % (sizeof kWords - 1)])
                       : static_cast<unsigned char>(random());
    return data;
}

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class CabinetWriterTest : public ::testing::Test {
protected:
    CabinetWriterTest() : dir_(fs::temp_directory_path() / ("cabwriter-" + std::to_string(getpid()))) {
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    ~CabinetWriterTest() override { fs::remove_all(dir_); }

    fs::path Write(const std::vector<unsigned char>& data, CabinetCompression compression, const std::string& name) {
        std::vector<unsigned char> cab;
        CabinetOptions options;
        options.compression = compression;
        EXPECT_TRUE(WriteSingleFileCabinet(name, data.data(), data.size(), options, cab));
        fs::path path = dir_ / "test.cab";
        std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(cab.data()), static_cast<std::streamsize>(cab.size()));
        return path;
    }
    int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

    fs::path dir_;
};

TEST_F(CabinetWriterTest, ThreeReadersUnpackEverySizeAndMode) {
    struct Case {
        std::size_t size;
        bool text;
    } cases[] = {{1, true}, {1000, true}, {32768, true}, {32769, false}, {100000, true}, {70000, false}, {300000, true}};
    for (CabinetCompression mode : {CabinetCompression::Stored, CabinetCompression::Mszip}) {
        for (const Case& c : cases) {
            std::string label = std::to_string(c.size) + (mode == CabinetCompression::Mszip ? " mszip" : " stored");
            std::vector<unsigned char> data = Payload(c.size, c.text);
            fs::path cab = Write(data, mode, "file.bin");
            std::string want(data.begin(), data.end());

            std::string error;
            ASSERT_TRUE(mksetup::UnpackSingleFile(cab, dir_ / "mspack.out", error)) << label << ": " << error;
            EXPECT_EQ(Slurp(dir_ / "mspack.out"), want) << label;

            EXPECT_EQ(Run("cabextract -t -q " + cab.string()), 0) << label;
            fs::remove_all(dir_ / "x");
            EXPECT_EQ(Run("cabextract -q -d " + (dir_ / "x").string() + " " + cab.string()), 0) << label;
            EXPECT_EQ(Slurp(dir_ / "x" / "file.bin"), want) << label;

            EXPECT_EQ(Run("gcab -t " + cab.string()), 0) << label;
            fs::remove_all(dir_ / "g");
            fs::create_directories(dir_ / "g");
            EXPECT_EQ(Run("gcab -x -C " + (dir_ / "g").string() + " " + cab.string()), 0) << label;
            EXPECT_EQ(Slurp(dir_ / "g" / "file.bin"), want) << label;
        }
    }
}

TEST_F(CabinetWriterTest, CorruptionIsCaughtByTheBlockChecksums) {
    for (CabinetCompression mode : {CabinetCompression::Stored, CabinetCompression::Mszip}) {
        std::vector<unsigned char> data = Payload(50000, true);
        fs::path cab = Write(data, mode, "file.bin");
        std::string bytes = Slurp(cab);
        bytes[bytes.size() - 100] ^= 0x01;  // one bit in the last block's data
        std::ofstream(cab, std::ios::binary | std::ios::trunc) << bytes;
        std::string error;
        EXPECT_FALSE(mksetup::UnpackSingleFile(cab, dir_ / "out", error));
        EXPECT_NE(Run("cabextract -t -q " + cab.string()), 0);
    }
}

TEST(CabinetChecksum, KnownValues) {
    const unsigned char bytes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    // Whole words are XORed little-endian; the 3 left over form 9<<16|10<<8|11.
    std::uint32_t expected = 0x04030201u ^ 0x08070605u ^ 0x00090A0Bu;
    EXPECT_EQ(cab::Checksum(bytes, sizeof bytes, 0), expected);
    EXPECT_EQ(cab::Checksum(bytes, 4, 0xFFFFFFFFu), 0x04030201u ^ 0xFFFFFFFFu);
    EXPECT_EQ(cab::Checksum(bytes, 0, 7), 7u);
}

TEST(CabinetWriter, SameInputSameBytes) {
    std::vector<unsigned char> data = Payload(70000, true), a, b;
    ASSERT_TRUE(WriteSingleFileCabinet("x", data.data(), data.size(), {}, a));
    ASSERT_TRUE(WriteSingleFileCabinet("x", data.data(), data.size(), {}, b));
    EXPECT_EQ(a, b);
    EXPECT_LT(a.size(), data.size() * 7 / 10);
}

}  // namespace
}  // namespace cabsetup
