#include "platform/x11/X11Windows.h"

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
    ErrorTrap trap(display_);
    // A window manager that keeps _NET_ACTIVE_WINDOW names the client window
    // itself, and None when nothing is active.
    const Property active = readProperty(display_, root_, netActiveWindow_, XA_WINDOW, 1);
    if (active.present() && active.format == 32 && active.items >= 1)
        return trap.failedSoFar() ? 0 : reinterpret_cast<const unsigned long*>(active.data.get())[0];

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
    ErrorTrap trap(display_);
    WindowTexts texts;

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
    if (trap.failedSoFar())
        return {};
    return texts;
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
    ErrorTrap trap(display_);
    // The server answers for the client that made a window even after the
    // window is gone; a window that is gone has no program.
    Window rootReturn = None;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    if (!XGetGeometry(display_, window, &rootReturn, &x, &y, &width, &height, &border, &depth) || trap.failedSoFar())
        return {};
    const long pid = processId(window);
    if (pid <= 0 || trap.failedSoFar())
        return {};
    char link[64];
    std::snprintf(link, sizeof link, "/proc/%ld/exe", pid);
    char path[PATH_MAX];
    const ssize_t length = readlink(link, path, sizeof path);
    if (length <= 0 || std::size_t(length) >= sizeof path)
        return {};
    std::string result(path, std::size_t(length));
    // An executable replaced since the process started (an upgrade) still
    // names the program.
    const std::string deleted = " (deleted)";
    if (result.size() > deleted.size() && result.compare(result.size() - deleted.size(), deleted.size(), deleted) == 0)
        result.resize(result.size() - deleted.size());
    return result;
}

void WindowInspector::startWatching() { }

void WindowInspector::stopWatching() { }

void WindowInspector::handle(const XEvent& event)
{
    (void)event;
}

} // namespace platform::x11
