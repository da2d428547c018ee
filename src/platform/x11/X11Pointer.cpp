#include "platform/x11/X11Pointer.h"

#include "platform/x11/XErrorTrap.h"
#include "platform/x11/XHandles.h"

#include <X11/extensions/XInput2.h>

namespace platform::x11 {

PointerWatch::PointerWatch(Display* display)
    : display_(display)
    , root_(DefaultRootWindow(display))
{
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 0;
    if (hasExtension(display_, "XInputExtension") && XQueryExtension(display_, "XInputExtension", &opcode_, &event, &error)
        && XIQueryVersion(display_, &major, &minor) == Success && major >= 2)
        return;
    opcode_ = -1;
}

void PointerWatch::start()
{
    if (watching_ || opcode_ < 0)
        return;
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    // Touch screens move the pointer too, through touch events.
    for (const int type : { XI_RawMotion, XI_RawTouchBegin, XI_RawTouchUpdate, XI_RawTouchEnd })
        XISetMask(bits, type);
    XIEventMask mask { XIAllMasterDevices, int(sizeof bits), bits };
    ErrorTrap trap(display_);
    XISelectEvents(display_, root_, &mask, 1);
    watching_ = !trap.failed();
    moved_ = true;
}

void PointerWatch::stop()
{
    if (!watching_)
        return;
    watching_ = false;
    moved_ = true;
    if (displayLost(display_))
        return;
    unsigned char none[XIMaskLen(XI_LASTEVENT)] = {};
    XIEventMask mask { XIAllMasterDevices, int(sizeof none), none };
    ErrorTrap trap(display_);
    XISelectEvents(display_, root_, &mask, 1);
    XFlush(display_);
}

bool PointerWatch::handle(const XEvent& event)
{
    if (opcode_ < 0 || event.type != GenericEvent || event.xcookie.extension != opcode_)
        return false;
    moved_ = true;
    return true;
}

bool PointerWatch::position(Point& where, Clock::time_point now)
{
    if (watching_ && known_ && !moved_ && now - asked_ < kRecheck) {
        where = last_;
        return true;
    }
    // Movements reported from here on are movements after this answer.
    moved_ = false;
    asked_ = now;
    known_ = query(last_);
    where = last_;
    return known_;
}

bool PointerWatch::query(Point& where)
{
    ErrorTrap trap(display_);
    Window rootReturn = None;
    Window child = None;
    int rootX = 0;
    int rootY = 0;
    int x = 0;
    int y = 0;
    unsigned mask = 0;
    if (!XQueryPointer(display_, root_, &rootReturn, &child, &rootX, &rootY, &x, &y, &mask) || trap.failedSoFar()) {
        where = {};
        return false;
    }
    where = Point { rootX, rootY };
    return true;
}

} // namespace platform::x11
