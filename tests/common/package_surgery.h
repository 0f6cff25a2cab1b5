// Cabinets and volume edits the builder never makes, for the engine's tests
// on the host and under Wine.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "formats/cabinet_format.h"
#include "formats/little_endian.h"
#include "formats/volume_format.h"

namespace cabsetup::testing {

using Bytes = std::vector<unsigned char>;

// A stored cabinet of two files in one folder (at most 32 KiB together):
// a shape the engine leaves to the system's cabinet interface.
inline Bytes TwoFileCabinet(const Bytes& first, const Bytes& second) {
    const std::string names[] = {"one.bin", "two.bin"};
    const std::size_t dataAt = cab::kHeaderSize + cab::kFolderSize + 2 * (cab::kFileFixedSize + 8);
    Bytes data = first;
    data.insert(data.end(), second.begin(), second.end());
    Bytes c(dataAt + cab::kDataHeaderSize + data.size(), 0);
    std::copy_n("MSCF", 4, c.begin());
    le::PutU32(&c[cab::kCabinetSizeAt], static_cast<std::uint32_t>(c.size()));
    le::PutU32(&c[cab::kFilesOffsetAt], static_cast<std::uint32_t>(cab::kHeaderSize + cab::kFolderSize));
    c[24] = 3, c[25] = 1;
    le::PutU16(&c[cab::kFolderCountAt], 1);
    le::PutU16(&c[cab::kFileCountAt], 2);
    le::PutU32(&c[cab::kHeaderSize], static_cast<std::uint32_t>(dataAt));
    le::PutU16(&c[cab::kHeaderSize + 4], 1);  // one block, stored
    std::size_t at = cab::kHeaderSize + cab::kFolderSize, offset = 0;
    for (int i = 0; i < 2; ++i) {
        std::size_t size = i == 0 ? first.size() : second.size();
        le::PutU32(&c[at], static_cast<std::uint32_t>(size));
        le::PutU32(&c[at + 4], static_cast<std::uint32_t>(offset));
        le::PutU16(&c[at + 14], cab::kFileAttrArchive);
        std::copy(names[i].begin(), names[i].end(), c.begin() + static_cast<std::ptrdiff_t>(at + 16));
        at += cab::kFileFixedSize + 8;
        offset += size;
    }
    le::PutU16(&c[dataAt + 4], static_cast<std::uint16_t>(data.size()));
    le::PutU16(&c[dataAt + 6], static_cast<std::uint16_t>(data.size()));
    std::copy(data.begin(), data.end(), c.begin() + static_cast<std::ptrdiff_t>(dataAt + cab::kDataHeaderSize));
    le::PutU32(&c[dataAt], cab::Checksum(&c[dataAt + 4], 4, cab::Checksum(data.data(), data.size(), 0)));
    return c;
}

// Where the first record's cabinet starts in a main set's first volume.
constexpr std::size_t kFirstCabinetAt = kVolumeHeaderSize + kCabinetRecordSize;

// The first record's cabinet in a main set's first volume, replaced by `cabinet`.
inline void ReplaceFirstCabinet(Bytes& volume, const Bytes& cabinet) {
    std::size_t old = le::U32(&volume[kVolumeHeaderSize + 260]);
    volume.erase(volume.begin() + kFirstCabinetAt, volume.begin() + static_cast<std::ptrdiff_t>(kFirstCabinetAt + old));
    volume.insert(volume.begin() + kFirstCabinetAt, cabinet.begin(), cabinet.end());
    le::PutU32(&volume[kVolumeHeaderSize + 260], static_cast<std::uint32_t>(cabinet.size()));
}

// The checksum of the data block at `block` (an offset in `bytes`) made right again after an edit.
inline void FixBlockChecksum(Bytes& bytes, std::size_t block) {
    std::size_t packed = le::U16(&bytes[block + 4]);
    le::PutU32(&bytes[block], cab::Checksum(&bytes[block + 4], 4, cab::Checksum(&bytes[block + 8], packed, 0)));
}

}  // namespace cabsetup::testing
