#include "page_check.h"

#include <algorithm>
#include <cstring>
#include <cwctype>
#include <map>

namespace cabsetup::drive {

namespace {

struct Reader {
    const unsigned char* p;
    std::size_t size, at = 0;
    bool Word(WORD& w) {
        if (at + 2 > size) return false;
        w = static_cast<WORD>(p[at] | p[at + 1] << 8);
        at += 2;
        return true;
    }
    bool Skip(std::size_t n) {
        if (at + n > size) return false;
        at += n;
        return true;
    }
    bool String(std::wstring* out) {
        for (WORD w; Word(w);) {
            if (w == 0) return true;
            if (out) out->push_back(static_cast<wchar_t>(w));
        }
        return false;
    }
    // A name or an ordinal (0xFFFF and a number) or nothing (0).
    bool NameOrOrdinal() {
        WORD w;
        if (!Word(w)) return false;
        if (w == 0) return true;
        if (w == 0xFFFF) return Skip(2);
        at -= 2;
        return String(nullptr);
    }
};

bool IsHangul(wchar_t c) {
    return (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0x1100 && c <= 0x11FF) || (c >= 0x3130 && c <= 0x318F);
}

}  // namespace

DialogFont ParseTemplateFont(const unsigned char* bytes, std::size_t size) {
    DialogFont font;
    Reader r{bytes, size};
    WORD version = 0, signature = 0;
    if (!r.Word(version) || !r.Word(signature)) return font;
    const bool extended = version == 1 && signature == 0xFFFF;
    DWORD style = 0;
    if (extended) {
        if (!r.Skip(8) || r.at + 4 > size) return font;  // help id, extended style
        std::memcpy(&style, bytes + r.at, 4);
        r.at += 4;
    } else {
        std::memcpy(&style, bytes, 4);
        r.at = 8;  // style, extended style
    }
    // Item count and the position in dialog units, then menu, class and caption.
    if (!r.Skip(2 + 8) || !r.NameOrOrdinal() || !r.NameOrOrdinal() || !r.String(nullptr)) return font;
    if (!(style & DS_SETFONT)) return font;
    WORD points = 0, weight = FW_NORMAL;
    if (!r.Word(points)) return font;
    if (extended && (!r.Word(weight) || !r.Skip(2))) return font;
    if (!r.String(&font.face)) return font;
    font.pointSize = points;
    font.weight = weight ? weight : FW_NORMAL;
    font.found = true;
    return font;
}

DialogFont TemplateFont(const std::string& programFile, int dialogId) {
    DialogFont font;
    HMODULE module = LoadLibraryExA(programFile.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module) return font;
    if (HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(dialogId), MAKEINTRESOURCEA(5)))  // RT_DIALOG
        if (HGLOBAL loaded = LoadResource(module, found))
            font = ParseTemplateFont(static_cast<const unsigned char*>(LockResource(loaded)), SizeofResource(module, found));
    FreeLibrary(module);
    return font;
}

int WidestWord(HDC dc, const std::wstring& text) {
    int widest = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !iswspace(text[i])) continue;
        if (i > start) {
            SIZE size = {};
            GetTextExtentPoint32W(dc, text.data() + start, static_cast<int>(i - start), &size);
            if (size.cx > widest) widest = size.cx;
        }
        start = i + 1;
    }
    return widest;
}

PageCheck CheckPage(HWND dialog, const DialogFont& font, const Picture& shot, int pictureAreaId) {
    PageCheck page;
    HDC screen = GetDC(dialog);
    HDC dc = CreateCompatibleDC(screen);
    // The size the dialog manager gives a template's font.
    HFONT measured = CreateFontW(-MulDiv(font.pointSize ? font.pointSize : 8, GetDeviceCaps(screen, LOGPIXELSY), 72), 0, 0, 0,
                                 font.weight, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                 font.found ? font.face.c_str() : L"MS Shell Dlg");
    HGDIOBJ old = SelectObject(dc, measured);
    wchar_t face[LF_FACESIZE] = {};
    GetTextFaceW(dc, LF_FACESIZE, face);
    page.face = Utf8(face);
    page.charset = GetTextCharset(dc);

    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child)) continue;
        char cls[32] = {};
        GetClassNameA(child, cls, sizeof cls);
        const std::string className = cls;
        const LONG style = static_cast<LONG>(GetWindowLongPtrA(child, GWL_STYLE));
        std::wstring text = WindowTextW(child);
        for (wchar_t c : text)
            if (IsHangul(c)) {
                ++page.hangulCharacters;
                WORD glyph = 0;
                if (GetGlyphIndicesW(dc, &c, 1, &glyph, GGI_MARK_NONEXISTING_GLYPHS) != 1 || glyph == 0xFFFF)
                    ++page.hangulMissing;
            }
        if (text.empty()) continue;
        RECT client;
        GetClientRect(child, &client);
        ControlCheck check;
        check.id = GetDlgCtrlID(child);
        check.text = Utf8(text);
        check.haveWidth = client.right;
        check.haveHeight = client.bottom;
        UINT flags = DT_CALCRECT | DT_EXPANDTABS;
        int room = client.right;  // the width the text may take
        bool wraps = false, scrolls = false;
        if (className == "Static") {
            const LONG type = style & SS_TYPEMASK;
            if (type == SS_BITMAP || type == SS_ICON || type == SS_ENHMETAFILE) continue;
            check.kind = "static";
            wraps = type == SS_LEFT || type == SS_CENTER || type == SS_RIGHT;
            if (style & SS_NOPREFIX) flags |= DT_NOPREFIX;
        } else if (className == "Button") {
            const LONG type = style & BS_TYPEMASK;
            if (type == BS_GROUPBOX) continue;
            const bool box = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_RADIOBUTTON ||
                             type == BS_AUTORADIOBUTTON || type == BS_3STATE || type == BS_AUTO3STATE;
            check.kind = box ? "checkbox" : "button";
            // The check mark and its gap, or a push button's frame.
            room -= box ? GetSystemMetrics(SM_CXMENUCHECK) + 4 : 4;
            wraps = (style & BS_MULTILINE) != 0;
        } else if (className == "Edit") {
            check.kind = "edit";
            flags |= DT_NOPREFIX;
            if (style & ES_MULTILINE) {
                room -= 4 + ((style & WS_VSCROLL) ? GetSystemMetrics(SM_CXVSCROLL) : 0);
                wraps = !(style & ES_AUTOHSCROLL) && !(style & WS_HSCROLL);
                scrolls = (style & WS_VSCROLL) != 0;
            } else {
                room -= 4;
                scrolls = (style & ES_AUTOHSCROLL) != 0;
            }
        } else {
            continue;
        }
        RECT need = {0, 0, room > 1 ? room : 1, 0};
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &need, flags | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
        check.needWidth = need.right;
        check.needHeight = need.bottom;
        const int widest = wraps ? WidestWord(dc, text) : need.right;
        if (widest > room && check.kind == "edit" && !wraps && scrolls) {
            // A one-line field scrolls: the whole text can be read.
        } else if (widest > room) {
            check.fits = false;
            check.why = wraps ? "a word is wider than the control (" + std::to_string(widest) + " of " +
                                    std::to_string(room) + " pixels) and is broken"
                              : "the text is wider than the control (" + std::to_string(widest) + " of " +
                                    std::to_string(room) + " pixels)";
        } else if (need.bottom > client.bottom && !scrolls) {
            check.fits = false;
            check.why = "the text needs " + std::to_string(need.bottom) + " pixels of height, the control has " +
                        std::to_string(client.bottom);
        }
        page.controls.push_back(check);
    }

    if (HWND area = pictureAreaId ? GetDlgItem(dialog, pictureAreaId) : nullptr) {
        RECT r;
        GetWindowRect(area, &r);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
        std::map<DWORD, long> colours;
        long total = 0;
        for (int y = std::max<LONG>(r.top, 0); y < std::min<LONG>(r.bottom, shot.height); ++y)
            for (int x = std::max<LONG>(r.left, 0); x < std::min<LONG>(r.right, shot.width); ++x, ++total) ++colours[shot.At(x, y)];
        long commonest = 0;
        for (const auto& [colour, count] : colours) commonest = std::max(commonest, count);
        page.pictureArea = total > 0;
        page.pictureInk = total ? double(total - commonest) / double(total) : 0;
    }
    SelectObject(dc, old);
    DeleteObject(measured);
    DeleteDC(dc);
    ReleaseDC(dialog, screen);
    return page;
}

}  // namespace cabsetup::drive
