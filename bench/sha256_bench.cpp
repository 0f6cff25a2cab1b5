// SHA-256 throughput of the portable and the hardware rounds over 64 MiB, the
// best of three runs each, as MB/s (10^6 bytes per second). Exits 1 when the
// two disagree on the digest.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/sha256.h"

namespace {

using cabsetup::Sha256;
using cabsetup::detail::Sha256Rounds;

double Seconds(Sha256Rounds rounds, const std::vector<std::uint8_t>& data, std::string* hex) {
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        const auto start = std::chrono::steady_clock::now();
        Sha256 h(rounds);
        // Pieces the size of a cabinet's data block, as the digest checks see them.
        for (std::size_t at = 0; at < data.size(); at += 32768) h.Update(data.data() + at, 32768);
        *hex = cabsetup::HexDigest(h.Final());
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        if (took.count() < best) best = took.count();
    }
    return best;
}

}  // namespace

int main() {
    std::vector<std::uint8_t> data(64u << 20);
    std::uint32_t seed = 2463534242u;
    for (auto& b : data) {
        seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
        b = static_cast<std::uint8_t>(seed);
    }
    std::string portableHex, hardwareHex;
    const double portable = Seconds(Sha256Rounds::Portable, data, &portableHex);
    std::printf("portable: %7.1f MB/s  %.2f ms/MiB\n", data.size() / portable / 1e6, portable * 1e3 / 64);
    if (!cabsetup::detail::Sha256HardwareAvailable()) {
        std::printf("hardware: not available on this processor\n");
        return 0;
    }
    const double hardware = Seconds(Sha256Rounds::Hardware, data, &hardwareHex);
    std::printf("hardware: %7.1f MB/s  %.2f ms/MiB  (%.1fx)\n", data.size() / hardware / 1e6, hardware * 1e3 / 64,
                portable / hardware);
    if (portableHex != hardwareHex) {
        std::printf("MISMATCH: portable %s, hardware %s\n", portableHex.c_str(), hardwareHex.c_str());
        return 1;
    }
    return 0;
}
