#include "platform/x11/X11Changes.h"

#include "platform/x11/XErrorTrap.h"
#include "platform/x11/XHandles.h"

#include <algorithm>

namespace platform::x11 {
namespace {

bool overlap(const Rect& a, const Rect& b)
{
    return a.left < b.right && b.left < a.right && a.top < b.bottom && b.top < a.bottom;
}

} // namespace

ScreenChanges::ScreenChanges(Display* display)
    : display_(display)
    , root_(DefaultRootWindow(display))
{
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    available_ = hasExtension(display_, "DAMAGE") && XDamageQueryExtension(display_, &eventBase_, &errorBase)
        && XDamageQueryVersion(display_, &major, &minor);
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
    damage_ = XDamageCreate(display_, root_, XDamageReportBoundingBox);
    damaged_ = Rect {};
    current_ = false;
    if (trap.failed()) {
        // A server that offers the extension and refuses it will refuse it again.
        stop();
        available_ = false;
    }
}

void ScreenChanges::stop()
{
    if (damage_ != 0 && !displayLost(display_)) {
        ErrorTrap trap(display_);
        XDamageDestroy(display_, damage_);
        XFlush(display_);
    }
    damage_ = 0;
    damaged_ = Rect {};
    current_ = false;
}

bool ScreenChanges::handle(const XEvent& event)
{
    if (!available_ || event.type != eventBase_ + XDamageNotify)
        return false;
    const XRectangle& box = reinterpret_cast<const XDamageNotifyEvent&>(event).area;
    const Rect area { box.x, box.y, box.x + int(box.width), box.y + int(box.height) };
    if (damaged_.width() <= 0 || damaged_.height() <= 0)
        damaged_ = area;
    else
        damaged_ = Rect { std::min(damaged_.left, area.left), std::min(damaged_.top, area.top),
            std::max(damaged_.right, area.right), std::max(damaged_.bottom, area.bottom) };
    return true;
}

void ScreenChanges::aboutToCopy()
{
    if (damage_ == 0)
        return;
    // Whatever is drawn from here on is reported anew.
    XDamageSubtract(display_, damage_, None, None);
    damaged_ = Rect {};
}

void ScreenChanges::copied(const Rect& source, int outWidth, int outHeight, bool succeeded)
{
    current_ = succeeded && damage_ != 0;
    copiedSource_ = source;
    copiedWidth_ = outWidth;
    copiedHeight_ = outHeight;
}

bool ScreenChanges::unchanged(const Rect& source, int outWidth, int outHeight)
{
    // The server scales by a fixed rule: the same rectangle at the same size
    // gives the same bytes as long as nothing was drawn in it.
    if (damage_ == 0 || !current_ || !(source == copiedSource_) || outWidth != copiedWidth_
        || outHeight != copiedHeight_)
        return false;
    if (overlap(damaged_, copiedSource_))
        current_ = false;
    return current_;
}

bool ScreenChanges::lastCopyCurrent() const
{
    return damage_ != 0 && current_ && !overlap(damaged_, copiedSource_);
}

} // namespace platform::x11
