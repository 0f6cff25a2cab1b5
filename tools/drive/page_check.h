// What a page of a wizard shows, checked rather than only photographed:
// every control's text measured with the dialog's font against the control,
// the font's glyphs for the page's script, the side picture drawn.
#pragma once

#include "window_driving.h"

#include <string>
#include <vector>

namespace cabsetup::drive {

// The font a dialog template gives its controls.
struct DialogFont {
    bool found = false;
    std::wstring face;
    int pointSize = 0;
    int weight = FW_NORMAL;
};
// Read from the program file's dialog resource `dialogId`.
DialogFont TemplateFont(const std::string& programFile, int dialogId);
// Read from a DLGTEMPLATE or DLGTEMPLATEEX in memory; not found when it holds none.
DialogFont ParseTemplateFont(const unsigned char* bytes, std::size_t size);

struct ControlCheck {
    int id = 0;
    std::string kind;  // "static", "button", "checkbox", "edit"
    std::string text;  // UTF-8
    int needWidth = 0, needHeight = 0, haveWidth = 0, haveHeight = 0;
    bool fits = true;
    std::string why;  // how it does not fit
};

struct PageCheck {
    std::vector<ControlCheck> controls;
    std::string face;                // the face the system gives the dialog's font, UTF-8
    int charset = 0;
    int hangulCharacters = 0;        // Hangul in the page's texts
    int hangulMissing = 0;           // of those, without a glyph in the font
    bool pictureArea = false;        // the page has a side-picture area
    double pictureInk = 0;           // share of that area not in its commonest colour
};

// Checks the visible controls of `dialog`, drawn with `font`, and the side
// picture in the area of control `pictureAreaId` (0: none) on `shot`.
PageCheck CheckPage(HWND dialog, const DialogFont& font, const Picture& shot, int pictureAreaId);

// The widest run of text without a place to break it.
int WidestWord(HDC dc, const std::wstring& text);

}  // namespace cabsetup::drive
