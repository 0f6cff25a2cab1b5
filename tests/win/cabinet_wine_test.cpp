// Our cabinets and packages read by the system's own cabinet interface
// (SetupIterateCabinetA), as setup.exe will read them.
#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <sstream>

#include "formats/cabinet_writer.h"
#include "manifest.h"
#include "package_builder.h"
#include "package_reader.h"
#include "unpack.h"
#include "wine_support.h"

namespace cabsetup {
namespace {

namespace fs = std::filesystem;

std::vector<unsigned char> Payload(std::size_t size, bool text) {
    std::mt19937 random(static_cast<unsigned>(size));
    std::vector<unsigned char> data(size);
    for (auto& b : data) b = static_cast<unsigned char>(text ? 'a' + random() % 12 : random());
    return data;
}

TEST(WineCabinets, SystemReaderUnpacksOurCabinets) {
    wine::TestFolder folder("Cabinets");
    for (CabinetCompression mode : {CabinetCompression::Stored, CabinetCompression::Mszip}) {
        for (std::size_t size : {1u, 32768u, 32769u, 200000u}) {
            for (bool text : {true, false}) {
                std::string label = std::to_string(size) + (text ? " text" : " random") +
                                    (mode == CabinetCompression::Mszip ? " mszip" : " stored");
                std::vector<unsigned char> data = Payload(size, text), cab;
                CabinetOptions options;
                options.compression = mode;
                ASSERT_TRUE(WriteSingleFileCabinet("file.bin", data.data(), data.size(), options, cab));
                ASSERT_TRUE(wine::WriteBytes(folder / "x.cab", cab));
                std::string error;
                ASSERT_TRUE(mksetup::UnpackSingleFile(folder / "x.cab", folder / "out.bin", error)) << label << error;
                std::string got = wine::ReadText(folder / "out.bin");
                EXPECT_EQ(got, std::string(data.begin(), data.end())) << label;

                cab[cab.size() - 7] ^= 0x10;  // a bit in the last block
                ASSERT_TRUE(wine::WriteBytes(folder / "x.cab", cab));
                EXPECT_FALSE(mksetup::UnpackSingleFile(folder / "x.cab", folder / "bad.bin", error)) << label;
                EXPECT_EQ(wine::ReadText(folder / "bad.bin"), "<missing>") << label;  // nothing left behind
            }
        }
    }
}

TEST(WineCabinets, VerifyTheExamplePackageWithTheSystemReader) {
    wine::TestFolder folder("ExamplePackage");
    mksetup::Manifest manifest;
    std::vector<std::string> errors;
    ASSERT_TRUE(mksetup::LoadManifest("Z:" CABSETUP_SOURCE_DIR "/examples/hello/manifest.toml", manifest, errors))
        << (errors.empty() ? "" : errors[0]);
    mksetup::BuildOptions options;
    options.outDir = folder / "out";
    mksetup::BuildResult result;
    std::string error;
    ASSERT_TRUE(mksetup::BuildPackage(manifest, options, result, error)) << error;
    std::ostringstream report;
    EXPECT_EQ(mksetup::VerifyPackage(options.outDir, &manifest, report), 0) << report.str();
    EXPECT_NE(report.str().find("bytes unpacked and checked"), std::string::npos) << report.str();
}

}  // namespace
}  // namespace cabsetup
