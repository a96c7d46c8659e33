// kestrel-icon-png INPUT.xpm OUTPUT.png [SIZE]: the window's XPM icon as a PNG for the
// desktop's icon theme, so the menu shows the same pixels as the window. Checks that the
// image is SIZE x SIZE when SIZE is given. Exit 0, 1 when it cannot be read or written,
// 2 on wrong usage.
#include <QImage>
#include <QString>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: kestrel-icon-png INPUT.xpm OUTPUT.png [SIZE]\n");
        return 2;
    }
    // QImage reads and writes both formats without an application object.
    const QImage image(QString::fromLocal8Bit(argv[1]), "XPM");
    if (image.isNull()) {
        std::fprintf(stderr, "kestrel-icon-png: cannot read %s\n", argv[1]);
        return 1;
    }
    if (argc == 4) {
        const int size = std::atoi(argv[3]);
        if (image.width() != size || image.height() != size) {
            std::fprintf(stderr, "kestrel-icon-png: %s is %dx%d, not %dx%d\n", argv[1],
                         image.width(), image.height(), size, size);
            return 1;
        }
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "kestrel-icon-png: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
