// SHA-256 (FIPS 180-4): the installed-file log's digest, and any
// other file whose bytes must be proven unchanged. Portable C++, or the x86
// SHA extensions where the processor has them (chosen once, at first use).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace cabsetup {

namespace detail {
// Which rounds a Sha256 uses. Only tests and benchmarks choose: everything
// else takes the fastest the processor offers.
enum class Sha256Rounds { Portable, Hardware };
// The processor has the x86 SHA extensions (with SSSE3 and SSE4.1).
bool Sha256HardwareAvailable();
}  // namespace detail

class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();
    // Hardware falls back to Portable where the processor lacks it.
    explicit Sha256(detail::Sha256Rounds rounds);
    void Update(const void* data, std::size_t size);
    void Update(std::string_view text) { Update(text.data(), text.size()); }
    // The digest of everything given so far; the object starts over afterwards.
    Digest Final();

private:
    using Compress = void (*)(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count);
    explicit Sha256(Compress compress);

    Compress compress_;
    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_;
    std::size_t buffered_ = 0;
    std::uint64_t length_ = 0;  // bytes
};

// Lower-case hexadecimal, 64 characters.
std::string HexDigest(const Sha256::Digest& digest);
std::string Sha256Hex(std::string_view bytes);

}  // namespace cabsetup
