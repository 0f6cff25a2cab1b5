// The wizard's logic without windows: page flow, folder names, the file
// prompt's wording and the side picture's file.
#include <gtest/gtest.h>

#include <cstring>

#include "formats/little_endian.h"
#include "formats/setup_script.h"
#include "platform/codepage.h"
#include "wizard/dib_file.h"
#include "wizard/folder_check.h"
#include "wizard/media_prompt_text.h"
#include "wizard/page_flow.h"

namespace cabsetup {
namespace {

TEST(PageFlow, EveryTransitionOfNext) {
    struct Case {
        int page;
        std::int32_t kind;
        bool unattended;
        int next;
    } cases[] = {
        {kPageWelcome, kSetupKindFull, false, kPageLicense},  {kPageLicense, kSetupKindFull, false, kPageFolder},
        {kPageFolder, kSetupKindFull, false, kPageCopying},   {kPageCopying, kSetupKindFull, false, kPageFinish},
        {kPageWelcome, kSetupKindUpdate, false, kPageCopying}, {kPageCopying, kSetupKindUpdate, false, kPageFinish},
        {kPageWelcome, 7, false, kPageWelcome},               {kPageWelcome, 0, false, kPageWelcome},
        {kPageWelcome, kSetupKindFull, true, kPageCopying},   {kPageWelcome, kSetupKindUpdate, true, kPageCopying},
        {kPageWelcome, 7, true, kPageCopying},                {kPageCopying, kSetupKindFull, true, kPageFinish},
        {kPageCopying, 7, true, kPageCopying},
    };
    for (const Case& c : cases)
        EXPECT_EQ(NextPage(c.page, c.kind, c.unattended), c.next)
            << "page " << c.page << " kind " << c.kind << " /a " << c.unattended;
    EXPECT_EQ(PageHeadingId(kPageWelcome, kSetupKindFull), 6042u);
    EXPECT_EQ(PageHeadingId(kPageWelcome, kSetupKindUpdate), 6045u);
    EXPECT_EQ(PageHeadingId(kPageWelcome, 7), 0u);
    EXPECT_EQ(PageHeadingId(kPageFinish, 7), 6040u);
    EXPECT_EQ(PageDescriptionId(kPageWelcome), 0u);
    EXPECT_EQ(PageDescriptionId(kPageCopying), 6004u);
}

TEST(FolderCheck, PathsAndNames) {
    TableCodePage latin(1252), korean(949);
    struct Case {
        const char* path;
        int result;  // 0 valid
    } cases[] = {
        {"C:\\", 0},          {"z:\\", 0},           {"C:\\Program Files\\Tool", 0}, {"C:\\a\\b\\c", 0},
        {"", 1},              {"C:", 1},             {"C:\\Tool\\", 1},              {"C:\\\\Tool", 1},
        {"C:\\ Tool", 1},     {"C:\\Tool ", 1},      {"C:\\.Tool", 1},               {"C:\\Tool.", 1},
        {"C:\\a\\\tb", 1},    {"C:\\a?b", 1},        {"C:\\a|b", 1},                 {"C:\\a\"b", 1},
        {"C:\\a<b>", 1},      {"C:\\a*", 1},         {"C:\\a/b", 1},                 {"C:\\a:b", 1},
        {"\\\\server\\share", 1}, {"Tool\\sub", 1},  {"1:\\Tool", 1},                {"C:/Tool", 1},
        {"C:\\a.b c", 0},     {"C:\\a\x01" "b", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(IsValidFolderPath(latin, c.path), c.result) << c.path;
    // Korean names pass, and a trail byte equal to the backslash is no separator.
    EXPECT_EQ(IsValidFolderPath(korean, "C:\\\xC7\xD1\xB1\xDB"), 0);
    EXPECT_EQ(IsValidFolderPath(korean, "C:\\\x81\x5C"), 0);
    EXPECT_EQ(IsValidFolderName(korean, "\xC7\xD1"), 1);
    EXPECT_EQ(IsValidFolderName(latin, ""), 0);
}

TEST(MediaPrompt, DriveLabelAndWording) {
    TableCodePage cp(1252);
    struct Case {
        const char* path;
        const char* name;
        const char* drive;
        const char* label;
        bool floppy;
    } cases[] = {
        {"a:\\Data2.dat", "Data2.dat", "A:", "Data2", true},
        {"B:\\x\\Data-A.dat", "Data-A.dat", "B:", "Data-A", true},
        {"D:\\cd\\Data.dat", "Data.dat", "D:", "Data1", false},  // the first disk is "Data1"
        {"C:\\pkg\\Datam.dat", "Datam.dat", "C:", "Datam1", false},
        {"C:\\pkg\\Dataa.dat", "Dataa.dat", "C:", "Dataa1", false},
        {"C:\\pkg\\DATAM.dat", "DATAM.dat", "C:", "DATAM", false},
        {"Data2.dat", "Data2.dat", "", "Data2", false},
    };
    for (const Case& c : cases) {
        MediaPromptText t = MediaPromptFor(cp, c.path, c.name);
        EXPECT_EQ(t.drive, c.drive) << c.path;
        EXPECT_EQ(t.label, c.label) << c.path;
        EXPECT_EQ(t.floppy, c.floppy) << c.path;
        EXPECT_EQ(t.captionId, c.floppy ? 6019u : 6018u) << c.path;
        EXPECT_EQ(t.promptId, c.floppy ? 6020u : 6017u) << c.path;
    }
    MediaPromptText t = MediaPromptFor(cp, "a:\\Data2.dat", "Data2.dat");
    EXPECT_EQ(FillMediaPrompt(cp, "Insert [*label*] Disk to [*drv*] Drive. *filename* *label*", t, "Data2.dat"),
              "Insert [Data2] Disk to [A:] Drive. Data2.dat Data2");
    EXPECT_EQ(OpenFileFilter(cp, "DAT file (*.dat)|*.dat||"), std::string("DAT file (*.dat)\0*.dat\0\0\0\0", 26));
}

// The answer reaches the engine whole or not at all: a path too long for
// its field is refused, also where byte 255 falls inside a character.
TEST(MediaPrompt, AnswerTooLongForItsFieldIsRefusedNeverCut) {
    const std::string hangul = "\xC7\xD1";  // one double-byte character of code page 949
    struct Case {
        const char* what;
        std::string path;
        bool accepted;
    } cases[] = {
        {"255 bytes", "C:\\" + std::string(252, 'a'), true},
        {"256 bytes", "C:\\" + std::string(253, 'a'), false},
        {"a double-byte character ending at byte 255", "C:\\" + std::string(250, 'a') + hangul, true},
        {"a double-byte character across bytes 255 and 256", "C:\\" + std::string(251, 'a') + hangul, false},
        {"double-byte characters only, 256 bytes", "C:\\" + [&] { std::string h; for (int i = 0; i < 126; ++i) h += hangul; return h; }() + "x",
         false},
        {"empty", "", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(MediaAnswerFits(c.path), c.accepted) << c.what;
        InstallStatus status;
        status.SetText("C:\\looked\\for\\Data2.dat");
        status.SetDetail("Data2.dat");
        AnswerMediaRequest(status, true, c.path);
        EXPECT_EQ(status.Text(), c.accepted ? "TRUE" : "FALSE") << c.what;
        // What the engine reads is the user's path exactly, or nothing.
        EXPECT_EQ(status.Detail(), c.accepted ? c.path : std::string()) << c.what;
        AnswerMediaRequest(status, false, c.path);
        EXPECT_EQ(status.Text(), "FALSE") << c.what;
    }
}

// A bitmap file of the given shape; pixel bytes count up from 1.
std::vector<std::uint8_t> Bmp(std::int32_t width, std::int32_t height, std::uint16_t bits, std::uint32_t infoSize = 40,
                              std::uint32_t compression = 0) {
    std::uint64_t rows = height < 0 ? -static_cast<std::int64_t>(height) : height;
    std::uint32_t offset = 14 + 40 + (bits == 8 ? 1024 : 0);
    // A hostile height gets a few pixel bytes, not the gigabytes it claims.
    std::vector<std::uint8_t> f(offset + (rows > 4096 ? 64 : DibStride(width, bits) * rows));
    f[0] = 'B', f[1] = 'M';
    le::PutU32(&f[10], offset);
    le::PutU32(&f[14], infoSize);
    le::PutU32(&f[18], static_cast<std::uint32_t>(width));
    le::PutU32(&f[22], static_cast<std::uint32_t>(height));
    le::PutU16(&f[28], bits);
    le::PutU32(&f[30], compression);
    for (std::size_t i = offset; i < f.size(); ++i) f[i] = static_cast<std::uint8_t>(i - offset + 1);
    return f;
}

TEST(DibFile, AcceptedShapesStridesAndRowOrder) {
    EXPECT_EQ(DibStride(3, 24), 12u);
    EXPECT_EQ(DibStride(5, 8), 8u);
    DibImage up, down;
    std::vector<std::uint8_t> bottomUp = Bmp(5, 3, 8), topDown = Bmp(5, -3, 8);
    // The same picture both ways: the bottom-up file holds its rows reversed.
    for (int r = 0; r < 3; ++r)
        std::memcpy(&bottomUp[14 + 40 + 1024 + r * 8], &topDown[14 + 40 + 1024 + (2 - r) * 8], 8);
    ASSERT_TRUE(ParseDib(bottomUp.data(), bottomUp.size(), true, up));
    ASSERT_TRUE(ParseDib(topDown.data(), topDown.size(), true, down));
    EXPECT_EQ(up.pixels, down.pixels);
    EXPECT_EQ(down.pixels[0], 1);
    EXPECT_EQ(up.height, 3);
    EXPECT_TRUE(up.hasColorTable);
    std::vector<std::uint8_t> rgb = Bmp(3, 2, 24);
    DibImage image;
    ASSERT_TRUE(ParseDib(rgb.data(), rgb.size(), true, image));
    EXPECT_EQ(image.stride, 12u);
    EXPECT_FALSE(image.hasColorTable);
    EXPECT_EQ(image.pixels.size(), 24u);
}

TEST(DibFile, RefusedAndHostileFiles) {
    struct Case {
        const char* what;
        std::vector<std::uint8_t> file;
    } cases[] = {
        {"4 bits", Bmp(4, 4, 4)},
        {"1 bit", Bmp(8, 1, 1)},
        {"compressed", Bmp(4, 4, 8, 40, 1)},
        {"12-byte header", Bmp(4, 4, 24, 12)},
        {"124-byte header", Bmp(4, 4, 24, 124)},
        {"zero width", Bmp(0, 4, 24)},
        {"huge height", Bmp(4, 0x7FFFFFF, 24)},
        {"most negative height", Bmp(4, INT32_MIN, 24)},
        {"truncated pixels", [] { auto f = Bmp(40, 40, 24); f.resize(f.size() - 1); return f; }()},
        {"pixel offset past the end", [] { auto f = Bmp(4, 4, 24); le::PutU32(&f[10], 0xFFFFFFF0u); return f; }()},
        {"no colour table", [] { auto f = Bmp(1, 1, 8); f.resize(14 + 40 + 100); return f; }()},
        {"not BM", [] { auto f = Bmp(4, 4, 24); f[0] = 'X'; return f; }()},
        {"too short", std::vector<std::uint8_t>(20, 'B')},
    };
    for (const Case& c : cases) {
        DibImage image;
        EXPECT_FALSE(ParseDib(c.file.data(), c.file.size(), true, image)) << c.what;
        EXPECT_TRUE(image.pixels.empty()) << c.what;
    }
}

}  // namespace
}  // namespace cabsetup
