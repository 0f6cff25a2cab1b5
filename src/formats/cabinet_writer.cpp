#include "formats/cabinet_writer.h"

#include <zlib.h>

#include <cstring>

#include "formats/little_endian.h"

namespace cabsetup {

namespace {

constexpr std::size_t kBlock = 32768;
constexpr std::size_t kHeaderSize = 36, kFolderSize = 8, kFileFixedSize = 16;
constexpr std::uint16_t kAttrArchive = 0x20, kAttrNameIsUtf = 0x80;

void Append16(std::vector<unsigned char>& out, std::uint16_t v) {
    unsigned char b[2];
    le::PutU16(b, v);
    out.insert(out.end(), b, b + 2);
}
void Append32(std::vector<unsigned char>& out, std::uint32_t v) {
    unsigned char b[4];
    le::PutU32(b, v);
    out.insert(out.end(), b, b + 4);
}

// One MSZIP block: "CK" and a complete raw deflate stream of the block. Each
// block is compressed on its own, so any reader can start at any block.
bool CompressBlock(z_stream& z, const unsigned char* in, std::size_t size, std::vector<unsigned char>& out) {
    if (deflateReset(&z) != Z_OK) return false;
    out.assign(2 + deflateBound(&z, static_cast<uLong>(size)) + 16, 0);
    out[0] = 'C';
    out[1] = 'K';
    z.next_in = const_cast<Bytef*>(in);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out.data() + 2;
    z.avail_out = static_cast<uInt>(out.size() - 2);
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) return false;
    out.resize(out.size() - z.avail_out);
    return true;
}

}  // namespace

std::uint32_t CabinetChecksum(const unsigned char* bytes, std::size_t size, std::uint32_t seed) {
    std::uint32_t sum = seed;
    std::size_t words = size / 4;
    for (std::size_t i = 0; i < words; ++i) sum ^= le::U32(bytes + 4 * i);
    const unsigned char* tail = bytes + 4 * words;
    std::uint32_t rest = 0;
    switch (size & 3) {
    case 3: rest |= std::uint32_t(*tail++) << 16; [[fallthrough]];
    case 2: rest |= std::uint32_t(*tail++) << 8; [[fallthrough]];
    case 1: rest |= *tail;
    }
    return sum ^ rest;
}

bool WriteSingleFileCabinet(const std::string& name, const unsigned char* data, std::size_t size,
                            const CabinetOptions& options, std::vector<unsigned char>& out) {
    if (size > 0xFFFFFFFFu) return false;
    std::size_t blocks = (size + kBlock - 1) / kBlock;
    if (blocks > 0xFFFF) return false;

    z_stream z{};
    bool mszip = options.compression == CabinetCompression::Mszip;
    if (mszip && deflateInit2(&z, options.level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    struct Ender {
        z_stream* z;
        ~Ender() {
            if (z) deflateEnd(z);
        }
    } ender{mszip ? &z : nullptr};

    std::size_t start = out.size();
    std::size_t filesOffset = kHeaderSize + kFolderSize;
    std::size_t dataOffset = filesOffset + kFileFixedSize + name.size() + 1;
    bool ascii = true;
    for (unsigned char c : name) ascii &= c < 0x80;

    // CFHEADER; the total size is patched in at the end.
    out.insert(out.end(), {'M', 'S', 'C', 'F'});
    Append32(out, 0);
    Append32(out, 0);  // cbCabinet
    Append32(out, 0);
    Append32(out, static_cast<std::uint32_t>(filesOffset));
    Append32(out, 0);
    out.push_back(3);  // version 1.3
    out.push_back(1);
    Append16(out, 1);  // folders
    Append16(out, 1);  // files
    Append16(out, 0);  // flags: no reserve, no previous or next cabinet
    Append16(out, options.setId);
    Append16(out, 0);  // iCabinet
    // CFFOLDER
    Append32(out, static_cast<std::uint32_t>(dataOffset));
    Append16(out, static_cast<std::uint16_t>(blocks));
    Append16(out, mszip ? 1 : 0);
    // CFFILE
    Append32(out, static_cast<std::uint32_t>(size));
    Append32(out, 0);  // offset in the folder
    Append16(out, 0);  // folder 0
    Append16(out, options.dosDate);
    Append16(out, options.dosTime);
    Append16(out, static_cast<std::uint16_t>(kAttrArchive | (ascii ? 0 : kAttrNameIsUtf)));
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);

    std::vector<unsigned char> packed;
    for (std::size_t offset = 0; offset < size; offset += kBlock) {
        std::size_t n = std::min(kBlock, size - offset);
        const unsigned char* payload = data + offset;
        std::size_t payloadSize = n;
        if (mszip) {
            if (!CompressBlock(z, data + offset, n, packed)) return false;
            payload = packed.data();
            payloadSize = packed.size();
        }
        unsigned char sizes[4];
        le::PutU16(sizes, static_cast<std::uint16_t>(payloadSize));
        le::PutU16(sizes + 2, static_cast<std::uint16_t>(n));
        std::uint32_t sum = CabinetChecksum(sizes, 4, CabinetChecksum(payload, payloadSize, 0));
        Append32(out, sum);
        out.insert(out.end(), sizes, sizes + 4);
        out.insert(out.end(), payload, payload + payloadSize);
    }
    le::PutU32(out.data() + start + 8, static_cast<std::uint32_t>(out.size() - start));
    return true;
}

}  // namespace cabsetup
