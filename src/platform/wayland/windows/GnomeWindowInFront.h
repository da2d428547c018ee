#pragma once

#include "platform/wayland/windows/ToplevelTracker.h"

#include <QDBusConnection>
#include <QObject>
#include <QVariantMap>

#include <cstdint>
#include <string>

class QDBusMessage;

namespace platform {

// Huelens' GNOME Shell extension (resources/gnome-shell-extension): what the
// user enables, and where it tells the window in front.
constexpr const char* kGnomeExtensionUuid = "window-in-front@huelens.korvant.org";
constexpr const char* kGnomeExtensionService = "org.korvant.huelens.WindowInFront";
constexpr const char* kGnomeExtensionPath = "/org/korvant/huelens/WindowInFront";
constexpr const char* kGnomeExtensionInterface = "org.korvant.huelens.WindowInFront";

// One window as the extension describes it.
struct GnomeWindow {
    std::uint64_t id = 0;
    std::string title;
    std::string windowClass; // as a rule matches it: see gnomeWindowClass()
    long pid = 0; // 0: unknown
};

// The class a rule sees for a window the extension describes (a{sv}): for an
// X11 window (XWayland) "instance.class" from its WM_CLASS, exactly as the
// X11 back-end reports the same window, so a rule written on X11 holds on
// GNOME; for a Wayland window its app id, which GNOME reports as its class and
// every other Wayland desktop reports too. Where neither is known, the
// .desktop id of its application without ".desktop".
std::string gnomeWindowClass(const QVariantMap& window);

// The window in front as the extension tells it on the session bus. Never
// waits: the first answer and every change arrive as messages the event loop
// delivers, and every call has a short time limit. The extension may appear
// (enabled, the shell restarted), go away (disabled, the screen locked, the
// shell ended) or answer in a form this code does not know at any time; a
// reply or signal of the wrong form is not believed, and a value of the wrong
// type counts as unknown. GUI thread only.
class GnomeWindowInFront : public QObject {
    Q_OBJECT
public:
    enum class State {
        Asking, // the first answer has not come yet
        Present, // the extension answers
        Absent, // no extension on the bus (not enabled, or no GNOME Shell)
        NotUnderstood, // its answers are of a form this code does not know
    };

    // Watches for the extension on `bus` (normally the session bus).
    explicit GnomeWindowInFront(const QDBusConnection& bus, QObject* parent = nullptr);
    ~GnomeWindowInFront() override;

    State state() const { return state_; }

    // The focused window is the activated toplevel of this tracker while the
    // extension is present; nothing is in front otherwise.
    ToplevelTracker& tracker() { return tracker_; }
    const ToplevelTracker& tracker() const { return tracker_; }

    // How long a call may take before the extension counts as absent.
    static constexpr int kCallTimeoutMs = 2000;

private slots:
    void onChanged(const QDBusMessage& message);
    void onOwnerChanged(const QString& service, const QString& oldOwner, const QString& newOwner);

private:
    void ask();
    // Applies one description of the window in front; false when `message`
    // carries none of the extension's form.
    bool apply(const QDBusMessage& message);
    void forget(State state);

    QDBusConnection bus_;
    State state_ = State::Asking;
    ToplevelTracker tracker_;
    WindowHandle handle_ = 0; // the focused window's toplevel in tracker_, 0 for none
    std::uint64_t windowId_ = 0;
    quint64 generation_ = 0; // an answer meant for an earlier owner of the name is ignored
};

} // namespace platform
