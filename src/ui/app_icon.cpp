#include "ui/app_icon.h"

#include <QPixmap>

#include "ui/icon_128_16.xpm"
#include "ui/icon_128_32.xpm"

namespace kestrel {

QIcon programIcon() {
    QIcon icon;
    icon.addPixmap(QPixmap(kIcon128Large));
    icon.addPixmap(QPixmap(kIcon128Small));
    return icon;
}

}  // namespace kestrel
