#pragma once

#include <X11/Xlib.h>

// X errors arrive asynchronously, through one process-wide handler, and
// Xlib's default handler ends the process. The back-end routes the errors of
// its own connections here instead and turns them into failed calls; errors
// on other connections still go to whichever handler was installed before
// (never to Xlib's default one: those are printed instead).
//
// When the server goes away, Xlib calls the process-wide I/O error handler
// and then the connection's exit handler, and by default each ends the
// process. For our connections both return: the connection is marked lost,
// one line goes to stderr, and every later call on it fails at once without
// waiting (black frames, empty texts and lists). The toolkit's own connection
// to the same server breaks at the same moment, and the toolkit then ends the
// program in its own way.
namespace platform::x11 {

// Starts trapping errors on `display` and keeps the process alive when its
// server goes away: the connection is then marked lost and every later call
// on it fails at once.
void watchDisplay(Display* display);
void unwatchDisplay(Display* display);

// True once the connection to the server of `display` broke.
bool displayLost(Display* display);

// Tells whether any request sent on a watched display since the trap was made
// failed.
class ErrorTrap {
public:
    explicit ErrorTrap(Display* display);

    // Waits until the server has handled every request sent so far (one
    // round trip), then tells whether any of them failed.
    bool failed();

    // Without a round trip: enough right after a call that waited for its
    // reply, since errors come back in request order.
    bool failedSoFar() const;

private:
    Display* display_;
    unsigned long firstSerial_;
};

} // namespace platform::x11
