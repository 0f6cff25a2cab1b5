#include "formats/cabinet_format.h"

#include "formats/little_endian.h"

namespace cabsetup::cab {

std::uint32_t Checksum(const unsigned char* bytes, std::size_t size, std::uint32_t seed) {
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

}  // namespace cabsetup::cab
