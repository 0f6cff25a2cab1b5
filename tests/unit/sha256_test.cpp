// SHA-256 against published vectors and the padding boundaries, whole and fed
// in pieces of every size; the x86 SHA-extension rounds against the portable ones.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <vector>

#include "platform/sha256.h"

namespace cabsetup::testing {
namespace {

struct Vector {
    std::string message;
    const char* digest;
};

std::vector<Vector> Vectors() {
    auto as = [](std::size_t n) { return std::string(n, 'a'); };
    return {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        // 56 bytes: the padding needs a second block.
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {as(55), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {as(56), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {as(63), "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
        {as(64), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
        {as(65), "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
        {as(119), "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
        {as(120), "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
        {as(128), "6836cf13bac400e9105071cd6af47084dfacad4e5e302c94bfed24e013afb73e"},
    };
}

TEST(Sha256, PublishedVectorsAndPaddingBoundaries) {
    for (const Vector& v : Vectors()) EXPECT_EQ(Sha256Hex(v.message), v.digest) << v.message.size() << " bytes";
}

TEST(Sha256, PiecesOfAnySizeGiveTheSameDigest) {
    for (const Vector& v : Vectors())
        for (std::size_t piece : {1u, 3u, 55u, 63u, 64u, 65u}) {
            Sha256 h;
            for (std::size_t at = 0; at < v.message.size(); at += piece)
                h.Update(std::string_view(v.message).substr(at, piece));
            EXPECT_EQ(HexDigest(h.Final()), v.digest) << v.message.size() << " bytes in pieces of " << piece;
        }
}

TEST(Sha256, AMillionTimesAAndAFreshStartAfterFinal) {
    Sha256 h;
    const std::string thousand(1000, 'a');
    for (int i = 0; i < 1000; ++i) h.Update(thousand);
    EXPECT_EQ(HexDigest(h.Final()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    h.Update("abc");
    EXPECT_EQ(HexDigest(h.Final()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

using detail::Sha256Rounds;

std::string Hex(Sha256Rounds rounds, std::string_view bytes) {
    Sha256 h(rounds);
    h.Update(bytes);
    return HexDigest(h.Final());
}

// Bytes no one would choose, the same on every run.
std::string Noise(std::size_t size, std::uint32_t seed) {
    std::string out(size, '\0');
    for (char& c : out) {
        seed ^= seed << 13, seed ^= seed >> 17, seed ^= seed << 5;
        c = static_cast<char>(seed >> 24);
    }
    return out;
}

class Sha256Hardware : public ::testing::Test {
protected:
    void SetUp() override {
        if (!detail::Sha256HardwareAvailable())
            GTEST_SKIP() << "this processor lacks the x86 SHA extensions (or SSSE3/SSE4.1): only the portable rounds run";
    }
};

TEST_F(Sha256Hardware, EveryLengthMatchesThePortableRounds) {
    const std::string noise = Noise(2100 + 16, 0x9e3779b9);
    for (std::size_t size = 0; size <= 2100; ++size) {
        // The start moves too, so the loads see every alignment.
        const std::string_view bytes = std::string_view(noise).substr(size % 16, size);
        ASSERT_EQ(Hex(Sha256Rounds::Hardware, bytes), Hex(Sha256Rounds::Portable, bytes)) << size << " bytes";
    }
}

TEST_F(Sha256Hardware, UnevenPiecesMatchOneWholeUpdate) {
    const std::string noise = Noise(20000, 12345);
    const std::string whole = Hex(Sha256Rounds::Portable, noise);
    const std::vector<std::vector<std::size_t>> splits = {
        {1, 63, 64, 65, 127, 128, 129}, {3000, 1, 4095}, {64}, {7, 500, 64 * 40 + 1}, {20000}};
    for (const auto& pieces : splits)
        for (Sha256Rounds rounds : {Sha256Rounds::Portable, Sha256Rounds::Hardware}) {
            Sha256 h(rounds);
            std::size_t at = 0;
            for (std::size_t i = 0; at < noise.size(); ++i) {
                const std::size_t take = std::min(pieces[i % pieces.size()], noise.size() - at);
                h.Update(noise.data() + at, take);
                at += take;
            }
            EXPECT_EQ(HexDigest(h.Final()), whole) << "pieces starting " << pieces.front() << ", rounds "
                                                   << static_cast<int>(rounds);
        }
}

TEST_F(Sha256Hardware, OneMebibyteMatchesThePortableRounds) {
    const std::string noise = Noise(1 << 20, 777);
    EXPECT_EQ(Hex(Sha256Rounds::Hardware, noise), Hex(Sha256Rounds::Portable, noise));
}

TEST(Sha256Rounds, KnownAnswersOnEachPath) {
    struct Answer {
        std::string message;
        const char* digest;
    };
    const std::vector<Answer> answers = {
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    std::vector<Sha256Rounds> paths = {Sha256Rounds::Portable};
    if (detail::Sha256HardwareAvailable()) paths.push_back(Sha256Rounds::Hardware);
    for (Sha256Rounds rounds : paths)
        for (const Answer& a : answers) {
            Sha256 h(rounds);
            h.Update(a.message);
            EXPECT_EQ(HexDigest(h.Final()), a.digest) << a.message.size() << " bytes, rounds " << static_cast<int>(rounds);
            // Final starts over on the same rounds.
            h.Update("abc");
            EXPECT_EQ(HexDigest(h.Final()), answers[0].digest);
        }
    if (!detail::Sha256HardwareAvailable()) GTEST_SKIP() << "portable rounds checked; no x86 SHA extensions here";
}

#if defined(__linux__) && (defined(__i386__) || defined(__x86_64__))
// The CPUID check agrees with what the kernel saw.
TEST(Sha256Rounds, HardwareChosenExactlyWhereTheKernelReportsIt) {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line) && line.rfind("flags", 0) != 0) {
    }
    if (line.empty()) GTEST_SKIP() << "no flags line in /proc/cpuinfo";
    std::istringstream words(line);
    bool sha = false, ssse3 = false, sse41 = false;
    for (std::string w; words >> w;) sha |= w == "sha_ni", ssse3 |= w == "ssse3", sse41 |= w == "sse4_1";
    EXPECT_EQ(detail::Sha256HardwareAvailable(), sha && ssse3 && sse41) << line;
}
#endif

}  // namespace
}  // namespace cabsetup::testing
