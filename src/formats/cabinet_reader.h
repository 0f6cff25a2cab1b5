// Reads a Microsoft Cabinet from a byte stream and decodes the file of a
// cabinet that holds one file in one folder, stored or MSZIP: the shape the
// cabinet writer makes. Every other cabinet is recognised as such before
// anything is decoded, so the caller can hand it to another unpacker along
// with the bytes already read.
//
// Nothing is trusted: every size and offset is checked against what the
// header promised and against the cabinet's size in its container; a block
// whose checksum or size is wrong is an error, never a read past a buffer.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace cabsetup {

// Where the cabinet's bytes come from. Read delivers exactly `size` bytes or fails.
class CabinetSource {
public:
    virtual ~CabinetSource() = default;
    virtual bool Read(unsigned char* buffer, std::size_t size) = 0;
};

// Where the file's bytes go, in order, in pieces of up to a few hundred KiB.
class CabinetSink {
public:
    virtual ~CabinetSink() = default;
    virtual bool Write(const unsigned char* data, std::size_t size) = 0;
};

enum class CabinetShape {
    OneFile,  // one file, one folder, stored or MSZIP: Decode can unpack it
    Other,    // a valid start of some other cabinet (several files, LZX, a set ...)
    Damaged,  // claims to be the first kind, but its header contradicts itself
};

class CabinetReader {
public:
    CabinetReader();
    ~CabinetReader();
    CabinetReader(const CabinetReader&) = delete;
    CabinetReader& operator=(const CabinetReader&) = delete;

    // Reads the header up to the first data block; the cabinet is `cabinetSize`
    // bytes long in its container and nothing is read beyond that. Memory
    // refused for the header counts as Damaged: the cabinet cannot be read.
    CabinetShape ReadHeader(CabinetSource& source, std::uint32_t cabinetSize);
    // The bytes ReadHeader consumed (the whole header for OneFile, as much
    // as it needed to decide for Other).
    std::span<const unsigned char> Consumed() const { return {header_.get(), headerSize_}; }
    // Of a OneFile cabinet.
    std::uint32_t FileSize() const { return fileSize_; }
    // Bytes of the cabinet not yet read (after Decode: what follows the cabinet's end).
    std::uint32_t Remaining() const { return remaining_ + tail_; }

    // Decodes every data block of a OneFile cabinet, checking each block's
    // checksum and size, and gives the file's bytes to `sink` (none: check
    // only). False also when the memory to decode with is refused.
    bool Decode(CabinetSource& source, CabinetSink* sink);

private:
    CabinetShape ReadHeaderFields(CabinetSource& source, std::uint32_t cabinetSize);
    bool Need(CabinetSource& source, std::size_t size);
    bool Take(CabinetSource& source, unsigned char* buffer, std::size_t size);
    bool InflateBlock(const unsigned char* in, std::size_t inSize, unsigned char* out, std::size_t outSize,
                      std::size_t history);

    // The header's size comes from the package: memory refused for it makes
    // the cabinet unreadable, never ends the program.
    std::unique_ptr<unsigned char[]> header_;
    std::size_t headerSize_ = 0, capacity_ = 0;
    bool refused_ = false;
    std::uint32_t remaining_ = 0, tail_ = 0, fileSize_ = 0, fileOffset_ = 0;
    std::uint32_t dataOffset_ = 0;
    std::uint16_t blocks_ = 0;
    std::uint8_t dataReserve_ = 0;
    bool mszip_ = false;
    struct Inflater;
    std::unique_ptr<Inflater> inflater_;
};

}  // namespace cabsetup
