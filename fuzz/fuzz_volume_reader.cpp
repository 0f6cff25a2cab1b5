// Any bytes as a data set of two volumes (the first input byte picks where
// the first volume ends): the reader walks every record, copying cabinets,
// and must never crash, hang or read outside its buffers.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "formats/volume_reader.h"
#include "platform/host/host_os.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) return 0;
    std::size_t cut = std::min<std::size_t>(size - 1, 1 + data[0] * 8u);
    // Every file lives in memory: no disk write per input.
    cabsetup::HostOs os("/nonexistent-fuzz-sandbox");
    os.UseMemoryFiles();
    os.PutFile("D:\\Disk1\\Data.dat", data + 1, cut - 1);
    os.PutFile("D:\\Data2\\Data2.dat", data + cut, size - cut);
    cabsetup::VolumeReader reader(os);
    std::string dataFolder = "D:\\Disk1";
    reader.SetFindVolume([&](std::uint32_t k) { return cabsetup::FindVolumeWithoutAsking(reader, os.Mbcs(), dataFolder, k); });
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
