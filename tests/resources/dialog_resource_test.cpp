// The resource script of the Windows program and the window's template tables (from which the
// Qt window is built) describe the same two dialogs and icon 128: both are brought to one
// canonical text, a line per statement with style names sorted, and must be equal.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "ui/dialog_template.h"

namespace kestrel::test {
namespace {

std::string readText(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

// "A | B | NOT C" as a sorted set, joined by spaces.
std::string sortedStyles(const std::string& expression) {
    std::set<std::string> names;
    std::istringstream in(expression);
    for (std::string name; std::getline(in, name, '|');)
        if (name.find_first_not_of(' ') != std::string::npos)
            names.insert(std::regex_replace(name, std::regex("^ +| +$"), ""));
    std::string out;
    for (const std::string& n : names)
        out += " " + n;
    return out;
}

// The script, statement by statement. Any line of another form is kept as "unknown", so a
// new kind of statement cannot slip past the comparison.
std::string canonicalScript(const std::string& text) {
    static const std::regex kControl(
        R"x(CONTROL "([^"]*)", (-?\d+), "(\w+)", ([A-Z_ |]+), (\d+), (\d+), (\d+), (\d+))x");
    static const std::regex kDialog(R"x((\d+) DIALOGEX (\d+), (\d+), (\d+), (\d+))x");
    static const std::regex kStyle(R"x(STYLE ([A-Z_ |]+))x");
    static const std::regex kFont(R"x(FONT (\d+), "([^"]*)")x");
    static const std::regex kVerbatim(R"x(\d+ ICON "\w+\.ico"|CAPTION "[^"]*"|BEGIN|END)x");
    std::istringstream in(text);
    std::string out;
    for (std::string line; std::getline(in, line);) {
        line = std::regex_replace(line, std::regex("^\\s+|\\s+$"), "");
        std::smatch m;
        if (line.empty() || line[0] == '#' || line.rfind("//", 0) == 0) continue;
        if (std::regex_match(line, m, kControl))
            out += m[2].str() + " " + m[3].str() + " \"" + m[1].str() + "\" " + m[5].str() + "," +
                   m[6].str() + " " + m[7].str() + "x" + m[8].str() + sortedStyles(m[4]);
        else if (std::regex_match(line, m, kDialog))
            out += "dialog " + m[1].str() + " " + m[2].str() + "," + m[3].str() + " " + m[4].str() +
                   "x" + m[5].str();
        else if (std::regex_match(line, m, kStyle))
            out += "style" + sortedStyles(m[1]);
        else if (std::regex_match(line, m, kFont))
            out += "font " + m[1].str() + " \"" + m[2].str() + "\"";
        else if (!std::regex_match(line, kVerbatim))
            out += "unknown: " + line;
        else
            out += line;
        out += "\n";
    }
    return out;
}

// A table's control in the canonical form: the class and style names the script would use.
std::string canonicalControl(const ControlTemplate& c) {
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
    const Kind* kind = &kKinds[0];
    while (kind->kind != c.kind)
        ++kind;
    const bool combo = c.kind == ControlKind::ComboBox;
    const std::pair<uint32_t, const char*> kFlags[] = {
        {kTabStop, "WS_TABSTOP"},
        {kHidden, "NOT WS_VISIBLE"},
        {kGroupStart, "WS_GROUP"},
        {kSortedList, "CBS_SORT"},
        {kUpperCase, "CBS_UPPERCASE"},
        {kAutoHScroll, combo ? "CBS_AUTOHSCROLL" : "ES_AUTOHSCROLL"},
        {kVScroll, "WS_VSCROLL"},
        {kReadOnly, "ES_READONLY"},
        {kBorder, "WS_BORDER"},
        {kLeftAligned, "SS_LEFT"},
        {kDefaultButton, "BS_DEFPUSHBUTTON"}};
    // A default button is written with BS_DEFPUSHBUTTON instead of BS_PUSHBUTTON.
    std::string styles = c.style & kDefaultButton ? "" : kind->style;
    uint32_t unnamed = c.style;
    for (const auto& flag : kFlags) {
        if (c.style & flag.first) styles += std::string(styles.empty() ? "" : "|") + flag.second;
        unnamed &= ~flag.first;
    }
    if (unnamed) styles += "|unnamed flags " + std::to_string(unnamed);
    return std::to_string(c.id) + " " + kind->className + " \"" + c.text + "\" " +
           std::to_string(c.x) + "," + std::to_string(c.y) + " " + std::to_string(c.cx) + "x" +
           std::to_string(c.cy) + sortedStyles(styles);
}

std::string canonicalTables() {
    std::string out = "128 ICON \"kestrel.ico\"\n";
    for (const DialogTemplate* t : {&dialogTemplate130(), &dialogTemplate129()}) {
        std::string style = "DS_SETFONT|WS_POPUP";
        const std::pair<uint32_t, const char*> kFlags[] = {{kCaption, "WS_CAPTION"},
                                                           {kSystemMenu, "WS_SYSMENU"},
                                                           {kMinimizeBox, "WS_MINIMIZEBOX"},
                                                           {kMaximizeBox, "WS_MAXIMIZEBOX"},
                                                           {kSizingBorder, "WS_THICKFRAME"}};
        for (const auto& flag : kFlags)
            if (t->windowStyle & flag.first) style += std::string("|") + flag.second;
        out += "dialog " + std::to_string(t->id) + " 0,0 " + std::to_string(t->cx) + "x" +
               std::to_string(t->cy) + "\nstyle" + sortedStyles(style) + "\nCAPTION \"" +
               t->caption + "\"\nfont " + std::to_string(t->fontPointSize) + " \"" + t->fontName +
               "\"\nBEGIN\n";
        for (size_t i = 0; i < t->controlCount; ++i)
            out += canonicalControl(t->controls[i]) + "\n";
        out += "END\n";
    }
    return out;
}

TEST(ResourceScript, DescribesTheWindowsTemplateTablesAndIcon128) {
    const std::string script = readText(KESTREL_RC_FILE);
    ASSERT_FALSE(script.empty()) << KESTREL_RC_FILE;
    EXPECT_EQ(canonicalScript(script), canonicalTables());

    // Each kind of drift fails the comparison.
    const char* const kDrifts[][2] = {
        {"105, 115, 74, 23", "105, 116, 74, 23"},
        {"\"Use USB Ruvo\", 1008", "\"Use USB Rouvo\", 1008"},
        {"CBS_DROPDOWN | CBS_SORT |", "CBS_DROPDOWN |"},
        {"ES_READONLY | ES_AUTOHSCROLL | WS_TABSTOP,",
         "ES_READONLY | ES_AUTOHSCROLL | WS_HSCROLL,"},
        {"WS_TABSTOP | NOT WS_VISIBLE, 227, 124", "WS_TABSTOP, 227, 124"},
        {"CAPTION \"Kestrel (RS232 + USB)\"", "CAPTION \"Kestrel\""},
        {"WS_MINIMIZEBOX\nCAPTION \"Kestrel (", "WS_MINIMIZEBOX | WS_VISIBLE\nCAPTION \"Kestrel ("},
        {"FONT 8", "FONT 9"},
        {"128 ICON", "1 MENU\n128 ICON"},
    };
    for (const auto& drift : kDrifts) {
        std::string edited = script;
        const size_t at = edited.find(drift[0]);
        ASSERT_NE(at, std::string::npos) << drift[0];
        edited.replace(at, std::strlen(drift[0]), drift[1]);
        EXPECT_NE(canonicalScript(edited), canonicalTables()) << drift[1];
    }
}

}  // namespace
}  // namespace kestrel::test
