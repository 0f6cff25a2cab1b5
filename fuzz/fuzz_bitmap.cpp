// Any bytes as setup.bmp: refused or read, never a read past the file, and a
// picture that loads holds exactly its rows.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "wizard/dib_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::uint8_t> bytes(data, data + size);
    cabsetup::DibImage image;
    if (!cabsetup::ParseDib(bytes.data(), bytes.size(), true, image)) return 0;
    if (image.pixels.size() != static_cast<std::size_t>(image.stride) * static_cast<std::size_t>(image.height))
        std::abort();
    return 0;
}
