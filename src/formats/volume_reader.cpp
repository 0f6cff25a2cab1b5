#include "formats/volume_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "formats/little_endian.h"
#include "platform/memory.h"

namespace cabsetup {

namespace {
// Cabinet data moves through one buffer of this size.
constexpr std::size_t kCopyPiece = 64 * 1024;
// The stream is read ahead in pieces of this size: a package of small files
// is read in a few large reads, not one for each record, header and block.
// A read at least this large goes straight to its destination.
constexpr std::size_t kReadAhead = 64 * 1024;
}  // namespace

bool VolumeReader::ReadExactly(Os::Handle& file, unsigned char* buffer, std::size_t size) {
    std::size_t got = 0;
    return os_.Read(file, buffer, size, got) && got == size;
}

bool VolumeReader::OpenVolume(const std::string& path, std::string* volumeVersion) {
    Close();
    volume_ = os_.OpenRead(path);
    if (!volume_ || !os_.FileSize(*volume_, length_)) return false;
    unsigned char bytes[kVolumeHeaderSize];
    if (!ReadExactly(*volume_, bytes, sizeof bytes)) return false;
    header_ = ParseVolumeHeader(bytes);
    position_ = sizeof bytes;
    Sha256 headerSha;
    headerSha.Update(bytes, sizeof bytes);
    headerDigest_ = headerSha.Final();
    if (header_.magic != kVolumeMagic || header_.formatVersion != kVolumeFormatVersion) return false;
    if (header_.setType == kSetTypeLinked) {
        // A linked set's stream starts after the version text; how much of
        // the text arrives is not looked at (packages in the field end early).
        unsigned char version[kVolumeVersionSize] = {};
        std::size_t got = 0;
        if (!os_.Read(*volume_, version, sizeof version, got)) return false;
        position_ += got;
        if (volumeVersion) *volumeVersion = le::Text(version, sizeof version);
        headerSha.Update(bytes, sizeof bytes);
        headerSha.Update(version, got);
        headerDigest_ = headerSha.Final();
    }
    return true;
}

void VolumeReader::Close() {
    volume_.reset();
    aheadAt_ = aheadEnd_ = 0;
    header_ = {};
    headerDigest_ = {};
    continuation_ = {};
    position_ = length_ = 0;
}

bool VolumeReader::IsVolumeFile(const std::string& path) {
    Os::HandlePtr file = os_.OpenRead(path);
    unsigned char magic[4];
    return file && ReadExactly(*file, magic, sizeof magic) && le::U32(magic) == kVolumeMagic;
}

bool VolumeReader::IsLinkedVolumeFile(const std::string& label, const std::string& path) {
    Os::HandlePtr file = os_.OpenRead(path);
    unsigned char bytes[kVolumeHeaderSize];
    if (!file || !ReadExactly(*file, bytes, sizeof bytes)) return false;
    VolumeHeader h = ParseVolumeHeader(bytes);
    return h.magic == kVolumeMagic && h.setType == kSetTypeLinked && h.label == label;
}

bool VolumeReader::IsContinuationFile(const std::string& path, std::uint32_t k) {
    Os::HandlePtr file = os_.OpenRead(path);
    unsigned char bytes[kContinuationHeaderSize];
    std::uint64_t size = 0;
    if (!file || !os_.FileSize(*file, size) || !ReadExactly(*file, bytes, sizeof bytes)) return false;
    ContinuationHeader c = ParseContinuationHeader(bytes);
    return c.magic == kContinuationMagic && c.spanId == header_.spanId && c.volumeIndex == k &&
           size - kContinuationHeaderSize == c.dataLength;
}

bool VolumeReader::ChangeVolume() {
    if (!volume_ || position_ != length_ || header_.spanId == 0 || !findVolume_) return false;
    std::uint32_t k = continuation_.volumeIndex + 1;
    std::string path = findVolume_(k);
    if (path.empty()) return false;
    volume_ = os_.OpenRead(path);
    aheadAt_ = aheadEnd_ = 0;
    if (!volume_ || !os_.FileSize(*volume_, length_)) return false;
    unsigned char bytes[kContinuationHeaderSize];
    position_ = 0;
    if (!ReadExactly(*volume_, bytes, sizeof bytes)) return false;
    position_ = sizeof bytes;
    ContinuationHeader c = ParseContinuationHeader(bytes);
    // The file found was tested, but a disk can be swapped after the test:
    // never read on from a volume that does not continue this set.
    if (c.magic != kContinuationMagic || c.spanId != header_.spanId || c.volumeIndex != k) return false;
    continuation_ = c;
    return true;
}

bool VolumeReader::ReadAhead() {
    // Without the memory for it the stream is read as it is asked for.
    if (!ahead_ && !aheadRefused_) {
        ahead_ = TryAllocate<unsigned char>(kReadAhead);
        aheadRefused_ = !ahead_;
    }
    return ahead_ != nullptr;
}

bool VolumeReader::ReadStream(unsigned char* buffer, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        if (!volume_) return false;
        const std::size_t want = size - done;
        std::size_t got = 0;
        if (aheadAt_ < aheadEnd_) {
            got = std::min(want, aheadEnd_ - aheadAt_);
            std::memcpy(buffer + done, ahead_.get() + aheadAt_, got);
            aheadAt_ += got;
        } else if (want < kReadAhead && ReadAhead()) {
            aheadAt_ = aheadEnd_ = 0;
            if (!os_.Read(*volume_, ahead_.get(), kReadAhead, aheadEnd_)) return false;
            if (aheadEnd_ > 0) continue;  // handed out above, on the next turn
        } else if (!os_.Read(*volume_, buffer + done, want, got)) {
            return false;
        }
        if (tap_) tap_->Update(buffer + done, got);
        done += got;
        position_ += got;
        if (done < size && got == 0 && !ChangeVolume()) return false;
    }
    return true;
}

bool VolumeReader::SkipStream(std::uint64_t size) {
    if (tap_ && size > 0) {
        // Skipped bytes are vouched for too: read through the tap.
        auto buffer = TryAllocate<unsigned char>(kCopyPiece);
        if (!buffer) return false;
        while (size > 0) {
            std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(kCopyPiece, size));
            if (!ReadStream(buffer.get(), piece)) return false;
            size -= piece;
        }
        return true;
    }
    // What was read ahead first; the file stands at `position_` after it.
    std::size_t ahead = static_cast<std::size_t>(std::min<std::uint64_t>(size, aheadEnd_ - aheadAt_));
    aheadAt_ += ahead;
    position_ += ahead;
    size -= ahead;
    while (size > 0) {
        if (!volume_) return false;
        std::uint64_t rest = length_ > position_ ? length_ - position_ : 0;
        std::uint64_t step = std::min(size, rest);
        if (step > 0) {
            if (!os_.Seek(*volume_, static_cast<std::int64_t>(step), true)) return false;
            position_ += step;
            size -= step;
        }
        if (size > 0 && !ChangeVolume()) return false;
    }
    return true;
}

bool VolumeReader::ReadCabinetRecord(CabinetRecord& record) {
    unsigned char bytes[kCabinetRecordSize];
    if (!ReadStream(bytes, sizeof bytes)) return false;
    record = ParseCabinetRecord(bytes);
    return true;
}

bool VolumeReader::CopyCabinetData(const CabinetRecord& record, const std::string& cabinetPath, bool write,
                                   const unsigned char* prefix, std::size_t alreadyRead) {
    if (alreadyRead > record.cabinetSize) return false;
    if (!write) return SkipStream(record.cabinetSize - alreadyRead);
    Os::HandlePtr cabinet = os_.CreateAlways(cabinetPath);
    if (!cabinet || (alreadyRead > 0 && !os_.Write(*cabinet, prefix, alreadyRead))) return false;
    auto buffer = TryAllocate<unsigned char>(kCopyPiece);
    if (!buffer) return false;
    for (std::uint32_t done = static_cast<std::uint32_t>(alreadyRead); done < record.cabinetSize;) {
        std::size_t piece = std::min<std::size_t>(kCopyPiece, record.cabinetSize - done);
        if (!ReadStream(buffer.get(), piece) || !os_.Write(*cabinet, buffer.get(), piece)) return false;
        done += static_cast<std::uint32_t>(piece);
    }
    return true;
}

std::string FindVolumeWithoutAsking(VolumeReader& reader, const CodePage& cp, std::string& dataFolder,
                                    std::uint32_t k, std::string* name) {
    VolumePlaces p = PlacesOfVolume(cp, dataFolder, reader.CurrentHeader().setType, k);
    if (name) *name = p.name;
    if (!p.first.empty() && reader.IsContinuationFile(p.first, k)) return p.first;
    if (!p.second.empty() && reader.IsContinuationFile(p.second, k)) {
        dataFolder = p.secondFolder;
        return p.second;
    }
    return {};
}

}  // namespace cabsetup
