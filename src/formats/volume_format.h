// The data volume files: a set's first volume starts with a VolumeHeader,
// every further volume with a ContinuationHeader; between them runs one byte
// stream of CabinetRecord + cabinet data, cut anywhere by volume boundaries.
#pragma once

#include <cstdint>
#include <string>

#include "platform/codepage.h"

namespace cabsetup {

constexpr std::uint32_t kVolumeMagic = 0x22334457;
constexpr std::uint32_t kContinuationMagic = 0x332244AA;
constexpr std::uint32_t kVolumeFormatVersion = 0x1100;
constexpr std::size_t kVolumeHeaderSize = 284;
constexpr std::size_t kVolumeVersionSize = 256;
constexpr std::size_t kContinuationHeaderSize = 20;
constexpr std::size_t kCabinetRecordSize = 288;
constexpr std::size_t kLabelSize = 256;

constexpr std::uint32_t kSetTypeMain = 1;
constexpr std::uint32_t kSetTypeLinked = 2;
constexpr std::uint32_t kSetTypeMainUpdate = 3;
constexpr std::uint32_t kFirstLinkedCabinet = 100000;

enum ReplaceMode : std::uint8_t {
    ReplaceAlways = 0x04,
    ReplaceIfSizeDiffers = 0x08,
    KeepExisting = 0x10,
};

struct VolumeHeader {
    std::uint32_t magic = 0;
    std::uint32_t setType = 0;
    std::string label;
    std::uint32_t cabinetCount = 0;
    std::uint32_t spanId = 0;
    std::uint32_t formatVersion = 0;

    // Offset of the stream in the first volume: a linked set's header is
    // followed by its 256-byte volume version text.
    std::size_t StreamOffset() const {
        return setType == kSetTypeLinked ? kVolumeHeaderSize + kVolumeVersionSize : kVolumeHeaderSize;
    }
};

struct ContinuationHeader {
    std::uint32_t magic = 0;
    std::uint32_t volumeIndex = 0;  // 1 for the set's second volume
    std::uint32_t spanId = 0;
    std::uint32_t dataLength = 0;   // bytes after this header
};

struct CabinetRecord {
    std::string targetPath;
    std::uint32_t cabinetNumber = 0;
    std::uint32_t cabinetSize = 0;
    std::uint32_t fileSize = 0;
    std::uint8_t replaceMode = 0;
};

VolumeHeader ParseVolumeHeader(const unsigned char* bytes);  // kVolumeHeaderSize bytes
ContinuationHeader ParseContinuationHeader(const unsigned char* bytes);  // 20 bytes
CabinetRecord ParseCabinetRecord(const unsigned char* bytes);  // 288 bytes

// Writers fill every byte, the ones not interpreted with zero; a text that
// does not fit its field makes them return false.
bool WriteVolumeHeader(const VolumeHeader& h, unsigned char* out);
void WriteContinuationHeader(const ContinuationHeader& h, unsigned char* out);
bool WriteCabinetRecord(const CabinetRecord& r, unsigned char* out);

// "Data.dat", "Data2.dat", ... for a main set; "Data-A.dat", "Data-B.dat",
// ... for a linked set; k is the volumeIndex (0 for the first volume).
// Empty for a set type that has no names.
std::string VolumeFileName(std::uint32_t setType, std::uint32_t k);

// Where volume k of a set is looked for: first in the data folder, then in a
// folder of the volume's own name beside it (not for a main set's first
// volume). `secondFolder` is where the data folder moves when the second
// place holds it. Everything is empty for a set type without names.
struct VolumePlaces {
    std::string name, first, second, secondFolder;
};
VolumePlaces PlacesOfVolume(const CodePage& cp, const std::string& dataFolder, std::uint32_t setType, std::uint32_t k);

}  // namespace cabsetup
