// The Windows program's resources are written from the window's template tables (kestrel-rc)
// and compiled by windres. The compiled file is read here as Windows reads it (DLGTEMPLATEEX
// records, class names, style bits, dialog units) and held against the tables, so both a
// slip of the script writer and one of its style names fail here; icon 128 must be there and
// nothing else.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
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
constexpr uint16_t kIconType = 3, kDialogType = 5, kGroupIconType = 14;

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
    int16_t i16() { return int16_t(number(2)); }
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

struct Resource {
    std::string type, name, data;
};

// The resources of a .res file, after the empty one that opens it.
std::vector<Resource> readResFile(const std::string& file, bool* ok) {
    std::vector<Resource> resources;
    Reader r{file};
    while (r.ok && r.at < file.size()) {
        const size_t start = r.at;
        const uint32_t dataSize = r.u32(), headerSize = r.u32();
        Resource res;
        res.type = r.nameOrOrdinal();
        res.name = r.nameOrOrdinal();
        r.at = start + headerSize;
        res.data = file.substr(r.at, dataSize);
        r.at += dataSize;
        r.align();
        if (start > 0) resources.push_back(res);
    }
    *ok = r.ok;
    return resources;
}

std::string upper(std::string s) {
    for (char& c : s)
        c = char(std::toupper(uint8_t(c)));
    return s;
}

// One line per dialog and control, as Windows creates them from the compiled template.
std::vector<std::string> compiledDialog(const std::string& data) {
    Reader r{data};
    std::vector<std::string> lines;
    std::ostringstream head;
    head << "version " << r.u16() << " signature " << std::hex << r.u16();
    r.u32();  // help id
    head << " exstyle " << r.u32() << " style " << r.u32();
    const uint16_t items = r.u16();
    head << std::dec << " at " << r.i16() << ",";
    head << r.i16();
    head << " size " << r.i16() << "x";
    head << r.i16();
    head << " menu '" << r.nameOrOrdinal() << "' class '" << r.nameOrOrdinal() << "' caption '"
         << r.nameOrOrdinal() << "' font " << r.u16();
    head << " weight " << r.u16() << " italic " << r.number(1) << " charset " << r.number(1) << " '"
         << r.nameOrOrdinal() << "'";
    lines.push_back(head.str());
    static const char* const kAtoms[] = {"BUTTON",  "EDIT",      "STATIC",
                                         "LISTBOX", "SCROLLBAR", "COMBOBOX"};
    for (uint16_t i = 0; i < items && r.ok; ++i) {
        r.align();
        std::ostringstream item;
        r.u32();  // help id
        item << std::hex << "exstyle " << r.u32() << " style " << r.u32() << std::dec;
        item << " at " << r.i16() << ",";
        item << r.i16();
        item << " size " << r.i16() << "x";
        item << r.i16();
        item << " id " << int32_t(r.u32());
        std::string className = r.nameOrOrdinal();
        // windres writes the class's name, rc its atom: Windows takes either.
        if (className.size() > 1 && className[0] == '#') {
            const int atom = std::stoi(className.substr(1)) - 0x80;
            if (atom >= 0 && atom < 6) className = kAtoms[atom];
        }
        item << " class " << upper(className) << " text '" << r.nameOrOrdinal() << "'";
        r.at += r.u16();  // creation data
        lines.push_back(item.str());
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
    std::ostringstream head;
    head << "version 1 signature ffff exstyle 0 style " << std::hex << style << std::dec
         << " at 0,0 size " << t.cx << "x" << t.cy << " menu '' class '' caption '" << t.caption
         << "' font " << t.fontPointSize << " weight 0 italic 0 charset 1 '" << t.fontName << "'";
    std::vector<std::string> lines = {head.str()};
    for (size_t i = 0; i < t.controlCount; ++i) {
        const ControlTemplate& c = t.controls[i];
        const bool combo = c.kind == ControlKind::ComboBox;
        uint32_t bits = WS_CHILD | ((c.style & kHidden) ? 0 : WS_VISIBLE);
        const char* className = "BUTTON";
        switch (c.kind) {
            case ControlKind::PushButton:
                bits |= (c.style & kDefaultButton) ? BS_DEFPUSHBUTTON : 0;
                break;
            case ControlKind::GroupBox:
                bits |= BS_GROUPBOX;
                break;
            case ControlKind::CheckBox:
                bits |= BS_AUTOCHECKBOX;
                break;
            case ControlKind::Label:  // SS_LEFT is 0
                className = "STATIC";
                break;
            case ControlKind::ComboBox:
                bits |= CBS_DROPDOWN;
                className = "COMBOBOX";
                break;
            case ControlKind::ProgressBar:
                className = "MSCTLS_PROGRESS32";
                break;
            case ControlKind::Edit:  // ES_LEFT is 0
                className = "EDIT";
                break;
        }
        const std::pair<uint32_t, uint32_t> kStyles[] = {
            {kTabStop, WS_TABSTOP},
            {kGroupStart, WS_GROUP},
            {kSortedList, CBS_SORT},
            {kUpperCase, CBS_UPPERCASE},
            {kAutoHScroll, combo ? CBS_AUTOHSCROLL : ES_AUTOHSCROLL},
            {kVScroll, WS_VSCROLL},
            {kReadOnly, ES_READONLY},
            {kBorder, WS_BORDER}};
        for (const auto& [flag, styleBits] : kStyles)
            if (c.style & flag) bits |= styleBits;
        std::ostringstream item;
        item << std::hex << "exstyle 0 style " << bits << std::dec << " at " << c.x << "," << c.y
             << " size " << c.cx << "x" << c.cy << " id " << c.id << " class " << className
             << " text '" << c.text << "'";
        lines.push_back(item.str());
    }
    return lines;
}

TEST(ResourceScript, CompiledByWindresItHoldsTheTemplateTablesAndIcon128) {
    std::ifstream in(KESTREL_RES_FILE, std::ios::binary);
    const std::string file(std::istreambuf_iterator<char>(in), {});
    ASSERT_FALSE(file.empty()) << KESTREL_RES_FILE;
    bool ok = false;
    const std::vector<Resource> resources = readResFile(file, &ok);
    EXPECT_TRUE(ok);

    std::vector<std::string> kinds;
    for (const Resource& res : resources) {
        kinds.push_back(res.type + "/" + res.name);
        if (res.type == "#" + std::to_string(kDialogType)) {
            const DialogTemplate& t =
                res.name == "#129" ? dialogTemplate129() : dialogTemplate130();
            EXPECT_EQ(compiledDialog(res.data), tableDialog(t)) << res.name;
        }
        if (res.type == "#" + std::to_string(kGroupIconType)) {
            // Its directory lists the two images of the icon file: 32 and 16 pixels.
            ASSERT_EQ(res.data.size(), 6u + 2 * 14);
            EXPECT_EQ(uint8_t(res.data[6]), 32);
            EXPECT_EQ(uint8_t(res.data[6 + 14]), 16);
        }
    }
    const std::string icon = "#" + std::to_string(kIconType) + "/";
    EXPECT_EQ(kinds, (std::vector<std::string>{icon + "#1", icon + "#2", "#5/#129", "#5/#130",
                                               "#14/#128"}));
}

}  // namespace
}  // namespace kestrel::test
