#pragma once

#include "platform/Desktop.h"

#include <X11/Xlib.h>

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
    // learnt, kept current by the property changes the server reports.
    void startWatching();
    void stopWatching();
    // An event read from the connection; ignored unless it is one the
    // watching asked for.
    void handle(const XEvent& event);

private:
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
};

} // namespace platform::x11
