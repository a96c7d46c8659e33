// kestrel-rc OUTPUT.rc: writes the Windows program's resource script from the window's
// template tables: icon 128 (kestrel.ico, found on the resource compiler's include path) and
// dialog templates 130 and 129, each control as a CONTROL statement with its class and
// styles named as windows.h and commctrl.h name them. A style the script cannot name fails.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "ui/dialog_template.h"

namespace {

using kestrel::ControlKind;
using kestrel::ControlTemplate;
using kestrel::DialogTemplate;
using Names = std::vector<std::pair<uint32_t, const char*>>;

// The names of the flags set in `style`, in the order of `names`, " | "-separated. False
// when a flag is left without a name.
bool nameStyles(uint32_t style, const Names& names, std::string* out) {
    for (const auto& [flag, name] : names) {
        if (!(style & flag)) continue;
        *out += (out->empty() ? "" : " | ") + std::string(name);
        style &= ~flag;
    }
    return style == 0;
}

struct Kind {
    ControlKind kind;
    const char* className;
    const char* baseStyle;  // the kind's own style; a default button has BS_DEFPUSHBUTTON
};
const Kind kKinds[] = {{ControlKind::PushButton, "Button", "BS_PUSHBUTTON"},
                       {ControlKind::GroupBox, "Button", "BS_GROUPBOX"},
                       {ControlKind::Label, "Static", ""},
                       {ControlKind::ComboBox, "ComboBox", "CBS_DROPDOWN"},
                       {ControlKind::ProgressBar, "msctls_progress32", ""},
                       {ControlKind::Edit, "Edit", "ES_LEFT"},
                       {ControlKind::CheckBox, "Button", "BS_AUTOCHECKBOX"}};

bool controlStatement(const ControlTemplate& c, std::string* out, std::string* error) {
    const Kind* kind = nullptr;
    for (const Kind& k : kKinds)
        if (k.kind == c.kind) kind = &k;
    if (kind == nullptr) {
        *error = "control " + std::to_string(c.id) + " is of an unknown kind";
        return false;
    }
    const bool combo = c.kind == ControlKind::ComboBox;
    std::string styles = (c.style & kestrel::kDefaultButton) ? "" : kind->baseStyle;
    const Names names = {{kestrel::kDefaultButton, "BS_DEFPUSHBUTTON"},
                         {kestrel::kLeftAligned, "SS_LEFT"},
                         {kestrel::kSortedList, "CBS_SORT"},
                         {kestrel::kUpperCase, "CBS_UPPERCASE"},
                         {kestrel::kReadOnly, "ES_READONLY"},
                         {kestrel::kAutoHScroll, combo ? "CBS_AUTOHSCROLL" : "ES_AUTOHSCROLL"},
                         {kestrel::kBorder, "WS_BORDER"},
                         {kestrel::kGroupStart, "WS_GROUP"},
                         {kestrel::kVScroll, "WS_VSCROLL"},
                         {kestrel::kTabStop, "WS_TABSTOP"},
                         {kestrel::kHidden, "NOT WS_VISIBLE"}};
    if (!nameStyles(c.style, names, &styles)) {
        *error =
            "control " + std::to_string(c.id) + " (\"" + c.text + "\") has a style without a name";
        return false;
    }
    *out += "    CONTROL \"" + std::string(c.text) + "\", " + std::to_string(c.id) + ", \"" +
            kind->className + "\", " + (styles.empty() ? "0" : styles) + ", " +
            std::to_string(c.x) + ", " + std::to_string(c.y) + ", " + std::to_string(c.cx) + ", " +
            std::to_string(c.cy) + "\n";
    return true;
}

bool dialogStatement(const DialogTemplate& t, std::string* out, std::string* error) {
    std::string styles = "DS_SETFONT | WS_POPUP";
    if (!nameStyles(t.windowStyle,
                    {{kestrel::kCaption, "WS_CAPTION"},
                     {kestrel::kSystemMenu, "WS_SYSMENU"},
                     {kestrel::kMinimizeBox, "WS_MINIMIZEBOX"},
                     {kestrel::kMaximizeBox, "WS_MAXIMIZEBOX"},
                     {kestrel::kSizingBorder, "WS_THICKFRAME"}},
                    &styles)) {
        *error = "template " + std::to_string(t.id) + " has a window style without a name";
        return false;
    }
    *out += "\n" + std::to_string(t.id) + " DIALOGEX 0, 0, " + std::to_string(t.cx) + ", " +
            std::to_string(t.cy) + "\nSTYLE " + styles + "\nCAPTION \"" + t.caption + "\"\nFONT " +
            std::to_string(t.fontPointSize) + ", \"" + t.fontName + "\"\nBEGIN\n";
    for (size_t i = 0; i < t.controlCount; ++i)
        if (!controlStatement(t.controls[i], out, error)) return false;
    *out += "END\n";
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrel-rc OUTPUT.rc\n");
        return 2;
    }
    std::string script =
        "// Resources of the window program: icon 128 and the main window's dialog templates,\n"
        "// 130 (the one the program creates) and 129 (the layout with a firmware-name field and\n"
        "// its browse button). Written by kestrel-rc from src/ui/dialog_templates.cpp: change\n"
        "// the templates there.\n"
        "#include <windows.h>\n"
        "#include <commctrl.h>\n"
        "\n"
        "128 ICON \"kestrel.ico\"\n";
    std::string error;
    for (const DialogTemplate* t : {&kestrel::dialogTemplate130(), &kestrel::dialogTemplate129()}) {
        if (!dialogStatement(*t, &script, &error)) {
            std::fprintf(stderr, "kestrel-rc: %s\n", error.c_str());
            return 1;
        }
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out << script;
    out.close();
    if (!out) {
        std::fprintf(stderr, "kestrel-rc: cannot write %s\n", argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
