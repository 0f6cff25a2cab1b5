#include "volume_set_writer.h"

#include <algorithm>

#include "formats/little_endian.h"

namespace mksetup {

namespace fs = std::filesystem;
using namespace cabsetup;

VolumeSetWriter::VolumeSetWriter(const Medium& medium, fs::path firstFolder, fs::path siblingsRoot)
    : medium_(medium), firstFolder_(std::move(firstFolder)), siblingsRoot_(std::move(siblingsRoot)) {}

VolumeSetWriter::~VolumeSetWriter() {
    if (file_) std::fclose(file_);
}

bool VolumeSetWriter::Fail(const std::string& message) {
    if (error_.empty()) error_ = message;
    return false;
}

bool VolumeSetWriter::Begin(const VolumeHeader& header, const std::string& volumeVersion) {
    header_ = header;
    fs::path path = firstFolder_ / VolumeFileName(header.setType, 0);
    std::error_code ec;
    fs::create_directories(firstFolder_, ec);
    file_ = std::fopen(path.string().c_str(), "wb");
    if (!file_) return Fail("cannot create " + path.string());
    volumes_.push_back(path);
    unsigned char bytes[kVolumeHeaderSize + kVolumeVersionSize] = {};
    if (!WriteVolumeHeader(header, bytes)) return Fail("the linked set's label is too long");
    std::size_t size = kVolumeHeaderSize;
    if (header.setType == kSetTypeLinked) {
        if (!le::PutText(bytes + kVolumeHeaderSize, kVolumeVersionSize, volumeVersion))
            return Fail("the volume version is too long");
        size += kVolumeVersionSize;
    }
    if (medium_.volumeSize && medium_.volumeSize <= size) return Fail("volumeSize leaves no room after the header");
    if (std::fwrite(bytes, 1, size, file_) != size) return Fail("cannot write " + path.string());
    room_ = medium_.volumeSize ? medium_.volumeSize - size : UINT64_MAX;
    written_ = 0;
    return true;
}

bool VolumeSetWriter::CloseCurrent() {
    if (!file_) return true;
    bool ok = true;
    if (volumes_.size() > 1) {
        // The continuation header's length field, now that the length is known.
        unsigned char length[4];
        le::PutU32(length, static_cast<std::uint32_t>(written_));
        ok = std::fseek(file_, 16, SEEK_SET) == 0 && std::fwrite(length, 1, 4, file_) == 4;
    }
    ok = std::fclose(file_) == 0 && ok;
    file_ = nullptr;
    return ok || Fail("cannot write " + volumes_.back().string());
}

bool VolumeSetWriter::OpenNext() {
    if (!CloseCurrent()) return false;
    auto k = static_cast<std::uint32_t>(volumes_.size());
    if (header_.setType == kSetTypeLinked && k > 25) return Fail("the linked set needs more than 26 volumes (Data-A ... Data-Z)");
    std::string name = VolumeFileName(header_.setType, k);
    fs::path folder = medium_.layout == Layout::Folders ? siblingsRoot_ / name.substr(0, name.size() - 4) : firstFolder_;
    std::error_code ec;
    fs::create_directories(folder, ec);
    fs::path path = folder / name;
    file_ = std::fopen(path.string().c_str(), "wb");
    if (!file_) return Fail("cannot create " + path.string());
    volumes_.push_back(path);
    unsigned char bytes[kContinuationHeaderSize];
    WriteContinuationHeader({kContinuationMagic, k, header_.spanId, 0}, bytes);
    if (std::fwrite(bytes, 1, sizeof bytes, file_) != sizeof bytes) return Fail("cannot write " + path.string());
    room_ = medium_.volumeSize - kContinuationHeaderSize;
    written_ = 0;
    return true;
}

bool VolumeSetWriter::Append(const unsigned char* data, std::size_t size) {
    while (size > 0) {
        if (room_ == 0 && !OpenNext()) return false;
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(room_, size));
        if (std::fwrite(data, 1, n, file_) != n) return Fail("cannot write " + volumes_.back().string());
        data += n;
        size -= n;
        room_ -= n;
        written_ += n;
    }
    return true;
}

bool VolumeSetWriter::Finish() {
    if (!CloseCurrent()) return false;
    if (volumes_.size() == 1 && header_.spanId != 0) {
        // One volume: no further volume may ever be looked for.
        std::FILE* f = std::fopen(volumes_[0].string().c_str(), "r+b");
        unsigned char zero[4] = {};
        bool ok = f && std::fseek(f, 272, SEEK_SET) == 0 && std::fwrite(zero, 1, 4, f) == 4;
        if (f) ok = std::fclose(f) == 0 && ok;
        if (!ok) return Fail("cannot write " + volumes_[0].string());
    }
    return true;
}

}  // namespace mksetup
