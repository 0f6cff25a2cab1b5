// SHA-256 against published vectors and the padding boundaries, whole and fed
// in pieces of every size.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace cabsetup::testing
