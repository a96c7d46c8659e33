#include "resources/template_match.h"

#include <cstdint>
#include <cstdio>
#include <map>

namespace kestrel::test {

namespace {

// Window style names and the table's flags; names mapped to 0 say nothing the table records
// (every dialog of ours is a popup with its font set).
const std::map<std::string, uint32_t> kWindowStyles = {
    {"WS_CAPTION", kCaption},
    {"WS_SYSMENU", kSystemMenu},
    {"WS_MINIMIZEBOX", kMinimizeBox},
    {"WS_MAXIMIZEBOX", kMaximizeBox},
    {"WS_THICKFRAME", kSizingBorder},
    {"DS_SETFONT", 0},
    {"WS_POPUP", 0},
};

// Control style names and the table's flags. The names that choose the kind of control
// (BS_PUSHBUTTON, CBS_DROPDOWN, ...) are mapped to 0 here and read by kindOf().
const std::map<std::string, uint32_t> kControlStyles = {
    {"WS_TABSTOP", kTabStop},
    {"WS_GROUP", kGroupStart},
    {"WS_VSCROLL", kVScroll},
    {"WS_BORDER", kBorder},
    {"BS_DEFPUSHBUTTON", kDefaultButton},
    {"BS_PUSHBUTTON", 0},
    {"BS_GROUPBOX", 0},
    {"BS_AUTOCHECKBOX", 0},
    {"SS_LEFT", kLeftAligned},
    {"CBS_DROPDOWN", 0},
    {"CBS_SORT", kSortedList},
    {"CBS_UPPERCASE", kUpperCase},
    {"CBS_AUTOHSCROLL", kAutoHScroll},
    {"ES_LEFT", 0},
    {"ES_AUTOHSCROLL", kAutoHScroll},
    {"ES_READONLY", kReadOnly},
};

bool has(const std::set<std::string>& s, const char* name) {
    return s.count(name) != 0;
}

// The kind a class and its kind-choosing style make; false when they make none of ours.
bool kindOf(const RcControl& c, ControlKind* kind) {
    const auto& s = c.styles;
    if (c.className == "Button") {
        const int kinds = has(s, "BS_DEFPUSHBUTTON") + has(s, "BS_PUSHBUTTON") +
                          has(s, "BS_GROUPBOX") + has(s, "BS_AUTOCHECKBOX");
        if (kinds != 1) return false;
        *kind = has(s, "BS_GROUPBOX")       ? ControlKind::GroupBox
                : has(s, "BS_AUTOCHECKBOX") ? ControlKind::CheckBox
                                            : ControlKind::PushButton;
        return true;
    }
    if (c.className == "Static" && has(s, "SS_LEFT")) {
        *kind = ControlKind::Label;
        return true;
    }
    if (c.className == "ComboBox" && has(s, "CBS_DROPDOWN")) {
        *kind = ControlKind::ComboBox;
        return true;
    }
    if (c.className == "Edit") {
        *kind = ControlKind::Edit;
        return true;
    }
    if (c.className == "msctls_progress32") {
        *kind = ControlKind::ProgressBar;
        return true;
    }
    return false;
}

const char* kindName(ControlKind k) {
    switch (k) {
        case ControlKind::PushButton:
            return "push button";
        case ControlKind::GroupBox:
            return "group box";
        case ControlKind::Label:
            return "label";
        case ControlKind::ComboBox:
            return "combo box";
        case ControlKind::ProgressBar:
            return "progress bar";
        case ControlKind::Edit:
            return "edit";
        case ControlKind::CheckBox:
            return "check box";
    }
    return "?";
}

std::string hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%x", v);
    return buf;
}

std::string geometry(int x, int y, int cx, int cy) {
    return std::to_string(x) + "," + std::to_string(y) + " " + std::to_string(cx) + "x" +
           std::to_string(cy);
}

void controlDifferences(const std::string& where, const RcControl& rc, const ControlTemplate& t,
                        std::vector<std::string>* out) {
    auto differ = [&](const std::string& what, const std::string& script,
                      const std::string& table) {
        out->push_back(where + ": " + what + " is " + script + " in the script, " + table +
                       " in the table");
    };
    if (rc.id != t.id) differ("id", std::to_string(rc.id), std::to_string(t.id));
    ControlKind kind{};
    if (!kindOf(rc, &kind))
        out->push_back(where + ": class \"" + rc.className +
                       "\" with these styles is no known kind");
    else if (kind != t.kind)
        differ("kind", kindName(kind), kindName(t.kind));
    if (rc.text != t.text) differ("text", "\"" + rc.text + "\"", "\"" + std::string(t.text) + "\"");
    if (rc.x != t.x || rc.y != t.y || rc.cx != t.cx || rc.cy != t.cy)
        differ("geometry", geometry(rc.x, rc.y, rc.cx, rc.cy), geometry(t.x, t.y, t.cx, t.cy));

    uint32_t style = 0;
    for (const std::string& name : rc.styles) {
        const auto it = kControlStyles.find(name);
        if (it == kControlStyles.end())
            out->push_back(where + ": style " + name + " is not known to the comparison");
        else
            style |= it->second;
    }
    for (const std::string& name : rc.notStyles) {
        if (name == "WS_VISIBLE")
            style |= kHidden;
        else
            out->push_back(where + ": NOT " + name + " is not known to the comparison");
    }
    if (style != t.style) differ("style", hex(style), hex(t.style));
}

}  // namespace

std::vector<std::string> templateDifferences(const RcDialog& rc, const DialogTemplate& table) {
    std::vector<std::string> out;
    const std::string dialog = "template " + std::to_string(rc.id);
    if (rc.id != table.id)
        out.push_back(dialog + ": compared with the table of template " + std::to_string(table.id));
    if (rc.caption != table.caption)
        out.push_back(dialog + ": caption \"" + rc.caption + "\", table \"" + table.caption + "\"");
    if (rc.x != 0 || rc.y != 0 || rc.cx != table.cx || rc.cy != table.cy)
        out.push_back(dialog + ": geometry " + geometry(rc.x, rc.y, rc.cx, rc.cy) +
                      ", table size " + std::to_string(table.cx) + "x" + std::to_string(table.cy));
    if (rc.fontName != table.fontName || rc.fontPointSize != table.fontPointSize)
        out.push_back(dialog + ": font " + std::to_string(rc.fontPointSize) + " \"" + rc.fontName +
                      "\", table " + std::to_string(table.fontPointSize) + " \"" + table.fontName +
                      "\"");
    uint32_t style = 0;
    for (const std::string& name : rc.styles) {
        const auto it = kWindowStyles.find(name);
        if (it == kWindowStyles.end())
            out.push_back(dialog + ": window style " + name + " is not known to the comparison");
        else
            style |= it->second;
    }
    if (style != table.windowStyle)
        out.push_back(dialog + ": window style " + hex(style) + ", table " +
                      hex(table.windowStyle));

    if (rc.controls.size() != table.controlCount)
        out.push_back(dialog + ": " + std::to_string(rc.controls.size()) + " controls, table " +
                      std::to_string(table.controlCount));
    for (size_t i = 0; i < rc.controls.size() && i < table.controlCount; ++i)
        controlDifferences(dialog + ", control " + std::to_string(i + 1) + " in tab order",
                           rc.controls[i], table.controls[i], &out);
    return out;
}

}  // namespace kestrel::test
