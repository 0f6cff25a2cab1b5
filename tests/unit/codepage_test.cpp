#include <gtest/gtest.h>

#include <string>

#include "app/paths.h"
#include "platform/codepage.h"

namespace cabsetup {
namespace {

// 0xB0 0x5C: a lead byte of code page 949 followed by the backslash byte. The
// system treats the pair as one character, so the 0x5C is no separator.
const std::string kKoreanTrail5C = "C:\\\xB0\x5C\\x.exe";
// "表" in code page 932 is 0x95 0x5C.
const std::string kJapaneseHyo = "C:\\\x95\x5C\\x.exe";

TEST(CodePage, BackslashAfterLeadByteIsNoSeparator) {
    struct Case {
        int codePage;
        std::string path, parent, first;
    } cases[] = {
        {949, kKoreanTrail5C, "C:\\\xB0\x5C", "C:"},
        {932, kJapaneseHyo, "C:\\\x95\x5C", "C:"},
        {949, "\xB0\x5C", "", ""},          // the only 0x5C is a trail byte
        {949, "\xB0\x5C\\a", "\xB0\x5C", "\xB0\x5C"},
        {1252, "\xB0\x5C" "a", "\xB0", "\xB0"},  // single-byte: a real backslash
        {949, "C:\\a\\\xB0", "C:\\a", "C:"},  // a lead byte at the very end
    };
    for (const Case& c : cases) {
        TableCodePage cp(c.codePage);
        EXPECT_EQ(ParentFolder(cp, c.path), c.parent) << c.codePage << " " << c.path;
        EXPECT_EQ(FirstComponent(cp, c.path), c.first) << c.codePage << " " << c.path;
    }
}

TEST(CodePage, FindOnlyMatchesAtCharacterBoundaries) {
    TableCodePage korean(949), western(1252);
    // "/s" whose '/' would be the trail of a double-byte character.
    std::string text = "\xB0/s";
    EXPECT_EQ(korean.Find(text, "/s"), std::string::npos);
    EXPECT_EQ(western.Find(text, "/s"), 1u);
    EXPECT_EQ(korean.Find("ab<X><X>", "<X>", 3), 5u);
    EXPECT_EQ(korean.Find("abc", ""), 0u);
}

TEST(CodePage, LowerCaseLeavesDoubleByteCharactersAlone) {
    TableCodePage korean(949);
    std::string text = "/A\xB0" "A/S";  // the A after 0xB0 is a trail byte
    korean.ToLower(text);
    EXPECT_EQ(text, "/a\xB0" "A/s");
}

TEST(CodePage, CompareIsByCharacterNotByNumber) {
    TableCodePage western(1252), japanese(932);
    EXPECT_LT(western.Compare("1.10", "1.9"), 0);
    EXPECT_GT(western.Compare("2.1", "2.0"), 0);
    EXPECT_EQ(western.Compare("2.0", "2.0"), 0);
    EXPECT_LT(western.Compare("2.0", "2.0a"), 0);
    EXPECT_LT(western.Compare("A", "a"), 0);  // case-sensitive
    // A single-byte katakana (0xB0) sorts before any double-byte character,
    // although its byte is larger than the lead byte 0x8A.
    EXPECT_LT(japanese.Compare("\xB0", "\x8A\x40"), 0);
}

}  // namespace
}  // namespace cabsetup
