#include "ZoSkin_win.h"

#include <algorithm>

#include "ZoGraphics_win.h"
#include "ZoSysUtils.h"
#include "ZoWinHandles_win.h"
#include "ZoWinText_win.h"

namespace ZoSkin {
namespace {

COLORREF Mix(COLORREF a, COLORREF b, int percentOfB)
{
    auto m = [&](int x, int y) { return (x * (100 - percentOfB) + y * percentOfB) / 100; };
    return RGB(m(GetRValue(a), GetRValue(b)), m(GetGValue(a), GetGValue(b)), m(GetBValue(a), GetBValue(b)));
}

bool IsDark(COLORREF c) { return (GetRValue(c) * 299 + GetGValue(c) * 587 + GetBValue(c) * 114) / 1000 < 180; }

void Text(HDC dc, RECT r, const WideString& text, HFONT font, COLORREF color, UINT format)
{
    TSelectObject select(dc, font);
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    DrawTextW(dc, W(text), static_cast<int>(text.size()), &r, format | DT_NOPREFIX);
}

}  // namespace

void FillSolid(HDC dc, const RECT& area, COLORREF color)
{
    SetBkColor(dc, color);
    ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &area, nullptr, 0, nullptr);
}

void PaintButton(HDC dc, const RECT& area, const WideString& text, HFONT font, COLORREF background,
                 const TButtonState& state, float scale)
{
    FillSolid(dc, area, background);
    bool onDark = IsDark(background);
    COLORREF face, ink;
    if (onDark) {
        face = White;
        ink = Blue;
        if (state.hot) face = RGB(232, 245, 255);
        if (state.pressed) face = RGB(204, 232, 254);
        if (!state.enabled) {
            face = Mix(background, White, 45);
            ink = Mix(background, White, 80);
        }
    } else {
        face = Blue;
        ink = White;
        if (state.hot) face = RGB(38, 170, 255);
        if (state.pressed) face = RGB(0, 128, 214);
        if (!state.enabled) face = Mix(Blue, White, 55);
    }
    float w = float(area.right - area.left), h = float(area.bottom - area.top);
    float radius = (h >= 40 * scale ? 6.f : 4.f) * scale;
    ZoDraw::FillRoundRect(dc, float(area.left), float(area.top), w, h, radius, ZoDraw::Argb(face));
    if (state.focused && state.enabled) {
        float inset = 3 * scale;
        ZoDraw::FrameRoundRect(dc, area.left + inset, area.top + inset, w - 2 * inset, h - 2 * inset,
                               radius - 2 * scale, std::max(1.f, scale), ZoDraw::Argb(ink, 160));
    }
    RECT r = area;
    if (state.pressed) OffsetRect(&r, 0, std::max(1, int(scale)));
    Text(dc, r, text, font, ink, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
}

void PaintCheckBox(HDC dc, const RECT& area, const WideString& text, HFONT font, COLORREF background,
                   COLORREF textColor, bool checked, const TButtonState& state, float scale)
{
    FillSolid(dc, area, background);
    const int box = int(13 * scale + 0.5f);
    const float s = float(box) / 13.f;
    float x = float(area.left) + 0.5f, y = float(area.top + (area.bottom - area.top - box) / 2) + 0.5f;
    COLORREF accent = state.enabled ? Blue : Mix(Blue, White, 55);
    if (checked) {
        ZoDraw::FillRoundRect(dc, x - 0.5f, y - 0.5f, float(box), float(box), 2.f * s, ZoDraw::Argb(accent));
        const float tick[] = {x + 2.6f * s, y + 6.3f * s, x + 5.2f * s, y + 8.9f * s, x + 9.9f * s, y + 3.6f * s};
        ZoDraw::PolyLine(dc, tick, 3, 1.8f * s, ZoDraw::Argb(White));
    } else {
        COLORREF frame = state.hot ? Blue : RGB(150, 160, 172);
        ZoDraw::FillRoundRect(dc, x - 0.5f, y - 0.5f, float(box), float(box), 2.f * s, ZoDraw::Argb(White));
        ZoDraw::FrameRoundRect(dc, x, y, box - 1.f, box - 1.f, 2.f * s, std::max(1.f, s), ZoDraw::Argb(frame));
    }
    RECT r = area;
    r.left += box + int(4 * scale + 0.5f);
    Text(dc, r, text, font, state.enabled ? textColor : Mix(background, textColor, 45),
         DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    if (state.focused) {
        RECT f = r;
        TSelectObject select(dc, font);
        DrawTextW(dc, W(text), static_cast<int>(text.size()), &f, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        int h = f.bottom - f.top;
        f.top = r.top + (r.bottom - r.top - h) / 2;
        f.bottom = f.top + h;
        InflateRect(&f, 1, 0);
        SetTextColor(dc, textColor);
        DrawFocusRect(dc, &f);
    }
}

void PaintRadioButton(HDC dc, const RECT& area, const WideString& text, HFONT font, COLORREF background,
                      COLORREF textColor, bool checked, const TButtonState& state, float scale)
{
    FillSolid(dc, area, background);
    const int size = int(13 * scale + 0.5f);
    const float box = float(size), s = box / 13.f;
    float x = float(area.left) + 0.5f, y = float(area.top + (area.bottom - area.top - size) / 2) + 0.5f;
    COLORREF accent = state.enabled ? Blue : Mix(Blue, White, 55);
    COLORREF frame = checked ? accent : (state.hot ? Blue : RGB(150, 160, 172));
    ZoDraw::FillRoundRect(dc, x - 0.5f, y - 0.5f, box, box, box / 2, ZoDraw::Argb(White));
    ZoDraw::FrameRoundRect(dc, x, y, box - 1.f, box - 1.f, (box - 1.f) / 2, (checked ? 1.6f : 1.f) * s,
                           ZoDraw::Argb(frame));
    if (checked)
        ZoDraw::FillRoundRect(dc, x + 3.f * s, y + 3.f * s, box - 7.f * s, box - 7.f * s, (box - 7.f * s) / 2,
                              ZoDraw::Argb(accent));
    RECT r = area;
    r.left += size + int(4 * scale + 0.5f);
    Text(dc, r, text, font, state.enabled ? textColor : Mix(background, textColor, 45),
         DT_LEFT | DT_VCENTER | DT_SINGLELINE);
    if (state.focused) {
        RECT f = r;
        TSelectObject select(dc, font);
        DrawTextW(dc, W(text), static_cast<int>(text.size()), &f, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
        int h = f.bottom - f.top;
        f.top = r.top + (r.bottom - r.top - h) / 2;
        f.bottom = f.top + h;
        InflateRect(&f, 1, 0);
        SetTextColor(dc, textColor);
        DrawFocusRect(dc, &f);
    }
}

WideString PercentText(int position, int maximum)
{
    int percent = maximum > 0 ? static_cast<int>(int64_t(std::clamp(position, 0, maximum)) * 100 / maximum) : 0;
    return IntToStr(percent) + u"%";
}

void PaintProgress(HDC dc, const RECT& area, int position, int maximum, HFONT font, COLORREF background,
                   float scale)
{
    FillSolid(dc, area, background);
    float w = float(area.right - area.left), h = float(area.bottom - area.top);
    float radius = std::min(h / 2, 4.f * scale);
    COLORREF track = RGB(222, 238, 252);
    ZoDraw::FillRoundRect(dc, float(area.left), float(area.top), w, h, radius, ZoDraw::Argb(track));
    int filled = maximum > 0 ? static_cast<int>(int64_t(std::clamp(position, 0, maximum)) * (area.right - area.left) /
                                                maximum)
                             : 0;
    if (filled > 0) {
        TUniqueRegion clip(CreateRectRgn(area.left, area.top, area.left + filled, area.bottom));
        SelectClipRgn(dc, clip.Get());
        ZoDraw::FillRoundRect(dc, float(area.left), float(area.top), w, h, radius, ZoDraw::Argb(Blue));
        SelectClipRgn(dc, nullptr);
    }
    // The caption is white over the filled part and blue over the track.
    WideString caption = PercentText(position, maximum);
    RECT left = area, right = area;
    left.right = area.left + filled;
    right.left = area.left + filled;
    if (filled > 0) {
        TUniqueRegion clip(CreateRectRgnIndirect(&left));
        SelectClipRgn(dc, clip.Get());
        Text(dc, area, caption, font, White, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    {
        TUniqueRegion clip(CreateRectRgnIndirect(&right));
        SelectClipRgn(dc, clip.Get());
        Text(dc, area, caption, font, RGB(0, 110, 190), DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    }
    SelectClipRgn(dc, nullptr);
}

namespace {
void GlyphBackground(HDC dc, const RECT& area, COLORREF background, bool hot, bool pressed, COLORREF hotColor,
                     float scale)
{
    FillSolid(dc, area, background);
    if (hot || pressed)
        ZoDraw::FillRoundRect(dc, float(area.left), float(area.top), float(area.right - area.left),
                              float(area.bottom - area.top), 3.f * scale, ZoDraw::Argb(hotColor, pressed ? 150 : 90));
}
}  // namespace

void PaintMinimizeGlyph(HDC dc, const RECT& area, COLORREF background, bool hot, bool pressed, float scale)
{
    GlyphBackground(dc, area, background, hot, pressed, White, scale);
    // A white bar of 10 x 2 design pixels just below the middle.
    int cx = (area.left + area.right) / 2, cy = (area.top + area.bottom) / 2;
    int half = int(5 * scale + 0.5f), thick = std::max(1, int(2 * scale + 0.5f)), gap = std::max(1, int(scale + 0.5f));
    RECT bar{cx - half, cy + gap, cx + half, cy + gap + thick};
    FillSolid(dc, bar, White);
}

void PaintCloseGlyph(HDC dc, const RECT& area, COLORREF background, bool hot, bool pressed, float scale)
{
    GlyphBackground(dc, area, background, hot, pressed, RGB(232, 17, 35), scale);
    // A white anti-aliased cross of about 16 x 16 design pixels.
    float cx = (area.left + area.right) / 2.f, cy = (area.top + area.bottom) / 2.f, d = 6.5f * scale;
    ZoDraw::Line(dc, cx - d, cy - d, cx + d, cy + d, 1.7f * scale, ZoDraw::Argb(White));
    ZoDraw::Line(dc, cx - d, cy + d, cx + d, cy - d, 1.7f * scale, ZoDraw::Argb(White));
}

}  // namespace ZoSkin
