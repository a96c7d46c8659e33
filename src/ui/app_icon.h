// Icon 128: the program's icon, a 32 x 32 and a 16 x 16 image of 16 colours.
#pragma once

#include <QIcon>

namespace kestrel {

// Both images, so the window gets its large and its small icon from one QIcon.
QIcon programIcon();

}  // namespace kestrel
