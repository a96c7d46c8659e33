// The colour of an error text. Qt's palette has no role for it, and a fixed red is unreadable
// on one theme or the other: the window's red keeps its hue and is darkened on a light
// background, lightened on a dark one, until it stands out as ordinary text must (WCAG AA).
#pragma once

#include <QColor>

namespace kestrel {

// The contrast ordinary text needs against its background (WCAG 2 level AA).
constexpr double kTextContrast = 4.5;

// A red with at least kTextContrast against `background`, or as close as a red can get.
QColor errorTextColour(const QColor& background);

}  // namespace kestrel
