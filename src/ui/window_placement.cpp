#include "ui/window_placement.h"

namespace kestrel {

namespace {

int clampToEdges(int start, int size, int low, int high) {
    if (start < low) return low;
    if (start + size > high) return high - size;
    return start;
}

}  // namespace

ScreenPoint centreInWorkArea(ScreenRect workArea, int width, int height) {
    const int x = (workArea.left + workArea.right) / 2 - width / 2;
    const int y = (workArea.top + workArea.bottom) / 2 - height / 2;
    return {clampToEdges(x, width, workArea.left, workArea.right),
            clampToEdges(y, height, workArea.top, workArea.bottom)};
}

}  // namespace kestrel
