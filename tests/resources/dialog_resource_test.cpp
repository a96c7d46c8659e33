// The Windows program's resources are written from the window's template tables (kestrel-rc)
// and compiled by windres. The compiled file is read here as Windows reads it (DLGTEMPLATEEX
// records, class names, style bits, dialog units) and held against the tables, so both a
// slip of the script writer and one of its style names fail here; icon 128 (two 16-colour
// images, 32 and 16 pixels) must be there and nothing else.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <vector>

#include "ui/dialog_template.h"

namespace kestrel::test {
namespace {

// Style bits as windows.h and commctrl.h define them.
constexpr uint32_t WS_POPUP = 0x80000000, WS_CHILD = 0x40000000, WS_VISIBLE = 0x10000000,
                   WS_CAPTION = 0x00C00000, WS_BORDER = 0x00800000, WS_VSCROLL = 0x00200000,
                   WS_SYSMENU = 0x00080000, WS_THICKFRAME = 0x00040000, WS_GROUP = 0x00020000,
                   WS_MINIMIZEBOX = 0x00020000, WS_TABSTOP = 0x00010000,
                   WS_MAXIMIZEBOX = 0x00010000, DS_SETFONT = 0x40, BS_DEFPUSHBUTTON = 1,
                   BS_AUTOCHECKBOX = 3, BS_GROUPBOX = 7, CBS_DROPDOWN = 2, CBS_AUTOHSCROLL = 0x40,
                   CBS_SORT = 0x100, CBS_UPPERCASE = 0x2000, ES_AUTOHSCROLL = 0x80,
                   ES_READONLY = 0x800;

// One line of the dialog's description; the format is always one of the literals below.
template <typename... Args>
std::string line(const char* format, Args... args) {
    char text[600];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}
const char kDialogLine[] =
    "style %x at %d,%d size %dx%d menu '%s' class '%s' caption '%s' font %d '%s'";
const char kControlLine[] = "exstyle %x style %x at %d,%d size %dx%d id %d class %s text '%s'";

// A little-endian reader over one resource's bytes.
struct Reader {
    const std::string& bytes;
    size_t at = 0;
    bool ok = true;

    uint32_t number(size_t size) {
        ok = ok && at + size <= bytes.size();
        uint32_t value = 0;
        for (size_t i = 0; ok && i < size; ++i)
            value |= uint32_t(uint8_t(bytes[at + i])) << (8 * i);
        at += size;
        return value;
    }
    void align() { at = (at + 3) & ~size_t(3); }
    // Numbers of `sizes` bytes each (signed when negative), read in order.
    std::vector<int> numbers(std::initializer_list<int> sizes) {
        std::vector<int> out;
        for (int size : sizes) {
            const uint32_t n = number(size < 0 ? -size : size);
            out.push_back(size == -2 ? int16_t(n) : int(n));
        }
        return out;
    }
    // A name or an ordinal: "#n" for the ordinal n, the text (ASCII) otherwise.
    std::string name() {
        const uint32_t first = number(2);
        if (first == 0xFFFF) return "#" + std::to_string(number(2));
        std::string text;
        for (uint32_t c = first; ok && c != 0; c = number(2))
            text += char(c);
        return text;
    }
};

// One line per dialog and control, as Windows creates them from the compiled template.
std::vector<std::string> compiledDialog(const std::string& data) {
    Reader r{data};
    // version, signature, help id, extended style, style, items, x, y, cx, cy
    const std::vector<int> d = r.numbers({2, 2, 4, 4, 4, 2, -2, -2, -2, -2});
    const std::string menu = r.name(), windowClass = r.name(), caption = r.name();
    // Points, weight, italic, charset; the DIALOGEX framing (version, signature, weight,
    // charset) is windres's own business.
    const int points = r.numbers({2, 2, 1, 1})[0];
    std::vector<std::string> lines = {line(kDialogLine, d[4], d[6], d[7], d[8], d[9], menu.c_str(),
                                           windowClass.c_str(), caption.c_str(), points,
                                           r.name().c_str())};
    for (int i = 0; i < d[5] && r.ok; ++i) {
        r.align();
        // help id, extended style, style, x, y, cx, cy, id
        const std::vector<int> c = r.numbers({4, 4, 4, -2, -2, -2, -2, 4});
        // windres writes the class's name (Windows takes it in any case).
        std::string className = r.name();
        for (char& ch : className)
            ch = char(std::toupper(uint8_t(ch)));
        lines.push_back(line(kControlLine, c[1], c[2], c[3], c[4], c[5], c[6], c[7],
                             className.c_str(), r.name().c_str()));
        r.at += r.number(2);  // creation data
    }
    if (!r.ok || r.at < data.size()) lines.push_back("malformed or longer than its items");
    return lines;
}

// The same lines as the tables say them.
std::vector<std::string> tableDialog(const DialogTemplate& t) {
    uint32_t style = WS_POPUP | DS_SETFONT;
    // clang-format off
    const std::pair<uint32_t, uint32_t> kWindowStyles[] = {
        {kCaption, WS_CAPTION}, {kSystemMenu, WS_SYSMENU}, {kMinimizeBox, WS_MINIMIZEBOX},
        {kMaximizeBox, WS_MAXIMIZEBOX}, {kSizingBorder, WS_THICKFRAME}};
    // The class and style of each kind in the order of ControlKind (SS_LEFT, ES_LEFT and
    // BS_PUSHBUTTON are 0).
    const std::pair<const char*, uint32_t> kKinds[] = {
        {"BUTTON", 0}, {"BUTTON", BS_GROUPBOX}, {"STATIC", 0}, {"COMBOBOX", CBS_DROPDOWN},
        {"MSCTLS_PROGRESS32", 0}, {"EDIT", 0}, {"BUTTON", BS_AUTOCHECKBOX}};
    // clang-format on
    for (const auto& [flag, bits] : kWindowStyles)
        style |= t.windowStyle & flag ? bits : 0;
    std::vector<std::string> lines = {
        line(kDialogLine, style, 0, 0, t.cx, t.cy, "", "", t.caption, t.fontPointSize, t.fontName)};
    for (size_t i = 0; i < t.controlCount; ++i) {
        const ControlTemplate& c = t.controls[i];
        const auto& [className, kindStyle] = kKinds[static_cast<int>(c.kind)];
        uint32_t bits = WS_CHILD | ((c.style & kHidden) ? 0 : WS_VISIBLE) | kindStyle;
        // clang-format off
        const std::pair<uint32_t, uint32_t> kStyles[] = {
            {kDefaultButton, BS_DEFPUSHBUTTON}, {kTabStop, WS_TABSTOP}, {kGroupStart, WS_GROUP},
            {kSortedList, CBS_SORT}, {kUpperCase, CBS_UPPERCASE},
            {kAutoHScroll, c.kind == ControlKind::ComboBox ? CBS_AUTOHSCROLL : ES_AUTOHSCROLL},
            {kVScroll, WS_VSCROLL}, {kReadOnly, ES_READONLY}, {kBorder, WS_BORDER}};
        // clang-format on
        for (const auto& [flag, styleBits] : kStyles)
            bits |= c.style & flag ? styleBits : 0;
        lines.push_back(line(kControlLine, 0, bits, c.x, c.y, c.cx, c.cy, c.id, className, c.text));
    }
    return lines;
}

TEST(ResourceScript, CompiledByWindresItHoldsTheTemplateTablesAndIcon128) {
    std::ifstream in(KESTREL_RES_FILE, std::ios::binary);
    const std::string file(std::istreambuf_iterator<char>(in), {});
    ASSERT_FALSE(file.empty()) << KESTREL_RES_FILE;
    // The resources as "type/name", after the empty one that opens the file.
    std::vector<std::string> names;
    Reader r{file};
    while (r.ok && r.at < file.size()) {
        const size_t start = r.at;
        const uint32_t dataSize = r.number(4), headerSize = r.number(4);
        std::string name = r.name() + "/";
        name += r.name();  // after the type
        const std::string data = file.substr(start + headerSize, dataSize);
        if (start > 0) names.push_back(name);
        if (name == "#5/#129" || name == "#5/#130") {  // RT_DIALOG
            EXPECT_EQ(compiledDialog(data),
                      tableDialog(name == "#5/#129" ? dialogTemplate129() : dialogTemplate130()));
        }
        if (name == "#14/#128") {  // RT_GROUP_ICON: two images of 16 colours, 32 and 16 pixels
            std::vector<int> d =
                Reader{data}.numbers({2, 2, 2, 1, 1, 1, 1, 2, 2, 4, 2, 1, 1, 1, 1, 2, 2, 4, 2});
            d[9] = d[17] = 0;  // the images' sizes in bytes
            EXPECT_EQ(d, (std::vector<int>{0, 1, 2, 32, 32, 16, 0, 1, 4, 0, 1, 16, 16, 16, 0, 1, 4,
                                           0, 2}));
        }
        r.at = start + headerSize + dataSize;
        r.align();
    }
    EXPECT_TRUE(r.ok && r.at == file.size());
    // The two images (RT_ICON), the two dialogs and the icon: nothing else.
    EXPECT_EQ(names,
              (std::vector<std::string>{"#3/#1", "#3/#2", "#5/#129", "#5/#130", "#14/#128"}));
}

}  // namespace
}  // namespace kestrel::test
