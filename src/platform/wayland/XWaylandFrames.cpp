#include "platform/wayland/XWaylandFrames.h"

// Qt before Xlib: Xlib's macros (Bool, None) break Qt's headers.
#include <QGuiApplication>

#include "platform/x11/WindowFrame.h"
#include "platform/x11/XErrorTrap.h"
#include "platform/x11/XHandles.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>

namespace platform::wayland {

using namespace x11;

namespace {

bool before(const Rect& a, const Rect& b)
{
    return std::tie(a.left, a.top, a.right, a.bottom) < std::tie(b.left, b.top, b.right, b.bottom);
}

} // namespace

struct XWaylandFrames::State {
    enum class Connection { NotYet, Open, Never };
    Connection connection = Connection::NotYet;
    DisplayPtr display;
    Window root = None;
    bool randrMonitors = false;

    KeptFrames kept;
    bool monitorsRead = false;
    std::vector<Rect> monitors; // XWayland's, in its root pixels

    // Only with the toolkit on XWayland: a native Wayland window's id is no
    // X window, and its place is nobody's to tell.
    bool open()
    {
        if (connection != Connection::NotYet)
            return connection == Connection::Open;
        connection = Connection::Never;
        const char* name = std::getenv("DISPLAY");
        if (QGuiApplication::platformName() != QLatin1String("xcb") || name == nullptr || *name == '\0')
            return false;
        display.reset(XOpenDisplay(name));
        if (!display)
            return false;
        watchDisplay(display.get());
        root = DefaultRootWindow(display.get());
        int eventBase = 0;
        int errorBase = 0;
        int major = 0;
        int minor = 0;
        randrMonitors = hasExtension(display.get(), "RANDR") && XRRQueryExtension(display.get(), &eventBase, &errorBase)
            && XRRQueryVersion(display.get(), &major, &minor) && (major > 1 || (major == 1 && minor >= 5));
        ErrorTrap trap(display.get());
        XSelectInput(display.get(), root, StructureNotifyMask);
        if (randrMonitors)
            XRRSelectInput(display.get(), root, RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask);
        if (trap.failed())
            return false;
        connection = Connection::Open;
        return true;
    }

    // Any event on our connection is a change to something we were told
    // about: everything is read again.
    void takeChanges()
    {
        if (kept.takeChanges(display.get()))
            monitorsRead = false;
    }

    void readMonitors()
    {
        monitorsRead = true;
        monitors.clear();
        Display* x = display.get();
        ErrorTrap trap(x);
        if (randrMonitors) {
            int count = 0;
            if (XRRMonitorInfo* list = XRRGetMonitors(x, root, True, &count)) {
                for (int i = 0; i < count; ++i)
                    monitors.push_back(
                        Rect { list[i].x, list[i].y, list[i].x + list[i].width, list[i].y + list[i].height });
                XRRFreeMonitors(list);
            }
        }
        if (monitors.empty()) { // the whole root as one monitor
            XWindowAttributes attributes;
            if (XGetWindowAttributes(x, root, &attributes) && !trap.failedSoFar())
                monitors.push_back(Rect { 0, 0, attributes.width, attributes.height });
        }
        if (trap.failedSoFar())
            monitors.clear();
    }
};

XWaylandFrames::XWaylandFrames()
    : d(std::make_unique<State>())
{
}

XWaylandFrames::~XWaylandFrames()
{
    if (d->display)
        unwatchDisplay(d->display.get());
}

bool XWaylandFrames::lineUp(std::vector<Rect> ours, std::vector<Rect> theirs, Mapping& mapping)
{
    if (ours.empty() || ours.size() != theirs.size())
        return false;
    std::sort(ours.begin(), ours.end(), before);
    std::sort(theirs.begin(), theirs.end(), before);
    if (ours == theirs) {
        mapping = Mapping { ours.front(), ours.front() };
        return true;
    }
    if (ours.size() != 1)
        return false;
    const Rect& to = ours.front();
    const Rect& from = theirs.front();
    if (from.width() <= 0 || from.height() <= 0 || to.width() <= 0 || to.height() <= 0)
        return false;
    // Scaled alike: the width's scale gives the height to within a pixel.
    const double scale = double(to.width()) / from.width();
    if (std::abs(scale * from.height() - to.height()) > 1.0)
        return false;
    mapping = Mapping { from, to };
    return true;
}

Rect XWaylandFrames::Mapping::map(const Rect& r) const
{
    if (from.width() == to.width() && from.height() == to.height())
        return Rect { r.left - from.left + to.left, r.top - from.top + to.top, r.right - from.left + to.left,
            r.bottom - from.top + to.top };
    // Outwards, so that a pixel partly under the window is in it.
    const double sx = double(to.width()) / from.width();
    const double sy = double(to.height()) / from.height();
    return Rect { to.left + int(std::floor((r.left - from.left) * sx)),
        to.top + int(std::floor((r.top - from.top) * sy)), to.left + int(std::ceil((r.right - from.left) * sx)),
        to.top + int(std::ceil((r.bottom - from.top) * sy)) };
}

bool XWaylandFrames::frame(WindowHandle window, const std::vector<Rect>& monitors, Rect& frame)
{
    if (window == 0 || monitors.empty() || !d->open() || displayLost(d->display.get()))
        return false;
    d->takeChanges();
    if (!d->monitorsRead)
        d->readMonitors();
    Mapping mapping;
    if (!lineUp(monitors, d->monitors, mapping))
        return false;
    Rect read;
    if (!d->kept.frame(d->display.get(), static_cast<Window>(window), read))
        return false;
    frame = mapping.map(read);
    return true;
}

} // namespace platform::wayland
