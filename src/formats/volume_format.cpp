#include "formats/volume_format.h"

#include <cstring>

#include "formats/little_endian.h"
#include "platform/path_text.h"

namespace cabsetup {

VolumeHeader ParseVolumeHeader(const unsigned char* b) {
    VolumeHeader h;
    h.magic = le::U32(b);
    h.setType = le::U32(b + 4);
    h.label = le::Text(b + 8, kLabelSize);
    h.cabinetCount = le::U32(b + 264);
    h.spanId = le::U32(b + 272);
    h.formatVersion = le::U32(b + 276);
    return h;
}

ContinuationHeader ParseContinuationHeader(const unsigned char* b) {
    ContinuationHeader h;
    h.magic = le::U32(b);
    h.volumeIndex = le::U32(b + 8);
    h.spanId = le::U32(b + 12);
    h.dataLength = le::U32(b + 16);
    return h;
}

CabinetRecord ParseCabinetRecord(const unsigned char* b) {
    CabinetRecord r;
    r.targetPath = le::Text(b, 256);
    r.cabinetNumber = le::U32(b + 256);
    r.cabinetSize = le::U32(b + 260);
    r.fileSize = le::U32(b + 264);
    r.replaceMode = b[280];
    return r;
}

bool WriteVolumeHeader(const VolumeHeader& h, unsigned char* out) {
    std::memset(out, 0, kVolumeHeaderSize);
    le::PutU32(out, h.magic);
    le::PutU32(out + 4, h.setType);
    le::PutU32(out + 264, h.cabinetCount);
    le::PutU32(out + 272, h.spanId);
    le::PutU32(out + 276, h.formatVersion);
    return le::PutText(out + 8, kLabelSize, h.label);
}

void WriteContinuationHeader(const ContinuationHeader& h, unsigned char* out) {
    std::memset(out, 0, kContinuationHeaderSize);
    le::PutU32(out, h.magic);
    le::PutU32(out + 8, h.volumeIndex);
    le::PutU32(out + 12, h.spanId);
    le::PutU32(out + 16, h.dataLength);
}

bool WriteCabinetRecord(const CabinetRecord& r, unsigned char* out) {
    std::memset(out, 0, kCabinetRecordSize);
    le::PutU32(out + 256, r.cabinetNumber);
    le::PutU32(out + 260, r.cabinetSize);
    le::PutU32(out + 264, r.fileSize);
    out[280] = r.replaceMode;
    return le::PutText(out, 256, r.targetPath);
}

std::string VolumeFileName(std::uint32_t setType, std::uint32_t k) {
    if (setType == kSetTypeMain || setType == kSetTypeMainUpdate)
        return k == 0 ? "Data.dat" : "Data" + std::to_string(k + 1) + ".dat";
    if (setType == kSetTypeLinked) return std::string("Data-") + static_cast<char>('A' + k) + ".dat";
    return {};
}

}  // namespace cabsetup

namespace cabsetup {

VolumePlaces PlacesOfVolume(const CodePage& cp, const std::string& dataFolder, std::uint32_t setType, std::uint32_t k) {
    VolumePlaces p;
    p.name = VolumeFileName(setType, k);
    if (p.name.empty()) return p;
    p.first = dataFolder + "\\" + p.name;
    if (k == 0 && setType != kSetTypeLinked) return p;
    // The folder that holds the data folder, as the volume's sibling.
    p.secondFolder = ParentFolder(cp, dataFolder) + "\\" + p.name.substr(0, p.name.size() - 4);
    p.second = p.secondFolder + "\\" + p.name;
    return p;
}

}  // namespace cabsetup
