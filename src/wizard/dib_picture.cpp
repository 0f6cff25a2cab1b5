#include "wizard/dib_picture.h"

#include <cstring>
#include <vector>

#include "app/paths.h"

namespace cabsetup {

namespace {

// BITMAPINFO with room for 256 colours.
struct Info256 {
    BITMAPINFOHEADER header;
    RGBQUAD colors[256];
};

// A side picture larger than this is not read into memory.
constexpr std::uint64_t kMaxPictureFile = 64u << 20;

}  // namespace

int CPicturePalette::Create(const std::uint8_t* colors) {
    Release();
    std::vector<std::uint8_t> buffer(sizeof(LOGPALETTE) + 255 * sizeof(PALETTEENTRY), 0);
    auto* log = reinterpret_cast<LOGPALETTE*>(buffer.data());
    log->palVersion = 0x300;
    log->palNumEntries = 256;
    for (int i = 0; i < 256; ++i) {
        log->palPalEntry[i].peRed = colors[i * 4 + 2];
        log->palPalEntry[i].peGreen = colors[i * 4 + 1];
        log->palPalEntry[i].peBlue = colors[i * 4];
        log->palPalEntry[i].peFlags = 0;
    }
    palette_ = CreatePalette(log);
    return palette_ != nullptr;
}

void CPicturePalette::Release() {
    if (palette_) DeleteObject(palette_);
    palette_ = nullptr;
}

int CDibPicture::Load(Os& os, const std::string& path, CPicturePalette* palette, bool usePalette, HDC dc) {
    std::string bytes;
    if (!ReadWholeFile(os, path, kMaxPictureFile, bytes)) return 0;
    return LoadBytes(bytes, palette, usePalette, dc);
}

int CDibPicture::LoadBytes(const std::string& bytes, CPicturePalette* palette, bool usePalette, HDC dc) {
    if (bytes.size() > kMaxPictureFile) return 0;
    DibImage image;
    if (!ParseDib(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size(), palette && usePalette, image))
        return 0;

    Unload();
    if (image.hasColorTable) {
        if (!palette->Create(image.colors.data())) return 0;
        palette_ = palette;
    }
    Info256 info = {};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = image.width;
    info.header.biHeight = -image.height;  // the rows are top-down now
    info.header.biPlanes = 1;
    info.header.biBitCount = image.bitsPerPixel;
    std::memcpy(info.colors, image.colors.data(), sizeof info.colors);
    bitmap_ = CreateDIBSection(dc, reinterpret_cast<BITMAPINFO*>(&info),
                               DIB_RGB_COLORS, &pixels_, nullptr, 0);
    if (!bitmap_ || !pixels_) {
        Unload();
        return 0;
    }
    std::memcpy(pixels_, image.pixels.data(), image.pixels.size());
    bitsPerPixel_ = image.bitsPerPixel;
    width_ = image.width;
    height_ = image.height;
    stride_ = image.stride;
    return 1;
}

void CDibPicture::Unload() {
    if (bitmap_) DeleteObject(bitmap_);
    bitmap_ = nullptr;
    pixels_ = nullptr;
    palette_ = nullptr;
}

int CDibPicture::Draw(int x, int y, int sourceX, int sourceY, int width, int height, HDC dc) {
    if (!pixels_) return 0;
    Info256 info = {};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width_;
    info.header.biHeight = -height_;
    info.header.biPlanes = 1;
    info.header.biBitCount = bitsPerPixel_;
    info.header.biSizeImage = stride_ * static_cast<DWORD>(height_);
    info.header.biXPelsPerMeter = info.header.biYPelsPerMeter = 3000;
    HPALETTE previous = nullptr;
    const bool withPalette = bitsPerPixel_ == 8 && palette_ && palette_->Handle();
    if (withPalette) {
        PALETTEENTRY entries[256] = {};
        GetPaletteEntries(palette_->Handle(), 0, 256, entries);
        for (int i = 0; i < 256; ++i)
            info.colors[i] = {entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
        previous = SelectPalette(dc, palette_->Handle(), TRUE);
    }
    SetStretchBltMode(dc, COLORONCOLOR);
    int lines = SetDIBitsToDevice(dc, x, y, static_cast<DWORD>(width), static_cast<DWORD>(height), sourceX,
                                  height_ - sourceY - height, 0, static_cast<UINT>(height_), pixels_,
                                  reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    if (withPalette) SelectPalette(dc, previous, TRUE);
    return lines;
}

}  // namespace cabsetup
