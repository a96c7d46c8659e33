// Dialog units to pixels, the way dialog templates are laid out: a horizontal unit is a
// quarter of the dialog font's average character width, a vertical unit an eighth of its height.
#pragma once

namespace kestrel {

struct DialogBaseUnits {
    int cx;  // average character width of the dialog font, pixels
    int cy;  // character height of the dialog font, pixels
};

struct PixelRect {
    int x, y, width, height;
};

// number * numerator / denominator, rounded half away from zero; -1 when the denominator is
// 0 or the result does not fit (as Windows' MulDiv).
int mulDiv(int number, int numerator, int denominator);

// The average character width from the width of the 52 letters "A".."Z" "a".."z" set in
// the font: half the width of 26 letters, rounded.
int averageCharWidth(int widthOfAlphabet);

PixelRect dialogUnitsToPixels(int x, int y, int cx, int cy, DialogBaseUnits units);

}  // namespace kestrel
