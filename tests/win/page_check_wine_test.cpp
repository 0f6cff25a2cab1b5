// The page checks cabsetup-drive.exe makes, on windows of this process: a
// text cut off is found and named, one that fits is not, and the dialog
// template's font is read as the dialog manager reads it.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "page_check.h"
#include "wine_support.h"

namespace cabsetup {
namespace {

// A DLGTEMPLATEEX header with DS_SETFONT, "MS Sans Serif" 9, and no items.
std::vector<unsigned char> TemplateWithFont(bool extended, bool withFont) {
    std::vector<unsigned char> t;
    auto word = [&](unsigned v) { t.push_back(static_cast<unsigned char>(v)); t.push_back(static_cast<unsigned char>(v >> 8)); };
    auto dword = [&](unsigned v) { word(v & 0xFFFF); word(v >> 16); };
    auto text = [&](const char* s) { for (; *s; ++s) word(static_cast<unsigned char>(*s)); word(0); };
    const unsigned style = WS_POPUP | WS_CAPTION | (withFont ? DS_SETFONT : 0);
    if (extended) {
        word(1), word(0xFFFF), dword(0), dword(0), dword(style);
    } else {
        dword(style), dword(0);
    }
    word(0);                          // items
    word(0), word(0), word(319), word(219);
    word(0), word(0), text("Setup");  // no menu, the dialog class, the caption
    if (withFont) {
        word(9);
        if (extended) word(FW_NORMAL), t.push_back(0), t.push_back(1);
        text("MS Sans Serif");
    }
    return t;
}

TEST(WinePageCheck, TheTemplatesFontIsReadInBothTemplateForms) {
    for (bool extended : {false, true}) {
        std::vector<unsigned char> t = TemplateWithFont(extended, true);
        drive::DialogFont font = drive::ParseTemplateFont(t.data(), t.size());
        EXPECT_TRUE(font.found) << extended;
        EXPECT_EQ(font.face, L"MS Sans Serif") << extended;
        EXPECT_EQ(font.pointSize, 9) << extended;
        // Cut anywhere, it is never read past its end.
        for (std::size_t n = 0; n < t.size(); ++n) EXPECT_FALSE(drive::ParseTemplateFont(t.data(), n).found) << n;
        t = TemplateWithFont(extended, false);
        EXPECT_FALSE(drive::ParseTemplateFont(t.data(), t.size()).found) << extended;
    }
}

TEST(WinePageCheck, ACutOffTextIsNamedWithItsControlAndAFittingOneIsNot) {
    HWND page = CreateWindowA("#32770", "page", WS_POPUP | WS_VISIBLE, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(page, nullptr);
    const std::string longWord = "https://example.invalid/" + std::string(120, 'x');
    struct Control {
        const char* cls;
        DWORD style;
        int id, width, height;
        std::string text;
        bool fits;
    } controls[] = {
        {"STATIC", SS_LEFT, 10, 300, 40, "Setup will install 'Hello' into your system.", true},
        {"STATIC", SS_LEFT, 11, 120, 14, "Setup will install 'Hello' into your system, and then it says a lot more.", false},
        {"BUTTON", BS_PUSHBUTTON, 12, 80, 24, "Next(&N)", true},
        {"BUTTON", BS_PUSHBUTTON, 13, 30, 24, "A caption far too long", false},
        {"BUTTON", BS_AUTOCHECKBOX, 14, 60, 16, "I accept this License Agreement.", false},
        {"EDIT", ES_MULTILINE | ES_READONLY | WS_VSCROLL, 15, 300, 60, std::string(40, 'a') + " short words\r\n" + std::string(400, ' ') + "ok", true},
        {"EDIT", ES_MULTILINE | ES_READONLY | WS_VSCROLL, 16, 300, 60, "See " + longWord, false},
        {"EDIT", ES_AUTOHSCROLL | ES_READONLY, 17, 100, 20, "C:\\Program Files\\Example Software\\Hello\\a long way down", true},
    };
    int y = 0;
    for (const Control& c : controls) {
        HWND w = CreateWindowA(c.cls, c.text.c_str(), WS_CHILD | WS_VISIBLE | c.style, 0, y, c.width, c.height, page,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), nullptr, nullptr);
        ASSERT_NE(w, nullptr) << c.id;
        y += 2;
    }
    drive::DialogFont font;
    font.found = true;
    font.face = L"MS Sans Serif";
    font.pointSize = 8;
    drive::Picture none;
    drive::PageCheck check = drive::CheckPage(page, font, none, 0);
    ASSERT_EQ(check.controls.size(), std::size(controls));
    for (std::size_t i = 0; i < std::size(controls); ++i) {
        const drive::ControlCheck& c = check.controls[i];
        EXPECT_EQ(c.id, controls[i].id);
        EXPECT_EQ(c.fits, controls[i].fits) << c.id << ": " << c.why << " need " << c.needWidth << "x" << c.needHeight;
        EXPECT_EQ(c.why.empty(), c.fits) << c.id;
    }
    EXPECT_FALSE(check.face.empty());
    EXPECT_EQ(check.hangulCharacters, 0);
    DestroyWindow(page);
}

}  // namespace
}  // namespace cabsetup
