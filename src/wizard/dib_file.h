// The side picture's file: an uncompressed Windows bitmap of 8, 24 or 32 bits
// per pixel, read into top-down rows. Everything the file claims is checked
// against its size before anything is allocated or copied.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace cabsetup {

struct DibImage {
    std::int32_t width = 0, height = 0;  // height: rows, always positive
    std::uint16_t bitsPerPixel = 0;
    std::uint32_t stride = 0;
    bool hasColorTable = false;
    std::array<std::uint8_t, 1024> colors{};  // 256 entries: blue, green, red, reserved
    std::vector<std::uint8_t> pixels;         // height rows of stride bytes, top row first
};

// The row length of the picture: whole bytes per pixel, padded to 4.
std::uint32_t DibStride(std::int32_t width, std::uint16_t bitsPerPixel);

// False for anything but "BM" with a 40-byte header, 8 or more bits per
// pixel and no compression, and for sizes the file does not hold.
// readColorTable: an 8-bit picture's 256 colour entries are read.
bool ParseDib(const std::uint8_t* data, std::size_t size, bool readColorTable, DibImage& out);

}  // namespace cabsetup
