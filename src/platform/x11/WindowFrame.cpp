#include "platform/x11/WindowFrame.h"

#include "platform/x11/XErrorTrap.h"
#include "platform/x11/XHandles.h"

#include <algorithm>

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

namespace {

// More windows than the program ever shows at once: past it the answers
// are simply read again.
constexpr std::size_t kKept = 8;

} // namespace

bool KeptFrames::takeChanges(Display* display)
{
    bool changed = false;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        changed = true;
    }
    if (changed)
        kept_.clear();
    return changed;
}

bool KeptFrames::frame(Display* display, Window window, Rect& frame)
{
    auto found = std::find_if(kept_.begin(), kept_.end(), [window](const Kept& k) { return k.window == window; });
    if (found == kept_.end()) {
        if (kept_.size() >= kKept)
            kept_.clear();
        Kept k;
        k.window = window;
        ErrorTrap trap(display);
        XSelectInput(display, window, StructureNotifyMask);
        const Window top = topLevelOf(display, window);
        if (top != None && top != window)
            XSelectInput(display, top, StructureNotifyMask);
        k.shown = top != None && !trap.failedSoFar() && readWindowFrame(display, window, k.frame);
        kept_.push_back(k);
        found = kept_.end() - 1;
    }
    if (found->shown)
        frame = found->frame;
    return found->shown;
}

} // namespace platform::x11
