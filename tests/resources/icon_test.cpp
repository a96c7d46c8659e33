// The Windows icon (resource 128) is made from the Qt window's XPM images by kestrel-icon:
// two 16-colour images, 32 x 32 and 16 x 16, with the same pixels and transparency.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "icon/xpm_icon.h"

namespace kestrel::test {
namespace {

using tools::XpmImage;

std::string readText(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

XpmImage loadXpm(const char* path) {
    XpmImage image;
    std::string error;
    EXPECT_TRUE(tools::parseXpm(readText(path), &image, &error)) << path << ": " << error;
    return image;
}

// Little-endian field of `bytes` bytes at `at`.
uint32_t le(const std::vector<uint8_t>& b, size_t at, int bytes = 4) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | b.at(at + i);
    return v;
}

// Decodes image `n` of an .ico and compares it pixel by pixel with `xpm`.
void expectImageIs(const std::vector<uint8_t>& ico, int n, const XpmImage& xpm) {
    SCOPED_TRACE("image " + std::to_string(n));
    const size_t entry = 6 + 16 * static_cast<size_t>(n);
    const uint32_t w = xpm.width, h = xpm.height, size = le(ico, entry + 8),
                   at = le(ico, entry + 12);
    // Width, height, 16 colours, reserved, 1 plane, 4 bits per pixel; the bitmap header: its
    // size, the width, twice the height (colours and mask), 4 bits.
    EXPECT_EQ(std::vector<uint32_t>({le(ico, entry), le(ico, entry + 4), le(ico, at),
                                     le(ico, at + 4), le(ico, at + 8), le(ico, at + 14, 2)}),
              std::vector<uint32_t>({w | h << 8 | 16 << 16, 1u | 4u << 16, 40, w, h * 2, 4}));
    const size_t palette = at + 40, colours = palette + 16 * 4;
    const size_t colourRow = (w * 4 + 31) / 32 * 4, maskRow = (w + 31) / 32 * 4;
    const size_t mask = colours + colourRow * h;
    EXPECT_EQ(mask + maskRow * h, static_cast<size_t>(at) + size);
    int wrong = 0;
    for (size_t y = 0; y < h; ++y) {
        const size_t row = h - 1 - y;  // bitmaps are stored bottom-up
        for (size_t x = 0; x < w; ++x) {
            const size_t i = y * w + x;
            const uint8_t pair = ico.at(colours + row * colourRow + x / 2);
            const size_t p = palette + 4 * (x % 2 ? pair & 0x0F : pair >> 4);
            const bool hidden = ico.at(mask + row * maskRow + x / 8) & (0x80 >> (x % 8));
            // A hidden pixel must be black, or the screen behind it would be tinted.
            const tools::Rgb want = xpm.transparent[i] ? tools::Rgb{0, 0, 0} : xpm.pixels[i];
            wrong += hidden != xpm.transparent[i] || ico.at(p + 2) != want.r ||
                     ico.at(p + 1) != want.g || ico.at(p) != want.b;
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
    ASSERT_TRUE(tools::makeIco({large, small}, &ico, &error)) << error;
    EXPECT_EQ(le(ico, 0), 1u << 16);  // an icon, not a cursor
    EXPECT_EQ(le(ico, 4, 2), 2u);
    expectImageIs(ico, 0, large);
    expectImageIs(ico, 1, small);
#ifdef KESTREL_BUILT_ICON
    // The icon linked into the program is this one, made from the images as they are now.
    EXPECT_TRUE(readText(KESTREL_BUILT_ICON) == std::string(ico.begin(), ico.end()))
        << KESTREL_BUILT_ICON << " differs from the XPM images";
#endif
}

}  // namespace
}  // namespace kestrel::test
