// The window's layout as data: dialog units to pixels, centring on the work area, and the two
// templates, which must describe the same window apart from the firmware-file group.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/dialog_template.h"
#include "ui/dialog_units.h"
#include "ui/window_placement.h"

namespace kestrel {
namespace {

TEST(DialogUnits, MulDivRoundsHalfAwayFromZero) {
    EXPECT_EQ(mulDiv(105, 7, 4), 184);   // 183.75
    EXPECT_EQ(mulDiv(115, 13, 8), 187);  // 186.875
    EXPECT_EQ(mulDiv(2, 3, 4), 2);       // 1.5
    EXPECT_EQ(mulDiv(1, 3, 4), 1);       // 0.75
    EXPECT_EQ(mulDiv(1, 1, 4), 0);       // 0.25
    EXPECT_EQ(mulDiv(-2, 3, 4), -2);     // -1.5
    EXPECT_EQ(mulDiv(2, 3, -4), -2);
    EXPECT_EQ(mulDiv(1 << 30, 8, 4), -1);  // past 32 bits
    EXPECT_EQ(mulDiv(5, 7, 0), -1);
}

TEST(DialogUnits, AverageWidthIsHalfOfTwentySixLettersRounded) {
    // Widths of "A".."Z" "a".."z" and the average character width taken from them.
    EXPECT_EQ(averageCharWidth(338), 7);  // 13 per pair of letters
    EXPECT_EQ(averageCharWidth(363), 7);  // 13.96: integer division first
    EXPECT_EQ(averageCharWidth(364), 7);  // 14 -> 7.5 -> 7
    EXPECT_EQ(averageCharWidth(390), 8);  // 15 -> 8
    EXPECT_EQ(averageCharWidth(0), 0);
}

TEST(DialogUnits, TemplateRectanglesScaleWithTheFont) {
    // DejaVu Sans 8 pt at 96 dpi: base units 7 x 13.
    const PixelRect client = dialogUnitsToPixels(0, 0, 284, 145, {7, 13});
    EXPECT_EQ(client.width, 497);
    EXPECT_EQ(client.height, 236);
    const PixelRect start = dialogUnitsToPixels(105, 115, 74, 23, {7, 13});
    EXPECT_EQ(start.x, 184);
    EXPECT_EQ(start.y, 187);
    EXPECT_EQ(start.width, 130);
    EXPECT_EQ(start.height, 37);
    // A larger font keeps the proportions.
    const PixelRect big = dialogUnitsToPixels(0, 0, 284, 145, {14, 26});
    EXPECT_EQ(big.width, 994);
    EXPECT_EQ(big.height, 471);
}

TEST(WindowPlacement, CentredOnTheWorkAreaAndKeptInsideIt) {
    ScreenPoint p = centreInWorkArea({0, 0, 1920, 1040}, 497, 236);
    EXPECT_EQ(p.x, 960 - 248);
    EXPECT_EQ(p.y, 520 - 118);
    // A task bar on the left and on top moves the work area.
    p = centreInWorkArea({64, 30, 1024, 768}, 500, 300);
    EXPECT_EQ(p.x, 544 - 250);
    EXPECT_EQ(p.y, 399 - 150);
    // Larger than the work area: the top-left corner stays on its edges.
    p = centreInWorkArea({100, 50, 600, 450}, 800, 600);
    EXPECT_EQ(p.x, 100);
    EXPECT_EQ(p.y, 50);
    // A screen left of and above the primary one (negative coordinates).
    p = centreInWorkArea({-1280, -1024, 0, 0}, 497, 236);
    EXPECT_EQ(p.x, -640 - 248);
    EXPECT_EQ(p.y, -512 - 118);
}

TEST(WindowPlacement, RightAndBottomEdgesHoldWhenRoundingPushesPastThem) {
    // Division truncates towards zero, so left of and above the origin the centre of an odd
    // area rounds up and the window would stick out by one pixel.
    const ScreenPoint p = centreInWorkArea({-3, -3, 0, 0}, 3, 3);
    EXPECT_EQ(p.x, -3);
    EXPECT_EQ(p.y, -3);
}

int idAt(const DialogTemplate& t, size_t i) {
    return t.controls[i].id;
}

TEST(DialogTemplates, Template130IsTheProgramsWindow) {
    const DialogTemplate& t = dialogTemplate130();
    EXPECT_EQ(t.id, 130);
    EXPECT_STREQ(t.caption, "Kestrel (RS232 + USB)");
    EXPECT_EQ(t.cx, 284);
    EXPECT_EQ(t.cy, 145);
    EXPECT_STREQ(t.fontName, "MS Sans Serif");
    EXPECT_EQ(t.fontPointSize, 8);
    EXPECT_EQ(t.windowStyle, kCaption | kSystemMenu | kMinimizeBox);
    const int order[] = {kStartId,  kCancelId, kStaticId,    kStaticId,    kPortId,
                         kStaticId, kRateId,   kStaticId,    kStaticId,    kProgressId,
                         kStatusId, kStaticId, kUsbOptionId, kNoFirmwareId};
    ASSERT_EQ(t.controlCount, sizeof order / sizeof order[0]);
    for (size_t i = 0; i < t.controlCount; ++i)
        EXPECT_EQ(idAt(t, i), order[i]) << i;
    EXPECT_EQ(findControl(t, kFirmwareNameId), nullptr);
    EXPECT_EQ(findControl(t, kBrowseId), nullptr);

    const ControlTemplate* start = findControl(t, kStartId);
    EXPECT_STREQ(start->text, "&START");
    EXPECT_EQ(start->style, kDefaultButton | kTabStop);
    EXPECT_EQ(findControl(t, kCancelId)->style, kHidden | kTabStop);
    EXPECT_EQ(findControl(t, kPortId)->style, kSortedList | kUpperCase | kVScroll | kTabStop);
    EXPECT_EQ(findControl(t, kRateId)->style, kUpperCase | kVScroll | kTabStop);
    EXPECT_EQ(findControl(t, kStatusId)->style, kReadOnly | kAutoHScroll | kTabStop);
    EXPECT_STREQ(findControl(t, kNoFirmwareId)->text, "No or invalid Firmware present in Module");
}

TEST(DialogTemplates, Template129IsTemplate130WithTheFirmwareFileGroup) {
    const DialogTemplate& t130 = dialogTemplate130();
    const DialogTemplate& t129 = dialogTemplate129();
    EXPECT_EQ(t129.id, 129);
    EXPECT_STREQ(t129.caption, "Kestrel V1.07");
    EXPECT_EQ(t129.cx, 284);
    EXPECT_EQ(t129.cy, 196);
    EXPECT_STREQ(t129.fontName, t130.fontName);
    EXPECT_EQ(t129.windowStyle, t130.windowStyle);
    ASSERT_EQ(t129.controlCount, t130.controlCount + 4);

    // START and Cancel, then the four new controls, then the rest of 130 in its order.
    const ControlTemplate added[] = {
        {kStaticId, ControlKind::GroupBox, "Firmware File", 7, 7, 270, 37, 0},
        {kStaticId, ControlKind::Label, "Filename:", 16, 22, 33, 8, kLeftAligned | kGroupStart},
        {kFirmwareNameId, ControlKind::Edit, "", 50, 20, 206, 14,
         kBorder | kAutoHScroll | kTabStop},
        {kBrowseId, ControlKind::PushButton, "...", 258, 21, 13, 11, kTabStop},
    };
    for (size_t i = 0; i < t129.controlCount; ++i) {
        const ControlTemplate& c = t129.controls[i];
        const bool isNew = i >= 2 && i < 6;
        const ControlTemplate& ref = isNew ? added[i - 2] : t130.controls[i < 2 ? i : i - 4];
        SCOPED_TRACE(std::string(c.text) + " at " + std::to_string(i));
        const int shift = isNew ? 0 : (ref.id == kStartId || ref.id == kCancelId) ? 51 : 43;
        EXPECT_EQ(c.id, ref.id);
        EXPECT_EQ(c.kind, ref.kind);
        EXPECT_EQ(c.x, ref.x);
        EXPECT_EQ(c.y, ref.y + shift);
        EXPECT_EQ(c.cx, ref.cx);
        EXPECT_EQ(c.cy, ref.cy);
        EXPECT_EQ(c.style, ref.style);
        EXPECT_STREQ(c.text, c.id == kNoFirmwareId ? "No Firmware / After UUSF-Update" : ref.text);
    }
}

TEST(DialogTemplates, EveryControlLiesInsideItsWindow) {
    for (const DialogTemplate* t : {&dialogTemplate130(), &dialogTemplate129()}) {
        for (size_t i = 0; i < t->controlCount; ++i) {
            const ControlTemplate& c = t->controls[i];
            SCOPED_TRACE(std::to_string(t->id) + ": " + c.text);
            EXPECT_GE(c.x, 0);
            EXPECT_LE(c.x + c.cx, t->cx);
            EXPECT_GE(c.y, 0);
            // A combo box's height includes its dropped list, which may hang out.
            if (c.kind != ControlKind::ComboBox) {
                EXPECT_LE(c.y + c.cy, t->cy);
            }
        }
    }
}

}  // namespace
}  // namespace kestrel
