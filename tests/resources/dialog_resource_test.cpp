// The Windows program's resources are written from the window's template tables (kestrel-rc)
// and compiled by windres. The compiled file is read here as Windows reads it (DLGTEMPLATEEX
// records, class names, style bits, dialog units) and held against the tables, so both a
// slip of the script writer and one of its style names fail here; icon 128 must be there and
// nothing else.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <string>
#include <utility>
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

// A little-endian reader over one resource's bytes.
struct Reader {
    const std::string& bytes;
    size_t at = 0;
    bool ok = true;

    uint32_t number(size_t size) {
        if (at + size > bytes.size()) ok = false;
        uint32_t value = 0;
        for (size_t i = 0; ok && i < size; ++i)
            value |= uint32_t(uint8_t(bytes[at + i])) << (8 * i);
        at += size;
        return value;
    }
    uint16_t u16() { return uint16_t(number(2)); }
    uint32_t u32() { return number(4); }
    void align() { at = (at + 3) & ~size_t(3); }
    // A name or an ordinal: "#n" for the ordinal n, the text (ASCII) otherwise.
    std::string nameOrOrdinal() {
        const uint16_t first = u16();
        if (first == 0xFFFF) return "#" + std::to_string(u16());
        std::string text;
        for (uint16_t c = first; ok && c != 0; c = u16())
            text += char(c);
        return text;
    }
};

std::string hex(uint32_t n) {
    char text[16];
    std::snprintf(text, sizeof text, "%x", n);
    return text;
}

// The resources of a .res file as "type/name" and data, after the empty one that opens it.
std::vector<std::pair<std::string, std::string>> readResFile(const std::string& file, bool* ok) {
    std::vector<std::pair<std::string, std::string>> resources;
    Reader r{file};
    while (r.ok && r.at < file.size()) {
        const size_t start = r.at;
        const uint32_t dataSize = r.u32(), headerSize = r.u32();
        const std::string type = r.nameOrOrdinal();
        const std::string name = type + "/" + r.nameOrOrdinal();
        if (start > 0) resources.emplace_back(name, file.substr(start + headerSize, dataSize));
        r.at = start + headerSize + dataSize;
        r.align();
    }
    *ok = r.ok && r.at == file.size();
    return resources;
}

// Reads the numbers of `sizes` (bytes each, signed when negative) in order: the operands of
// one expression would be read in no fixed order.
std::vector<int64_t> numbers(Reader& r, std::initializer_list<int> sizes) {
    std::vector<int64_t> out;
    for (int size : sizes) {
        const uint32_t n = r.number(size < 0 ? -size : size);
        out.push_back(size == -2 ? int16_t(n) : size == -4 ? int32_t(n) : int64_t(n));
    }
    return out;
}

// One line per dialog and control, as Windows creates them from the compiled template.
std::vector<std::string> compiledDialog(const std::string& data) {
    Reader r{data};
    // version, signature, help id, extended style, style, items, x, y, cx, cy
    const std::vector<int64_t> d = numbers(r, {2, 2, 4, 4, 4, 2, -2, -2, -2, -2});
    const std::string menu = r.nameOrOrdinal(), windowClass = r.nameOrOrdinal(),
                      caption = r.nameOrOrdinal();
    const std::vector<int64_t> font = numbers(r, {2, 2, 1, 1});  // points, weight, italic, charset
    // The DIALOGEX framing (version, signature, weight, charset) is windres's own business.
    std::vector<std::string> lines = {"style " + hex(d[4]) + " at " + std::to_string(d[6]) + "," +
                                      std::to_string(d[7]) + " size " + std::to_string(d[8]) + "x" +
                                      std::to_string(d[9]) + " menu '" + menu + "' class '" +
                                      windowClass + "' caption '" + caption + "' font " +
                                      std::to_string(font[0]) + " '" + r.nameOrOrdinal() + "'"};
    for (int64_t i = 0; i < d[5] && r.ok; ++i) {
        r.align();
        // help id, extended style, style, x, y, cx, cy, id
        const std::vector<int64_t> c = numbers(r, {4, 4, 4, -2, -2, -2, -2, -4});
        // windres writes the class's name (Windows takes it in any case).
        std::string className = r.nameOrOrdinal();
        for (char& ch : className)
            ch = char(std::toupper(uint8_t(ch)));
        const std::string text = r.nameOrOrdinal();
        lines.push_back("exstyle " + hex(c[1]) + " style " + hex(c[2]) + " at " +
                        std::to_string(c[3]) + "," + std::to_string(c[4]) + " size " +
                        std::to_string(c[5]) + "x" + std::to_string(c[6]) + " id " +
                        std::to_string(c[7]) + " class " + className + " text '" + text + "'");
        r.at += r.u16();  // creation data
    }
    if (!r.ok || r.at < data.size()) lines.push_back("malformed or longer than its items");
    return lines;
}

// The same lines as the tables say them.
std::vector<std::string> tableDialog(const DialogTemplate& t) {
    uint32_t style = WS_POPUP | DS_SETFONT;
    const std::pair<uint32_t, uint32_t> kWindowStyles[] = {{kCaption, WS_CAPTION},
                                                           {kSystemMenu, WS_SYSMENU},
                                                           {kMinimizeBox, WS_MINIMIZEBOX},
                                                           {kMaximizeBox, WS_MAXIMIZEBOX},
                                                           {kSizingBorder, WS_THICKFRAME}};
    for (const auto& [flag, bits] : kWindowStyles)
        if (t.windowStyle & flag) style |= bits;
    std::vector<std::string> lines = {"style " + hex(style) + " at 0,0 size " +
                                      std::to_string(t.cx) + "x" + std::to_string(t.cy) +
                                      " menu '' class '' caption '" + t.caption + "' font " +
                                      std::to_string(t.fontPointSize) + " '" + t.fontName + "'"};
    struct Kind {
        ControlKind kind;
        const char* className;
        uint32_t style;  // SS_LEFT, ES_LEFT and BS_PUSHBUTTON are 0
    };
    const Kind kKinds[] = {{ControlKind::PushButton, "BUTTON", 0},
                           {ControlKind::GroupBox, "BUTTON", BS_GROUPBOX},
                           {ControlKind::Label, "STATIC", 0},
                           {ControlKind::ComboBox, "COMBOBOX", CBS_DROPDOWN},
                           {ControlKind::ProgressBar, "MSCTLS_PROGRESS32", 0},
                           {ControlKind::Edit, "EDIT", 0},
                           {ControlKind::CheckBox, "BUTTON", BS_AUTOCHECKBOX}};
    for (size_t i = 0; i < t.controlCount; ++i) {
        const ControlTemplate& c = t.controls[i];
        const Kind* kind = kKinds;
        while (kind->kind != c.kind)
            ++kind;
        uint32_t bits = WS_CHILD | ((c.style & kHidden) ? 0 : WS_VISIBLE) | kind->style;
        const std::pair<uint32_t, uint32_t> kStyles[] = {
            {kDefaultButton, BS_DEFPUSHBUTTON},
            {kTabStop, WS_TABSTOP},
            {kGroupStart, WS_GROUP},
            {kSortedList, CBS_SORT},
            {kUpperCase, CBS_UPPERCASE},
            {kAutoHScroll, c.kind == ControlKind::ComboBox ? CBS_AUTOHSCROLL : ES_AUTOHSCROLL},
            {kVScroll, WS_VSCROLL},
            {kReadOnly, ES_READONLY},
            {kBorder, WS_BORDER}};
        for (const auto& [flag, styleBits] : kStyles)
            if (c.style & flag) bits |= styleBits;
        lines.push_back("exstyle 0 style " + hex(bits) + " at " + std::to_string(c.x) + "," +
                        std::to_string(c.y) + " size " + std::to_string(c.cx) + "x" +
                        std::to_string(c.cy) + " id " + std::to_string(c.id) + " class " +
                        kind->className + " text '" + c.text + "'");
    }
    return lines;
}

TEST(ResourceScript, CompiledByWindresItHoldsTheTemplateTablesAndIcon128) {
    std::ifstream in(KESTREL_RES_FILE, std::ios::binary);
    const std::string file(std::istreambuf_iterator<char>(in), {});
    ASSERT_FALSE(file.empty()) << KESTREL_RES_FILE;
    bool ok = false;
    std::vector<std::string> names;
    for (const auto& [name, data] : readResFile(file, &ok)) {
        names.push_back(name);
        if (name == "#5/#129" || name == "#5/#130") {  // RT_DIALOG
            EXPECT_EQ(compiledDialog(data),
                      tableDialog(name == "#5/#129" ? dialogTemplate129() : dialogTemplate130()));
        }
    }
    EXPECT_TRUE(ok);
    // The two images (RT_ICON), the two dialogs and the icon: nothing else. The images are
    // the icon file's, held against the window's pictures by the icon test.
    EXPECT_EQ(names,
              (std::vector<std::string>{"#3/#1", "#3/#2", "#5/#129", "#5/#130", "#14/#128"}));
}

}  // namespace
}  // namespace kestrel::test
