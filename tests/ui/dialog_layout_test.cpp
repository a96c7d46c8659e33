// The window's layout as data: dialog units to pixels (rounded half up, as the template's
// numbers need) and centring on the work area. The template tables are held against the
// resource script by tests/resources.
#include <gtest/gtest.h>

#include <string>

#include "ui/dialog_units.h"
#include "ui/window_placement.h"

namespace kestrel {
namespace {

std::string str(const PixelRect& r) {
    return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
           std::to_string(r.height);
}

TEST(DialogUnits, TemplateRectanglesScaleWithTheFont) {
    // Half the width of "A".."Z" "a".."z", rounded, after an integer division by 26.
    for (const auto& [alphabet, width] : {std::pair{338, 7}, {363, 7}, {364, 7}, {390, 8}, {0, 0}})
        EXPECT_EQ(averageCharWidth(alphabet), width) << alphabet;
    // DejaVu Sans 8 pt at 96 dpi: base units 7 x 13. A larger font keeps the proportions.
    EXPECT_EQ(str(dialogUnitsToPixels(0, 0, 284, 145, {7, 13})), "0,0 497x236");
    EXPECT_EQ(str(dialogUnitsToPixels(105, 115, 74, 23, {7, 13})), "184,187 130x37");
    EXPECT_EQ(str(dialogUnitsToPixels(0, 0, 284, 145, {14, 26})), "0,0 994x471");
}

TEST(WindowPlacement, CentredOnTheWorkAreaAndKeptInsideIt) {
    // Work area, window size, top-left corner: task bars left and on top; too large (the
    // top-left corner stays inside); left of and above the primary screen. Division truncates
    // towards zero, so left of and above the origin the centre of an odd area rounds up and
    // the window would stick out by one pixel.
    const std::pair<ScreenRect, PixelRect> kCases[] = {
        {{0, 0, 1920, 1040}, {960 - 248, 520 - 118, 497, 236}},
        {{64, 30, 1024, 768}, {544 - 250, 399 - 150, 500, 300}},
        {{100, 50, 600, 450}, {100, 50, 800, 600}},
        {{-1280, -1024, 0, 0}, {-640 - 248, -512 - 118, 497, 236}},
        {{-3, -3, 0, 0}, {-3, -3, 3, 3}}};
    for (const auto& [area, expected] : kCases) {
        const ScreenPoint p = centreInWorkArea(area, expected.width, expected.height);
        EXPECT_EQ(str({p.x, p.y, expected.width, expected.height}), str(expected)) << area.left;
    }
}

}  // namespace
}  // namespace kestrel
