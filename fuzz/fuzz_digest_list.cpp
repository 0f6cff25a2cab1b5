// Any bytes as setup.sha, and as a digest block's body: never a crash, never
// a read past the buffer; whatever is accepted writes back to the same bytes
// (the reader accepts only what the writer writes).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "formats/package_digests.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    cabsetup::DigestList list;
    if (cabsetup::ParseDigestList(text, list)) {
        if (cabsetup::WriteDigestList(list) != text) std::abort();
        for (const cabsetup::DigestListCabinet& c : list.cabinets)
            if (list.FindCabinet(c.number) != &c) std::abort();
    }
    if (size >= cabsetup::kDigestBodySize) {
        std::vector<unsigned char> body(data, data + cabsetup::kDigestBodySize);
        cabsetup::DigestBlock block;
        cabsetup::BlockState state = cabsetup::ParseDigestBody(body.data(), block);
        if (state != cabsetup::BlockState::Invalid) {
            unsigned char again[cabsetup::kDigestBodySize];
            cabsetup::WriteDigestBody(block, again);
            if (std::memcmp(again, body.data(), sizeof again) != 0) std::abort();
        }
    }
    return 0;
}
