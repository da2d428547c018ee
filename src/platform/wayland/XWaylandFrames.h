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
// One exception to "exactly": a single monitor that XWayland sees at one
// size and the portal shares at another, both sides scaled alike (an
// output scale of 2: XWayland's logical 1280 x 720 on a stream of
// 2560 x 1440). XWayland's root is then that monitor, and its pixels are
// scaled onto the shared ones, rounded outwards.
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

    // How XWayland's root pixels become desktop pixels.
    struct Mapping {
        Rect from; // XWayland's monitor...
        Rect to; // ...and ours; equal when nothing is scaled
        Rect map(const Rect& r) const;
    };
    // XWayland's monitors (`theirs`) lined up with the desktop's (`ours`):
    // the same set of rectangles, in any order, or one monitor each, scaled
    // alike across and down (to within a pixel). Empty sets never line up.
    static bool lineUp(std::vector<Rect> ours, std::vector<Rect> theirs, Mapping& mapping);

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace platform::wayland
