#pragma once

#include "platform/Desktop.h"

#include <X11/Xlib.h>

namespace platform::x11 {

// Where the root's child that holds `window` lies (the window manager's
// frame, or the window itself without one), its border included, in root
// pixels; false when it is not mapped or the server refused to say.
// `display` must be watched (see XErrorTrap.h), so a window that went away
// meanwhile is a failed call, not the end of the program.
bool readWindowFrame(Display* display, Window window, Rect& frame);

// The same climb alone: the root's child that holds `window`, or None.
Window topLevelOf(Display* display, Window window);

} // namespace platform::x11
