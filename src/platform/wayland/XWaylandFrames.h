#pragma once

#include "platform/Desktop.h"

#include <memory>
#include <vector>

namespace platform::wayland {

// Where this program's own windows lie on a Wayland session when the
// toolkit runs them on XWayland (Qt's "xcb" platform): read from XWayland
// over a connection of our own, opened on the first question. XWayland's
// root pixels are the desktop pixels of the shared monitors only when its
// monitors are exactly the portal's (same places, same sizes); otherwise,
// and with the toolkit on native Wayland or no XWayland at all, nothing is
// placed. GUI thread only.
//
// The answers are kept, and read again only after XWayland reported a
// change (a window moved, resized, mapped, unmapped, reparented or
// destroyed; a monitor changed): at rest a question costs no round trip.
class XWaylandFrames {
public:
    XWaylandFrames();
    ~XWaylandFrames();
    XWaylandFrames(const XWaylandFrames&) = delete;
    XWaylandFrames& operator=(const XWaylandFrames&) = delete;

    // `window` is an X window id (Qt's winId() under xcb); `monitors` the
    // desktop's monitor table.
    bool frame(WindowHandle window, const std::vector<Rect>& monitors, Rect& frame);

    // XWayland's monitors lined up with `monitors`: both the same set of
    // rectangles, in any order. Empty sets never line up.
    static bool sameMonitors(std::vector<Rect> ours, std::vector<Rect> theirs);

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace platform::wayland
