// The window's layout as data: dialog units to pixels, centring on the work area, and the two
// templates, which must describe the same window apart from the firmware-file group. The
// tables' contents are held against the resource script by tests/resources.
#include <gtest/gtest.h>

#include <string>

#include "ui/dialog_template.h"
#include "ui/dialog_units.h"
#include "ui/window_placement.h"

namespace kestrel {
namespace {

std::string str(const PixelRect& r) {
    return std::to_string(r.x) + "," + std::to_string(r.y) + " " + std::to_string(r.width) + "x" +
           std::to_string(r.height);
}

TEST(DialogUnits, MulDivRoundsHalfAwayFromZero) {
    // 183.75, 186.875, 1.5, 0.75, 0.25, -1.5, -1.5, past 32 bits, a division by 0.
    const int kCases[][4] = {{105, 7, 4, 184}, {115, 13, 8, 187},   {2, 3, 4, 2},
                             {1, 3, 4, 1},     {1, 1, 4, 0},        {-2, 3, 4, -2},
                             {2, 3, -4, -2},   {1 << 30, 8, 4, -1}, {5, 7, 0, -1}};
    for (const auto& c : kCases)
        EXPECT_EQ(mulDiv(c[0], c[1], c[2]), c[3]) << c[0] << "*" << c[1] << "/" << c[2];
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

// A control with its y moved by `down` units; without the text of the no-firmware option,
// which differs between the templates.
std::string moved(const ControlTemplate& c, int down) {
    return std::to_string(c.id) + " " + std::to_string(static_cast<int>(c.kind)) + " " +
           (c.id == kNoFirmwareId ? "" : c.text) + " " + str({c.x, c.y + down, c.cx, c.cy}) + " " +
           std::to_string(c.style);
}

TEST(DialogTemplates, Template129IsTemplate130WithTheFirmwareFileGroup) {
    const DialogTemplate& t130 = dialogTemplate130();
    const DialogTemplate& t129 = dialogTemplate129();
    EXPECT_EQ(t129.cy, t130.cy + 51);
    ASSERT_EQ(t129.controlCount, t130.controlCount + 4);
    EXPECT_EQ(t129.controls[4].id, kFirmwareNameId);
    EXPECT_EQ(t129.controls[5].id, kBrowseId);
    // START and Cancel 51 units lower, then the four new controls, then the rest of 130 in
    // its order, 43 units lower.
    for (size_t i = 0; i < t130.controlCount; ++i)
        EXPECT_EQ(moved(t129.controls[i < 2 ? i : i + 4], 0),
                  moved(t130.controls[i], i < 2 ? 51 : 43));
    // Every control lies inside its window; a combo box's list may hang out.
    for (const DialogTemplate* t : {&t130, &t129}) {
        for (size_t i = 0; i < t->controlCount; ++i) {
            const ControlTemplate& c = t->controls[i];
            EXPECT_TRUE(c.x >= 0 && c.y >= 0 && c.x + c.cx <= t->cx &&
                        (c.kind == ControlKind::ComboBox || c.y + c.cy <= t->cy))
                << t->id << ": " << c.text;
        }
    }
}

}  // namespace
}  // namespace kestrel
