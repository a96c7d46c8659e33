#include "icon/xpm_icon.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace kestrel::tools {

namespace {

// The string literals of a C source text, in order (escapes are not used in XPM pixel data).
std::vector<std::string> stringLiterals(const std::string& text) {
    std::vector<std::string> out;
    size_t pos = 0;
    while ((pos = text.find('"', pos)) != std::string::npos) {
        const size_t end = text.find('"', pos + 1);
        if (end == std::string::npos) break;
        out.push_back(text.substr(pos + 1, end - pos - 1));
        pos = end + 1;
    }
    return out;
}

bool parseColour(const std::string& text, Rgb* rgb, bool* none) {
    *none = false;
    if (text == "None" || text == "none") {
        *none = true;
        return true;
    }
    if (text.size() != 7 || text[0] != '#') return false;
    char* end = nullptr;
    const unsigned long v = std::strtoul(text.c_str() + 1, &end, 16);
    if (*end != '\0') return false;
    *rgb = {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    return true;
}

void put16(std::vector<uint8_t>* out, uint32_t v) {
    out->push_back(static_cast<uint8_t>(v));
    out->push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>* out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// Bitmap rows are padded to whole 32-bit words.
uint32_t rowBytes(int width, int bitsPerPixel) {
    return ((static_cast<uint32_t>(width) * bitsPerPixel + 31) / 32) * 4;
}

bool sameColour(Rgb a, Rgb b) {
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

// The image's DIB: header (height doubled: colour bitmap and mask), palette, the 4-bit colour
// bitmap and the 1-bit mask, both bottom-up.
bool makeDib(const XpmImage& image, std::vector<uint8_t>* dib, std::string* error) {
    std::vector<Rgb> palette{{0, 0, 0}};
    std::vector<uint8_t> index(image.pixels.size(), 0);
    for (size_t i = 0; i < image.pixels.size(); ++i) {
        if (image.transparent[i]) continue;
        size_t k = 1;
        while (k < palette.size() && !sameColour(palette[k], image.pixels[i]))
            ++k;
        if (k == palette.size()) {
            if (palette.size() == 16) {
                *error = "more than 15 colours: a 16-colour icon cannot hold them";
                return false;
            }
            palette.push_back(image.pixels[i]);
        }
        index[i] = static_cast<uint8_t>(k);
    }
    palette.resize(16, Rgb{0, 0, 0});

    const uint32_t colourRow = rowBytes(image.width, 4);
    const uint32_t maskRow = rowBytes(image.width, 1);
    put32(dib, 40);
    put32(dib, static_cast<uint32_t>(image.width));
    put32(dib, static_cast<uint32_t>(image.height) * 2);
    put16(dib, 1);  // planes
    put16(dib, 4);  // bits per pixel
    put32(dib, 0);  // no compression
    put32(dib, (colourRow + maskRow) * static_cast<uint32_t>(image.height));
    put32(dib, 0);
    put32(dib, 0);
    put32(dib, 16);  // colours used
    put32(dib, 0);
    for (const Rgb& c : palette) {
        dib->push_back(c.b);
        dib->push_back(c.g);
        dib->push_back(c.r);
        dib->push_back(0);
    }
    for (int y = image.height - 1; y >= 0; --y) {
        std::vector<uint8_t> row(colourRow, 0);
        for (int x = 0; x < image.width; ++x) {
            const uint8_t v = index[static_cast<size_t>(y) * image.width + x];
            row[x / 2] |= (x % 2) ? v : static_cast<uint8_t>(v << 4);
        }
        dib->insert(dib->end(), row.begin(), row.end());
    }
    for (int y = image.height - 1; y >= 0; --y) {
        std::vector<uint8_t> row(maskRow, 0);
        for (int x = 0; x < image.width; ++x)
            if (image.transparent[static_cast<size_t>(y) * image.width + x])
                row[x / 8] |= static_cast<uint8_t>(0x80 >> (x % 8));
        dib->insert(dib->end(), row.begin(), row.end());
    }
    return true;
}

}  // namespace

bool parseXpm(const std::string& text, XpmImage* image, std::string* error) {
    const std::vector<std::string> s = stringLiterals(text);
    int w = 0, h = 0, colours = 0, cpp = 0;
    if (s.empty() || std::sscanf(s[0].c_str(), "%d %d %d %d", &w, &h, &colours, &cpp) != 4 ||
        w <= 0 || h <= 0 || colours <= 0 || cpp <= 0 || w > 256 || h > 256) {
        *error = "no XPM header";
        return false;
    }
    if (s.size() < 1u + colours + h) {
        *error = "XPM text ends early";
        return false;
    }
    struct Colour {
        Rgb rgb;
        bool none;
    };
    std::map<std::string, Colour> table;
    for (int i = 0; i < colours; ++i) {
        const std::string& line = s[1 + i];
        const size_t c = line.find(" c ", static_cast<size_t>(cpp));
        Colour colour{{0, 0, 0}, false};
        if (line.size() < static_cast<size_t>(cpp) || c == std::string::npos ||
            !parseColour(line.substr(c + 3), &colour.rgb, &colour.none)) {
            *error = "unsupported XPM colour line: " + line;
            return false;
        }
        table[line.substr(0, cpp)] = colour;
    }
    image->width = w;
    image->height = h;
    image->pixels.assign(static_cast<size_t>(w) * h, Rgb{0, 0, 0});
    image->transparent.assign(static_cast<size_t>(w) * h, false);
    for (int y = 0; y < h; ++y) {
        const std::string& row = s[1 + colours + y];
        if (row.size() != static_cast<size_t>(w) * cpp) {
            *error = "XPM row of the wrong width";
            return false;
        }
        for (int x = 0; x < w; ++x) {
            const auto it = table.find(row.substr(static_cast<size_t>(x) * cpp, cpp));
            if (it == table.end()) {
                *error = "XPM pixel of an unknown colour";
                return false;
            }
            image->pixels[static_cast<size_t>(y) * w + x] = it->second.rgb;
            image->transparent[static_cast<size_t>(y) * w + x] = it->second.none;
        }
    }
    return true;
}

bool makeIco(const std::vector<XpmImage>& images, std::vector<uint8_t>* ico, std::string* error) {
    std::vector<std::vector<uint8_t>> dibs(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        if (images[i].width > 256 || images[i].height > 256) {
            *error = "an icon image is at most 256 x 256";
            return false;
        }
        if (!makeDib(images[i], &dibs[i], error)) return false;
    }
    ico->clear();
    put16(ico, 0);  // reserved
    put16(ico, 1);  // an icon
    put16(ico, static_cast<uint32_t>(images.size()));
    uint32_t offset = 6 + 16 * static_cast<uint32_t>(images.size());
    for (size_t i = 0; i < images.size(); ++i) {
        ico->push_back(static_cast<uint8_t>(images[i].width));  // 256 is written as 0
        ico->push_back(static_cast<uint8_t>(images[i].height));
        ico->push_back(16);  // colours in the palette
        ico->push_back(0);
        put16(ico, 1);  // planes
        put16(ico, 4);  // bits per pixel
        put32(ico, static_cast<uint32_t>(dibs[i].size()));
        put32(ico, offset);
        offset += static_cast<uint32_t>(dibs[i].size());
    }
    for (const auto& dib : dibs)
        ico->insert(ico->end(), dib.begin(), dib.end());
    return true;
}

}  // namespace kestrel::tools
