#include "ZoGraphics_win.h"

#include <objidl.h>
#include <shlwapi.h>
#include <gdiplus.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "PeIcon.h"
#include "ZoWinHandles_win.h"

using namespace Gdiplus;
using namespace Gdiplus::DllExports;

namespace {

// GDI+ is started once, at first use, and stays for the process.
bool StartGdiplus()
{
    static const bool started = [] {
        GdiplusStartupInput input{};
        input.GdiplusVersion = 1;
        ULONG_PTR token = 0;
        return GdiplusStartup(&token, &input, nullptr) == Ok;
    }();
    return started;
}

struct TGraphics {
    GpGraphics* g = nullptr;
    explicit TGraphics(HDC dc)
    {
        if (StartGdiplus() && GdipCreateFromHDC(dc, &g) == Ok) {
            GdipSetSmoothingMode(g, SmoothingModeAntiAlias);
            GdipSetPixelOffsetMode(g, PixelOffsetModeHalf);
        } else {
            g = nullptr;
        }
    }
    ~TGraphics()
    {
        if (g) GdipDeleteGraphics(g);
    }
    TGraphics(const TGraphics&) = delete;
    TGraphics& operator=(const TGraphics&) = delete;
};

const CLSID PngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

}  // namespace

bool IsPngSignature(const TBytes& bytes)
{
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    return bytes.size() >= 8 && std::memcmp(bytes.data(), signature, 8) == 0;
}

TPicture::~TPicture()
{
    if (image_) GdipDisposeImage(static_cast<GpImage*>(image_));
    if (icon_) DestroyIcon(icon_);
}

HICON LoadReadyIcon(HMODULE module, int side)
{
    auto bytesOf = [module](LPCWSTR name, LPCWSTR type) -> std::pair<const uint8_t*, DWORD> {
        HRSRC found = FindResourceW(module, name, type);
        HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
        const void* data = loaded ? LockResource(loaded) : nullptr;
        return {static_cast<const uint8_t*>(data), data ? SizeofResource(module, found) : 0};
    };
    auto [group, groupSize] = bytesOf(MAKEINTRESOURCEW(kWindowIconGroup), MAKEINTRESOURCEW(14));  // RT_GROUP_ICON
    if (!group || groupSize < 6) return nullptr;
    // The directory: 6 bytes, then 14 a image (width, height, ..., its RT_ICON id last).
    const size_t count = std::min<size_t>(group[4] | (group[5] << 8), (groupSize - 6) / 14);
    int bestSide = 0;
    WORD bestId = 0;
    for (size_t i = 0; i < count; ++i) {
        const uint8_t* e = group + 6 + 14 * i;
        int s = std::max(e[0] ? e[0] : 256, e[1] ? e[1] : 256);
        bool better = bestId == 0 || (bestSide < side ? s > bestSide : s >= side && s < bestSide);
        if (better) {
            bestSide = s;
            bestId = static_cast<WORD>(e[12] | (e[13] << 8));
        }
    }
    auto [image, imageSize] = bestId ? bytesOf(MAKEINTRESOURCEW(bestId), MAKEINTRESOURCEW(3)) : std::pair<const uint8_t*, DWORD>{};  // RT_ICON
    if (!image) return nullptr;
    TRgbaImage rgba;
    try {
        rgba = DecodePng(TBytes(image, image + imageSize));
    } catch (const Exception&) {
        return nullptr;
    }
    // The icon as Windows stores one: a header of twice the height, the colour
    // rows bottom-up in BGRA, then an AND mask the alpha channel makes unused.
    const uint32_t w = rgba.Width, h = rgba.Height, maskStride = (w + 31) / 32 * 4;
    TBytes dib(sizeof(BITMAPINFOHEADER) + size_t(w) * h * 4 + size_t(maskStride) * h);
    BITMAPINFOHEADER header{};
    header.biSize = sizeof header;
    header.biWidth = static_cast<LONG>(w);
    header.biHeight = static_cast<LONG>(2 * h);
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    std::memcpy(dib.data(), &header, sizeof header);
    uint8_t* out = dib.data() + sizeof header;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            const uint8_t* p = &rgba.Pixels[(size_t(h - 1 - y) * w + x) * 4];
            uint8_t* o = out + (size_t(y) * w + x) * 4;
            o[0] = p[2];
            o[1] = p[1];
            o[2] = p[0];
            o[3] = p[3];
        }
    return CreateIconFromResourceEx(dib.data(), static_cast<DWORD>(dib.size()), TRUE, 0x00030000, static_cast<int>(w),
                                    static_cast<int>(h), LR_DEFAULTCOLOR);
}

std::shared_ptr<TPicture> TPicture::FromReadyIcon(HMODULE module, const TBytes& png, int placeSide, float scale)
{
    // The PNG's own size (its header's), which the drawing scales as before.
    if (!IsPngSignature(png) || png.size() < 24) return nullptr;
    auto be32 = [&](size_t at) { return (uint32_t(png[at]) << 24) | (uint32_t(png[at + 1]) << 16) | (uint32_t(png[at + 2]) << 8) | png[at + 3]; };
    const uint32_t width = be32(16), height = be32(20);
    if (width == 0 || height == 0 || width > 4096 || height > 4096) return nullptr;
    const int side = int(std::min<uint32_t>(std::max(width, height), static_cast<uint32_t>(placeSide)) * scale + 0.5f);
    HICON icon = LoadReadyIcon(module, side);
    if (!icon) return nullptr;
    std::shared_ptr<TPicture> picture(new TPicture);
    picture->icon_ = icon;
    picture->width_ = static_cast<int>(width);
    picture->height_ = static_cast<int>(height);
    return picture;
}

std::shared_ptr<TPicture> TPicture::FromPng(const TBytes& bytes)
{
    if (!IsPngSignature(bytes)) throw EPackageError(u"The icon is not a PNG image");
    if (!StartGdiplus()) throw EPackageError(u"GDI+ is not available");
    TComPtr<IStream> stream(SHCreateMemStream(bytes.data(), static_cast<UINT>(bytes.size())));
    GpBitmap* decoded = nullptr;
    if (!stream || GdipCreateBitmapFromStream(stream.Get(), &decoded) != Ok || !decoded)
        throw EPackageError(u"The icon's PNG image cannot be decoded");
    std::shared_ptr<TPicture> picture(new TPicture);
    picture->image_ = decoded;
    UINT w = 0, h = 0;
    GdipGetImageWidth(decoded, &w);
    GdipGetImageHeight(decoded, &h);
    picture->width_ = static_cast<int>(w);
    picture->height_ = static_cast<int>(h);
    return picture;
}

std::shared_ptr<TPicture> TPicture::FromPixels(int width, int height, const uint32_t* argb)
{
    if (!StartGdiplus()) return nullptr;
    GpBitmap* made = nullptr;
    if (GdipCreateBitmapFromScan0(width, height, 0, PixelFormat32bppARGB, nullptr, &made) != Ok) return nullptr;
    std::shared_ptr<TPicture> picture(new TPicture);
    picture->image_ = made;
    picture->width_ = width;
    picture->height_ = height;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) GdipBitmapSetPixel(made, x, y, argb[y * width + x]);
    return picture;
}

TBytes TPicture::ToPng() const
{
    TComPtr<IStream> stream(SHCreateMemStream(nullptr, 0));
    if (!image_ || !stream || GdipSaveImageToStream(static_cast<GpImage*>(image_), stream.Get(), &PngEncoder, nullptr) != Ok)
        throw EPackageError(u"The icon cannot be encoded as PNG");
    STATSTG stat{};
    stream->Stat(&stat, STATFLAG_NONAME);
    TBytes out(static_cast<size_t>(stat.cbSize.QuadPart));
    LARGE_INTEGER zero{};
    stream->Seek(zero, STREAM_SEEK_SET, nullptr);
    ULONG got = 0;
    if (!out.empty()) stream->Read(out.data(), static_cast<ULONG>(out.size()), &got);
    out.resize(got);
    return out;
}

HICON TPicture::CreateIcon() const
{
    if (icon_) return CopyIcon(icon_);
    HICON icon = nullptr;
    if (GdipCreateHICONFromBitmap(static_cast<GpBitmap*>(image_), &icon) != Ok) return nullptr;
    return icon;
}

void TPicture::DrawCentred(HDC dc, const RECT& area, float dpiScale) const
{
    int aw = area.right - area.left, ah = area.bottom - area.top;
    if (width_ <= 0 || height_ <= 0 || aw <= 0 || ah <= 0) return;
    double scale = dpiScale > 0 ? dpiScale : 1.0;
    if (width_ * scale > aw || height_ * scale > ah) scale = std::min(double(aw) / width_, double(ah) / height_);
    int w = std::max(1, int(width_ * scale + 0.5)), h = std::max(1, int(height_ * scale + 0.5));
    if (icon_) {
        DrawIconEx(dc, area.left + (aw - w) / 2, area.top + (ah - h) / 2, icon_, w, h, 0, nullptr, DI_NORMAL);
        return;
    }
    TGraphics g(dc);
    if (!g.g) return;
    GdipSetInterpolationMode(g.g, InterpolationModeHighQualityBicubic);
    GdipDrawImageRectI(g.g, static_cast<GpImage*>(image_), area.left + (aw - w) / 2, area.top + (ah - h) / 2, w, h);
}

namespace ZoDraw {

// The skin's shapes are drawn here rather than through GDI+, whose load (and
// that of the libraries it brings) would come before the window's first paint:
// each pixel gets the colour at the share of it the shape covers, from its
// centre's signed distance to the shape's edge, and the shape's box is
// alpha-blended onto the device context (its clipping applies).
namespace {

struct TPoint2 {
    float x, y;
};

// Signed distance from p to a rectangle with rounded corners (negative inside).
float RoundRectDistance(TPoint2 p, float x, float y, float w, float h, float radius)
{
    const float hw = w / 2, hh = h / 2, r = std::clamp(radius, 0.f, std::min(hw, hh));
    const float qx = std::fabs(p.x - (x + hw)) - hw + r, qy = std::fabs(p.y - (y + hh)) - hh + r;
    const float ox = std::max(qx, 0.f), oy = std::max(qy, 0.f);
    return std::sqrt(ox * ox + oy * oy) + std::min(std::max(qx, qy), 0.f) - r;
}

float SegmentDistance(TPoint2 p, TPoint2 a, TPoint2 b)
{
    const float dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
    const float t = len2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.f, 1.f) : 0.f;
    const float ex = p.x - a.x - t * dx, ey = p.y - a.y - t * dy;
    return std::sqrt(ex * ex + ey * ey);
}

// Blends argb at coverage(pixel centre) over the pixels of the box.
template <class Coverage>
void Blend(HDC dc, float left, float top, float right, float bottom, uint32_t argb, Coverage coverage)
{
    const int x0 = int(std::floor(left)), y0 = int(std::floor(top));
    const int w = int(std::ceil(right)) - x0, h = int(std::ceil(bottom)) - y0;
    if (w <= 0 || h <= 0 || (argb >> 24) == 0) return;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top-down
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    TUniqueBitmap bitmap(CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    TUniqueMemoryDC memory(CreateCompatibleDC(dc));
    if (!bitmap || !memory || !bits) return;
    const float alpha = float(argb >> 24) / 255.f;
    const float red = float((argb >> 16) & 0xFF), green = float((argb >> 8) & 0xFF), blue = float(argb & 0xFF);
    auto* px = static_cast<uint32_t*>(bits);
    for (int j = 0; j < h; ++j)
        for (int i = 0; i < w; ++i) {
            const float a = std::clamp(coverage(TPoint2{float(x0 + i) + 0.5f, float(y0 + j) + 0.5f}), 0.f, 1.f) * alpha;
            // Premultiplied, as the blend takes it.
            px[size_t(j) * w + i] = (uint32_t(a * 255.f + 0.5f) << 24) | (uint32_t(red * a + 0.5f) << 16) |
                                    (uint32_t(green * a + 0.5f) << 8) | uint32_t(blue * a + 0.5f);
        }
    TSelectObject select(memory.Get(), bitmap.Get());
    const BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    GdiAlphaBlend(dc, x0, y0, w, h, memory.Get(), 0, 0, w, h, blend);
}

}  // namespace

void FillRoundRect(HDC dc, float x, float y, float w, float h, float radius, uint32_t argb)
{
    Blend(dc, x, y, x + w, y + h, argb,
          [&](TPoint2 p) { return 0.5f - RoundRectDistance(p, x, y, w, h, radius); });
}

void FrameRoundRect(HDC dc, float x, float y, float w, float h, float radius, float penWidth, uint32_t argb)
{
    const float half = penWidth / 2;
    Blend(dc, x - half, y - half, x + w + half, y + h + half, argb,
          [&](TPoint2 p) { return 0.5f - (std::fabs(RoundRectDistance(p, x, y, w, h, radius)) - half); });
}

void Line(HDC dc, float x1, float y1, float x2, float y2, float width, uint32_t argb)
{
    const float xy[] = {x1, y1, x2, y2};
    PolyLine(dc, xy, 2, width, argb);
}

void PolyLine(HDC dc, const float* xy, int points, float width, uint32_t argb)
{
    if (points < 2) return;
    const float half = width / 2;
    float left = xy[0], top = xy[1], right = xy[0], bottom = xy[1];
    for (int i = 1; i < points; ++i) {
        left = std::min(left, xy[2 * i]);
        right = std::max(right, xy[2 * i]);
        top = std::min(top, xy[2 * i + 1]);
        bottom = std::max(bottom, xy[2 * i + 1]);
    }
    // Round caps and joins: the distance to the nearest of the segments.
    Blend(dc, left - half - 1, top - half - 1, right + half + 1, bottom + half + 1, argb, [&](TPoint2 p) {
        float d = SegmentDistance(p, {xy[0], xy[1]}, {xy[2], xy[3]});
        for (int i = 2; i < points; ++i)
            d = std::min(d, SegmentDistance(p, {xy[2 * i - 2], xy[2 * i - 1]}, {xy[2 * i], xy[2 * i + 1]}));
        return 0.5f - (d - half);
    });
}

}  // namespace ZoDraw
