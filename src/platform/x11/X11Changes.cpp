#include "platform/x11/X11Changes.h"

#include "platform/x11/XErrorTrap.h"
#include "platform/x11/XHandles.h"

#include <X11/extensions/Xfixes.h>

namespace platform::x11 {
namespace {

bool touches(const XRectangle& r, const Rect& source)
{
    return r.x < source.right && r.y < source.bottom && r.x + int(r.width) > source.left
        && r.y + int(r.height) > source.top;
}

} // namespace

ScreenChanges::ScreenChanges(Display* display)
    : display_(display)
    , root_(DefaultRootWindow(display))
{
    int errorBase = 0;
    int fixesEvents = 0;
    int fixesErrors = 0;
    int major = 0;
    int minor = 0;
    // Regions to fetch the damage into come with XFIXES 2.
    available_ = hasExtension(display_, "DAMAGE") && hasExtension(display_, "XFIXES")
        && XDamageQueryExtension(display_, &eventBase_, &errorBase) && XDamageQueryVersion(display_, &major, &minor)
        && XFixesQueryExtension(display_, &fixesEvents, &fixesErrors) && XFixesQueryVersion(display_, &major, &minor)
        && major >= 2;
}

ScreenChanges::~ScreenChanges()
{
    stop();
}

void ScreenChanges::start()
{
    if (!available_ || damage_ != 0)
        return;
    ErrorTrap trap(display_);
    damage_ = XDamageCreate(display_, root_, XDamageReportNonEmpty);
    region_ = XFixesCreateRegion(display_, nullptr, 0);
    reported_ = false;
    current_ = false;
    if (trap.failed()) {
        // A server that offers the extension and refuses it will refuse it again.
        stop();
        available_ = false;
    }
}

void ScreenChanges::stop()
{
    if (damage_ == 0 || displayLost(display_)) {
        damage_ = 0;
        region_ = 0;
        current_ = false;
        return;
    }
    ErrorTrap trap(display_);
    XDamageDestroy(display_, damage_);
    XFixesDestroyRegion(display_, region_);
    XFlush(display_);
    damage_ = 0;
    region_ = 0;
    reported_ = false;
    current_ = false;
}

bool ScreenChanges::handle(const XEvent& event)
{
    if (!available_ || event.type != eventBase_ + XDamageNotify)
        return false;
    reported_ = true;
    return true;
}

void ScreenChanges::aboutToCopy()
{
    if (damage_ == 0)
        return;
    XDamageSubtract(display_, damage_, None, None);
    reported_ = false;
}

void ScreenChanges::copied(const Rect& source, bool succeeded)
{
    current_ = succeeded && damage_ != 0;
    copiedSource_ = source;
}

bool ScreenChanges::unchanged(const Rect& source)
{
    if (damage_ == 0 || !current_ || !(source == copiedSource_))
        return false;
    if (reported_)
        collectDamage();
    return current_;
}

void ScreenChanges::collectDamage()
{
    reported_ = false;
    ErrorTrap trap(display_);
    // Moves the damage so far into the region, which clears it: the next
    // drawing anywhere reports again.
    XDamageSubtract(display_, damage_, None, region_);
    int count = 0;
    XMemory<XRectangle> rectangles(XFixesFetchRegion(display_, region_, &count));
    if (trap.failedSoFar() || (count > 0 && rectangles == nullptr)) {
        current_ = false;
        return;
    }
    for (int i = 0; i < count && current_; ++i) {
        if (touches(rectangles.get()[i], copiedSource_))
            current_ = false;
    }
}

} // namespace platform::x11
