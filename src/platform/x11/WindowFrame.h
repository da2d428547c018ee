#pragma once

#include "platform/Desktop.h"

#include <X11/Xlib.h>

#include <vector>

namespace platform::x11 {

// Where the root's child that holds `window` lies (the window manager's
// frame, or the window itself without one), its border included, in root
// pixels; false when it is not mapped or the server refused to say.
// `display` must be watched (see XErrorTrap.h), so a window that went away
// meanwhile is a failed call, not the end of the program.
bool readWindowFrame(Display* display, Window window, Rect& frame);

// The same climb alone: the root's child that holds `window`, or None.
Window topLevelOf(Display* display, Window window);

// Window frames kept between questions, on a connection that serves nothing
// else. Before a window is read, the connection asks to be told of every
// change to it and to its frame (moved, resized, mapped, unmapped,
// reparented, destroyed), so that no change after the reading goes untold;
// any event on the connection then forgets everything kept. At rest a
// question costs no round trip. GUI thread only.
class KeptFrames {
public:
    // Reads what the connection was sent, without waiting; whether anything
    // came (and so everything kept is forgotten).
    bool takeChanges(Display* display);
    // readWindowFrame's answer for `window`, kept or read now.
    bool frame(Display* display, Window window, Rect& frame);

private:
    struct Kept {
        Window window = None;
        bool shown = false;
        Rect frame;
    };
    std::vector<Kept> kept_;
};

} // namespace platform::x11
