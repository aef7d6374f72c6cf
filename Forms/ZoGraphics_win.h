// Pictures: the product icon from the packaging tool's ready icon, or decoded
// (and encoded) as PNG through the GDI+ flat interface; and the skin's few
// anti-aliased shapes, drawn by the program itself so that the window's first
// paint needs no GDI+.
#pragma once

#include <windows.h>

#include <memory>

#include "ZoTypes.h"

// A decoded picture with its alpha channel.
class TPicture {
public:
    ~TPicture();
    TPicture(const TPicture&) = delete;
    TPicture& operator=(const TPicture&) = delete;

    // Raises EPackageError when the bytes are not a PNG image GDI+ can decode.
    static std::shared_ptr<TPicture> FromPng(const TBytes& bytes);
    // The product icon from the module's ready icon (SetWindowIcon of PeIcon.h),
    // drawn where and as large as the PNG image png would be in a place of
    // placeSide pixels at 100 % shown at scale, from the image nearest to that
    // size, without GDI+. Null when the module has no ready icon or png is no
    // PNG image.
    static std::shared_ptr<TPicture> FromReadyIcon(HMODULE module, const TBytes& png, int placeSide, float scale);
    // 32-bit ARGB pixels, rows top-down (width * height values).
    static std::shared_ptr<TPicture> FromPixels(int width, int height, const uint32_t* argb);
    // Encodes the picture as PNG (the uninstaller's copy of the icon).
    TBytes ToPng() const;

    int Width() const { return width_; }
    int Height() const { return height_; }
    // A window icon of the picture (the caller owns it); null on failure.
    HICON CreateIcon() const;
    // Centred in area at scale times its own size (the window's DPI over 96),
    // scaled down proportionally when that is larger than the area.
    void DrawCentred(HDC dc, const RECT& area, float scale = 1.f) const;

private:
    TPicture() = default;
    void* image_ = nullptr;  // GpBitmap*
    HICON icon_ = nullptr;   // or the ready icon's image, owned
    int width_ = 0, height_ = 0;
};

// The module's ready icon (SetWindowIcon of PeIcon.h) at its image nearest to
// side pixels: the smallest not smaller, else the largest. The caller owns it;
// null when there is none or it cannot be read.
HICON LoadReadyIcon(HMODULE module, int side);

// True when the bytes start with the PNG signature.
bool IsPngSignature(const TBytes& bytes);

namespace ZoDraw {
// Colours here are 0xAARRGGBB.
void FillRoundRect(HDC dc, float x, float y, float w, float h, float radius, uint32_t argb);
void FrameRoundRect(HDC dc, float x, float y, float w, float h, float radius, float penWidth, uint32_t argb);
void Line(HDC dc, float x1, float y1, float x2, float y2, float width, uint32_t argb);
// A poly-line with round joins (the check mark).
void PolyLine(HDC dc, const float* xy, int points, float width, uint32_t argb);
inline uint32_t Argb(COLORREF c, uint8_t alpha = 255)
{
    return (uint32_t(alpha) << 24) | (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c);
}
}  // namespace ZoDraw
