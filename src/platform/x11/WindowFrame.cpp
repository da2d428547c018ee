#include "platform/x11/WindowFrame.h"

#include "platform/x11/XErrorTrap.h"
#include "platform/x11/XHandles.h"

namespace platform::x11 {

Window topLevelOf(Display* display, Window window)
{
    if (display == nullptr || window == None)
        return None;
    ErrorTrap trap(display);
    // Climbed every time: a window manager may take the window into its
    // frame, or out of it, at any moment. Bounded against a cycle of lies.
    Window top = window;
    for (int depth = 0; depth < 64; ++depth) {
        Window rootReturn = None;
        Window parent = None;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display, top, &rootReturn, &parent, &children, &count) || trap.failedSoFar())
            return None;
        XMemory<Window> owned(children);
        if (parent == None || parent == rootReturn)
            return top;
        top = parent;
    }
    return top;
}

bool readWindowFrame(Display* display, Window window, Rect& frame)
{
    const Window top = topLevelOf(display, window);
    if (top == None)
        return false;
    ErrorTrap trap(display);
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, top, &attributes) || trap.failedSoFar() || attributes.map_state != IsViewable)
        return false;
    // A child of the root: its place is in root pixels; the border lies
    // around the inside.
    const int border = attributes.border_width;
    frame = Rect { attributes.x, attributes.y, attributes.x + attributes.width + 2 * border,
        attributes.y + attributes.height + 2 * border };
    return true;
}

} // namespace platform::x11
