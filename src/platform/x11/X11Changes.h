#pragma once

#include "platform/Desktop.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xdamage.h>

namespace platform::x11 {

// Tells whether anything was drawn in a rectangle of the screen since it was
// last copied, from the DAMAGE extension, so an unchanged screen costs no
// copy. The server sends one event when the screen's damage stops being
// empty and nothing more until it is cleared, so a busy screen cannot flood
// the connection; only then is the damaged region fetched (one round trip)
// to see whether it touches the rectangle.
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
    void copied(const Rect& source, bool succeeded);

    // Whether `source` was copied last, successfully, and nothing was drawn
    // in it since, as far as the events read so far tell.
    bool unchanged(const Rect& source);

private:
    void collectDamage();

    Display* display_;
    Window root_;
    bool available_ = false;
    int eventBase_ = 0;
    Damage damage_ = 0;
    unsigned long region_ = 0; // an XserverRegion the damage is moved into
    bool reported_ = false; // a damage report came since the damage was last cleared
    bool current_ = false; // the last copy is still what the screen shows
    Rect copiedSource_;
};

} // namespace platform::x11
