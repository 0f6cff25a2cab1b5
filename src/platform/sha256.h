// SHA-256 (FIPS 180-4), portable: the installed-file log's digest, and any
// other file whose bytes must be proven unchanged.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cabsetup {

class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    void Update(const void* data, std::size_t size);
    void Update(std::string_view text) { Update(text.data(), text.size()); }
    // The digest of everything given so far; the object starts over afterwards.
    Digest Final();

private:
    void Block(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_;
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;  // bytes
};

// Lower-case hexadecimal, 64 characters.
std::string HexDigest(const Sha256::Digest& digest);
std::string Sha256Hex(std::string_view bytes);

}  // namespace cabsetup
