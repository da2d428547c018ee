#pragma once

#include "platform/Desktop.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

namespace platform::x11 {

// Tells whether anything was drawn in a rectangle of the screen since it was
// last copied, from the DAMAGE extension, so an unchanged screen costs no
// copy and no round trip. The server reports the bounding box of what was
// drawn since the damage was last cleared, and only when that box grows, so
// a busy screen cannot flood the connection. Drawing on both sides of the
// rectangle makes a box across it: that costs one needless copy, after
// which the damage starts afresh.
class ScreenChanges {
public:
    explicit ScreenChanges(Display* display);
    ~ScreenChanges();
    ScreenChanges(const ScreenChanges&) = delete;
    ScreenChanges& operator=(const ScreenChanges&) = delete;

    bool available() const { return available_; }

    // Starts (or stops) watching the screen; nothing is known to be unchanged
    // until the first copy after the start.
    void start();
    void stop();
    bool watching() const { return damage_ != 0; }

    // Takes the event if it is a damage report; false for any other event.
    bool handle(const XEvent& event);

    // Call right before reading `source` (the request clears the damage, so
    // whatever is drawn after it counts as a change), and afterwards whether
    // the read worked.
    void aboutToCopy();
    void copied(const Rect& source, int outWidth, int outHeight, bool succeeded);

    // Whether `source` was copied last, at this size, successfully, and
    // nothing was drawn in it since, as far as the events read so far tell.
    bool unchanged(const Rect& source, int outWidth, int outHeight);
    // The same for the last copy's own rectangle and size.
    bool lastCopyCurrent() const;

private:
    Display* display_;
    Window root_;
    bool available_ = false;
    int eventBase_ = 0;
    Damage damage_ = 0;
    Rect damaged_; // the box reported since the damage was last cleared; empty when none
    bool current_ = false; // the last copy is still what the screen shows
    Rect copiedSource_;
    int copiedWidth_ = 0;
    int copiedHeight_ = 0;
};

} // namespace platform::x11
