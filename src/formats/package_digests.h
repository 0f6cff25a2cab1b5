// What a signed setup.exe vouches for: the package digest block in its own
// image, and the digest list (setup.sha) of every cabinet of the package.
//
// The block is a fixed-size, marked area of an initialised data section of
// setup.exe: all zero after its marker in the program as built ("no
// digest"), filled by mksetup in the package's copy before it is signed, so
// that Authenticode covers it. A filled block holds the SHA-256 of setup.inf,
// Data.inf, license.txt, setup.bmp (each only where the package has it) and
// of setup.sha. setup.sha holds, per data set, the digest of its first
// volume's header and its cabinet count, and per cabinet where it lies
// (volume, offset, size) and the digests of its record and of its bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/sha256.h"

namespace cabsetup {

using Digest = Sha256::Digest;

// The block: a 16-byte marker, then its body: format, which files are
// present, five digests, zeros. The marker's bytes appear nowhere else in
// setup.exe (its code never looks for them: it knows where its block is), so
// the vendor's tool finds the block by them; they are spelled out in
// programs/package_block.cpp and in the tool's image code only.
constexpr std::size_t kDigestBlockSize = 256;
constexpr std::size_t kDigestMarkerSize = 16;
constexpr std::size_t kDigestBodySize = kDigestBlockSize - kDigestMarkerSize;
constexpr std::uint32_t kDigestBlockFormat = 1;

// The files a block vouches for, in the block's order.
enum class VouchedFile : unsigned { SetupInf, DataInf, License, Picture, DigestList, Count };
constexpr const char* kVouchedFileNames[] = {"setup.inf", "Data.inf", "license.txt", "setup.bmp", "setup.sha"};
constexpr const char kDigestListName[] = "setup.sha";

struct DigestBlock {
    bool filled = false;
    // Present: the package has the file and the block holds its digest.
    // Absent: the package has none, and none may be used.
    std::array<bool, static_cast<std::size_t>(VouchedFile::Count)> present{};
    std::array<Digest, static_cast<std::size_t>(VouchedFile::Count)> digests{};

    bool Has(VouchedFile f) const { return present[static_cast<std::size_t>(f)]; }
    const Digest& Of(VouchedFile f) const { return digests[static_cast<std::size_t>(f)]; }
    void Set(VouchedFile f, const Digest& d) {
        present[static_cast<std::size_t>(f)] = true;
        digests[static_cast<std::size_t>(f)] = d;
    }
};

enum class BlockState { Empty, Filled, Invalid };

// Reads the block's body (the 240 bytes after the marker). Invalid: an
// unknown format, flags for files that do not exist, no setup.inf or digest
// list in a filled block, or bytes where the format has none; a program
// with such a block refuses to run.
BlockState ParseDigestBody(const unsigned char* body, DigestBlock& out);
// The body's bytes; an empty block (filled false) is all zero.
void WriteDigestBody(const DigestBlock& block, unsigned char* body);

// setup.sha.
struct DigestListSet {
    std::uint32_t setType = 0, cabinetCount = 0;
    Digest header{};  // the first volume's header (and a linked set's version text)
};
struct DigestListCabinet {
    std::uint32_t number = 0;  // cabinetNumber: from 0, or from 100000 in a linked set
    std::uint32_t volume = 0;  // volumeIndex of the volume its record starts in
    std::uint64_t offset = 0;  // of its record in that volume
    std::uint32_t size = 0;    // cabinetSize
    Digest record{};           // the 288-byte record
    Digest cabinet{};          // the cabinet's bytes
};
struct DigestList {
    std::vector<DigestListSet> sets;
    std::vector<DigestListCabinet> cabinets;  // by set, in stream order

    const DigestListSet* FindSet(std::uint32_t setType) const;
    const DigestListCabinet* FindCabinet(std::uint32_t number) const;
};

// Text, one line per entry:
//   cabsetup-digests 1
//   set <setType> <cabinetCount> <header sha256>
//   cab <number> <volume> <offset> <size> <record sha256> <cabinet sha256>
// Strict: any other line, field, number or order is refused, and so is a
// cabinet number given twice or a set's cabinets not matching its count.
bool ParseDigestList(std::string_view text, DigestList& out);
std::string WriteDigestList(const DigestList& list);

// What the running setup.exe vouches for: nothing (block empty), or the
// block and the digest list it proved.
struct PackageVouch {
    DigestBlock block;
    DigestList list;
    // The licence's and the picture's bytes as they were proven (empty where
    // the package has none): what the wizard shows, never a second reading
    // that could meet a file changed since.
    std::string license, picture;
    bool Active() const { return block.filled; }
};

// Lower-case hexadecimal, 64 digits, back to a digest; false for anything else.
bool ParseHexDigest(std::string_view text, Digest& out);
Digest DigestOf(const void* data, std::size_t size);

}  // namespace cabsetup
