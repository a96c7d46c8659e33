// The resource script of the Windows program and the window's template tables (from which the
// Qt window is built) describe the same two dialogs and icon 128: the tables are written out
// as the script's statements and must equal the script line for line, style names in any
// order. Any other line in the script fails the comparison as well.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ui/dialog_template.h"

namespace kestrel::test {
namespace {

// The line with the names of each style expression ("A | NOT B | C") sorted.
std::string sortStyles(const std::string& line) {
    static const std::regex kExpression(R"x((NOT )?[A-Z_]+( \| (NOT )?[A-Z_]+)+)x");
    std::smatch m;
    if (!std::regex_search(line, m, kExpression)) return line;
    std::vector<std::string> names;
    const std::string expression = m.str() + " | ";
    for (size_t at = 0, bar; (bar = expression.find(" | ", at)) != std::string::npos; at = bar + 3)
        names.push_back(expression.substr(at, bar - at));
    std::sort(names.begin(), names.end());
    std::string sorted;
    for (const std::string& name : names)
        sorted += (sorted.empty() ? "" : " | ") + name;
    return m.prefix().str() + sorted + sortStyles(m.suffix().str());
}

// The script's statements, trimmed, without comments and preprocessor lines.
std::string scriptStatements(const std::string& text) {
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        line = std::regex_replace(line, std::regex("^\\s+|\\s+$"), "");
        if (!line.empty() && line[0] != '#' && line.rfind("//", 0) != 0)
            out += sortStyles(line) + "\n";
    }
    return out;
}

// The names of the flags set in `style`, " | "-separated; flags without a name are named
// by their value, so that they cannot pass unnoticed.
std::string styleNames(uint32_t style, std::vector<std::pair<uint32_t, const char*>> names) {
    std::string out;
    for (const auto& [flag, name] : names) {
        if (style & flag) out += (out.empty() ? "" : " | ") + std::string(name);
        style &= ~flag;
    }
    return style ? out + " | UNNAMED_" + std::to_string(style) : out;
}

std::string controlStatement(const ControlTemplate& c) {
    struct Kind {
        ControlKind kind;
        const char* className;
        const char* style;
    };
    static const Kind kKinds[] = {{ControlKind::PushButton, "Button", "BS_PUSHBUTTON"},
                                  {ControlKind::GroupBox, "Button", "BS_GROUPBOX"},
                                  {ControlKind::Label, "Static", ""},
                                  {ControlKind::ComboBox, "ComboBox", "CBS_DROPDOWN"},
                                  {ControlKind::ProgressBar, "msctls_progress32", ""},
                                  {ControlKind::Edit, "Edit", "ES_LEFT"},
                                  {ControlKind::CheckBox, "Button", "BS_AUTOCHECKBOX"}};
    const Kind* kind = kKinds;
    while (kind->kind != c.kind)
        ++kind;
    const bool combo = c.kind == ControlKind::ComboBox;
    std::string styles =
        styleNames(c.style, {{kDefaultButton, "BS_DEFPUSHBUTTON"},
                             {kTabStop, "WS_TABSTOP"},
                             {kHidden, "NOT WS_VISIBLE"},
                             {kGroupStart, "WS_GROUP"},
                             {kSortedList, "CBS_SORT"},
                             {kUpperCase, "CBS_UPPERCASE"},
                             {kAutoHScroll, combo ? "CBS_AUTOHSCROLL" : "ES_AUTOHSCROLL"},
                             {kVScroll, "WS_VSCROLL"},
                             {kReadOnly, "ES_READONLY"},
                             {kBorder, "WS_BORDER"},
                             {kLeftAligned, "SS_LEFT"}});
    // A default button is written with BS_DEFPUSHBUTTON in place of BS_PUSHBUTTON.
    if (*kind->style && !(c.style & kDefaultButton))
        styles = kind->style + (styles.empty() ? "" : " | " + styles);
    return "CONTROL \"" + std::string(c.text) + "\", " + std::to_string(c.id) + ", \"" +
           kind->className + "\", " + styles + ", " + std::to_string(c.x) + ", " +
           std::to_string(c.y) + ", " + std::to_string(c.cx) + ", " + std::to_string(c.cy);
}

std::string tablesAsStatements() {
    std::string out = "128 ICON \"kestrel.ico\"\n";
    for (const DialogTemplate* t : {&dialogTemplate130(), &dialogTemplate129()}) {
        out += std::to_string(t->id) + " DIALOGEX 0, 0, " + std::to_string(t->cx) + ", " +
               std::to_string(t->cy) + "\nSTYLE DS_SETFONT | WS_POPUP | " +
               styleNames(t->windowStyle, {{kCaption, "WS_CAPTION"},
                                           {kSystemMenu, "WS_SYSMENU"},
                                           {kMinimizeBox, "WS_MINIMIZEBOX"},
                                           {kMaximizeBox, "WS_MAXIMIZEBOX"},
                                           {kSizingBorder, "WS_THICKFRAME"}}) +
               "\nCAPTION \"" + t->caption + "\"\nFONT " + std::to_string(t->fontPointSize) +
               ", \"" + t->fontName + "\"\nBEGIN\n";
        for (size_t i = 0; i < t->controlCount; ++i)
            out += controlStatement(t->controls[i]) + "\n";
        out += "END\n";
    }
    return sortStyles(out);
}

TEST(ResourceScript, DescribesTheWindowsTemplateTablesAndIcon128) {
    std::ifstream in(KESTREL_RC_FILE, std::ios::binary);
    const std::string script(std::istreambuf_iterator<char>(in), {});
    ASSERT_FALSE(script.empty()) << KESTREL_RC_FILE;
    EXPECT_EQ(scriptStatements(script), tablesAsStatements());
    // Drift in geometry, text, a style (removed or unknown), the window style or a statement
    // of another kind fails the comparison.
    const char* const kDrifts[][2] = {
        {"105, 115, 74, 23", "105, 116, 74, 23"},
        {"\"Use USB Ruvo\", 1008", "\"Use USB Rouvo\", 1008"},
        {"CBS_DROPDOWN | CBS_SORT |", "CBS_DROPDOWN |"},
        {"| NOT WS_VISIBLE,", "| NOT WS_VISIBLE | WS_HSCROLL,"},
        {"WS_MINIMIZEBOX\nCAPTION \"Kestrel (", "WS_MINIMIZEBOX | WS_VISIBLE\nCAPTION \"Kestrel ("},
        {"128 ICON", "1 MENU\n128 ICON"}};
    for (const auto& drift : kDrifts) {
        std::string edited = script;
        const size_t at = edited.find(drift[0]);
        ASSERT_NE(at, std::string::npos) << drift[0];
        edited.replace(at, std::strlen(drift[0]), drift[1]);
        EXPECT_NE(scriptStatements(edited), tablesAsStatements()) << drift[1];
    }
}

}  // namespace
}  // namespace kestrel::test
