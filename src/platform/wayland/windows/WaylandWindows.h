#pragma once

#include "platform/Desktop.h"

#include <memory>
#include <string>
#include <vector>

namespace platform {

// The windows of a Wayland desktop as far as the compositor tells other
// programs about them: the activated toplevel, its app id and title, and its
// process where the protocol gives one. Reached through a Wayland connection
// of its own; GUI thread only; never blocks and never ends the program.
class WaylandWindows {
public:
    enum class Source {
        None, // the compositor publishes no toplevels (GNOME), or no display
        WlrForeignToplevel, // zwlr_foreign_toplevel_manager_v1 (sway, Hyprland, labwc, ...)
        KdePlasma, // org_kde_plasma_window_management (KDE Plasma)
    };

    // Connects to `displayName`, or to $WAYLAND_DISPLAY when it is empty.
    explicit WaylandWindows(const std::string& displayName = {});
    ~WaylandWindows();
    WaylandWindows(const WaylandWindows&) = delete;
    WaylandWindows& operator=(const WaylandWindows&) = delete;

    Source source() const;

    // The program's own windows are never reported in front: those of this
    // process where the protocol tells the process (KDE), and those whose app
    // id is the program's own. Known from the start: the executable's name up
    // to its first dot (the app id Qt's Wayland plugin gives a program that
    // sets no desktop file name) and the same with a capital first letter (the
    // X11 class, which a compositor reports for the program on XWayland).
    // A program that sets a desktop file name adds that name without ".desktop".
    void addOwnAppId(const std::string& appId);

    // Reads what the compositor has sent since the last call, without waiting.
    void dispatchPending();

    // The activated toplevel, or 0.
    WindowHandle foreground();
    // App id (as the class) and title; empty texts when the window is gone.
    WindowTexts texts(WindowHandle window);
    // Executable path from the window's process id, where the protocol gives one.
    std::string executable(WindowHandle window);

    // Why no window can be recognised here, for the user; empty when one can.
    std::string problem() const;

    struct State; // the connection and what it told us; in the .cpp only

private:
    std::unique_ptr<State> d;
};

} // namespace platform
