#include "platform/x11/XErrorTrap.h"

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <vector>

namespace platform::x11 {
namespace {

struct Watched {
    Display* display = nullptr;
    unsigned long lastErrorSerial = 0;
    bool anyError = false;
    bool lost = false;
};

// Error handlers may run on any thread that uses Xlib, so everything they
// read is guarded.
std::mutex guard;
std::vector<Watched> watched;
XErrorHandler previousHandler = nullptr;
XIOErrorHandler previousIoHandler = nullptr;
XErrorHandler xlibDefaultHandler = nullptr;

// A handler installed after ours may pass unknown displays back to us, its
// "previous"; going round again would never end.
thread_local bool passingOn = false;

Watched* find(Display* display)
{
    auto it
        = std::find_if(watched.begin(), watched.end(), [display](const Watched& w) { return w.display == display; });
    return it == watched.end() ? nullptr : &*it;
}

int onError(Display* display, XErrorEvent* event)
{
    XErrorHandler chained = nullptr;
    {
        std::lock_guard<std::mutex> lock(guard);
        if (Watched* w = find(display)) {
            w->lastErrorSerial = event->serial;
            w->anyError = true;
            return 0;
        }
        chained = previousHandler;
    }
    if (chained != nullptr && chained != xlibDefaultHandler && !passingOn) {
        passingOn = true;
        const int result = chained(display, event);
        passingOn = false;
        return result;
    }
    // Xlib's own handler would end the program over somebody else's error:
    // report it the way it does and carry on.
    char text[160] = {};
    XGetErrorText(display, event->error_code, text, sizeof text);
    std::fprintf(stderr, "X error: %s (request %u.%u, resource 0x%lx)\n", text, unsigned(event->request_code),
        unsigned(event->minor_code), event->resourceid);
    return 0;
}

// Xlib calls this first when a connection breaks, then the connection's exit
// handler; the default versions of both end the process.
int onIoError(Display* display)
{
    XIOErrorHandler chained = nullptr;
    {
        std::lock_guard<std::mutex> lock(guard);
        if (Watched* w = find(display)) {
            const bool first = !w->lost;
            w->lost = true;
            if (first)
                std::fprintf(stderr, "Lost the connection to the X server; screen copies stay black from now on.\n");
            return 0;
        }
        chained = previousIoHandler;
    }
    if (chained == nullptr || passingOn)
        return 0;
    passingOn = true;
    const int result = chained(display);
    passingOn = false;
    return result;
}

void onConnectionExit(Display*, void*)
{
    // Returning leaves the connection marked broken: every later call on it
    // fails at once instead of waiting for a server that is gone.
}

// Someone (a toolkit opening its own Xlib connection) may have installed a
// handler since; put ours back in front and pass theirs the errors that are
// not ours.
void ensureHandlers()
{
    const XErrorHandler current = XSetErrorHandler(onError);
    const XIOErrorHandler currentIo = XSetIOErrorHandler(onIoError);
    std::lock_guard<std::mutex> lock(guard);
    if (current != onError)
        previousHandler = current;
    if (currentIo != onIoError)
        previousIoHandler = currentIo;
}

} // namespace

void watchDisplay(Display* display)
{
    static std::once_flag learnDefault;
    std::call_once(learnDefault, [] {
        // Installing "no handler" puts Xlib's default back; the next call
        // hands us its address, so we know never to call it.
        const XErrorHandler before = XSetErrorHandler(nullptr);
        const XErrorHandler xlibDefault = XSetErrorHandler(before);
        std::lock_guard<std::mutex> lock(guard);
        xlibDefaultHandler = xlibDefault;
    });
    {
        std::lock_guard<std::mutex> lock(guard);
        if (find(display) == nullptr) {
            Watched w;
            w.display = display;
            watched.push_back(w);
        }
    }
    XSetIOErrorExitHandler(display, onConnectionExit, nullptr);
    ensureHandlers();
}

void unwatchDisplay(Display* display)
{
    std::lock_guard<std::mutex> lock(guard);
    watched.erase(
        std::remove_if(watched.begin(), watched.end(), [display](const Watched& w) { return w.display == display; }),
        watched.end());
}

bool displayLost(Display* display)
{
    std::lock_guard<std::mutex> lock(guard);
    const Watched* w = find(display);
    return w != nullptr && w->lost;
}

ErrorTrap::ErrorTrap(Display* display)
    : display_(display)
    , firstSerial_(NextRequest(display))
{
    ensureHandlers();
}

bool ErrorTrap::failed()
{
    if (displayLost(display_))
        return true;
    XSync(display_, False);
    return failedSoFar();
}

bool ErrorTrap::failedSoFar() const
{
    std::lock_guard<std::mutex> lock(guard);
    const Watched* w = find(display_);
    if (w == nullptr)
        return false;
    return w->lost || (w->anyError && w->lastErrorSerial >= firstSerial_);
}

} // namespace platform::x11
