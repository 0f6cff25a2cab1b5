// The fixed layout of a Microsoft Cabinet, shared by its writer and reader.
#pragma once

#include <cstddef>
#include <cstdint>

namespace cabsetup::cab {

constexpr std::size_t kHeaderSize = 36, kReserveSizesSize = 4, kFolderSize = 8, kFileFixedSize = 16;
constexpr std::size_t kDataHeaderSize = 8;
// A data block unpacks to at most 32 KiB; MSZIP may grow it by up to 6 KiB.
constexpr std::size_t kBlockSize = 32768, kMaxPackedBlock = kBlockSize + 6144;
constexpr std::uint16_t kFlagPrevious = 1, kFlagNext = 2, kFlagReserve = 4;
constexpr std::uint16_t kCompressNone = 0, kCompressMszip = 1;
constexpr std::uint16_t kFileAttrArchive = 0x20, kFileAttrNameIsUtf = 0x80;

// Offsets in CFHEADER.
constexpr std::size_t kCabinetSizeAt = 8, kFilesOffsetAt = 16, kFolderCountAt = 26, kFileCountAt = 28,
                      kFlagsAt = 30;

// The checksum of a CFDATA block over `bytes`, seeded with `seed`: the
// block's data first, then its two size fields.
std::uint32_t Checksum(const unsigned char* bytes, std::size_t size, std::uint32_t seed);

}  // namespace cabsetup::cab
