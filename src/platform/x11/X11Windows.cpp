#include "platform/x11/X11Windows.h"

#include "platform/ProcessPath.h"

#include "platform/x11/XErrorTrap.h"
#include "platform/x11/XHandles.h"

#include <X11/Xatom.h>
#include <X11/extensions/XRes.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <unistd.h>

namespace platform::x11 {
namespace {

// A window property as Xlib returns it; 32-bit items come as longs.
struct Property {
    XMemory<unsigned char> data;
    Atom type = None;
    int format = 0;
    unsigned long items = 0;

    bool present() const { return type != None && data != nullptr; }
};

Property readProperty(Display* display, Window window, Atom name, Atom type, long maxLength = 1 << 16)
{
    Property p;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(
            display, window, name, 0, maxLength, False, type, &p.type, &p.format, &p.items, &remaining, &data)
        != Success) {
        return Property {};
    }
    p.data.reset(data);
    if (type != AnyPropertyType && p.type != type)
        return Property {};
    return p;
}

std::string latin1ToUtf8(const char* text, std::size_t length)
{
    std::string out;
    out.reserve(length);
    for (std::size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xc0 | (c >> 6));
            out += char(0x80 | (c & 0x3f));
        }
    }
    return out;
}

std::string hostName()
{
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof name - 1) != 0)
        return {};
    return name;
}

// Changes of the followed window's properties, and its end.
constexpr long kFollowedEvents = PropertyChangeMask | StructureNotifyMask;

} // namespace

WindowInspector::WindowInspector(Display* display)
    : display_(display)
    , root_(DefaultRootWindow(display))
{
    const char* names[] = { "_NET_ACTIVE_WINDOW", "WM_STATE", "_NET_WM_NAME", "UTF8_STRING", "_NET_WM_PID" };
    Atom atoms[5] = {};
    XInternAtoms(display_, const_cast<char**>(names), 5, False, atoms);
    netActiveWindow_ = atoms[0];
    wmState_ = atoms[1];
    netWmName_ = atoms[2];
    utf8String_ = atoms[3];
    netWmPid_ = atoms[4];

    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    resourceExtension_ = hasExtension(display_, "X-Resource") && XResQueryExtension(display_, &eventBase, &errorBase)
        && XResQueryVersion(display_, &major, &minor) && (major > 1 || (major == 1 && minor >= 2));
}

WindowHandle WindowInspector::foreground()
{
    changeSinceAnswer_ = false;
    const bool known = watching_ && active_.known && fresh(active_.readAt);
    const WindowHandle window = known && active_.present ? active_.window : readForeground(known);
    if (watching_ && window != lastForeground_) {
        // Window ids are used again once their window is gone, and the
        // window in front changes in between.
        lastForeground_ = window;
        unfollow();
    }
    return window;
}

WindowHandle WindowInspector::readForeground(bool propertyKnownAbsent)
{
    ErrorTrap trap(display_);
    if (!propertyKnownAbsent) {
        // A window manager that keeps _NET_ACTIVE_WINDOW names the client
        // window itself, and None when nothing is active.
        const Clock::time_point readAt = Clock::now();
        const Property active = readProperty(display_, root_, netActiveWindow_, XA_WINDOW, 1);
        const bool present = active.present() && active.format == 32 && active.items >= 1;
        const Window window = present ? reinterpret_cast<const unsigned long*>(active.data.get())[0] : None;
        if (trap.failedSoFar())
            return 0;
        if (watching_)
            active_ = ActiveWindow { true, present, window, readAt };
        if (present)
            return window;
    }

    Window focus = None;
    int revert = 0;
    XGetInputFocus(display_, &focus, &revert);
    if (focus == PointerRoot) {
        // Focus follows the pointer: the top-level window under it.
        Window rootReturn = None;
        Window child = None;
        int rootX = 0, rootY = 0, x = 0, y = 0;
        unsigned mask = 0;
        if (!XQueryPointer(display_, root_, &rootReturn, &child, &rootX, &rootY, &x, &y, &mask))
            return 0;
        focus = child;
    }
    if (focus == None || focus == root_ || trap.failedSoFar())
        return 0;
    return clientOf(focus);
}

Window WindowInspector::clientOf(Window window)
{
    ErrorTrap trap(display_);
    // Focus may sit in a child of the client or on the frame a window
    // manager put around it: climb first, then look below the top level.
    Window current = window;
    for (;;) {
        if (hasWmState(current))
            return current;
        Window rootReturn = None;
        Window parent = None;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display_, current, &rootReturn, &parent, &children, &count) || trap.failedSoFar())
            return 0;
        XMemory<Window> owned(children);
        if (parent == None || parent == rootReturn)
            break;
        current = parent;
    }
    const Window client = clientBelow(current);
    if (trap.failedSoFar())
        return 0;
    return client != None ? client : current;
}

Window WindowInspector::clientBelow(Window topLevel)
{
    // Breadth first, as a frame holds the client near its top; bounded so a
    // window with thousands of children costs little.
    constexpr int maxVisited = 256;
    std::deque<Window> queue { topLevel };
    int visited = 0;
    while (!queue.empty() && visited++ < maxVisited) {
        const Window window = queue.front();
        queue.pop_front();
        Window rootReturn = None;
        Window parent = None;
        Window* children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(display_, window, &rootReturn, &parent, &children, &count))
            return None;
        XMemory<Window> owned(children);
        for (unsigned i = 0; i < count; ++i) {
            if (hasWmState(children[i]))
                return children[i];
            queue.push_back(children[i]);
        }
    }
    return None;
}

bool WindowInspector::hasWmState(Window window)
{
    return readProperty(display_, window, wmState_, AnyPropertyType, 0).type != None;
}

WindowTexts WindowInspector::texts(WindowHandle window)
{
    if (window == 0)
        return {};
    if (!watching_ || window == root_) {
        WindowTexts texts;
        readTexts(window, texts);
        return texts;
    }
    if (followed_.window == window && followed_.textsKnown && fresh(followed_.textsReadAt))
        return followed_.texts;
    if (followed_.window != window)
        unfollow();
    ErrorTrap trap(display_);
    follow(window);
    const Clock::time_point readAt = Clock::now();
    WindowTexts texts;
    if (!readTexts(window, texts) || trap.failedSoFar()) {
        unfollow();
        return {};
    }
    followed_.texts = texts;
    followed_.textsKnown = true;
    followed_.textsReadAt = readAt;
    return texts;
}

bool WindowInspector::readTexts(Window window, WindowTexts& texts)
{
    ErrorTrap trap(display_);
    texts = {};

    // WM_CLASS: instance and class, each ending in a NUL, in ISO Latin-1.
    const Property wmClass = readProperty(display_, window, XA_WM_CLASS, XA_STRING);
    if (wmClass.present() && wmClass.format == 8) {
        const char* text = reinterpret_cast<const char*>(wmClass.data.get());
        const std::size_t length = wmClass.items;
        const std::size_t instanceLength = strnlen(text, length);
        const std::size_t classStart = std::min(length, instanceLength + 1);
        const std::size_t classLength = strnlen(text + classStart, length - classStart);
        texts.windowClass = latin1ToUtf8(text, instanceLength) + "." + latin1ToUtf8(text + classStart, classLength);
    }

    const Property netName = readProperty(display_, window, netWmName_, utf8String_);
    if (netName.present() && netName.format == 8) {
        texts.title.assign(reinterpret_cast<const char*>(netName.data.get()), netName.items);
    } else {
        XTextProperty name {};
        if (XGetTextProperty(display_, window, &name, XA_WM_NAME) && name.value != nullptr) {
            XMemory<unsigned char> value(name.value);
            char** list = nullptr;
            int count = 0;
            if (Xutf8TextPropertyToTextList(display_, &name, &list, &count) >= Success && list != nullptr) {
                for (int i = 0; i < count; ++i)
                    texts.title += list[i];
                XFreeStringList(list);
            }
        }
    }
    if (trap.failedSoFar()) {
        texts = {};
        return false;
    }
    return true;
}

long WindowInspector::processId(Window window)
{
    // The server knows the process of a local client for sure; the property
    // is the client's own word and may come from another machine.
    if (resourceExtension_) {
        XResClientIdSpec clientQuery {};
        clientQuery.client = window;
        clientQuery.mask = XRES_CLIENT_ID_PID_MASK;
        long count = 0;
        XResClientIdValue* values = nullptr;
        if (XResQueryClientIds(display_, 1, &clientQuery, &count, &values) == Success) {
            long pid = -1;
            for (long i = 0; i < count && pid <= 0; ++i)
                pid = long(XResGetClientPid(&values[i]));
            XResClientIdsDestroy(count, values);
            if (pid > 0)
                return pid;
        }
    }

    const Property pid = readProperty(display_, window, netWmPid_, XA_CARDINAL, 1);
    if (!pid.present() || pid.format != 32 || pid.items < 1)
        return 0;
    const Property machine = readProperty(display_, window, XA_WM_CLIENT_MACHINE, XA_STRING);
    if (machine.present() && machine.format == 8) {
        const std::string name(reinterpret_cast<const char*>(machine.data.get()),
            strnlen(reinterpret_cast<const char*>(machine.data.get()), machine.items));
        if (name != hostName())
            return 0;
    }
    return long(reinterpret_cast<const unsigned long*>(pid.data.get())[0]);
}

std::string WindowInspector::executable(WindowHandle window)
{
    if (window == 0)
        return {};
    long pid = 0;
    if (!watching_ || window == root_) {
        readProcess(window, pid);
        return executableOfProcess(pid);
    }
    // The path is kept too: a process that starts another program loses its
    // X connection, and its windows go with it.
    if (followed_.window == window && followed_.processKnown && fresh(followed_.processReadAt))
        return followed_.executable;
    if (followed_.window != window)
        unfollow();
    ErrorTrap trap(display_);
    follow(window);
    const Clock::time_point readAt = Clock::now();
    if (!readProcess(window, pid) || trap.failedSoFar()) {
        unfollow();
        return {};
    }
    followed_.executable = executableOfProcess(pid);
    followed_.processKnown = true;
    followed_.processReadAt = readAt;
    return followed_.executable;
}

bool WindowInspector::readProcess(Window window, long& pid)
{
    pid = 0;
    ErrorTrap trap(display_);
    // The server answers for the client that made a window even after the
    // window is gone; a window that is gone has no program.
    Window rootReturn = None;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    if (!XGetGeometry(display_, window, &rootReturn, &x, &y, &width, &height, &border, &depth) || trap.failedSoFar())
        return false;
    const long found = processId(window);
    if (trap.failedSoFar())
        return false;
    pid = std::max(found, 0L);
    return true;
}

bool WindowInspector::fresh(Clock::time_point readAt)
{
    // Whatever an event that never came would leave wrong is read again at
    // least this often.
    return Clock::now() - readAt < std::chrono::seconds(1);
}

void WindowInspector::follow(Window window)
{
    if (followed_.window == window)
        return;
    // Asked for before anything is read, so no change after the read can go
    // unreported. A window that is gone refuses, and the read then fails.
    XSelectInput(display_, window, kFollowedEvents);
    followed_ = FollowedWindow {};
    followed_.window = window;
}

void WindowInspector::unfollow()
{
    if (followed_.window != None && !displayLost(display_)) {
        // The window may be gone already: the error that brings is trapped
        // and spoils no read that follows.
        ErrorTrap trap(display_);
        XSelectInput(display_, followed_.window, NoEventMask);
    }
    followed_ = FollowedWindow {};
}

void WindowInspector::startWatching()
{
    if (watching_ || displayLost(display_))
        return;
    XSelectInput(display_, root_, PropertyChangeMask);
    watching_ = true;
    active_ = ActiveWindow {};
    lastForeground_ = 0;
    followed_ = FollowedWindow {};
}

void WindowInspector::stopWatching()
{
    if (!watching_)
        return;
    unfollow();
    if (!displayLost(display_)) {
        XSelectInput(display_, root_, NoEventMask);
        XFlush(display_);
    }
    watching_ = false;
    active_ = ActiveWindow {};
    lastForeground_ = 0;
}

void WindowInspector::handle(const XEvent& event)
{
    if (!watching_)
        return;
    if (event.type == PropertyNotify) {
        const XPropertyEvent& change = event.xproperty;
        if (change.window == root_) {
            if (change.atom == netActiveWindow_) {
                active_.known = false;
                changeSinceAnswer_ = true;
            }
        } else if (change.window == followed_.window) {
            if (change.atom == XA_WM_CLASS || change.atom == XA_WM_NAME || change.atom == netWmName_) {
                followed_.textsKnown = false;
                changeSinceAnswer_ = true;
            } else if (change.atom == netWmPid_ || change.atom == XA_WM_CLIENT_MACHINE) {
                followed_.processKnown = false;
                changeSinceAnswer_ = true;
            }
        }
    } else if (event.type == DestroyNotify && event.xdestroywindow.window == followed_.window
        && followed_.window != None) {
        // Nothing to stop asking for: the server forgot the window.
        followed_ = FollowedWindow {};
        changeSinceAnswer_ = true;
    }
}

} // namespace platform::x11
