#include "platform/x11/X11Desktop.h"

// Before any X11 header: Xlib's macros (Bool, None) break Qt's headers.
#include <QMetaObject>
#include <QSocketNotifier>

#include "platform/x11/WindowFrame.h"
#include "platform/x11/X11Capture.h"
#include "platform/x11/X11Changes.h"
#include "platform/x11/X11Pointer.h"
#include "platform/x11/X11Windows.h"
#include "platform/x11/XErrorTrap.h"
#include "platform/x11/XHandles.h"

#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace platform {

using namespace x11;

namespace {

// Any X client may declare monitors (RandR's SetMonitor takes any size and
// place), but no pixel lies outside the screen: a monitor is the part of it
// on the screen, and one wholly beyond the screen is no monitor at all. A
// declared 32767 x 32767 monitor on a 1600 x 900 screen otherwise made
// region selection read and scale gigabytes of black.
std::vector<Rect> onScreen(const std::vector<Rect>& monitors, const Rect& screen)
{
    std::vector<Rect> result;
    for (const Rect& m : monitors) {
        const Rect clipped { std::max(m.left, screen.left), std::max(m.top, screen.top),
            std::min(m.right, screen.right), std::min(m.bottom, screen.bottom) };
        if (clipped.width() > 0 && clipped.height() > 0)
            result.push_back(clipped);
    }
    return result;
}

} // namespace

struct X11Desktop::State {
    DisplayPtr display; // first: outlives everything made on it
    Window root = None;
    bool randrMonitors = false;
    bool xinerama = false;
    std::unique_ptr<ScreenCopier> copier;
    std::unique_ptr<ScreenChanges> changes;
    std::unique_ptr<PointerWatch> pointer;
    std::unique_ptr<WindowInspector> windows;
    CapturePath path = CapturePath::Auto;
    CapturePath lastPath = CapturePath::Auto;
    int randrEvents = -1; // RandR's first event number; -1 without RandR
    bool monitorsChanged = false;
    bool randrSelected = false;

    // A still screen's request: the connection is read when the server
    // sends something, and the first change answers it.
    std::function<void()> changeWatcher;
    std::unique_ptr<QSocketNotifier> connectionReadable;

    // The program's own windows' frames, asked for every cycle, kept on a
    // connection of their own (opened on the first question, closed when
    // capturing stops) that hears of nothing but changes to them.
    DisplayPtr framesDisplay;
    bool framesTried = false;
    KeptFrames frames;

    static void close(DisplayPtr& connection)
    {
        if (Display* raw = connection.release()) {
            // Errors raised while closing are still ours.
            XCloseDisplay(raw);
            unwatchDisplay(raw);
        }
    }

    ~State()
    {
        connectionReadable.reset();
        copier.reset();
        changes.reset();
        pointer.reset();
        windows.reset();
        close(framesDisplay);
        close(display);
    }

    Display* live() const { return display && !displayLost(display.get()) ? display.get() : nullptr; }

    Display* framesConnection()
    {
        if (!framesTried && live() != nullptr) {
            framesTried = true;
            framesDisplay.reset(XOpenDisplay(DisplayString(live())));
            if (framesDisplay)
                watchDisplay(framesDisplay.get());
        }
        return framesDisplay && !displayLost(framesDisplay.get()) ? framesDisplay.get() : nullptr;
    }

    // Hands on what the server has sent (damage reports, property changes)
    // without waiting for more. Events are asked for only while the program
    // captures, and every cycle reads them, so they cannot pile up. The
    // connection is read once; what arrives meanwhile waits for the next
    // call (asking after every event read the connection again, a system
    // call that finds nothing).
    void readEvents()
    {
        Display* raw = live();
        if (raw == nullptr)
            return;
        for (int queued = XEventsQueued(raw, QueuedAfterReading); queued > 0;
             queued = XEventsQueued(raw, QueuedAlready)) {
            XEvent event;
            XNextEvent(raw, &event);
            if (randrEvents >= 0 && event.type >= randrEvents && event.type < randrEvents + RRNumberEvents) {
                XRRUpdateConfiguration(&event);
                monitorsChanged = true;
            } else if (!changes->handle(event) && !pointer->handle(event)) {
                windows->handle(event);
            }
        }
    }

    // Whether what the cycle read last may read otherwise now.
    bool changedSinceRead() const
    {
        return monitorsChanged || !changes->lastCopyCurrent() || pointer->movedSinceAnswer()
            || windows->changedSinceAnswer();
    }

    void endChangeWatch()
    {
        changeWatcher = nullptr;
        if (connectionReadable)
            connectionReadable->setEnabled(false);
    }

    // Answers the request if anything changed (or the server went away).
    void answerIfChanged()
    {
        if (!changeWatcher)
            return;
        if (live() != nullptr && !changedSinceRead())
            return;
        const std::function<void()> changed = std::move(changeWatcher);
        endChangeWatch();
        changed();
    }

    void connectionRead()
    {
        readEvents();
        answerIfChanged();
    }

    // While capturing, the screen's changes, the pointer's movements and the
    // window in front are learnt from events instead of asked for every cycle.
    void watch()
    {
        changes->start();
        pointer->start();
        if (!randrSelected && randrEvents >= 0 && live() != nullptr) {
            ErrorTrap trap(live());
            XRRSelectInput(live(), root, RRScreenChangeNotifyMask | RRCrtcChangeNotifyMask | RROutputChangeNotifyMask);
            randrSelected = true;
        }
        windows->startWatching();
    }

    void stopWatching()
    {
        endChangeWatch();
        if (randrSelected && live() != nullptr) {
            ErrorTrap trap(live());
            XRRSelectInput(live(), root, 0);
        }
        randrSelected = false;
        changes->stop();
        pointer->stop();
        windows->stopWatching();
        readEvents();
        // Nobody reads that connection until capturing starts again: the
        // news of every move of our windows would pile up in the meantime.
        close(framesDisplay);
        framesTried = false;
        frames = KeptFrames {};
    }
};

X11Desktop::X11Desktop(const std::string& displayName)
    : d(std::make_unique<State>())
{
    d->display.reset(XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str()));
    Display* display = d->display.get();
    if (display == nullptr)
        return;
    watchDisplay(display);
    d->root = DefaultRootWindow(display);

    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    d->randrMonitors = hasExtension(display, "RANDR") && XRRQueryExtension(display, &eventBase, &errorBase)
        && XRRQueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= 5));
    if (d->randrMonitors)
        d->randrEvents = eventBase;
    d->xinerama = hasExtension(display, "XINERAMA") && XineramaQueryExtension(display, &eventBase, &errorBase);

    d->copier = std::make_unique<ScreenCopier>(display);
    d->changes = std::make_unique<ScreenChanges>(display);
    d->pointer = std::make_unique<PointerWatch>(display);
    d->windows = std::make_unique<WindowInspector>(display);
}

X11Desktop::~X11Desktop() = default;

bool X11Desktop::connected() const
{
    return d->live() != nullptr;
}

bool X11Desktop::supports(CapturePath path) const
{
    if (path == CapturePath::Auto)
        return true;
    return d->copier && d->copier->supports(path);
}

void X11Desktop::setCapturePath(CapturePath path)
{
    d->path = path;
}

X11Desktop::CapturePath X11Desktop::capturePath() const
{
    return d->path;
}

X11Desktop::CapturePath X11Desktop::lastCapturePath() const
{
    return d->lastPath;
}

std::vector<Rect> X11Desktop::monitors()
{
    Display* display = d->live();
    if (display == nullptr)
        return {};
    std::vector<Rect> result;
    ErrorTrap trap(display);
    Rect screen;
    if (!readRootSize(display, d->root, screen) || trap.failedSoFar())
        return {};

    if (d->randrMonitors) {
        int count = 0;
        if (XRRMonitorInfo* monitors = XRRGetMonitors(display, d->root, True, &count)) {
            for (int i = 0; i < count; ++i) {
                const XRRMonitorInfo& m = monitors[i];
                result.push_back(Rect { m.x, m.y, m.x + m.width, m.y + m.height });
            }
            XRRFreeMonitors(monitors);
        }
        result = onScreen(result, screen);
        if (!result.empty() && !trap.failedSoFar())
            return result;
        result.clear();
    }

    if (d->xinerama && XineramaIsActive(display)) {
        int count = 0;
        if (XineramaScreenInfo* screens = XineramaQueryScreens(display, &count)) {
            for (int i = 0; i < count; ++i) {
                const XineramaScreenInfo& s = screens[i];
                result.push_back(Rect { s.x_org, s.y_org, s.x_org + s.width, s.y_org + s.height });
            }
            XFree(screens);
        }
        result = onScreen(result, screen);
        if (!result.empty() && !trap.failedSoFar())
            return result;
        result.clear();
    }

    result.push_back(screen);
    return result;
}

void X11Desktop::copy(const Rect& source, int outWidth, int outHeight, std::uint8_t* destination)
{
    if (destination == nullptr || outWidth <= 0 || outHeight <= 0)
        return;
    d->lastPath = CapturePath::Auto;
    Display* display = d->live();
    if (display != nullptr && source.width() > 0 && source.height() > 0) {
        d->readEvents();
        d->changes->aboutToCopy();
        static constexpr CapturePath fastestFirst[] = { CapturePath::RenderShmPixmap, CapturePath::RenderShmImage,
            CapturePath::ShmGetImage, CapturePath::GetImage };
        for (const CapturePath path : fastestFirst) {
            if (d->path != CapturePath::Auto && d->path != path)
                continue;
            if (d->copier->copy(path, source, outWidth, outHeight, destination)) {
                d->lastPath = path;
                d->changes->copied(source, outWidth, outHeight, true);
                return;
            }
        }
        d->changes->copied(source, outWidth, outHeight, false);
    }
    // Nothing to read, or every way of reading failed.
    const std::size_t pixels = std::size_t(outWidth) * std::size_t(outHeight);
    for (std::size_t i = 0; i < pixels; ++i, destination += 4) {
        destination[0] = destination[1] = destination[2] = 0;
        destination[3] = 255;
    }
}

bool X11Desktop::unchangedSinceLastCopy(const Rect& source, int outWidth, int outHeight)
{
    if (d->live() == nullptr)
        return false;
    // Only a capture repeated into the same buffer asks, so watching starts
    // here, and ends when capturing stops.
    d->watch();
    d->readEvents();
    return d->changes->unchanged(source, outWidth, outHeight);
}

void X11Desktop::releaseCapture()
{
    d->stopWatching();
}

Point X11Desktop::pointer()
{
    if (d->live() == nullptr)
        return {};
    d->readEvents();
    Point where;
    d->pointer->position(where);
    return where;
}

WindowHandle X11Desktop::foreground()
{
    if (d->live() == nullptr)
        return 0;
    d->readEvents();
    return d->windows->foreground();
}

WindowTexts X11Desktop::texts(WindowHandle window)
{
    if (d->live() == nullptr)
        return {};
    d->readEvents();
    return d->windows->texts(window);
}

std::string X11Desktop::executable(WindowHandle window)
{
    if (d->live() == nullptr)
        return {};
    d->readEvents();
    return d->windows->executable(window);
}

bool X11Desktop::windowFrame(WindowHandle window, Rect& frame)
{
    Display* display = d->live();
    if (display == nullptr || window == 0)
        return false;
    Display* kept = d->framesConnection();
    if (kept == nullptr)
        return readWindowFrame(display, static_cast<Window>(window), frame);
    d->frames.takeChanges(kept);
    return d->frames.frame(kept, static_cast<Window>(window), frame);
}

std::vector<std::uint8_t> X11Desktop::monitorProfile(int monitor)
{
    Display* display = d->live();
    if (display == nullptr || monitor < 0)
        return {};
    const std::string name = monitor == 0 ? std::string("_ICC_PROFILE") : "_ICC_PROFILE_" + std::to_string(monitor);
    ErrorTrap trap(display);
    const Atom atom = XInternAtom(display, name.c_str(), True);
    if (atom == None)
        return {};
    // The length first, and the bytes only when they can be a profile: a
    // property larger than any profile (any client may set one) is not
    // fetched every second to be refused every second.
    Atom type = None;
    int format = 0;
    unsigned long items = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    int status = XGetWindowProperty(
        display, d->root, atom, 0, 0, False, AnyPropertyType, &type, &format, &items, &after, &data);
    if (data != nullptr)
        XFree(data);
    data = nullptr;
    if (status != Success || trap.failedSoFar() || type == None || after == 0)
        return {};
    // Not the convention's bytes, or more than a profile can hold: passed on
    // as something that reads as no profile, so that the user learns the
    // property holds none, not that there is none.
    const std::vector<std::uint8_t> noProfile(1, 0);
    if (format != 8 || after > kLargestProfile)
        return noProfile;
    const long units = static_cast<long>((after + 3) / 4); // the request counts 32-bit units
    status = XGetWindowProperty(
        display, d->root, atom, 0, units, False, AnyPropertyType, &type, &format, &items, &after, &data);
    std::vector<std::uint8_t> bytes;
    if (status == Success && data != nullptr && !trap.failedSoFar()) {
        if (format == 8 && after == 0)
            bytes.assign(data, data + items);
        else if (items > 0 || after > 0)
            bytes = noProfile; // changed between the two requests into something else
    }
    if (data != nullptr)
        XFree(data);
    return bytes;
}

bool X11Desktop::watchForChange(std::function<void()> changed)
{
    Display* display = d->live();
    if (display == nullptr || !d->changes->watching() || !d->pointer->watching() || !d->windows->changesReported())
        return false;
    // What came since the cycle's reads counts; the monitors are not read
    // by the cycle, only their changes from here on count.
    d->readEvents();
    d->monitorsChanged = false;
    d->changeWatcher = std::move(changed);
    if (!d->connectionReadable) {
        d->connectionReadable = std::make_unique<QSocketNotifier>(ConnectionNumber(display), QSocketNotifier::Read);
        QObject::connect(d->connectionReadable.get(), &QSocketNotifier::activated, d->connectionReadable.get(),
            [state = d.get()] { state->connectionRead(); });
    }
    d->connectionReadable->setEnabled(true);
    if (d->changedSinceRead()) {
        // Answered from the event loop, never inside the request.
        QMetaObject::invokeMethod(
            d->connectionReadable.get(), [state = d.get()] { state->answerIfChanged(); }, Qt::QueuedConnection);
    }
    return true;
}

void X11Desktop::stopWatchingForChange()
{
    d->endChangeWatch();
}

} // namespace platform
