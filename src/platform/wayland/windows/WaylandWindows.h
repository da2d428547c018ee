#pragma once

#include "platform/Desktop.h"
#include "platform/wayland/windows/ToplevelTracker.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QSocketNotifier;

namespace platform {

class GnomeWindowInFront;

// The windows of a Wayland desktop as far as the compositor tells other
// programs about them: the activated toplevel, its app id and title, and its
// process where the protocol gives one. Reached through a Wayland connection
// of its own (plain libwayland-client); GUI thread only. Waits for the
// compositor only while connecting (at most a second per step, so a hung
// compositor cannot hang the program) and never ends the program. Where the
// compositor publishes no window list (GNOME), the window in front comes from
// Huelens' GNOME Shell extension on the session bus, if it is running.
class WaylandWindows {
public:
    enum class Source {
        None, // the compositor publishes no toplevels (GNOME), or no display
        WlrForeignToplevel, // zwlr_foreign_toplevel_manager_v1 (sway, Hyprland, labwc, ...)
        KdePlasma, // org_kde_plasma_window_management (KDE Plasma)
        GnomeShellExtension, // Huelens' own extension of GNOME Shell, on the session bus
    };

    // Connects to `displayName` (a socket name in $XDG_RUNTIME_DIR or an
    // absolute path), or to $WAYLAND_DISPLAY when it is empty, and reads the
    // windows there are.
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
    // Call it once before each foreground(). After the connection was lost
    // (the compositor dropped it or restarted) it connects again, at once and
    // then every 2 s while that fails.
    void dispatchPending();

    // The activated toplevel, or 0 when none is, when it is one of the
    // program's own windows, or while no window list can be read. For 0.3 s
    // after the last activated toplevel lost its state it stays in front, so
    // the moment between two activations never shows as "no window".
    WindowHandle foreground();
    // App id (as the class) and title; empty texts when the window is gone.
    WindowTexts texts(WindowHandle window);
    // Executable path from the window's process id, where the protocol gives one.
    std::string executable(WindowHandle window);

    // Why no window can be recognised here, for the user; empty when one can.
    std::string problem() const;

    // A still screen: `changed` is called once, from the event loop, when the
    // window in front, its app id, title or process may differ from what
    // foreground() last answered. False where this cannot be told: while the
    // connection is lost, while the window that just lost its activation
    // still counts as in front, and where the GNOME extension answers.
    bool watchForChange(std::function<void()> changed);
    void stopWatchingForChange();

    struct State; // the connection and what it told us; in the .cpp only

private:
    bool gnomeAnswers() const;
    const ToplevelTracker::Toplevel* find(WindowHandle window) const;

    // The window in front and what it is, as foreground() answers now.
    struct Front {
        WindowHandle window = 0;
        std::string appId;
        std::string title;
        long pid = 0;
        bool operator==(const Front& o) const
        {
            return window == o.window && appId == o.appId && title == o.title && pid == o.pid;
        }
    };
    Front frontNow() const;
    void connectionReadable();
    void answerIfChanged();

    std::unique_ptr<State> d;
    // Made where the compositor has no window list; outlives reconnections.
    std::unique_ptr<GnomeWindowInFront> gnome_;
    bool gnomeDesktop_ = false;

    Front lastAnswered_;
    std::function<void()> changeWatcher_;
    std::unique_ptr<QSocketNotifier> readable_;
};

} // namespace platform
