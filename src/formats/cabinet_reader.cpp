#include "formats/cabinet_reader.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "formats/cabinet_format.h"
#include "formats/little_endian.h"
#include "platform/memory.h"

namespace cabsetup {

using namespace cab;

namespace {

// A header longer than this (a vendor's reserve area, padding) is left to
// the other unpacker rather than held in memory.
constexpr std::size_t kHeaderLimit = 192 * 1024;
// Decoded bytes go out in pieces of this size, after the 32 KiB of history
// the next MSZIP block may refer back into.
constexpr std::size_t kHistory = 32768, kOutPiece = 512 * 1024;

}  // namespace

struct CabinetReader::Inflater {
    z_stream z{};
    bool ready = false;
    // One buffer for the life of the reader: a package of many small files
    // would otherwise allocate and fault in half a megabyte per file.
    std::unique_ptr<unsigned char[]> out, in;
    ~Inflater() {
        if (ready) inflateEnd(&z);
    }
};

CabinetReader::CabinetReader() = default;
CabinetReader::~CabinetReader() = default;

bool CabinetReader::Take(CabinetSource& source, unsigned char* buffer, std::size_t size) {
    if (size > remaining_ || !source.Read(buffer, size)) return false;
    remaining_ -= static_cast<std::uint32_t>(size);
    return true;
}

bool CabinetReader::Need(CabinetSource& source, std::size_t size) {
    std::size_t have = headerSize_;
    if (size <= have) return true;
    if (size - have > remaining_ || size > kHeaderLimit) return false;
    // Grown to exactly what is needed and kept: after the first cabinets of
    // a package no header needs more, and nothing beyond it is addressable.
    if (size > capacity_) {
        auto grown = TryAllocate<unsigned char>(size);
        if (!grown) {
            refused_ = true;
            return false;
        }
        if (have) std::memcpy(grown.get(), header_.get(), have);
        header_ = std::move(grown);
        capacity_ = size;
    }
    if (!Take(source, header_.get() + have, size - have)) return false;
    headerSize_ = size;
    return true;
}

CabinetShape CabinetReader::ReadHeader(CabinetSource& source, std::uint32_t cabinetSize) {
    headerSize_ = 0;
    refused_ = false;
    CabinetShape shape = ReadHeaderFields(source, cabinetSize);
    return refused_ ? CabinetShape::Damaged : shape;
}

CabinetShape CabinetReader::ReadHeaderFields(CabinetSource& source, std::uint32_t cabinetSize) {
    remaining_ = cabinetSize;
    tail_ = 0;
    // Too short or not a cabinet at all: whoever unpacks other cabinets says so.
    if (!Need(source, kHeaderSize) || std::memcmp(header_.get(), "MSCF", 4) != 0) return CabinetShape::Other;
    std::uint16_t flags = le::U16(&header_[kFlagsAt]);
    if (le::U16(&header_[kFolderCountAt]) != 1 || le::U16(&header_[kFileCountAt]) != 1 ||
        (flags & (kFlagPrevious | kFlagNext)))
        return CabinetShape::Other;

    std::size_t at = kHeaderSize, folderReserve = 0;
    dataReserve_ = 0;
    if (flags & kFlagReserve) {
        if (!Need(source, at + kReserveSizesSize)) return CabinetShape::Damaged;
        folderReserve = header_[at + 2];
        dataReserve_ = header_[at + 3];
        at += kReserveSizesSize + le::U16(&header_[at]);
    }
    std::size_t filesAt = le::U32(&header_[kFilesOffsetAt]);
    if (!Need(source, at + kFolderSize + folderReserve)) return CabinetShape::Damaged;
    dataOffset_ = le::U32(&header_[at]);
    blocks_ = le::U16(&header_[at + 4]);
    std::uint16_t compression = le::U16(&header_[at + 6]);
    if (compression != kCompressNone && compression != kCompressMszip) return CabinetShape::Other;
    mszip_ = compression == kCompressMszip;
    std::size_t foldersEnd = at + kFolderSize + folderReserve;

    // From here on the cabinet says it is of the one-file kind: whatever
    // contradicts that is damage.
    std::uint32_t declared = le::U32(&header_[kCabinetSizeAt]);
    if (declared > cabinetSize || dataOffset_ > declared) return CabinetShape::Damaged;
    if (dataOffset_ > kHeaderLimit) return CabinetShape::Other;
    if (filesAt < foldersEnd || filesAt + kFileFixedSize >= dataOffset_) return CabinetShape::Damaged;
    if (!Need(source, dataOffset_)) return CabinetShape::Damaged;
    const unsigned char* file = &header_[filesAt];
    const unsigned char* nameEnd = &header_[dataOffset_];
    if (!std::memchr(file + kFileFixedSize, 0, static_cast<std::size_t>(nameEnd - file) - kFileFixedSize))
        return CabinetShape::Damaged;
    fileSize_ = le::U32(file);
    fileOffset_ = le::U32(file + 4);
    if (le::U16(file + 8) != 0) return CabinetShape::Damaged;  // its only folder is folder 0
    if (std::uint64_t(fileOffset_) + fileSize_ > std::uint64_t(blocks_) * kBlockSize) return CabinetShape::Damaged;
    // Blocks are read only up to the end the cabinet declares.
    remaining_ -= cabinetSize - declared;
    tail_ = cabinetSize - declared;
    return CabinetShape::OneFile;
}

bool CabinetReader::InflateBlock(const unsigned char* in, std::size_t inSize, unsigned char* out,
                                 std::size_t outSize, std::size_t history) {
    z_stream& z = inflater_->z;
    if (!inflater_->ready) {
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return false;
        inflater_->ready = true;
    } else if (inflateReset(&z) != Z_OK) {
        return false;
    }
    // MSZIP blocks are separate deflate streams that may refer back into
    // the block before: the window carries over as a preset dictionary.
    if (history && inflateSetDictionary(&z, out - history, static_cast<uInt>(history)) != Z_OK) return false;
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(inSize);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(outSize);
    // Exactly the declared size: a stream that ends early or wants more room fails.
    return inflate(&z, Z_FINISH) == Z_STREAM_END && z.avail_out == 0;
}

bool CabinetReader::Decode(CabinetSource& source, CabinetSink* sink) {
    if (!inflater_) inflater_.reset(new (std::nothrow) Inflater);
    if (!inflater_) return false;
    Inflater& f = *inflater_;
    // Not cleared: every byte is written before it is read.
    if (!f.out) f.out = TryAllocate<unsigned char>(kHistory + kOutPiece);
    if (!f.in) f.in = TryAllocate<unsigned char>(kDataHeaderSize + 255 + kMaxPackedBlock);
    if (!f.out || !f.in) return false;
    unsigned char* out = f.out.get();
    // out[0] holds the folder's byte at `base`; `flushed` is how far the
    // folder has been handed on (or passed over, before the file's offset).
    std::uint64_t base = 0, flushed = 0;
    std::size_t used = 0;
    const std::uint64_t fileEnd = std::uint64_t(fileOffset_) + fileSize_;
    auto flush = [&]() {
        std::uint64_t from = std::max(flushed, std::uint64_t(fileOffset_)), to = std::min(base + used, fileEnd);
        flushed = base + used;
        return to <= from || !sink || sink->Write(out + (from - base), static_cast<std::size_t>(to - from));
    };

    const std::size_t headerSize = kDataHeaderSize + dataReserve_;
    for (std::uint32_t b = 0; b < blocks_; ++b) {
        unsigned char* header = f.in.get();
        if (!Take(source, header, headerSize)) return false;
        std::uint32_t sum = le::U32(header);
        std::size_t packed = le::U16(header + 4), unpacked = le::U16(header + 6);
        if (packed > kMaxPackedBlock || unpacked > kBlockSize || (!mszip_ && packed != unpacked)) return false;
        unsigned char* data = header + headerSize;
        if (!Take(source, data, packed)) return false;
        // 0 is a block whose writer computed no checksum.
        if (sum != 0 && Checksum(header + 4, 4, Checksum(data, packed, 0)) != sum) return false;

        if (used + unpacked > kHistory + kOutPiece) {
            if (!flush()) return false;
            std::size_t keep = std::min(used, kHistory);
            std::memmove(out, out + used - keep, keep);
            base += used - keep;
            used = keep;
        }
        if (!mszip_) {
            std::memcpy(out + used, data, unpacked);
        } else if (packed < 2 || data[0] != 'C' || data[1] != 'K' ||
                   !InflateBlock(data + 2, packed - 2, out + used, unpacked, std::min(used, kHistory))) {
            return false;
        }
        used += unpacked;
    }
    // The file must lie inside what the folder unpacked to.
    return base + used >= fileEnd && flush();
}

}  // namespace cabsetup
