#pragma once

#include "platform/Desktop.h"

#include <X11/Xlib.h>

#include <chrono>
#include <string>

namespace platform::x11 {

// Questions about other programs' windows. Windows come and go between any
// two requests, so every answer is "nothing" when a window is gone.
class WindowInspector {
public:
    explicit WindowInspector(Display* display);

    WindowHandle foreground();
    WindowTexts texts(WindowHandle window);
    std::string executable(WindowHandle window);

    // While watching, the answers above may come from what earlier calls
    // learnt, kept current by the property changes the server reports: the
    // active window of the root, and the texts and process of the last
    // window asked about. A steady window in front then costs no request.
    // Starting again while watching does nothing.
    void startWatching();
    void stopWatching();
    // An event read from the connection; ignored unless it is one the
    // watching asked for.
    void handle(const XEvent& event);
    // Whether the events tell of every change of the window in front and
    // of the followed window's texts: while watching, as long as the root
    // names the active window (without it the focus is asked for, which
    // makes no event).
    bool changesReported() const { return watching_ && (!active_.known || active_.present); }
    // Whether the active window changed, or the followed window's texts, or
    // it ended, since foreground() last answered.
    bool changedSinceAnswer() const { return changeSinceAnswer_; }

private:
    using Clock = std::chrono::steady_clock;

    // What a read of the root's _NET_ACTIVE_WINDOW gave.
    struct ActiveWindow {
        bool known = false;
        bool present = false;
        Window window = None;
        Clock::time_point readAt;
    };
    // The window last asked about, followed for changes of its properties
    // and for its end; each answer is kept until one of them changes.
    struct FollowedWindow {
        Window window = None;
        bool textsKnown = false;
        WindowTexts texts;
        Clock::time_point textsReadAt;
        bool processKnown = false;
        std::string executable;
        Clock::time_point processReadAt;
    };

    WindowHandle readForeground(bool propertyKnownAbsent);
    bool readTexts(Window window, WindowTexts& texts);
    bool readProcess(Window window, long& pid);
    void follow(Window window);
    void unfollow();
    static bool fresh(Clock::time_point readAt);

    // The client window (the one the window manager put WM_STATE on) that
    // `window` belongs to; without a window manager, its top-level window.
    Window clientOf(Window window);
    Window clientBelow(Window topLevel);
    bool hasWmState(Window window);
    long processId(Window window);

    Display* display_;
    Window root_;
    bool resourceExtension_ = false;

    Atom netActiveWindow_ = 0;
    Atom wmState_ = 0;
    Atom netWmName_ = 0;
    Atom utf8String_ = 0;
    Atom netWmPid_ = 0;

    bool watching_ = false;
    ActiveWindow active_;
    WindowHandle lastForeground_ = 0;
    FollowedWindow followed_;
    bool changeSinceAnswer_ = false;
};

} // namespace platform::x11
