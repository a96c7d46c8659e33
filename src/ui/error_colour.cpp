#include "ui/error_colour.h"

#include <cmath>

namespace kestrel {

namespace {

// Relative luminance of an sRGB colour.
double luminance(const QColor& c) {
    auto linear = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(c.redF()) + 0.7152 * linear(c.greenF()) + 0.0722 * linear(c.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::fmax(la, lb) + 0.05) / (std::fmin(la, lb) + 0.05);
}

}  // namespace

QColor errorTextColour(const QColor& background) {
    // Towards black or towards white, whichever end lies further from the background.
    const bool darken = contrast(Qt::black, background) >= contrast(Qt::white, background);
    QColor red;
    for (int lightness = 127; lightness >= 0 && lightness <= 255; lightness += darken ? -4 : 4) {
        red = QColor::fromHsl(0, 255, lightness);
        if (contrast(red, background) >= kTextContrast) break;
    }
    return red;
}

}  // namespace kestrel
