#include "platform/wayland/windows/WaylandWindows.h"

#include "platform/ProcessPath.h"
#include "platform/wayland/windows/GnomeWindowInFront.h"
#include "platform/wayland/windows/ToplevelTracker.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QMetaObject>
#include <QSocketNotifier>

#include "plasma-window-management-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

using Clock = ToplevelTracker::Clock;

// The newest protocol versions this code knows.
constexpr std::uint32_t kWlrVersion = 3;
constexpr std::uint32_t kKdeVersion = 16;

// How long the start may wait for the compositor's answers; a compositor that
// hangs must not hang the program.
constexpr int kStartTimeoutMs = 1000;

// Reading what arrived never waits. One read takes at most 4 KiB; what a
// long idle time left (up to 1 MiB) is read at once, a larger backlog by the
// next calls.
constexpr int kMaxReadsPerDispatch = 256;

// How often a lost connection is tried again while the display cannot be reached.
constexpr auto kRetryInterval = std::chrono::seconds(2);

// The socket of a display name the way libwayland resolves it. Connecting
// ourselves keeps wl_display_connect() from taking a WAYLAND_SOCKET meant for
// the toolkit's own connection.
int connectToDisplay(const std::string& requested)
{
    std::string name = requested;
    if (name.empty()) {
        const char* env = std::getenv("WAYLAND_DISPLAY");
        name = env && *env ? env : "wayland-0";
    }
    std::string path;
    if (name[0] == '/') {
        path = name;
    } else {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        if (!runtime || !*runtime)
            return -1;
        path = std::string(runtime) + "/" + name;
    }
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// XDG_CURRENT_DESKTOP is a list ("ubuntu:GNOME"); a name is one of its items.
bool desktopIs(const char* name)
{
    const char* desktop = std::getenv("XDG_CURRENT_DESKTOP");
    if (!desktop)
        return false;
    const std::string list = std::string(":") + desktop + ":";
    return list.find(std::string(":") + name + ":") != std::string::npos;
}

const char* const kNoDisplay = "Huelens cannot reach the Wayland display, so it cannot tell which window is in front.";
const char* const kNoProtocol
    = "This desktop does not tell other programs which window is in front, so no application can be recognised here.";
const char* const kKdeRestricted = "KDE Plasma tells only programs whose installed menu entry asks for it which "
                                   "window is in front, so no application can be recognised here.";
const std::string kGnomeExtensionOff = std::string("On GNOME only Huelens' own GNOME Shell extension can tell which "
                                                   "window is in front, and it is not running. Turn it on with: "
                                                   "gnome-extensions enable ")
    + kGnomeExtensionUuid + " (if Huelens was installed since you logged in, log out and in again).";
const std::string kGnomeExtensionUnknown
    = std::string("Huelens' GNOME Shell extension answers in a form this Huelens does not know, so no application "
                  "can be recognised here. Install the extension of the same Huelens version, then log out and in "
                  "again.");
const char* const kLost = "Huelens lost its connection to the Wayland display and no longer knows which window is in "
                          "front.";

} // namespace

struct WaylandWindows::State {
    // One toplevel of wlr-foreign-toplevel. Its events are double-buffered:
    // what arrives before `done` applies together at `done`.
    struct WlrToplevel {
        State* state = nullptr;
        zwlr_foreign_toplevel_handle_v1* proxy = nullptr;
        WindowHandle handle = 0;
        std::string title;
        std::string appId;
        bool activated = false;
    };
    // One window of KDE's window management; each event applies at once.
    struct KdeWindow {
        State* state = nullptr;
        org_kde_plasma_window* proxy = nullptr;
        WindowHandle handle = 0;
    };

    // What a new connection needs to know again.
    std::string displayName;
    std::vector<std::string> ownAppIds;

    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    zwlr_foreign_toplevel_manager_v1* wlrManager = nullptr;
    org_kde_plasma_window_management* kdeManager = nullptr;
    std::uint32_t kdeVersion = 0;
    Source source = Source::None;
    std::string problem;
    ToplevelTracker tracker;
    std::vector<std::unique_ptr<WlrToplevel>> wlrToplevels;
    std::vector<std::unique_ptr<KdeWindow>> kdeWindows;
    bool lost = false; // the connection ended after it worked
    Clock::time_point openedAt {};
    Clock::time_point retryAt {};

    ~State();
    void open();
    bool roundtrip(int timeoutMs);
    bool readAvailable();
    void lose();
    void addKdeWindow(org_kde_plasma_window* proxy);

    template <typename T> void erase(std::vector<std::unique_ptr<T>>& list, const T* item)
    {
        list.erase(
            std::remove_if(list.begin(), list.end(), [item](const auto& p) { return p.get() == item; }), list.end());
    }
};

namespace {

using State = WaylandWindows::State;

// For the events this program has no use for.
template <typename... Args> void ignore(Args...)
{
}

// --- wlr-foreign-toplevel ------------------------------------------------

void wlrTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title)
{
    static_cast<State::WlrToplevel*>(data)->title = title ? title : "";
}

void wlrAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId)
{
    static_cast<State::WlrToplevel*>(data)->appId = appId ? appId : "";
}

void wlrState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states)
{
    auto* t = static_cast<State::WlrToplevel*>(data);
    t->activated = false;
    const auto* entry = static_cast<const std::uint32_t*>(states->data);
    for (std::size_t i = 0; i < states->size / sizeof *entry; ++i)
        if (entry[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED)
            t->activated = true;
}

void wlrDone(void* data, zwlr_foreign_toplevel_handle_v1*)
{
    auto* t = static_cast<State::WlrToplevel*>(data);
    ToplevelTracker& tracker = t->state->tracker;
    tracker.setTitle(t->handle, t->title);
    tracker.setAppId(t->handle, t->appId);
    tracker.setActivated(t->handle, t->activated, Clock::now());
}

void wlrClosed(void* data, zwlr_foreign_toplevel_handle_v1* proxy)
{
    auto* t = static_cast<State::WlrToplevel*>(data);
    State* state = t->state;
    state->tracker.remove(t->handle);
    zwlr_foreign_toplevel_handle_v1_destroy(proxy);
    state->erase(state->wlrToplevels, t);
}

const zwlr_foreign_toplevel_handle_v1_listener wlrToplevelListener = {
    wlrTitle,
    wlrAppId,
    ignore<void*, zwlr_foreign_toplevel_handle_v1*, wl_output*>,
    ignore<void*, zwlr_foreign_toplevel_handle_v1*, wl_output*>,
    wlrState,
    wlrDone,
    wlrClosed,
    ignore<void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*>,
};

void wlrToplevel(void* data, zwlr_foreign_toplevel_manager_v1*, zwlr_foreign_toplevel_handle_v1* proxy)
{
    auto* state = static_cast<State*>(data);
    auto t = std::make_unique<State::WlrToplevel>();
    t->state = state;
    t->proxy = proxy;
    t->handle = state->tracker.add();
    zwlr_foreign_toplevel_handle_v1_add_listener(proxy, &wlrToplevelListener, t.get());
    state->wlrToplevels.push_back(std::move(t));
}

// The compositor will send nothing more; what we know goes stale.
void wlrFinished(void* data, zwlr_foreign_toplevel_manager_v1* manager)
{
    auto* state = static_cast<State*>(data);
    zwlr_foreign_toplevel_manager_v1_destroy(manager);
    state->wlrManager = nullptr;
    state->lose();
}

const zwlr_foreign_toplevel_manager_v1_listener wlrManagerListener = {
    wlrToplevel,
    wlrFinished,
};

// --- KDE Plasma window management ---------------------------------------

void kdeTitle(void* data, org_kde_plasma_window*, const char* title)
{
    auto* w = static_cast<State::KdeWindow*>(data);
    w->state->tracker.setTitle(w->handle, title ? title : "");
}

void kdeAppId(void* data, org_kde_plasma_window*, const char* appId)
{
    auto* w = static_cast<State::KdeWindow*>(data);
    w->state->tracker.setAppId(w->handle, appId ? appId : "");
}

void kdeStateChanged(void* data, org_kde_plasma_window*, std::uint32_t flags)
{
    auto* w = static_cast<State::KdeWindow*>(data);
    w->state->tracker.setActivated(
        w->handle, (flags & ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE) != 0, Clock::now());
}

void kdeUnmapped(void* data, org_kde_plasma_window* proxy)
{
    auto* w = static_cast<State::KdeWindow*>(data);
    State* state = w->state;
    state->tracker.remove(w->handle);
    if (wl_proxy_get_version(reinterpret_cast<wl_proxy*>(proxy)) >= ORG_KDE_PLASMA_WINDOW_DESTROY_SINCE_VERSION)
        org_kde_plasma_window_destroy(proxy);
    else
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(proxy));
    state->erase(state->kdeWindows, w);
}

void kdePidChanged(void* data, org_kde_plasma_window*, std::uint32_t pid)
{
    auto* w = static_cast<State::KdeWindow*>(data);
    w->state->tracker.setPid(w->handle, static_cast<long>(pid));
}

const org_kde_plasma_window_listener kdeWindowListener = {
    kdeTitle,
    kdeAppId,
    kdeStateChanged,
    ignore<void*, org_kde_plasma_window*, std::int32_t>,
    ignore<void*, org_kde_plasma_window*, const char*>,
    kdeUnmapped,
    ignore<void*, org_kde_plasma_window*>,
    ignore<void*, org_kde_plasma_window*, org_kde_plasma_window*>,
    ignore<void*, org_kde_plasma_window*, std::int32_t, std::int32_t, std::uint32_t, std::uint32_t>,
    ignore<void*, org_kde_plasma_window*>,
    kdePidChanged,
    ignore<void*, org_kde_plasma_window*, const char*>,
    ignore<void*, org_kde_plasma_window*, const char*>,
    ignore<void*, org_kde_plasma_window*, const char*, const char*>,
    ignore<void*, org_kde_plasma_window*, const char*>,
    ignore<void*, org_kde_plasma_window*, const char*>,
    ignore<void*, org_kde_plasma_window*, const char*>,
};

// Before version 13 a new window is announced by its number only.
void kdeWindow(void* data, org_kde_plasma_window_management* manager, std::uint32_t id)
{
    auto* state = static_cast<State*>(data);
    if (state->kdeVersion >= ORG_KDE_PLASMA_WINDOW_MANAGEMENT_WINDOW_WITH_UUID_SINCE_VERSION)
        return;
    state->addKdeWindow(org_kde_plasma_window_management_get_window(manager, id));
}

void kdeWindowWithUuid(void* data, org_kde_plasma_window_management* manager, std::uint32_t, const char* uuid)
{
    auto* state = static_cast<State*>(data);
    if (!uuid)
        return;
    state->addKdeWindow(org_kde_plasma_window_management_get_window_by_uuid(manager, uuid));
}

const org_kde_plasma_window_management_listener kdeManagerListener = {
    ignore<void*, org_kde_plasma_window_management*, std::uint32_t>,
    kdeWindow,
    ignore<void*, org_kde_plasma_window_management*, wl_array*>,
    ignore<void*, org_kde_plasma_window_management*, const char*>,
    kdeWindowWithUuid,
};

// --- registry ------------------------------------------------------------

void registryGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface, std::uint32_t version)
{
    auto* state = static_cast<State*>(data);
    if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0 && !state->wlrManager
        && !state->kdeManager) {
        state->wlrManager = static_cast<zwlr_foreign_toplevel_manager_v1*>(wl_registry_bind(
            registry, name, &zwlr_foreign_toplevel_manager_v1_interface, std::min(version, kWlrVersion)));
        zwlr_foreign_toplevel_manager_v1_add_listener(state->wlrManager, &wlrManagerListener, state);
        state->source = WaylandWindows::Source::WlrForeignToplevel;
    } else if (std::strcmp(interface, org_kde_plasma_window_management_interface.name) == 0 && !state->wlrManager
        && !state->kdeManager) {
        state->kdeVersion = std::min(version, kKdeVersion);
        state->kdeManager = static_cast<org_kde_plasma_window_management*>(
            wl_registry_bind(registry, name, &org_kde_plasma_window_management_interface, state->kdeVersion));
        org_kde_plasma_window_management_add_listener(state->kdeManager, &kdeManagerListener, state);
        state->source = WaylandWindows::Source::KdePlasma;
    }
}

const wl_registry_listener registryListener = { registryGlobal, ignore<void*, wl_registry*, std::uint32_t> };

void syncDone(void* data, wl_callback* callback, std::uint32_t)
{
    *static_cast<bool*>(data) = true;
    wl_callback_destroy(callback);
}

const wl_callback_listener syncListener = { syncDone };

} // namespace

void State::addKdeWindow(org_kde_plasma_window* proxy)
{
    auto w = std::make_unique<KdeWindow>();
    w->state = this;
    w->proxy = proxy;
    w->handle = tracker.add();
    org_kde_plasma_window_add_listener(proxy, &kdeWindowListener, w.get());
    kdeWindows.push_back(std::move(w));
}

// Sends what is queued and reads what has arrived, never waiting; false when
// the connection failed.
bool State::readAvailable()
{
    for (int i = 0; i < kMaxReadsPerDispatch; ++i) {
        while (wl_display_prepare_read(display) != 0)
            if (wl_display_dispatch_pending(display) < 0)
                return false;
        if (wl_display_flush(display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display);
            return false;
        }
        pollfd fd { wl_display_get_fd(display), POLLIN, 0 };
        if (poll(&fd, 1, 0) <= 0) {
            wl_display_cancel_read(display);
            break;
        }
        if (wl_display_read_events(display) < 0)
            return false;
        if (wl_display_dispatch_pending(display) < 0)
            return false;
    }
    return wl_display_dispatch_pending(display) >= 0;
}

// wl_display_roundtrip() with a limit: waits at most `timeoutMs` for the
// compositor to answer everything sent so far.
bool State::roundtrip(int timeoutMs)
{
    bool done = false;
    wl_callback* callback = wl_display_sync(display);
    wl_callback_add_listener(callback, &syncListener, &done);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done) {
        if (!readAvailable())
            return false;
        if (done)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            // A late answer must not write to `done` once it is gone.
            wl_callback_destroy(callback);
            return false;
        }
        pollfd fd { wl_display_get_fd(display), POLLIN, 0 };
        poll(&fd, 1, static_cast<int>(left));
    }
    return true;
}

void State::lose()
{
    tracker.clear();
    source = Source::None;
    problem = kLost;
    lost = true;
    // At once, unless this connection was itself opened moments ago: a
    // compositor that keeps dropping us is not asked again every cycle.
    retryAt = openedAt + kRetryInterval;
}

State::~State()
{
    if (!display)
        return;
    for (auto& t : wlrToplevels)
        zwlr_foreign_toplevel_handle_v1_destroy(t->proxy);
    for (auto& w : kdeWindows)
        wl_proxy_destroy(reinterpret_cast<wl_proxy*>(w->proxy));
    if (wlrManager) {
        zwlr_foreign_toplevel_manager_v1_stop(wlrManager);
        zwlr_foreign_toplevel_manager_v1_destroy(wlrManager);
    }
    if (kdeManager)
        org_kde_plasma_window_management_destroy(kdeManager);
    if (registry)
        wl_registry_destroy(registry);
    wl_display_flush(display);
    wl_display_disconnect(display);
}

void State::open()
{
    openedAt = Clock::now();
    tracker.setOwnProcess(static_cast<long>(getpid()));
    for (const std::string& appId : ownAppIds)
        tracker.addOwnAppId(appId);
    const int fd = connectToDisplay(displayName);
    if (fd >= 0)
        display = wl_display_connect_to_fd(fd);
    if (!display) { // wl_display_connect_to_fd() closed the socket
        problem = kNoDisplay;
        return;
    }
    registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, this);
    // Globals; then the toplevels the manager announces when bound and their
    // state; KDE's windows need one more turn, since each is asked for by name.
    bool answered = roundtrip(kStartTimeoutMs) && roundtrip(kStartTimeoutMs);
    if (answered && source == Source::KdePlasma)
        answered = roundtrip(kStartTimeoutMs);
    if (wl_display_get_error(display) != 0) {
        lose();
        return;
    }
    if (source == Source::None)
        problem = desktopIs("KDE") ? kKdeRestricted : kNoProtocol;
}

WaylandWindows::WaylandWindows(const std::string& displayName)
    : d(std::make_unique<State>())
{
    d->displayName = displayName;
    d->ownAppIds = defaultAppIds(executableOfProcess(static_cast<long>(getpid())));
    d->open();
    // GNOME publishes no window list through Wayland; Huelens' shell
    // extension tells the window in front on the session bus instead, where
    // the user enabled it. (QtDBus needs the application object.)
    gnomeDesktop_ = desktopIs("GNOME");
    if (d->source == Source::None && !d->lost && QCoreApplication::instance()) {
        gnome_ = std::make_unique<GnomeWindowInFront>(QDBusConnection::sessionBus());
        gnome_->tracker().setOwnProcess(static_cast<long>(getpid()));
        for (const std::string& appId : d->ownAppIds)
            gnome_->tracker().addOwnAppId(appId);
    }
}

WaylandWindows::~WaylandWindows()
{
    readable_.reset(); // before the connection it watches
}

WaylandWindows::Source WaylandWindows::source() const
{
    return d->source == Source::None && gnomeAnswers() ? Source::GnomeShellExtension : d->source;
}

bool WaylandWindows::gnomeAnswers() const
{
    return gnome_ && gnome_->state() == GnomeWindowInFront::State::Present;
}

void WaylandWindows::addOwnAppId(const std::string& appId)
{
    d->ownAppIds.push_back(appId);
    d->tracker.addOwnAppId(appId);
    if (gnome_)
        gnome_->tracker().addOwnAppId(appId);
}

// A compositor drops a client that leaves too much unread (the program sat
// idle, no capture and no settings dialog, while focus and titles changed for
// a long time), and a compositor may restart under a running session. Either
// way a new connection brings the whole current state, so the next call
// connects again; while that fails, every kRetryInterval.
void WaylandWindows::dispatchPending()
{
    if (d->lost) {
        const Clock::time_point now = Clock::now();
        if (now < d->retryAt)
            return;
        readable_.reset();
        auto fresh = std::make_unique<State>();
        fresh->displayName = d->displayName;
        fresh->ownAppIds = d->ownAppIds;
        d = std::move(fresh);
        d->open();
        if (d->source == Source::None) {
            d->lost = true;
            d->problem = kLost;
            d->retryAt = now + kRetryInterval;
        }
        return;
    }
    if (!d->display || d->source == Source::None)
        return;
    if (!d->readAvailable())
        d->lose();
}

WindowHandle WaylandWindows::foreground()
{
    lastAnswered_ = frontNow();
    return lastAnswered_.window;
}

WaylandWindows::Front WaylandWindows::frontNow() const
{
    Front front;
    const Clock::time_point now = Clock::now();
    front.window = d->source == Source::None && gnomeAnswers() ? gnome_->tracker().foreground(now)
                                                               : d->tracker.foreground(now);
    if (const ToplevelTracker::Toplevel* t = find(front.window)) {
        front.appId = t->appId;
        front.title = t->title;
        front.pid = t->pid;
    }
    return front;
}

bool WaylandWindows::watchForChange(std::function<void()> changed)
{
    if (d->lost || (d->source == Source::None && gnome_))
        return false;
    const Clock::time_point now = Clock::now();
    // The window that just lost its activation leaves the front by the clock, not by an event.
    if (d->tracker.foreground(now) != d->tracker.foreground(now + ToplevelTracker::kActivationGap))
        return false;
    changeWatcher_ = std::move(changed);
    if (d->display && d->source != Source::None) {
        const int fd = wl_display_get_fd(d->display);
        if (!readable_ || readable_->socket() != fd) {
            readable_ = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
            QObject::connect(readable_.get(), &QSocketNotifier::activated, readable_.get(),
                [this] { connectionReadable(); });
        }
        readable_->setEnabled(true);
        if (!d->readAvailable())
            d->lose();
    }
    // What arrived since the cycle's reads counts too; answered from the
    // event loop, never inside the request.
    if (readable_ && (d->lost || !(frontNow() == lastAnswered_)))
        QMetaObject::invokeMethod(readable_.get(), [this] { answerIfChanged(); }, Qt::QueuedConnection);
    return true;
}

void WaylandWindows::stopWatchingForChange()
{
    changeWatcher_ = nullptr;
    if (readable_)
        readable_->setEnabled(false);
}

void WaylandWindows::connectionReadable()
{
    if (!changeWatcher_) {
        readable_->setEnabled(false);
        return;
    }
    if (!d->readAvailable())
        d->lose();
    answerIfChanged();
}

void WaylandWindows::answerIfChanged()
{
    if (!changeWatcher_ || (frontNow() == lastAnswered_ && !d->lost))
        return;
    if (readable_)
        readable_->setEnabled(false);
    const std::function<void()> changed = std::move(changeWatcher_);
    changeWatcher_ = nullptr;
    changed();
}

// Handles are unique in the process, so a window is found in whichever list
// gave it out.
const ToplevelTracker::Toplevel* WaylandWindows::find(WindowHandle window) const
{
    if (const ToplevelTracker::Toplevel* t = d->tracker.find(window))
        return t;
    return gnome_ ? gnome_->tracker().find(window) : nullptr;
}

WindowTexts WaylandWindows::texts(WindowHandle window)
{
    const ToplevelTracker::Toplevel* t = find(window);
    return t ? WindowTexts { t->appId, t->title } : WindowTexts {};
}

std::string WaylandWindows::executable(WindowHandle window)
{
    const ToplevelTracker::Toplevel* t = find(window);
    return t ? executableOfProcess(t->pid) : std::string();
}

std::string WaylandWindows::problem() const
{
    if (d->source != Source::None || !gnome_)
        return d->problem;
    switch (gnome_->state()) {
    case GnomeWindowInFront::State::Present:
        return {};
    case GnomeWindowInFront::State::Asking: // the answer comes in moments
        return gnomeDesktop_ ? std::string() : d->problem;
    case GnomeWindowInFront::State::NotUnderstood:
        return kGnomeExtensionUnknown;
    case GnomeWindowInFront::State::Absent:
        break;
    }
    return gnomeDesktop_ && d->display && !d->lost ? kGnomeExtensionOff : d->problem;
}

} // namespace platform
