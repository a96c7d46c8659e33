// The window's dialog templates as data: one table per template, the controls in tab order,
// geometry in dialog units. A front end builds its widgets from these tables, so the layout
// lives in one place for every platform.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel {

// Control ids the window's code refers to; labels and group boxes carry kStaticId.
enum ControlId : int {
    kStaticId = -1,
    kStartId = 1,
    kCancelId = 2,
    kFirmwareNameId = 1001,
    kBrowseId = 1003,
    kPortId = 1004,
    kRateId = 1005,
    kProgressId = 1006,
    kStatusId = 1007,
    kUsbOptionId = 1008,
    kNoFirmwareId = 1009,
};

enum class ControlKind : uint8_t {
    PushButton,
    GroupBox,
    Label,
    ComboBox,  // editable drop-down: an edit field with a list
    ProgressBar,
    Edit,      // single line
    CheckBox,  // toggles itself when clicked
};

// Control styles, as the template states them.
enum ControlStyle : uint32_t {
    kTabStop = 1u << 0,
    kHidden = 1u << 1,         // created without the visible style
    kDefaultButton = 1u << 2,  // Enter presses it
    kGroupStart = 1u << 3,     // starts a group of controls
    kSortedList = 1u << 4,
    kUpperCase = 1u << 5,    // typed text is converted to upper case
    kAutoHScroll = 1u << 6,  // text may grow past the visible width (scrolls)
    kVScroll = 1u << 7,
    kReadOnly = 1u << 8,
    kBorder = 1u << 9,
    kLeftAligned = 1u << 10,
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;
    int x, y;    // top-left corner, dialog units
    int cx, cy;  // size, dialog units; a combo box's height includes its list
    uint32_t style;
};

enum WindowStyle : uint32_t {
    kCaption = 1u << 0,
    kSystemMenu = 1u << 1,  // with the close box
    kMinimizeBox = 1u << 2,
    kMaximizeBox = 1u << 3,
    kSizingBorder = 1u << 4,
};

struct DialogTemplate {
    int id;
    const char* caption;
    int cx, cy;  // client size, dialog units
    const char* fontName;
    int fontPointSize;
    uint32_t windowStyle;
    const ControlTemplate* controls;  // in tab order
    size_t controlCount;
};

// The layout the program creates.
const DialogTemplate& dialogTemplate130();
// The alternative layout with the firmware-name field and its browse button.
const DialogTemplate& dialogTemplate129();

// The control with `id` in `layout`, or nullptr when the layout has none.
const ControlTemplate* findControl(const DialogTemplate& layout, int id);

}  // namespace kestrel
