// Any bytes as a data set of two volumes (the first input byte picks where
// the first volume ends): the reader walks every record, copying cabinets,
// and must never crash, hang or read outside its buffers.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>

#include "formats/volume_reader.h"
#include "platform/host/host_os.h"

namespace {

namespace fs = std::filesystem;

const fs::path& Sandbox() {
    static const fs::path dir = [] {
        fs::path d = fs::temp_directory_path() / ("fuzz-volumes-" + std::to_string(getpid()));
        fs::create_directories(d / "D" / "Disk1");
        fs::create_directories(d / "D" / "Data2");
        return d;
    }();
    return dir;
}

void Put(const fs::path& p, const std::uint8_t* data, std::size_t size) {
    std::ofstream(p, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    std::size_t cut = std::min<std::size_t>(size - 1, 1 + data[0] * 8u);
    Put(Sandbox() / "D" / "Disk1" / "Data.dat", data + 1, cut - 1);
    Put(Sandbox() / "D" / "Data2" / "Data2.dat", data + cut, size - cut);

    cabsetup::HostOs os(Sandbox());
    cabsetup::VolumeReader reader(os);
    reader.SetFindVolume([&](std::uint32_t k) {
        cabsetup::VolumePlaces p = cabsetup::PlacesOfVolume(os.Mbcs(), "D:\\Disk1", reader.CurrentHeader().setType, k);
        if (reader.IsContinuationFile(p.first, k)) return p.first;
        return reader.IsContinuationFile(p.second, k) ? p.second : std::string();
    });
    std::string version;
    if (!reader.IsVolumeFile("D:\\Disk1\\Data.dat") || !reader.OpenVolume("D:\\Disk1\\Data.dat", &version)) return 0;
    // Bounded by the bytes there are: every record takes 288 of them.
    for (std::uint32_t i = 0; i < reader.CurrentHeader().cabinetCount && i <= size / 288; ++i) {
        cabsetup::CabinetRecord r;
        if (!reader.ReadCabinetRecord(r)) break;
        // Copy small cabinets, skip large ones: both paths get exercised.
        if (!reader.CopyCabinetData(r, "D:\\cab", r.cabinetSize < 4096)) break;
    }
    return 0;
}
