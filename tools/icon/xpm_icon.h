// The program's icon as Windows wants it: an .ico file made from the XPM images the Qt window
// uses, so both platforms show the same pixels. Each image becomes a 16-colour (4 bits per
// pixel) bitmap with its own palette and a transparency mask for the XPM's "None" colour.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrel::tools {

struct Rgb {
    uint8_t r, g, b;
};

// One decoded XPM image: a colour (or transparency) per pixel, rows top to bottom.
struct XpmImage {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;
    std::vector<bool> transparent;
};

// Parses the XPM text (the C source form: every string literal in order). Accepts colours
// given as #RRGGBB and None. False with `error` set when the text is not such an image.
bool parseXpm(const std::string& text, XpmImage* image, std::string* error);

// Writes an .ico holding `images` in the given order, each at 4 bits per pixel. Palette
// entry 0 is black and serves the transparent pixels (the mask hides them); the image's
// colours follow. False with `error` set when an image has more than 15 colours or a size
// the format cannot hold.
bool makeIco(const std::vector<XpmImage>& images, std::vector<uint8_t>* ico, std::string* error);

}  // namespace kestrel::tools
