// Where the window goes on the screen: centred on the work area, kept inside it.
#pragma once

namespace kestrel {

// A screen rectangle with exclusive right and bottom edges.
struct ScreenRect {
    int left, top, right, bottom;
};

struct ScreenPoint {
    int x, y;
};

// Top-left corner for a window of `width` x `height` centred on `workArea`; a window larger
// than the work area keeps its top-left corner on the work area's edge.
ScreenPoint centreInWorkArea(ScreenRect workArea, int width, int height);

}  // namespace kestrel
