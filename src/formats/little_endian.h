// Little-endian fields of the package formats, read and written byte by byte
// so that the code does not depend on the host's byte order or alignment.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace cabsetup::le {

inline std::uint32_t U32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}
inline std::uint16_t U16(const unsigned char* p) { return std::uint16_t(p[0] | p[1] << 8); }
inline std::int32_t I32(const unsigned char* p) { return static_cast<std::int32_t>(U32(p)); }

inline void PutU32(unsigned char* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void PutU16(unsigned char* p, std::uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

// A fixed text field: the text ends at its first zero byte or at the field's
// end, whichever comes first.
inline std::string Text(const unsigned char* p, std::size_t width) {
    const void* zero = std::memchr(p, 0, width);
    std::size_t n = zero ? static_cast<std::size_t>(static_cast<const unsigned char*>(zero) - p) : width;
    return std::string(reinterpret_cast<const char*>(p), n);
}

// Writes text zero-padded into a field of `width` bytes; false when it does
// not fit with its terminating zero (nothing is cut).
inline bool PutText(unsigned char* p, std::size_t width, std::string_view text) {
    if (text.size() >= width) return false;
    std::memset(p, 0, width);
    std::memcpy(p, text.data(), text.size());
    return true;
}

}  // namespace cabsetup::le
