// kestrel-icon OUTPUT.ico IMAGE.xpm...: writes the XPM images as one 16-colour .ico, the
// images in the order given (the large one first, as Windows lists them).
#include <cstdio>
#include <fstream>
#include <sstream>

#include "icon/xpm_icon.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kestrel-icon OUTPUT.ico IMAGE.xpm...\n");
        return 2;
    }
    std::vector<kestrel::tools::XpmImage> images;
    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        kestrel::tools::XpmImage image;
        std::string error;
        if (!in || !kestrel::tools::parseXpm(text.str(), &image, &error)) {
            std::fprintf(stderr, "kestrel-icon: %s: %s\n", argv[i],
                         in ? error.c_str() : "cannot read");
            return 1;
        }
        images.push_back(image);
    }
    std::vector<uint8_t> ico;
    std::string error;
    if (!kestrel::tools::makeIco(images, &ico, &error)) {
        std::fprintf(stderr, "kestrel-icon: %s\n", error.c_str());
        return 1;
    }
    std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(ico.data()), static_cast<std::streamsize>(ico.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "kestrel-icon: cannot write %s\n", argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
