#include "ZoGraphics_win.h"

#include <objidl.h>
#include <shlwapi.h>
#include <gdiplus.h>

#include <algorithm>
#include <cstring>
#include <vector>

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

struct TBrush {
    GpSolidFill* b = nullptr;
    explicit TBrush(uint32_t argb) { GdipCreateSolidFill(argb, &b); }
    ~TBrush()
    {
        if (b) GdipDeleteBrush(b);
    }
    TBrush(const TBrush&) = delete;
    TBrush& operator=(const TBrush&) = delete;
};

struct TPen {
    GpPen* p = nullptr;
    TPen(uint32_t argb, float width)
    {
        if (GdipCreatePen1(argb, width, UnitPixel, &p) == Ok) {
            GdipSetPenStartCap(p, LineCapRound);
            GdipSetPenEndCap(p, LineCapRound);
            GdipSetPenLineJoin(p, LineJoinRound);
        }
    }
    ~TPen()
    {
        if (p) GdipDeletePen(p);
    }
    TPen(const TPen&) = delete;
    TPen& operator=(const TPen&) = delete;
};

struct TPath {
    GpPath* p = nullptr;
    TPath(float x, float y, float w, float h, float r)
    {
        if (GdipCreatePath(FillModeAlternate, &p) != Ok) return;
        float d = 2 * r;
        if (d <= 0) {
            GdipAddPathRectangle(p, x, y, w, h);
            return;
        }
        GdipAddPathArc(p, x, y, d, d, 180, 90);
        GdipAddPathArc(p, x + w - d, y, d, d, 270, 90);
        GdipAddPathArc(p, x + w - d, y + h - d, d, d, 0, 90);
        GdipAddPathArc(p, x, y + h - d, d, d, 90, 90);
        GdipClosePathFigure(p);
    }
    ~TPath()
    {
        if (p) GdipDeletePath(p);
    }
    TPath(const TPath&) = delete;
    TPath& operator=(const TPath&) = delete;
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
    if (!stream || GdipSaveImageToStream(static_cast<GpImage*>(image_), stream.Get(), &PngEncoder, nullptr) != Ok)
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
    TGraphics g(dc);
    if (!g.g) return;
    GdipSetInterpolationMode(g.g, InterpolationModeHighQualityBicubic);
    GdipDrawImageRectI(g.g, static_cast<GpImage*>(image_), area.left + (aw - w) / 2, area.top + (ah - h) / 2, w, h);
}

namespace ZoDraw {

void FillRoundRect(HDC dc, float x, float y, float w, float h, float radius, uint32_t argb)
{
    TGraphics g(dc);
    TBrush brush(argb);
    TPath path(x, y, w, h, radius);
    if (g.g && brush.b && path.p) GdipFillPath(g.g, brush.b, path.p);
}

void FrameRoundRect(HDC dc, float x, float y, float w, float h, float radius, float penWidth, uint32_t argb)
{
    TGraphics g(dc);
    TPen pen(argb, penWidth);
    TPath path(x, y, w, h, radius);
    if (g.g && pen.p && path.p) GdipDrawPath(g.g, pen.p, path.p);
}

void Line(HDC dc, float x1, float y1, float x2, float y2, float width, uint32_t argb)
{
    TGraphics g(dc);
    TPen pen(argb, width);
    if (g.g && pen.p) GdipDrawLine(g.g, pen.p, x1, y1, x2, y2);
}

void PolyLine(HDC dc, const float* xy, int points, float width, uint32_t argb)
{
    TGraphics g(dc);
    TPen pen(argb, width);
    if (!g.g || !pen.p || points < 2) return;
    std::vector<PointF> pts;
    for (int i = 0; i < points; ++i) pts.emplace_back(xy[2 * i], xy[2 * i + 1]);
    GdipDrawLines(g.g, pen.p, pts.data(), points);
}

}  // namespace ZoDraw
