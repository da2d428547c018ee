#include "platform/choice/DesktopChoice.h"

#include "platform/wayland/WaylandDesktop.h"
#include "platform/x11/X11Desktop.h"

#include <QCoreApplication>

#include <cstdlib>
#include <cstring>

namespace platform {

namespace {

Backend requested = Backend::Session;
Desktop* made = nullptr;

void releaseWaylandDesktop()
{
    // Its D-Bus session and PipeWire thread end while the application
    // object, which they depend on, still exists.
    delete made;
    made = nullptr;
}

} // namespace

Backend sessionBackend(const char* waylandDisplay, const char* sessionType)
{
    const bool wayland = waylandDisplay && *waylandDisplay && sessionType && std::strcmp(sessionType, "wayland") == 0;
    return wayland ? Backend::Wayland : Backend::X11;
}

void prepareQtPlatform()
{
    if (sessionBackend(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE")) == Backend::Wayland
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb;wayland");
}

void chooseBackend(Backend backend)
{
    requested = backend;
}

Backend chosenBackend()
{
    if (requested != Backend::Session)
        return requested;
    return sessionBackend(std::getenv("WAYLAND_DISPLAY"), std::getenv("XDG_SESSION_TYPE"));
}

Desktop& desktop()
{
    static Backend backend = chosenBackend();
    if (backend == Backend::X11) {
        // Made on first use, so a program that never reads the screen never
        // connects; closed when the program ends.
        static X11Desktop instance;
        return instance;
    }
    if (made == nullptr) {
        made = new WaylandDesktop;
        if (QCoreApplication::instance())
            qAddPostRoutine(releaseWaylandDesktop);
    }
    return *made;
}

} // namespace platform
