#include "formats/cabinet_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "formats/cabinet_format.h"
#include "formats/little_endian.h"

namespace cabsetup {

namespace {

using namespace cab;
constexpr std::size_t kBlock = kBlockSize;

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

// Every block's MSZIP bytes; blocks are independent, so large files spread
// them over several threads.
bool CompressAll(const unsigned char* data, std::size_t size, const CabinetOptions& options,
                 std::vector<std::vector<unsigned char>>& blocks) {
    blocks.assign((size + kBlock - 1) / kBlock, {});
    unsigned threads = std::max(1u, std::min<unsigned>(options.threads, static_cast<unsigned>(blocks.size() / 8)));
    std::vector<char> ok(threads, 0);
    auto work = [&](unsigned t) {
        z_stream z{};
        if (deflateInit2(&z, options.level, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY) != Z_OK) return;
        bool good = true;
        for (std::size_t i = t; i < blocks.size() && good; i += threads)
            good = CompressBlock(z, data + i * kBlock, std::min(kBlock, size - i * kBlock), blocks[i]);
        deflateEnd(&z);
        ok[t] = good;
    };
    std::vector<std::thread> pool;
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(work, t);
    work(0);
    for (auto& th : pool) th.join();
    for (char good : ok)
        if (!good) return false;
    return true;
}

}  // namespace

bool WriteSingleFileCabinet(const std::string& name, const unsigned char* data, std::size_t size,
                            const CabinetOptions& options, std::vector<unsigned char>& out) {
    if (size > 0xFFFFFFFFu) return false;
    std::size_t blocks = (size + kBlock - 1) / kBlock;
    if (blocks > 0xFFFF) return false;
    bool mszip = options.compression == CabinetCompression::Mszip;
    std::vector<std::vector<unsigned char>> packed;
    if (mszip && !CompressAll(data, size, options, packed)) return false;

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
    Append16(out, static_cast<std::uint16_t>(kFileAttrArchive | (ascii ? 0 : kFileAttrNameIsUtf)));
    out.insert(out.end(), name.begin(), name.end());
    out.push_back(0);

    for (std::size_t i = 0; i < blocks; ++i) {
        std::size_t n = std::min(kBlock, size - i * kBlock);
        const unsigned char* payload = mszip ? packed[i].data() : data + i * kBlock;
        std::size_t payloadSize = mszip ? packed[i].size() : n;
        unsigned char sizes[4];
        le::PutU16(sizes, static_cast<std::uint16_t>(payloadSize));
        le::PutU16(sizes + 2, static_cast<std::uint16_t>(n));
        std::uint32_t sum = Checksum(sizes, 4, Checksum(payload, payloadSize, 0));
        Append32(out, sum);
        out.insert(out.end(), sizes, sizes + 4);
        out.insert(out.end(), payload, payload + payloadSize);
    }
    le::PutU32(out.data() + start + 8, static_cast<std::uint32_t>(out.size() - start));
    return true;
}

}  // namespace cabsetup
