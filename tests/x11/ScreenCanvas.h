#pragma once

#include <X11/Xlib.h>

// A window over the whole 1600 x 900 screen of the test's X server, drawn on
// with a connection of the test's own: drawing on it is drawing on the
// screen, as another program would, and where a window on top goes away its
// background shows.
struct ScreenCanvas {
    static constexpr unsigned long kBackground = 0x204060;

    Display* display = nullptr;
    Window root = None;
    Window canvas = None;
    GC gc = nullptr;

    // False without an X display.
    bool openCanvas()
    {
        display = XOpenDisplay(nullptr);
        if (!display)
            return false;
        root = DefaultRootWindow(display);
        XSetWindowAttributes attributes {};
        attributes.override_redirect = True;
        attributes.background_pixel = kBackground;
        canvas = XCreateWindow(display, root, 0, 0, 1600, 900, 0, CopyFromParent, InputOutput, CopyFromParent,
            CWOverrideRedirect | CWBackPixel, &attributes);
        XMapRaised(display, canvas);
        gc = XCreateGC(display, canvas, 0, nullptr);
        fill(0, 0, 1600, 900, kBackground);
        return true;
    }

    void closeCanvas()
    {
        if (!display)
            return;
        XFreeGC(display, gc);
        XCloseDisplay(display);
        display = nullptr;
    }

    void fill(int x, int y, unsigned width, unsigned height, unsigned long rgb)
    {
        XSetForeground(display, gc, rgb);
        XFillRectangle(display, canvas, gc, x, y, width, height);
        XSync(display, False);
    }
};
