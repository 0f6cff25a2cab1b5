#include "platform/sha256.h"

#include <cstring>

#include "platform/sha256_blocks.h"

namespace cabsetup {

namespace {

constexpr std::array<std::uint32_t, 8> kInitial = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                                   0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};

constexpr std::uint32_t Rotate(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

sha256_blocks::Compress Fastest() {
#ifdef CABSETUP_SHA256_X86
    if (sha256_blocks::X86Available()) return sha256_blocks::X86;
#endif
    return sha256_blocks::Portable;
}

sha256_blocks::Compress Chosen(detail::Sha256Rounds rounds) {
    // Asked once: CPUID is slow under some hypervisors, and the answer never changes.
    static const sha256_blocks::Compress fastest = Fastest();
    return rounds == detail::Sha256Rounds::Hardware ? fastest : sha256_blocks::Portable;
}

}  // namespace

namespace sha256_blocks {

namespace {

void Block(std::uint32_t* state, const std::uint8_t* p) {
    std::uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = std::uint32_t{p[4 * i]} << 24 | std::uint32_t{p[4 * i + 1]} << 16 | std::uint32_t{p[4 * i + 2]} << 8 |
               std::uint32_t{p[4 * i + 3]};
    for (int i = 16; i < 64; ++i) {
        std::uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        std::uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4], f = state[5], g = state[6],
                  h = state[7];
    for (int i = 0; i < 64; ++i) {
        std::uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        std::uint32_t t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a, state[1] += b, state[2] += c, state[3] += d;
    state[4] += e, state[5] += f, state[6] += g, state[7] += h;
}

}  // namespace

void Portable(std::uint32_t* state, const std::uint8_t* blocks, std::size_t count) {
    for (; count > 0; --count, blocks += 64) Block(state, blocks);
}

}  // namespace sha256_blocks

bool detail::Sha256HardwareAvailable() {
    return Chosen(detail::Sha256Rounds::Hardware) != sha256_blocks::Portable;
}

Sha256::Sha256() : Sha256(Chosen(detail::Sha256Rounds::Hardware)) {}

Sha256::Sha256(detail::Sha256Rounds rounds) : Sha256(Chosen(rounds)) {}

Sha256::Sha256(Compress compress) : compress_(compress), state_(kInitial), buffer_{} {}

void Sha256::Update(const void* data, std::size_t size) {
    const auto* p = static_cast<const std::uint8_t*>(data);
    length_ += size;
    while (size > 0) {
        if (buffered_ == 0 && size >= 64) {
            // Every whole block in one call: the hardware rounds keep the state in registers across them.
            const std::size_t count = size / 64;
            compress_(state_.data(), p, count);
            p += count * 64;
            size -= count * 64;
            continue;
        }
        std::size_t take = 64 - buffered_ < size ? 64 - buffered_ : size;
        std::memcpy(buffer_.data() + buffered_, p, take);
        buffered_ += take;
        p += take;
        size -= take;
        if (buffered_ == 64) {
            compress_(state_.data(), buffer_.data(), 1);
            buffered_ = 0;
        }
    }
}

Sha256::Digest Sha256::Final() {
    const std::uint64_t bits = length_ * 8;
    // A one bit, zeros up to 56 bytes into a block, then the length in bits.
    static const std::uint8_t kPad[64] = {0x80};
    Update(kPad, buffered_ < 56 ? 56 - buffered_ : 120 - buffered_);
    std::uint8_t tail[8];
    for (int i = 0; i < 8; ++i) tail[i] = static_cast<std::uint8_t>(bits >> (56 - 8 * i));
    Update(tail, sizeof tail);
    Digest out;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 4; ++j) out[4 * i + j] = static_cast<std::uint8_t>(state_[i] >> (24 - 8 * j));
    *this = Sha256(compress_);
    return out;
}

std::string HexDigest(const Sha256::Digest& digest) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(64);
    for (std::uint8_t b : digest) {
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
    }
    return out;
}

std::string Sha256Hex(std::string_view bytes) {
    Sha256 h;
    h.Update(bytes);
    return HexDigest(h.Final());
}

}  // namespace cabsetup
