#include "platform/codepage.h"

namespace cabsetup {

void CodePage::ToLower(std::string& text) const {
    for (std::size_t i = 0; i < text.size(); i += CharLength(text, i)) {
        char& c = text[i];
        if (c >= 'A' && c <= 'Z' && CharLength(text, i) == 1) c = static_cast<char>(c - 'A' + 'a');
    }
}

std::size_t CodePage::CharLength(std::string_view text, std::size_t pos) const {
    if (pos + 1 < text.size() && IsLeadByte(static_cast<unsigned char>(text[pos]))) return 2;
    return 1;
}

std::size_t CodePage::FindChar(std::string_view text, char c) const {
    for (std::size_t i = 0; i < text.size(); i += CharLength(text, i))
        if (text[i] == c && CharLength(text, i) == 1) return i;
    return std::string_view::npos;
}

std::size_t CodePage::FindLastChar(std::string_view text, char c) const {
    std::size_t found = std::string_view::npos;
    for (std::size_t i = 0; i < text.size(); i += CharLength(text, i))
        if (text[i] == c && CharLength(text, i) == 1) found = i;
    return found;
}

std::size_t CodePage::Find(std::string_view text, std::string_view needle, std::size_t from) const {
    if (needle.empty()) return from <= text.size() ? from : std::string_view::npos;
    for (std::size_t i = 0; i < text.size(); i += CharLength(text, i)) {
        if (i < from) continue;
        if (text.compare(i, needle.size(), needle) == 0) return i;
    }
    return std::string_view::npos;
}

int CodePage::Compare(std::string_view a, std::string_view b) const {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        auto value = [this](std::string_view s, std::size_t& p) {
            unsigned v = static_cast<unsigned char>(s[p]);
            if (CharLength(s, p) == 2) v = v << 8 | static_cast<unsigned char>(s[p + 1]), p += 2;
            else ++p;
            return v;
        };
        unsigned va = value(a, i), vb = value(b, j);
        if (va != vb) return va < vb ? -1 : 1;
    }
    if (i < a.size()) return 1;
    if (j < b.size()) return -1;
    return 0;
}

bool TableCodePage::IsLeadByte(unsigned char b) const {
    switch (codePage_) {
    case 932: return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
    case 936:
    case 949:
    case 950: return b >= 0x81 && b <= 0xFE;
    default: return false;
    }
}

}  // namespace cabsetup
