#include <cstddef>

#include "ui/dialog_template.h"

namespace kestrel {

namespace {

constexpr uint32_t kWindowStyle = kCaption | kSystemMenu | kMinimizeBox;
constexpr uint32_t kLabel = kLeftAligned | kGroupStart;
constexpr uint32_t kPortField = kSortedList | kUpperCase | kVScroll | kTabStop;
constexpr uint32_t kRateField = kUpperCase | kVScroll | kTabStop;

constexpr ControlTemplate kControls130[] = {
    {kStartId, ControlKind::PushButton, "&START", 105, 115, 74, 23, kDefaultButton | kTabStop},
    {kCancelId, ControlKind::PushButton, "Cancel", 227, 124, 50, 14, kHidden | kTabStop},
    {kStaticId, ControlKind::GroupBox, "COM Parameter", 7, 7, 270, 53, 0},
    {kStaticId, ControlKind::Label, "COM Port:", 16, 22, 34, 8, kLabel},
    {kPortId, ControlKind::ComboBox, "", 57, 19, 58, 98, kPortField},
    {kStaticId, ControlKind::Label, "Baudrate:", 125, 22, 32, 8, kLabel},
    {kRateId, ControlKind::ComboBox, "", 167, 20, 48, 110, kRateField},
    {kStaticId, ControlKind::Label, "(ignored, if USB)", 166, 33, 52, 8, kLabel},
    {kStaticId, ControlKind::GroupBox, "Update Status", 7, 64, 270, 45, 0},
    {kProgressId, ControlKind::ProgressBar, "", 13, 79, 258, 14, kBorder},
    {kStatusId, ControlKind::Edit, "", 14, 94, 257, 13, kReadOnly | kAutoHScroll | kTabStop},
    {kStaticId, ControlKind::Label, "USB-Ruvo: select virtual COM port.", 16, 35, 113, 8, kLabel},
    {kUsbOptionId, ControlKind::CheckBox, "Use USB Ruvo", 17, 45, 65, 10, kTabStop},
    {kNoFirmwareId, ControlKind::CheckBox, "No or invalid Firmware present in Module", 123, 45, 145,
     10, kTabStop},
};

// As 130 with a "Firmware File" group on top: START and Cancel 51 units lower, every other
// control 43 units lower; the four new controls follow Cancel in the tab order.
constexpr ControlTemplate kControls129[] = {
    {kStartId, ControlKind::PushButton, "&START", 105, 166, 74, 23, kDefaultButton | kTabStop},
    {kCancelId, ControlKind::PushButton, "Cancel", 227, 175, 50, 14, kHidden | kTabStop},
    {kStaticId, ControlKind::GroupBox, "Firmware File", 7, 7, 270, 37, 0},
    {kStaticId, ControlKind::Label, "Filename:", 16, 22, 33, 8, kLabel},
    {kFirmwareNameId, ControlKind::Edit, "", 50, 20, 206, 14, kBorder | kAutoHScroll | kTabStop},
    {kBrowseId, ControlKind::PushButton, "...", 258, 21, 13, 11, kTabStop},
    {kStaticId, ControlKind::GroupBox, "COM Parameter", 7, 50, 270, 53, 0},
    {kStaticId, ControlKind::Label, "COM Port:", 16, 65, 34, 8, kLabel},
    {kPortId, ControlKind::ComboBox, "", 57, 62, 58, 98, kPortField},
    {kStaticId, ControlKind::Label, "Baudrate:", 125, 65, 32, 8, kLabel},
    {kRateId, ControlKind::ComboBox, "", 167, 63, 48, 110, kRateField},
    {kStaticId, ControlKind::Label, "(ignored, if USB)", 166, 76, 52, 8, kLabel},
    {kStaticId, ControlKind::GroupBox, "Update Status", 7, 107, 270, 45, 0},
    {kProgressId, ControlKind::ProgressBar, "", 13, 122, 258, 14, kBorder},
    {kStatusId, ControlKind::Edit, "", 14, 137, 257, 13, kReadOnly | kAutoHScroll | kTabStop},
    {kStaticId, ControlKind::Label, "USB-Ruvo: select virtual COM port.", 16, 78, 113, 8, kLabel},
    {kUsbOptionId, ControlKind::CheckBox, "Use USB Ruvo", 17, 88, 65, 10, kTabStop},
    {kNoFirmwareId, ControlKind::CheckBox, "No Firmware / After UUSF-Update", 123, 88, 145, 10,
     kTabStop},
};

constexpr DialogTemplate kTemplate130 = {130,
                                         "Kestrel (RS232 + USB)",
                                         284,
                                         145,
                                         "MS Sans Serif",
                                         8,
                                         kWindowStyle,
                                         kControls130,
                                         sizeof kControls130 / sizeof kControls130[0]};

constexpr DialogTemplate kTemplate129 = {
    129,          "Kestrel V1.07", 284,
    196,          "MS Sans Serif", 8,
    kWindowStyle, kControls129,    sizeof kControls129 / sizeof kControls129[0]};

}  // namespace

const DialogTemplate& dialogTemplate130() {
    return kTemplate130;
}
const DialogTemplate& dialogTemplate129() {
    return kTemplate129;
}

const ControlTemplate* findControl(const DialogTemplate& layout, int id) {
    if (id == kStaticId) return nullptr;
    for (size_t i = 0; i < layout.controlCount; ++i)
        if (layout.controls[i].id == id) return &layout.controls[i];
    return nullptr;
}

}  // namespace kestrel
