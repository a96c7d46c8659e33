// kestrel-icon-png INPUT OUTPUT.png SIZE: one of Kestrel's icons as a SIZE x SIZE PNG for the
// desktop's icon theme. INPUT is either one of the window's XPM images (the menu then shows
// the same pixels as the window; it must be SIZE x SIZE already) or the drawn SVG icon,
// rendered at SIZE (Qt's SVG image plugin reads it). Exit 0, 1 when it cannot be read or
// written or has the wrong size, 2 on wrong usage.
#include <QImage>
#include <QImageReader>
#include <QString>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    const int size = argc == 4 ? std::atoi(argv[3]) : 0;
    if (argc != 4 || size <= 0) {
        std::fprintf(stderr, "usage: kestrel-icon-png INPUT OUTPUT.png SIZE\n");
        return 2;
    }
    // QImageReader works without an application object, plugins included.
    QImageReader reader(QString::fromLocal8Bit(argv[1]));
    if (reader.format() == "svg") reader.setScaledSize(QSize(size, size));
    const QImage image = reader.read();
    if (image.isNull()) {
        std::fprintf(stderr, "kestrel-icon-png: cannot read %s: %s\n", argv[1],
                     reader.errorString().toLocal8Bit().constData());
        return 1;
    }
    if (image.width() != size || image.height() != size) {
        std::fprintf(stderr, "kestrel-icon-png: %s is %dx%d, not %dx%d\n", argv[1], image.width(),
                     image.height(), size, size);
        return 1;
    }
    if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "kestrel-icon-png: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
