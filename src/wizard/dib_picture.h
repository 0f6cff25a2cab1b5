// The side picture: a bitmap file loaded into a section with its palette,
// drawn at its own size.
#pragma once

#include "platform/win32/windows_clean.h"

#include <string>

#include "platform/os.h"
#include "wizard/dib_file.h"

namespace cabsetup {

class CPicturePalette {
public:
    ~CPicturePalette() { Release(); }
    // 256 colour entries of blue, green, red, reserved; 1 when created.
    int Create(const std::uint8_t* colors);
    void Release();
    HPALETTE Handle() const { return palette_; }

private:
    HPALETTE palette_ = nullptr;
};

class CDibPicture {
public:
    ~CDibPicture() { Unload(); }
    // 1 when the file is an acceptable picture and its section exists.
    int Load(Os& os, const std::string& path, CPicturePalette* palette, bool usePalette, HDC dc);
    // The same from a file's bytes already read.
    int LoadBytes(const std::string& bytes, CPicturePalette* palette, bool usePalette, HDC dc);
    void Unload();
    // The scan lines transferred; 0 when nothing is loaded.
    int Draw(int x, int y, int sourceX, int sourceY, int width, int height, HDC dc);
    bool Loaded() const { return pixels_ != nullptr; }

private:
    void* pixels_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    std::uint16_t bitsPerPixel_ = 0;
    std::int32_t width_ = 0, height_ = 0;
    std::uint32_t stride_ = 0;
    CPicturePalette* palette_ = nullptr;
};

}  // namespace cabsetup
