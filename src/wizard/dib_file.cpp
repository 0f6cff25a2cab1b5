#include "wizard/dib_file.h"

#include <algorithm>
#include <cstring>

#include "formats/little_endian.h"

namespace cabsetup {

namespace {
constexpr std::size_t kFileHeader = 14, kInfoHeader = 40, kColorTable = 1024;
// A side picture is a few hundred pixels a side; anything far larger is a lie.
constexpr std::int64_t kMaxSide = 16384;
}  // namespace

std::uint32_t DibStride(std::int32_t width, std::uint16_t bitsPerPixel) {
    return (static_cast<std::uint32_t>(width) * (bitsPerPixel / 8u) + 3u) / 4u * 4u;
}

bool ParseDib(const std::uint8_t* data, std::size_t size, bool readColorTable, DibImage& out) {
    out = DibImage();
    if (size < kFileHeader + kInfoHeader || data[0] != 'B' || data[1] != 'M') return false;
    const std::uint8_t* info = data + kFileHeader;
    std::uint32_t pixelOffset = le::U32(data + 10);
    std::int32_t width = le::I32(info + 4), height = le::I32(info + 8);
    std::uint16_t bits = le::U16(info + 14);
    if (le::U32(info) != kInfoHeader || bits < 8 || le::U32(info + 16) != 0) return false;
    std::int64_t rows = height < 0 ? -static_cast<std::int64_t>(height) : height;
    if (width <= 0 || width > kMaxSide || rows == 0 || rows > kMaxSide || bits > 32) return false;

    out.width = width;
    out.height = static_cast<std::int32_t>(rows);
    out.bitsPerPixel = bits;
    out.stride = DibStride(width, bits);
    std::size_t pos = kFileHeader + kInfoHeader;
    if (bits == 8 && readColorTable) {
        // Always 256 entries, whatever the colours-used field says.
        if (size - pos < kColorTable) return false;
        std::memcpy(out.colors.data(), data + pos, kColorTable);
        out.hasColorTable = true;
    }
    std::uint64_t bytes = static_cast<std::uint64_t>(out.stride) * static_cast<std::uint64_t>(rows);
    if (pixelOffset > size || size - pixelOffset < bytes) return false;
    out.pixels.assign(data + pixelOffset, data + pixelOffset + bytes);
    if (height > 0) {  // bottom-up in the file
        for (std::int64_t i = 0; i < rows / 2; ++i)
            std::swap_ranges(out.pixels.begin() + i * out.stride, out.pixels.begin() + (i + 1) * out.stride,
                             out.pixels.begin() + (rows - 1 - i) * out.stride);
    }
    return true;
}

}  // namespace cabsetup
