// The package digest block (its body, and its place in a program's image)
// and the digest list setup.sha: what is written reads back the same, and
// everything else is refused.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>

#include "formats/digest_block_image.h"
#include "formats/little_endian.h"
#include "formats/package_digests.h"
#include "pe_image.h"

namespace cabsetup {
namespace {

using Bytes = std::vector<unsigned char>;
using testing::Image;
using testing::MakeImage;

Digest Filled(unsigned char seed) {
    Digest d;
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<unsigned char>(seed + i);
    return d;
}

DigestBlock SomeBlock(bool dataInf, bool license, bool picture) {
    DigestBlock block;
    block.filled = true;
    block.Set(VouchedFile::SetupInf, Filled(1));
    block.Set(VouchedFile::DigestList, Filled(5));
    if (dataInf) block.Set(VouchedFile::DataInf, Filled(2));
    if (license) block.Set(VouchedFile::License, Filled(3));
    if (picture) block.Set(VouchedFile::Picture, Filled(4));
    return block;
}

TEST(DigestBlock, BodyRoundTripsForEveryMixOfFiles) {
    for (int mix = 0; mix < 8; ++mix) {
        DigestBlock block = SomeBlock(mix & 1, mix & 2, mix & 4), back;
        unsigned char body[kDigestBodySize];
        WriteDigestBody(block, body);
        ASSERT_EQ(ParseDigestBody(body, back), BlockState::Filled) << mix;
        EXPECT_EQ(back.present, block.present) << mix;
        for (unsigned i = 0; i < static_cast<unsigned>(VouchedFile::Count); ++i)
            if (block.present[i]) {
                EXPECT_EQ(back.digests[i], block.digests[i]) << mix << " " << i;
            }
    }
    unsigned char empty[kDigestBodySize];
    WriteDigestBody(DigestBlock{}, empty);
    DigestBlock none;
    EXPECT_EQ(ParseDigestBody(empty, none), BlockState::Empty);
    EXPECT_FALSE(none.filled);
}

TEST(DigestBlock, BodiesNoWriterMakesAreInvalid) {
    struct Case {
        const char* what;
        std::function<void(unsigned char*)> edit;
    } cases[] = {
        {"a stray byte in an empty body", [](unsigned char* b) { std::memset(b, 0, kDigestBodySize); b[100] = 1; }},
        {"an unknown format", [](unsigned char* b) { le::PutU32(b, 2); }},
        {"a flag for a sixth file", [](unsigned char* b) { le::PutU32(b + 4, le::U32(b + 4) | 0x20); }},
        {"no setup.inf", [](unsigned char* b) { le::PutU32(b + 4, le::U32(b + 4) & ~1u); }},
        {"no digest list", [](unsigned char* b) { le::PutU32(b + 4, le::U32(b + 4) & ~0x10u); }},
        {"a digest for an absent file", [](unsigned char* b) { b[8 + 32 * 2] = 7; }},  // licence absent
        {"bytes after the digests", [](unsigned char* b) { b[kDigestBodySize - 1] = 1; }},
    };
    for (const Case& c : cases) {
        unsigned char body[kDigestBodySize];
        WriteDigestBody(SomeBlock(true, false, true), body);
        c.edit(body);
        DigestBlock out;
        EXPECT_EQ(ParseDigestBody(body, out), BlockState::Invalid) << c.what;
        EXPECT_FALSE(out.filled) << c.what;
    }
}

TEST(DigestBlockImage, FilledInPlaceAndReadBack) {
    for (bool plus : {false, true}) {
        Image img = MakeImage(false, 1, plus);
        Bytes before = img.bytes;
        DigestBlock block = SomeBlock(false, true, false), back;
        std::string error;
        ASSERT_TRUE(ReadDigestBlock(img.bytes, back, error)) << error;
        EXPECT_FALSE(back.filled);
        ASSERT_TRUE(FillDigestBlock(img.bytes, block, error)) << error;
        ASSERT_TRUE(ReadDigestBlock(img.bytes, back, error)) << error;
        EXPECT_TRUE(back.filled);
        EXPECT_EQ(back.Of(VouchedFile::License), block.Of(VouchedFile::License));
        // Only the body changed: the marker and every other byte stand.
        std::size_t at = img.dataAt + 0x20;
        for (std::size_t i = 0; i < before.size(); ++i)
            if (i < at + kDigestMarkerSize || i >= at + kDigestBlockSize) {
                ASSERT_EQ(img.bytes[i], before[i]) << i;
            }
    }
}

TEST(DigestBlockImage, RefusedWhereASignatureWouldNotCoverItOrNoBlockIsClear) {
    struct Case {
        const char* what;
        Image img;
        std::function<void(Bytes&)> edit;
    } cases[] = {
        {"in a code section", MakeImage(true), nullptr},
        {"two markers", MakeImage(false, 2), nullptr},
        {"no marker", MakeImage(false, 0), nullptr},
        {"past the section's loaded bytes", MakeImage(), [](Bytes& b) {
             le::PutU32(&b[0x84 + 20 + 224 + 40 + 8], 0x30);  // .data's virtual size ends inside the block
         }},
        {"image cut inside the block", MakeImage(), [](Bytes& b) { b.resize(0x400 + 0x20 + 100); }},
        {"image cut inside the headers", MakeImage(), [](Bytes& b) { b.resize(0x90); }},
        {"not a PE image", MakeImage(), [](Bytes& b) { b[0x81] = 'X'; }},
        {"e_lfanew beyond the file", MakeImage(), [](Bytes& b) { le::PutU32(&b[0x3C], 0xFFFFFFF0u); }},
        {"inside the certificate table", MakeImage(), [](Bytes& b) {
             std::size_t security = 0x84 + 20 + 96 + 4 * 8;
             le::PutU32(&b[security], 0x400), le::PutU32(&b[security + 4], 0x400);
         }},
    };
    for (Case& c : cases) {
        if (c.edit) c.edit(c.img.bytes);
        std::size_t at = 0;
        std::string error;
        DigestBlock block;
        EXPECT_FALSE(FindDigestBlock(c.img.bytes.data(), c.img.bytes.size(), at, error)) << c.what;
        EXPECT_FALSE(error.empty()) << c.what;
        Bytes before = c.img.bytes;
        EXPECT_FALSE(FillDigestBlock(c.img.bytes, SomeBlock(true, true, true), error)) << c.what;
        EXPECT_EQ(c.img.bytes, before) << c.what;
    }
}

TEST(DigestBlockImage, ASignedProgramIsNotFilledAgain) {
    Image img = MakeImage();
    std::size_t security = 0x84 + 20 + 96 + 4 * 8;
    le::PutU32(&img.bytes[security], 0x700), le::PutU32(&img.bytes[security + 4], 0x100);
    std::string error;
    std::size_t at = 0;
    EXPECT_TRUE(FindDigestBlock(img.bytes.data(), img.bytes.size(), at, error)) << error;
    EXPECT_TRUE(ImageIsSigned(img.bytes.data(), img.bytes.size()));
    EXPECT_FALSE(FillDigestBlock(img.bytes, SomeBlock(false, false, false), error));
    EXPECT_NE(error.find("signed already"), std::string::npos) << error;
}

DigestList SomeList(bool linked) {
    DigestList list;
    list.sets.push_back({1, 2, Filled(9)});
    list.cabinets.push_back({0, 0, 284, 1000, Filled(10), Filled(11)});
    list.cabinets.push_back({1, 1, 20, 0, Filled(12), Filled(13)});
    if (linked) {
        list.sets.push_back({2, 1, Filled(14)});
        list.cabinets.push_back({100000, 0, 540, 0xFFFFFFFFu, Filled(15), Filled(16)});
    }
    return list;
}

TEST(DigestList, RoundTrip) {
    for (bool linked : {false, true}) {
        DigestList list = SomeList(linked), back;
        std::string text = WriteDigestList(list);
        ASSERT_TRUE(ParseDigestList(text, back)) << text;
        ASSERT_EQ(back.sets.size(), list.sets.size());
        ASSERT_EQ(back.cabinets.size(), list.cabinets.size());
        for (std::size_t i = 0; i < list.cabinets.size(); ++i) {
            const DigestListCabinet &a = list.cabinets[i], &b = back.cabinets[i];
            EXPECT_EQ(std::tie(a.number, a.volume, a.offset, a.size, a.record, a.cabinet),
                      std::tie(b.number, b.volume, b.offset, b.size, b.record, b.cabinet));
            EXPECT_EQ(back.FindCabinet(a.number), &back.cabinets[i]);
        }
        EXPECT_EQ(back.FindCabinet(7), nullptr);
        EXPECT_EQ(WriteDigestList(back), text);
    }
}

TEST(DigestList, AnythingButWhatTheWriterWritesIsRefused) {
    const std::string good = WriteDigestList(SomeList(true));
    auto replace = [&](const std::string& from, const std::string& to) {
        std::string t = good;
        std::size_t at = t.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return at == std::string::npos ? t : t.replace(at, from.size(), to);
    };
    const std::string hex = HexDigest(Filled(10));
    struct Case {
        const char* what;
        std::string text;
    } cases[] = {
        {"empty", ""},
        {"heading only", "cabsetup-digests 1\n"},
        {"another heading", replace("cabsetup-digests 1", "cabsetup-digests 2")},
        {"no last newline", good.substr(0, good.size() - 1)},
        {"carriage returns", replace("\n", "\r\n")},
        {"a cabinet missing", replace("cab 1 ", "cax 1 ")},
        {"count larger than the cabinets", replace("set 1 2 ", "set 1 3 ")},
        {"count smaller than the cabinets", replace("set 1 2 ", "set 1 1 ")},
        {"number out of order", replace("cab 1 ", "cab 2 ")},
        {"linked set numbered as main", replace("cab 100000 ", "cab 2 ")},
        {"linked set first", replace("set 1 2 ", "set 2 2 ")},
        {"upper-case hex", replace(hex, std::string(hex).replace(0, 2, "0A"))},
        {"short digest", replace(hex + " ", hex.substr(1) + " ")},
        {"leading zero", replace(" 284 ", " 0284 ")},
        {"negative", replace(" 284 ", " -284 ")},
        {"size past 32 bits", replace(" 4294967295 ", " 4294967296 ")},
        {"two blanks", replace("cab 0 0", "cab 0  0")},
        {"extra field", replace(HexDigest(Filled(11)) + "\n", HexDigest(Filled(11)) + " x\n")},
        {"a line of its own kind", good + "note hello\n"},
        {"a third set", good + "set 2 0 " + hex + "\n"},
        {"a zero in the text", replace(" 284 ", std::string(" 2\0" "84 ", 5))},
    };
    for (const Case& c : cases) {
        DigestList out;
        EXPECT_FALSE(ParseDigestList(c.text, out)) << c.what;
        EXPECT_TRUE(out.sets.empty() && out.cabinets.empty()) << c.what;
    }
}

}  // namespace
}  // namespace cabsetup
