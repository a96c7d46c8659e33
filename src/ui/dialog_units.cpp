#include "ui/dialog_units.h"

#include <cstdint>

namespace kestrel {

int mulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    int64_t product = static_cast<int64_t>(number) * numerator;
    const bool negative = (product < 0) != (denominator < 0);
    if (product < 0) product = -product;
    int64_t d = denominator < 0 ? -static_cast<int64_t>(denominator) : denominator;
    int64_t rounded = (product + d / 2) / d;
    if (negative) rounded = -rounded;
    if (rounded > INT32_MAX || rounded < INT32_MIN) return -1;  // as MulDiv on overflow
    return static_cast<int>(rounded);
}

int averageCharWidth(int widthOfAlphabet) {
    return (widthOfAlphabet / 26 + 1) / 2;
}

PixelRect dialogUnitsToPixels(int x, int y, int cx, int cy, DialogBaseUnits units) {
    // Position and size are scaled separately, as controls of a template are created.
    return {mulDiv(x, units.cx, 4), mulDiv(y, units.cy, 8), mulDiv(cx, units.cx, 4),
            mulDiv(cy, units.cy, 8)};
}

}  // namespace kestrel
