#include "formats/digest_block_image.h"

#include <algorithm>
#include <cstring>

#include "formats/little_endian.h"

namespace cabsetup {

const unsigned char kDigestMarker[kDigestMarkerSize] = {'c', 'a', 'b', 's', 'e', 't', 'u', 'p',
                                                        '-', 'd', 'i', 'g', 'e', 's', 't', 0x1A};

namespace {

constexpr std::uint32_t kScnCntCode = 0x20, kScnCntInitializedData = 0x40, kScnMemExecute = 0x20000000;

struct PeLayout {
    std::size_t checksumAt = 0, securityEntryAt = 0, sectionsAt = 0, sectionCount = 0;
    std::uint32_t certificatesAt = 0, certificatesSize = 0;
};

bool ReadLayout(const unsigned char* image, std::size_t size, PeLayout& pe, std::string& error) {
    error = "not a Windows program image (too short, or no PE header)";
    if (size < 0x40 || image[0] != 'M' || image[1] != 'Z') return false;
    std::size_t at = le::U32(image + 0x3C);
    if (at > size || size - at < 24 + 2 || std::memcmp(image + at, "PE\0\0", 4) != 0) return false;
    std::size_t optional = at + 24, optionalSize = le::U16(image + at + 20);
    pe.sectionCount = le::U16(image + at + 6);
    std::uint16_t magic = le::U16(image + optional);
    std::size_t directories = optional + (magic == 0x20B ? 112 : 96);
    if ((magic != 0x10B && magic != 0x20B) || optional + optionalSize > size || directories + 5 * 8 > optional + optionalSize)
        return false;
    pe.checksumAt = optional + 64;
    pe.securityEntryAt = directories + 4 * 8;
    pe.certificatesAt = le::U32(image + pe.securityEntryAt);
    pe.certificatesSize = le::U32(image + pe.securityEntryAt + 4);
    pe.sectionsAt = optional + optionalSize;
    if (pe.sectionsAt + 40 * pe.sectionCount > size) return false;
    error.clear();
    return true;
}

// Whether [from, from + length) lies in the bytes a section loads as initialised data.
bool InInitialisedData(const unsigned char* image, const PeLayout& pe, std::size_t from, std::size_t length) {
    for (std::size_t i = 0; i < pe.sectionCount; ++i) {
        const unsigned char* s = image + pe.sectionsAt + 40 * i;
        std::uint32_t virtualSize = le::U32(s + 8), rawSize = le::U32(s + 16), rawAt = le::U32(s + 20),
                      flags = le::U32(s + 36);
        std::uint64_t loaded = virtualSize ? std::min(virtualSize, rawSize) : rawSize;
        if (from >= rawAt && from + length <= std::uint64_t(rawAt) + loaded)
            return (flags & kScnCntInitializedData) && !(flags & (kScnCntCode | kScnMemExecute));
    }
    return false;
}

}  // namespace

bool ImageIsSigned(const unsigned char* image, std::size_t size) {
    PeLayout pe;
    std::string error;
    return ReadLayout(image, size, pe, error) && pe.certificatesSize != 0;
}

bool FindDigestBlock(const unsigned char* image, std::size_t size, std::size_t& offset, std::string& error) {
    PeLayout pe;
    if (!ReadLayout(image, size, pe, error)) return false;
    const unsigned char* end = image + size;
    const unsigned char* found = nullptr;
    for (const unsigned char* p = image;;) {
        p = std::search(p, end, kDigestMarker, kDigestMarker + kDigestMarkerSize);
        if (p == end) break;
        if (found) {
            error = "the program holds more than one package digest block";
            return false;
        }
        found = p++;
    }
    if (!found) {
        error = "the program has no package digest block (not a setup.exe of this kit, or one too old)";
        return false;
    }
    std::size_t at = static_cast<std::size_t>(found - image);
    bool excluded = (at < pe.checksumAt + 4 && at + kDigestBlockSize > pe.checksumAt) ||
                    (at < pe.securityEntryAt + 8 && at + kDigestBlockSize > pe.securityEntryAt) ||
                    (pe.certificatesSize && at < std::uint64_t(pe.certificatesAt) + pe.certificatesSize &&
                     at + kDigestBlockSize > pe.certificatesAt);
    if (size < kDigestBlockSize || at > size - kDigestBlockSize || excluded || !InInitialisedData(image, pe, at, kDigestBlockSize)) {
        error = "the package digest block is not wholly inside the program's initialised data, "
                "where a signature covers it";
        return false;
    }
    offset = at;
    return true;
}

bool ReadDigestBlock(const std::vector<unsigned char>& image, DigestBlock& block, std::string& error) {
    std::size_t at = 0;
    if (!FindDigestBlock(image.data(), image.size(), at, error)) return false;
    if (ParseDigestBody(image.data() + at + kDigestMarkerSize, block) == BlockState::Invalid) {
        error = "the package digest block is damaged (unknown format or stray bytes)";
        return false;
    }
    return true;
}

bool FillDigestBlock(std::vector<unsigned char>& image, const DigestBlock& block, std::string& error) {
    std::size_t at = 0;
    if (!FindDigestBlock(image.data(), image.size(), at, error)) return false;
    if (ImageIsSigned(image.data(), image.size())) {
        error = "the program is signed already: its digest block is filled before it is signed";
        return false;
    }
    WriteDigestBody(block, image.data() + at + kDigestMarkerSize);
    return true;
}

}  // namespace cabsetup
