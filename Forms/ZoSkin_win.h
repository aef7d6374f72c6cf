// The "Athen" look of the skinned controls: flat buttons, check box and
// progress bar in the installer's blue and white, and the white corner glyphs.
#pragma once

#include <windows.h>

#include "ZoTypes.h"

namespace ZoSkin {

constexpr COLORREF Blue = RGB(0, 153, 249);
constexpr COLORREF White = RGB(255, 255, 255);

struct TButtonState {
    bool hot = false;
    bool pressed = false;
    bool enabled = true;
    bool focused = false;
};

void FillSolid(HDC dc, const RECT& area, COLORREF color);
// A button; on a dark background it is white with blue text, otherwise blue with white text.
void PaintButton(HDC dc, const RECT& area, const WideString& text, HFONT font, COLORREF background,
                 const TButtonState& state);
void PaintCheckBox(HDC dc, const RECT& area, const WideString& text, HFONT font, COLORREF background,
                   COLORREF textColor, bool checked, const TButtonState& state);
void PaintRadioButton(HDC dc, const RECT& area, const WideString& text, HFONT font, COLORREF background,
                      COLORREF textColor, bool checked, const TButtonState& state);
// The bar with the completed percentage as its caption.
void PaintProgress(HDC dc, const RECT& area, int position, int maximum, HFONT font, COLORREF background);
void PaintMinimizeGlyph(HDC dc, const RECT& area, COLORREF background, bool hot, bool pressed);
void PaintCloseGlyph(HDC dc, const RECT& area, COLORREF background, bool hot, bool pressed);
// "n%" for a position within 0..maximum.
WideString PercentText(int position, int maximum);

}  // namespace ZoSkin
