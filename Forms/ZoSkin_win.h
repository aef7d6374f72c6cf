// The "Athen" look of the skinned controls: flat buttons, check box and
// progress bar in the installer's blue and white, and the white corner glyphs.
#pragma once

#include <windows.h>

#include "ZoTypes.h"

namespace ZoSkin {

constexpr COLORREF Blue = RGB(0, 153, 249);
constexpr COLORREF White = RGB(255, 255, 255);
// Text on the white strip and in the skinned controls: fixed, so dark system
// colours cannot turn it white on white.
constexpr COLORREF Ink = RGB(32, 32, 32);
constexpr COLORREF Link = RGB(0, 0, 255);

struct TButtonState {
    bool hot = false;
    bool pressed = false;
    bool enabled = true;
    bool focused = false;
};

// scale below is the window's DPI over 96: shapes, pens and gaps grow with it.
void FillSolid(HDC dc, const RECT& area, COLORREF color);
// A button; on a dark background it is white with blue text, otherwise blue with white text.
void PaintButton(HDC dc, const RECT& area, const WideString& text, HFONT font, COLORREF background,
                 const TButtonState& state, float scale);
void PaintCheckBox(HDC dc, const RECT& area, const WideString& text, HFONT font, COLORREF background,
                   COLORREF textColor, bool checked, const TButtonState& state, float scale);
void PaintRadioButton(HDC dc, const RECT& area, const WideString& text, HFONT font, COLORREF background,
                      COLORREF textColor, bool checked, const TButtonState& state, float scale);
// The bar with the completed percentage as its caption.
void PaintProgress(HDC dc, const RECT& area, int position, int maximum, HFONT font, COLORREF background,
                   float scale);
void PaintMinimizeGlyph(HDC dc, const RECT& area, COLORREF background, bool hot, bool pressed, float scale);
void PaintCloseGlyph(HDC dc, const RECT& area, COLORREF background, bool hot, bool pressed, float scale);
// "n%" for a position within 0..maximum.
WideString PercentText(int position, int maximum);

}  // namespace ZoSkin
