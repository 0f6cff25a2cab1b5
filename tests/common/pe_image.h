// A small Windows program image for the tests of the package digest block.
#pragma once

#include <cstring>
#include <vector>

#include "formats/digest_block_image.h"
#include "formats/little_endian.h"

namespace cabsetup::testing {

// A program image: headers, a code section and a data section holding the
// marker and an empty body at `blockAt` (an offset in the data section).
struct Image {
    std::vector<unsigned char> bytes;
    std::size_t dataAt = 0x400, codeAt = 0x200;
};
inline Image MakeImage(bool markerInCode = false, int markers = 1, bool plus = false) {
    Image img;
    img.bytes.assign(0x800, 0);
    std::vector<unsigned char>& b = img.bytes;
    b[0] = 'M', b[1] = 'Z';
    le::PutU32(&b[0x3C], 0x80);
    std::memcpy(&b[0x80], "PE\0\0", 4);
    std::size_t coff = 0x84, opt = coff + 20, optSize = plus ? 240 : 224, sections = opt + optSize;
    le::PutU16(&b[coff + 2], 2);
    le::PutU16(&b[coff + 16], static_cast<std::uint16_t>(optSize));
    le::PutU16(&b[opt], plus ? 0x20B : 0x10B);
    auto section = [&](std::size_t i, std::uint32_t rawAt, std::uint32_t flags) {
        unsigned char* s = &b[sections + 40 * i];
        le::PutU32(s + 8, 0x400), le::PutU32(s + 12, static_cast<std::uint32_t>(0x1000 * (i + 1)));
        le::PutU32(s + 16, i == 0 ? 0x200 : 0x400), le::PutU32(s + 20, rawAt), le::PutU32(s + 36, flags);
    };
    section(0, 0x200, 0x60000020);  // .text: code, execute, read
    section(1, 0x400, 0xC0000040);  // .data: initialised, read, write
    std::size_t first = markerInCode ? img.codeAt : img.dataAt + 0x20;
    for (int m = 0; m < markers; ++m)
        std::memcpy(&b[first + m * 0x120], kDigestMarker, kDigestMarkerSize);
    return img;
}

}  // namespace cabsetup::testing
