// Multibyte awareness of the system's ANSI code page: every backslash search,
// comparison and case change in the program goes through one of these, so the
// trail byte of a double-byte character is never taken for a separator.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace cabsetup {

class CodePage {
public:
    virtual ~CodePage() = default;
    // True when b starts a two-byte character; the byte after it belongs to
    // that character whatever its value (the system's CharNextA does the same).
    virtual bool IsLeadByte(unsigned char b) const = 0;
    // Lower-cases single-byte characters in place, leaving double-byte ones alone.
    virtual void ToLower(std::string& text) const;
    std::string Lowered(std::string text) const {
        ToLower(text);
        return text;
    }
    // Equal but for the case of single-byte characters, as the file system
    // and the registry compare names.
    bool SameText(const std::string& a, const std::string& b) const { return Lowered(a) == Lowered(b); }

    // Length in bytes of the character that starts at text[pos] (1 or 2;
    // a lead byte at the very end counts as one byte).
    std::size_t CharLength(std::string_view text, std::size_t pos) const;
    // Byte offset of the first/last character equal to c (a single-byte
    // character), or npos.
    std::size_t FindChar(std::string_view text, char c) const;
    std::size_t FindLastChar(std::string_view text, char c) const;
    // Byte offset of needle in text starting at a character boundary at or
    // after from, or npos.
    std::size_t Find(std::string_view text, std::string_view needle, std::size_t from = 0) const;
    // Character-by-character comparison: <0, 0, >0. A double-byte character
    // compares as lead*256+trail against a single byte's value.
    int Compare(std::string_view a, std::string_view b) const;
};

// A code page described by its lead-byte ranges: the Windows ANSI code pages
// 932, 936, 949 and 950 are double-byte; every other number is single-byte.
class TableCodePage final : public CodePage {
public:
    explicit TableCodePage(int codePage) : codePage_(codePage) {}
    bool IsLeadByte(unsigned char b) const override;
    int Number() const { return codePage_; }

private:
    int codePage_;
};

}  // namespace cabsetup
