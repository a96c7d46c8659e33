// The Windows icon (resource 128) is made from the Qt window's XPM images by kestrel-icon:
// two 16-colour images, 32 x 32 and 16 x 16, with the same pixels and transparency.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "icon/xpm_icon.h"
#include "resources/rc_script.h"

namespace kestrel::test {
namespace {

using tools::makeIco;
using tools::parseXpm;
using tools::Rgb;
using tools::XpmImage;

uint32_t le16(const std::vector<uint8_t>& b, size_t at) {
    return b.at(at) | (b.at(at + 1) << 8);
}
uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return le16(b, at) | (le16(b, at + 2) << 16);
}

XpmImage loadXpm(const char* path) {
    std::string text;
    EXPECT_TRUE(readTextFile(path, &text)) << path;
    XpmImage image;
    std::string error;
    EXPECT_TRUE(parseXpm(text, &image, &error)) << path << ": " << error;
    return image;
}

// Decodes image `n` of an .ico and compares it pixel by pixel with `xpm`.
void expectImageIs(const std::vector<uint8_t>& ico, int n, const XpmImage& xpm) {
    SCOPED_TRACE("image " + std::to_string(n));
    const size_t entry = 6 + 16 * static_cast<size_t>(n);
    EXPECT_EQ(ico.at(entry), xpm.width);
    EXPECT_EQ(ico.at(entry + 1), xpm.height);
    EXPECT_EQ(ico.at(entry + 2), 16);  // colours
    EXPECT_EQ(le16(ico, entry + 4), 1u);
    EXPECT_EQ(le16(ico, entry + 6), 4u);  // bits per pixel
    const uint32_t size = le32(ico, entry + 8);
    const uint32_t at = le32(ico, entry + 12);
    ASSERT_LE(static_cast<size_t>(at) + size, ico.size());

    EXPECT_EQ(le32(ico, at), 40u);
    EXPECT_EQ(le32(ico, at + 4), static_cast<uint32_t>(xpm.width));
    EXPECT_EQ(le32(ico, at + 8), static_cast<uint32_t>(xpm.height) * 2);  // colours and mask
    EXPECT_EQ(le16(ico, at + 14), 4u);
    const size_t palette = at + 40;
    const size_t colours = palette + 16 * 4;
    const size_t colourRow = static_cast<size_t>((xpm.width * 4 + 31) / 32 * 4);
    const size_t maskRow = static_cast<size_t>((xpm.width + 31) / 32 * 4);
    const size_t mask = colours + colourRow * xpm.height;
    EXPECT_EQ(mask + maskRow * xpm.height, static_cast<size_t>(at) + size);

    int wrong = 0;
    for (int y = 0; y < xpm.height; ++y) {
        const int row = xpm.height - 1 - y;  // bitmaps are stored bottom-up
        for (int x = 0; x < xpm.width; ++x) {
            const size_t i = static_cast<size_t>(y) * xpm.width + x;
            const uint8_t pair = ico.at(colours + row * colourRow + x / 2);
            const int index = x % 2 ? pair & 0x0F : pair >> 4;
            const bool hidden = (ico.at(mask + row * maskRow + x / 8) & (0x80 >> (x % 8))) != 0;
            const size_t p = palette + 4 * static_cast<size_t>(index);
            const Rgb shown{ico.at(p + 2), ico.at(p + 1), ico.at(p)};
            if (hidden != xpm.transparent[i]) ++wrong;
            // A hidden pixel must be black, or the screen behind it would be tinted.
            const Rgb want = xpm.transparent[i] ? Rgb{0, 0, 0} : xpm.pixels[i];
            if (shown.r != want.r || shown.g != want.g || shown.b != want.b) ++wrong;
        }
    }
    EXPECT_EQ(wrong, 0);
}

TEST(ProgramIcon, HoldsTheWindowsImagesAt32And16Pixels) {
    const XpmImage large = loadXpm(KESTREL_ICON_LARGE_XPM);
    const XpmImage small = loadXpm(KESTREL_ICON_SMALL_XPM);
    ASSERT_EQ(large.width, 32);
    ASSERT_EQ(small.width, 16);
    std::vector<uint8_t> ico;
    std::string error;
    ASSERT_TRUE(makeIco({large, small}, &ico, &error)) << error;
    EXPECT_EQ(le16(ico, 0), 0u);
    EXPECT_EQ(le16(ico, 2), 1u);  // an icon, not a cursor
    EXPECT_EQ(le16(ico, 4), 2u);
    expectImageIs(ico, 0, large);
    expectImageIs(ico, 1, small);
#ifdef KESTREL_BUILT_ICON
    // The icon linked into the program is this one, made from the images as they are now.
    std::string built;
    ASSERT_TRUE(readTextFile(KESTREL_BUILT_ICON, &built)) << KESTREL_BUILT_ICON;
    EXPECT_TRUE(std::vector<uint8_t>(built.begin(), built.end()) == ico)
        << KESTREL_BUILT_ICON << " differs from the XPM images";
#endif
}

TEST(ProgramIcon, RefusesImagesA16ColourIconCannotHold) {
    // 16 colours besides the transparent one: palette entry 0 is kept for it.
    std::string xpm = "\"16 1 16 1\",\n";
    const char* names = "abcdefghijklmnop";
    for (int i = 0; i < 16; ++i) {
        char line[32];
        std::snprintf(line, sizeof line, "\"%c c #%02X0000\",\n", names[i], i + 1);
        xpm += line;
    }
    xpm += std::string("\"") + names + "\"\n";
    XpmImage image;
    std::string error;
    ASSERT_TRUE(parseXpm(xpm, &image, &error)) << error;
    std::vector<uint8_t> ico;
    EXPECT_FALSE(makeIco({image}, &ico, &error));
    EXPECT_NE(error.find("15 colours"), std::string::npos) << error;

    EXPECT_FALSE(parseXpm("\"2 1 1 1\",\n\"a c #FFFFFF\",\n\"ab\"\n", &image, &error));
    EXPECT_FALSE(parseXpm("\"2 1 1 1\",\n\"a c blue\",\n\"aa\"\n", &image, &error));
    EXPECT_FALSE(parseXpm("\"2 2 1 1\",\n\"a c #FFFFFF\",\n\"aa\"\n", &image, &error));
}

}  // namespace
}  // namespace kestrel::test
