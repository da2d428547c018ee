// Which window is in front on a Wayland desktop, without a real compositor:
// the state kept from the compositor's events (focus moving, closing, the
// program's own windows), KDE Plasma's window management spoken by a small
// compositor of the test's own, as KWin speaks it, and GNOME's window in
// front as Huelens' shell extension tells it, spoken by a stand-in on the
// private session bus the test runs on (dbus-run-session).
#include "platform/wayland/windows/GnomeWindowInFront.h"
#include "platform/wayland/windows/ToplevelTracker.h"
#include "platform/wayland/windows/WaylandWindows.h"

#include "plasma-window-management-server-protocol.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <wayland-server.h>

#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using platform::ToplevelTracker;
using platform::WaylandWindows;
using platform::WindowHandle;

namespace {

// A compositor that publishes org_kde_plasma_window_management (or nothing)
// on a socket of its own, on a thread of its own. The test changes its
// windows through run(), which executes on that thread and waits.
class FakeCompositor {
public:
    struct Window {
        std::uint32_t id = 0;
        std::string uuid, appId, title;
        std::uint32_t pid = 0;
        bool active = false;
        bool unmapped = false;
        std::vector<wl_resource*> resources;
    };

    // kdeVersion 0: no window list at all, as on GNOME.
    FakeCompositor(const QString& socketPath, std::uint32_t kdeVersion)
        : kdeVersion_(kdeVersion)
    {
        display_ = wl_display_create();
        const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, socketPath.toLocal8Bit().constData(), sizeof address.sun_path);
        unlink(address.sun_path); // left by a compositor before this one
        if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 4) != 0)
            qFatal("cannot listen on %s", address.sun_path);
        wl_display_add_socket_fd(display_, listener);
        if (kdeVersion_)
            wl_global_create(display_, &org_kde_plasma_window_management_interface, static_cast<int>(kdeVersion_), this,
                bindManager);
        wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        wakeSource_
            = wl_event_loop_add_fd(wl_display_get_event_loop(display_), wake_, WL_EVENT_READABLE, runQueued, this);
        thread_ = std::thread([this] { wl_display_run(display_); });
    }

    ~FakeCompositor() { stop(); }

    // Ends the compositor: every client connection closes.
    void stop()
    {
        if (!thread_.joinable())
            return;
        run([this] { wl_display_terminate(display_); });
        thread_.join();
        wl_event_source_remove(wakeSource_);
        wl_display_destroy_clients(display_);
        wl_display_destroy(display_);
        close(wake_);
    }

    // Closes every client connection, as a compositor does with a client
    // that leaves too much unread.
    void dropClients()
    {
        run([this] { wl_display_destroy_clients(display_); });
    }

    void run(std::function<void()> job)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        jobs_.push_back(std::move(job));
        const std::uint64_t one = 1;
        if (write(wake_, &one, sizeof one) != sizeof one)
            qFatal("eventfd");
        done_.wait(lock, [this] { return jobs_.empty(); });
    }

    void addWindow(const std::string& uuid, const std::string& appId, const std::string& title, std::uint32_t pid)
    {
        run([=] {
            Window& w = windows_[uuid];
            w.id = static_cast<std::uint32_t>(windows_.size());
            w.uuid = uuid;
            w.appId = appId;
            w.title = title;
            w.pid = pid;
            for (wl_resource* manager : managers_)
                announce(manager, w);
        });
    }

    // As KWin does it: the old window loses the state before the new one gets it.
    void activate(const std::string& uuid)
    {
        run([=] {
            for (auto& [key, w] : windows_)
                if (w.active && key != uuid)
                    setActive(w, false);
            setActive(windows_.at(uuid), true);
        });
    }

    void setTitle(const std::string& uuid, const std::string& title)
    {
        run([=] {
            Window& w = windows_.at(uuid);
            w.title = title;
            for (wl_resource* r : w.resources)
                org_kde_plasma_window_send_title_changed(r, title.c_str());
        });
    }

    void unmap(const std::string& uuid)
    {
        run([=] {
            Window& w = windows_.at(uuid);
            w.unmapped = true;
            w.active = false;
            for (wl_resource* r : w.resources)
                org_kde_plasma_window_send_unmapped(r);
        });
    }

private:
    static int runQueued(int fd, std::uint32_t, void* data)
    {
        auto* self = static_cast<FakeCompositor*>(data);
        std::uint64_t count;
        while (read(fd, &count, sizeof count) == sizeof count) { }
        std::lock_guard<std::mutex> lock(self->mutex_);
        for (auto& job : self->jobs_)
            job();
        self->jobs_.clear();
        wl_display_flush_clients(self->display_);
        self->done_.notify_all();
        return 0;
    }

    void setActive(Window& w, bool active)
    {
        w.active = active;
        for (wl_resource* r : w.resources)
            org_kde_plasma_window_send_state_changed(r, active ? ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE : 0);
    }

    void announce(wl_resource* manager, const Window& w)
    {
        if (w.unmapped)
            return;
        if (wl_resource_get_version(manager) >= ORG_KDE_PLASMA_WINDOW_MANAGEMENT_WINDOW_WITH_UUID_SINCE_VERSION)
            org_kde_plasma_window_management_send_window_with_uuid(manager, w.id, w.uuid.c_str());
        else
            org_kde_plasma_window_management_send_window(manager, w.id);
    }

    static void bindManager(wl_client* client, void* data, std::uint32_t version, std::uint32_t id)
    {
        auto* self = static_cast<FakeCompositor*>(data);
        wl_resource* manager
            = wl_resource_create(client, &org_kde_plasma_window_management_interface, static_cast<int>(version), id);
        wl_resource_set_implementation(manager, &managerImplementation, self, [](wl_resource* r) {
            auto* self = static_cast<FakeCompositor*>(wl_resource_get_user_data(r));
            self->managers_.erase(
                std::remove(self->managers_.begin(), self->managers_.end(), r), self->managers_.end());
        });
        self->managers_.push_back(manager);
        for (const auto& entry : self->windows_)
            self->announce(manager, entry.second);
    }

    void createWindowResource(wl_client* client, wl_resource* manager, std::uint32_t id, Window* w)
    {
        wl_resource* r
            = wl_resource_create(client, &org_kde_plasma_window_interface, wl_resource_get_version(manager), id);
        wl_resource_set_implementation(r, &windowImplementation, w, [](wl_resource* r) {
            auto* w = static_cast<Window*>(wl_resource_get_user_data(r));
            w->resources.erase(std::remove(w->resources.begin(), w->resources.end(), r), w->resources.end());
        });
        w->resources.push_back(r);
        org_kde_plasma_window_send_app_id_changed(r, w->appId.c_str());
        org_kde_plasma_window_send_title_changed(r, w->title.c_str());
        org_kde_plasma_window_send_pid_changed(r, w->pid);
        org_kde_plasma_window_send_state_changed(r, w->active ? ORG_KDE_PLASMA_WINDOW_MANAGEMENT_STATE_ACTIVE : 0);
        if (w->unmapped)
            org_kde_plasma_window_send_unmapped(r);
        if (wl_resource_get_version(r) >= ORG_KDE_PLASMA_WINDOW_INITIAL_STATE_SINCE_VERSION)
            org_kde_plasma_window_send_initial_state(r);
    }

    static void getWindow(wl_client* client, wl_resource* manager, std::uint32_t id, std::uint32_t internalId)
    {
        auto* self = static_cast<FakeCompositor*>(wl_resource_get_user_data(manager));
        for (auto& entry : self->windows_)
            if (entry.second.id == internalId)
                return self->createWindowResource(client, manager, id, &entry.second);
    }

    static void getWindowByUuid(wl_client* client, wl_resource* manager, std::uint32_t id, const char* uuid)
    {
        auto* self = static_cast<FakeCompositor*>(wl_resource_get_user_data(manager));
        self->createWindowResource(client, manager, id, &self->windows_.at(uuid));
    }

    static const struct org_kde_plasma_window_management_interface managerImplementation;
    static const struct org_kde_plasma_window_interface windowImplementation;

    std::uint32_t kdeVersion_;
    wl_display* display_ = nullptr;
    int wake_ = -1;
    wl_event_source* wakeSource_ = nullptr;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable done_;
    std::vector<std::function<void()>> jobs_;
    std::map<std::string, Window> windows_;
    std::vector<wl_resource*> managers_;
};

const struct org_kde_plasma_window_management_interface FakeCompositor::managerImplementation = [] {
    struct org_kde_plasma_window_management_interface i { };
    i.show_desktop = [](wl_client*, wl_resource*, std::uint32_t) {};
    i.get_window = getWindow;
    i.get_window_by_uuid = getWindowByUuid;
    return i;
}();

const struct org_kde_plasma_window_interface FakeCompositor::windowImplementation = [] {
    struct org_kde_plasma_window_interface i { };
    i.destroy = [](wl_client*, wl_resource* r) { wl_resource_destroy(r); };
    return i;
}();

// Huelens' GNOME Shell extension as the session bus shows it, on a bus
// connection of its own: Get() answers what the test set (or garbage, or
// nothing at all), and tell() sends Changed.
class FakeExtension : public QDBusVirtualObject {
public:
    explicit FakeExtension(const QString& connectionName = QStringLiteral("fake-extension"))
        : name(connectionName)
        , bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName))
    {
    }
    ~FakeExtension() override
    {
        disappear();
        QDBusConnection::disconnectFromBus(name);
    }

    // The extension enabled: the object exported and the name owned.
    bool appear()
    {
        bus.registerVirtualObject(QString::fromLatin1(platform::kGnomeExtensionPath), this);
        return bus.registerService(QString::fromLatin1(platform::kGnomeExtensionService));
    }
    // Disabled, the screen locked, the shell ended.
    void disappear()
    {
        bus.unregisterService(QString::fromLatin1(platform::kGnomeExtensionService));
        bus.unregisterObject(QString::fromLatin1(platform::kGnomeExtensionPath));
    }

    void tell(const QVariantList& arguments)
    {
        QDBusMessage signal = QDBusMessage::createSignal(QString::fromLatin1(platform::kGnomeExtensionPath),
            QString::fromLatin1(platform::kGnomeExtensionInterface), QStringLiteral("Changed"));
        signal.setArguments(arguments);
        bus.send(signal);
    }
    void tell(const QVariantMap& window) { tell(QVariantList { window }); }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
    {
        if (message.member() != QLatin1String("Get"))
            return false;
        ++questions;
        if (answers) // else the caller waits for a reply that never comes
            connection.send(message.createReply(reply.isEmpty() ? QVariantList { window } : reply));
        return true;
    }

    const QString name;
    QDBusConnection bus;
    QVariantMap window; // what Get() answers
    QVariantList reply; // answers this instead, where set
    bool answers = true;
    int questions = 0;
};

QVariantMap gnomeWindow(qulonglong id, const QString& title, const QString& wmClass, const QString& instance, bool x11,
    uint pid, const QString& appId = QString())
{
    return { { QStringLiteral("id"), QVariant::fromValue(id) }, { QStringLiteral("title"), title },
        { QStringLiteral("wm-class"), wmClass }, { QStringLiteral("wm-class-instance"), instance },
        { QStringLiteral("app-id"), appId }, { QStringLiteral("pid"), QVariant::fromValue(pid) },
        { QStringLiteral("x11"), x11 } };
}

// XDG_CURRENT_DESKTOP for as long as it lives.
class CurrentDesktop {
public:
    explicit CurrentDesktop(const QByteArray& name)
        : previous(qgetenv("XDG_CURRENT_DESKTOP"))
    {
        qputenv("XDG_CURRENT_DESKTOP", name);
    }
    ~CurrentDesktop()
    {
        if (previous.isNull())
            qunsetenv("XDG_CURRENT_DESKTOP");
        else
            qputenv("XDG_CURRENT_DESKTOP", previous);
    }

private:
    const QByteArray previous;
};

const char* const kEnableCommand = "gnome-extensions enable window-in-front@huelens.korvant.org";

// Reads what the compositor sent, as the back-end does once per cycle.
WindowHandle front(WaylandWindows& windows)
{
    windows.dispatchPending();
    return windows.foreground();
}

QString titleInFront(WaylandWindows& windows)
{
    const WindowHandle window = front(windows);
    return window ? QString::fromStdString(windows.texts(window).title) : QStringLiteral("(none)");
}

QString classInFront(WaylandWindows& windows)
{
    const WindowHandle window = front(windows);
    return window ? QString::fromStdString(windows.texts(window).windowClass) : QStringLiteral("(none)");
}

QString problemOf(const WaylandWindows& windows)
{
    return QString::fromStdString(windows.problem());
}

} // namespace

class WindowListsTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    QString socketPath() const { return dir.filePath(QStringLiteral("wayland-test")); }

private slots:
    void cleanup() { QFile::remove(socketPath()); }

    // Focus moving between windows as the compositor reports it, one step at a
    // time: '+' activates, '-' deactivates, 'x' closes, '.' only asks; `ms` is
    // when, and `front` the window expected in front afterwards ('0': none).
    // A and B are windows of other programs, P one of this process, S one with
    // the program's own app id.
    void whichWindowIsInFront_data()
    {
        QTest::addColumn<QString>("script");
        // "A+0A" reads: A activated at 0 ms, A in front.
        QTest::newRow("focus moves") << "A+0A A-1A B+1B B-2B A+2A";
        QTest::newRow("gap between two activations") << "A+0A A-10A .150A B+160B";
        QTest::newRow("gap ends after 0.3 s") << "A+0A A-10A .309A .310x0";
        QTest::newRow("closed in the gap") << "A+0A A-10A Ax11x0 B+12B";
        QTest::newRow("closed while in front") << "A+0A A-1A B+1B Bx2x0 A+3A";
        QTest::newRow("latest of two activated") << "A+0A B+1B B-2A";
        QTest::newRow("own window by process") << "A+0A A-1A P+2x0 P-3x0 .400x0 B+401B";
        QTest::newRow("own window by app id") << "A+0A A-1A S+2x0 S-3x0 B+4B";
    }
    void whichWindowIsInFront()
    {
        QFETCH(QString, script);
        ToplevelTracker tracker;
        tracker.setOwnProcess(4242);
        tracker.addOwnAppId("self");
        std::map<QChar, WindowHandle> handles;
        for (QChar name : { 'A', 'B', 'P', 'S' }) {
            handles[name] = tracker.add();
            tracker.setAppId(handles[name], name == 'S' ? "self" : "other");
        }
        tracker.setPid(handles['P'], 4242);
        tracker.setPid(handles['A'], 4243);
        const ToplevelTracker::Clock::time_point start {};
        for (const QString& step : script.split(QLatin1Char(' '))) {
            // <window><op><ms><front>, or .<ms><front> to only ask
            const QChar window = step[0];
            const QChar op = window == QLatin1Char('.') ? QLatin1Char('.') : step[1];
            const int digits = window == QLatin1Char('.') ? 1 : 2;
            int end = digits;
            while (end < step.size() && step[end].isDigit())
                ++end;
            const auto now = start + std::chrono::milliseconds(step.mid(digits, end - digits).toInt());
            const QString expected = step.mid(end) == QLatin1String("x0") ? QString() : step.mid(end);
            if (op == QLatin1Char('+') || op == QLatin1Char('-'))
                tracker.setActivated(handles[window], op == QLatin1Char('+'), now);
            else if (op == QLatin1Char('x'))
                tracker.remove(handles[window]);
            QString got;
            for (const auto& [name, handle] : handles)
                if (handle == tracker.foreground(now))
                    got = name;
            QVERIFY2(
                got == expected, qPrintable(step + QStringLiteral(": in front ") + (got.isEmpty() ? "none" : got)));
        }
    }

    // Guards a window of another program taken for the tool's own: handles
    // are compared with winId(), which on Qt's Wayland plugin counts up from
    // 1 and on XWayland is an X11 id below 2^29.
    void handlesStayClearOfNativeWindowIds()
    {
        ToplevelTracker tracker;
        const WindowHandle first = tracker.add();
        QVERIFY(first > 0xffffffffUL);
        tracker.remove(first);
        const WindowHandle second = tracker.add();
        QVERIFY(second != first);
        QVERIFY(!tracker.find(first));
    }

    // KDE Plasma: the active window, its app id, title and process, followed
    // as windows appear, change, take the focus and close; in the protocol
    // version of Plasma 6 and in one from before window uuids.
    void kdePlasma_data()
    {
        QTest::addColumn<uint>("version");
        QTest::newRow("windows by uuid") << 16u;
        QTest::newRow("windows by number") << 12u;
    }
    void kdePlasma()
    {
        QFETCH(uint, version);
        QProcess editor; // a process whose executable the test knows
        editor.start(QStringLiteral("/bin/sleep"), { QStringLiteral("600") });
        QVERIFY(editor.waitForStarted());
        const auto editorPid = static_cast<std::uint32_t>(editor.processId());

        FakeCompositor compositor(socketPath(), version);
        compositor.addWindow("a", "org.kde.krita", "photo.kra - Krita", editorPid);
        compositor.addWindow("b", "org.kde.dolphin", "Pictures - Dolphin", 0);
        compositor.activate("a");

        WaylandWindows windows(socketPath().toStdString());
        QCOMPARE(windows.source(), WaylandWindows::Source::KdePlasma);
        QCOMPARE(windows.problem(), std::string());
        const WindowHandle krita = front(windows);
        QVERIFY(krita != 0);
        QCOMPARE(windows.texts(krita).windowClass, std::string("org.kde.krita"));
        QCOMPARE(windows.texts(krita).title, std::string("photo.kra - Krita"));
        QCOMPARE(QFileInfo(QString::fromStdString(windows.executable(krita))).canonicalFilePath(),
            QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath());

        compositor.activate("b");
        QTRY_COMPARE(titleInFront(windows), QStringLiteral("Pictures - Dolphin"));
        QCOMPARE(windows.executable(front(windows)), std::string()); // no process given

        compositor.addWindow("c", "org.kde.kdenlive", "untitled - Kdenlive", 0);
        compositor.activate("c");
        QTRY_COMPARE(titleInFront(windows), QStringLiteral("untitled - Kdenlive"));
        const WindowHandle kdenlive = front(windows);
        compositor.setTitle("c", "edit.kdenlive - Kdenlive");
        QTRY_COMPARE(titleInFront(windows), QStringLiteral("edit.kdenlive - Kdenlive"));

        compositor.unmap("c");
        compositor.activate("a");
        QTRY_COMPARE(titleInFront(windows), QStringLiteral("photo.kra - Krita"));
        QCOMPARE(windows.texts(kdenlive).title, std::string());
        QCOMPARE(windows.executable(kdenlive), std::string());

        // The tool's own window, known by its process.
        compositor.addWindow("own", "huelens", "Korvant Huelens 1.0: Krita", static_cast<std::uint32_t>(getpid()));
        compositor.activate("own");
        QTRY_COMPARE(titleInFront(windows), QStringLiteral("(none)"));

        // The compositor drops the connection: the next reads connect again
        // and find the same windows.
        compositor.activate("a");
        QTRY_COMPARE(titleInFront(windows), QStringLiteral("photo.kra - Krita"));
        const WindowHandle beforeDrop = front(windows);
        compositor.dropClients();
        QTRY_COMPARE_WITH_TIMEOUT(titleInFront(windows), QStringLiteral("photo.kra - Krita"), 20000);
        QVERIFY(front(windows) != beforeDrop); // a new connection, new handles
        QCOMPARE(windows.problem(), std::string());

        // The compositor goes away: nothing is in front any more, and the user
        // is told why; when it comes back (a restarted session), its windows count.
        compositor.stop();
        QTRY_COMPARE(titleInFront(windows), QStringLiteral("(none)"));
        QCOMPARE(windows.source(), WaylandWindows::Source::None);
        QVERIFY(QString::fromStdString(windows.problem()).contains(QLatin1String("lost its connection")));
        FakeCompositor restarted(socketPath(), version);
        restarted.addWindow("d", "org.darktable.darktable", "darktable 4.2", 0);
        restarted.activate("d");
        QTRY_COMPARE_WITH_TIMEOUT(titleInFront(windows), QStringLiteral("darktable 4.2"), 20000);
        QCOMPARE(windows.source(), WaylandWindows::Source::KdePlasma);
        QCOMPARE(windows.problem(), std::string());
        editor.kill();
        editor.waitForFinished();
    }

    // No window list: nothing is in front, and problem() says why in words
    // that fit the desktop; on GNOME, how to turn on the extension that tells.
    void desktopsThatTellNothing_data()
    {
        QTest::addColumn<QString>("display");
        QTest::addColumn<QByteArray>("currentDesktop");
        QTest::addColumn<QString>("problemMentions");
        QTest::newRow("GNOME without the extension") << "compositor" << QByteArray("GNOME") << kEnableCommand;
        QTest::newRow("Ubuntu's GNOME") << "compositor" << QByteArray("ubuntu:GNOME") << kEnableCommand;
        QTest::newRow("a desktop without a window list")
            << "compositor" << QByteArray("Weston") << "does not tell other programs";
        QTest::newRow("KDE without the permission") << "compositor" << QByteArray("KDE") << "menu entry";
        QTest::newRow("no display") << "/nonexistent/wayland-9" << QByteArray("sway") << "cannot reach";
    }
    void desktopsThatTellNothing()
    {
        QFETCH(QString, display);
        QFETCH(QByteArray, currentDesktop);
        QFETCH(QString, problemMentions);
        const CurrentDesktop desktop(currentDesktop);
        std::unique_ptr<FakeCompositor> compositor;
        if (display == QLatin1String("compositor")) {
            compositor = std::make_unique<FakeCompositor>(socketPath(), 0);
            display = socketPath();
        }
        WaylandWindows windows(display.toStdString());
        QCOMPARE(windows.source(), WaylandWindows::Source::None);
        QCOMPARE(front(windows), WindowHandle(0));
        // The extension's absence is known once the bus answered.
        QTRY_VERIFY2(problemOf(windows).contains(problemMentions), windows.problem().c_str());
    }

    // GNOME with Huelens' extension enabled: the focused window, its class as
    // a rule written on X11 expects it, its title and executable, followed as
    // focus and titles change; the tool's own window and no focus at all give
    // nothing in front.
    void gnomeExtensionTellsTheWindowInFront()
    {
        QProcess editor; // a process whose executable the test knows
        editor.start(QStringLiteral("/bin/sleep"), { QStringLiteral("600") });
        QVERIFY(editor.waitForStarted());
        const auto editorPid = static_cast<uint>(editor.processId());

        const CurrentDesktop desktop("GNOME");
        FakeCompositor compositor(socketPath(), 0); // no window list, as Mutter
        FakeExtension extension;
        extension.window = gnomeWindow(7, QStringLiteral("[photo] (imported)-1.0 - GIMP"), QStringLiteral("Gimp-2.10"),
            QStringLiteral("gimp-2.10"), true, editorPid, QStringLiteral("gimp.desktop"));
        QVERIFY(extension.appear());

        WaylandWindows windows(socketPath().toStdString());
        // An X11 window (XWayland): "instance.class", as the X11 back-end
        // reads WM_CLASS, so the rules for GIMP hold on both.
        QTRY_COMPARE(classInFront(windows), QStringLiteral("gimp-2.10.Gimp-2.10"));
        QCOMPARE(windows.source(), WaylandWindows::Source::GnomeShellExtension);
        QCOMPARE(problemOf(windows), QString());
        const WindowHandle gimp = front(windows);
        QCOMPARE(titleInFront(windows), QStringLiteral("[photo] (imported)-1.0 - GIMP"));
        QCOMPARE(QFileInfo(QString::fromStdString(windows.executable(gimp))).canonicalFilePath(),
            QFileInfo(QStringLiteral("/bin/sleep")).canonicalFilePath());

        // A Wayland window: its app id, as on every other Wayland desktop.
        extension.tell(gnomeWindow(8, QStringLiteral("photo.kra - Krita"), QStringLiteral("org.kde.krita"),
            QStringLiteral("org.kde.krita"), false, 0, QStringLiteral("org.kde.krita.desktop")));
        QTRY_COMPARE(classInFront(windows), QStringLiteral("org.kde.krita"));
        const WindowHandle krita = front(windows);
        QVERIFY(krita != gimp);
        QCOMPARE(windows.executable(krita), std::string()); // no process given
        QCOMPARE(windows.texts(gimp).title, std::string()); // no longer known

        // The same window retitled keeps its handle.
        extension.tell(gnomeWindow(8, QStringLiteral("edit.kra - Krita"), QStringLiteral("org.kde.krita"),
            QStringLiteral("org.kde.krita"), false, 0));
        QTRY_COMPARE(titleInFront(windows), QStringLiteral("edit.kra - Krita"));
        QCOMPARE(front(windows), krita);

        // A Wayland window without an app id: its application's .desktop id.
        extension.tell(gnomeWindow(9, QStringLiteral("IMG_0042.jpg"), QString(), QString(), false, 0,
            QStringLiteral("org.gnome.Loupe.desktop")));
        QTRY_COMPARE(classInFront(windows), QStringLiteral("org.gnome.Loupe"));

        // The tool's own window, known by its process.
        extension.tell(gnomeWindow(10, QStringLiteral("Korvant Huelens 1.0: Krita"), QStringLiteral("huelens"),
            QStringLiteral("huelens"), false, static_cast<uint>(getpid())));
        QTRY_COMPARE(titleInFront(windows), QStringLiteral("(none)"));

        // A process that does not own the extension's name cannot say what is in front.
        extension.tell(gnomeWindow(11, QStringLiteral("untitled - Kdenlive"), QStringLiteral("org.kde.kdenlive"),
            QStringLiteral("org.kde.kdenlive"), false, 0));
        QTRY_COMPARE(titleInFront(windows), QStringLiteral("untitled - Kdenlive"));
        {
            FakeExtension impostor(QStringLiteral("impostor"));
            impostor.tell(gnomeWindow(
                12, QStringLiteral("Not in front"), QStringLiteral("evil"), QStringLiteral("evil"), false, 0));
            extension.tell(gnomeWindow(11, QStringLiteral("edit.kdenlive - Kdenlive"),
                QStringLiteral("org.kde.kdenlive"), QStringLiteral("org.kde.kdenlive"), false, 0));
            QTRY_COMPARE(titleInFront(windows), QStringLiteral("edit.kdenlive - Kdenlive"));
        }

        // Nothing has the focus (the desktop clicked): after the moment
        // between two windows, nothing is in front.
        extension.tell(QVariantMap());
        QTRY_COMPARE(titleInFront(windows), QStringLiteral("(none)"));
        QCOMPARE(windows.source(), WaylandWindows::Source::GnomeShellExtension);
        QCOMPARE(problemOf(windows), QString());
        editor.kill();
        editor.waitForFinished();
    }

    // The extension appears and goes away while the program runs (enabled
    // later, disabled, the screen locked, the shell restarted): what it told
    // counts only while it is there, and problem() says how to turn it on
    // while it is not.
    void gnomeExtensionComesAndGoes()
    {
        const CurrentDesktop desktop("GNOME");
        FakeCompositor compositor(socketPath(), 0);
        WaylandWindows windows(socketPath().toStdString());
        QTRY_VERIFY2(problemOf(windows).contains(kEnableCommand), windows.problem().c_str());
        QCOMPARE(front(windows), WindowHandle(0));

        FakeExtension extension;
        extension.window = gnomeWindow(
            1, QStringLiteral("darktable 4.2"), QStringLiteral("Darktable"), QStringLiteral("darktable"), true, 0);
        QVERIFY(extension.appear());
        QTRY_COMPARE(classInFront(windows), QStringLiteral("darktable.Darktable"));
        QCOMPARE(problemOf(windows), QString());

        extension.disappear();
        QTRY_COMPARE(classInFront(windows), QStringLiteral("(none)"));
        QVERIFY2(problemOf(windows).contains(kEnableCommand), windows.problem().c_str());
        QCOMPARE(windows.source(), WaylandWindows::Source::None);

        // Back with another window in front: nothing of the old one is kept.
        extension.window = gnomeWindow(1, QStringLiteral("Inkscape"), QStringLiteral("Inkscape"),
            QStringLiteral("org.inkscape.Inkscape"), false, 0);
        QVERIFY(extension.appear());
        QTRY_COMPARE(titleInFront(windows), QStringLiteral("Inkscape"));
        QCOMPARE(classInFront(windows), QStringLiteral("Inkscape"));
    }

    // An extension that answers badly: a reply of another form is not
    // believed and the user is told; values of the wrong type count as
    // unknown; a signal of another form changes nothing; and one that does
    // not answer at all never holds the program up.
    void gnomeExtensionAnsweringBadly()
    {
        const CurrentDesktop desktop("GNOME");
        FakeCompositor compositor(socketPath(), 0);
        {
            FakeExtension extension;
            extension.reply = { QStringLiteral("Gimp") };
            QVERIFY(extension.appear());
            WaylandWindows windows(socketPath().toStdString());
            QTRY_VERIFY2(problemOf(windows).contains(QLatin1String("does not know")), windows.problem().c_str());
            QCOMPARE(front(windows), WindowHandle(0));
            extension.tell(QVariantList { QStringList { QStringLiteral("Gimp") } });
            extension.tell(QVariantList { QVariantMap(), QStringLiteral("more") });
            QTest::qWait(200);
            QCOMPARE(front(windows), WindowHandle(0));
            QVERIFY2(problemOf(windows).contains(QLatin1String("does not know")), windows.problem().c_str());
        }
        {
            FakeExtension extension;
            extension.window = { { QStringLiteral("id"), QStringLiteral("seven") }, { QStringLiteral("title"), 42 },
                { QStringLiteral("wm-class"), QStringLiteral("Gimp") },
                { QStringLiteral("wm-class-instance"), QStringList { QStringLiteral("gimp") } },
                { QStringLiteral("pid"), QStringLiteral("1") }, { QStringLiteral("x11"), 1 },
                { QStringLiteral("from a later version"), QVariant::fromValue(qint64(5)) } };
            QVERIFY(extension.appear());
            WaylandWindows windows(socketPath().toStdString());
            QTRY_COMPARE(classInFront(windows), QStringLiteral("Gimp"));
            QCOMPARE(windows.texts(front(windows)).title, std::string());
            QCOMPARE(windows.executable(front(windows)), std::string());
        }
        {
            // A shell that does not answer: the program goes on at once, and
            // counts the extension as absent once the call's time is up.
            // (A limit against a hang, not a measure of speed.)
            FakeExtension extension;
            extension.answers = false;
            QVERIFY(extension.appear());
            QElapsedTimer clock;
            clock.start();
            WaylandWindows windows(socketPath().toStdString());
            QCOMPARE(front(windows), WindowHandle(0));
            QCOMPARE(problemOf(windows), QString());
            QVERIFY2(clock.elapsed() < platform::GnomeWindowInFront::kCallTimeoutMs / 2,
                qPrintable(QString::number(clock.elapsed())));
            QTRY_COMPARE(extension.questions, 1);
            QTRY_VERIFY_WITH_TIMEOUT(problemOf(windows).contains(kEnableCommand), 10000);
            // It wakes up and tells a change: believed again.
            extension.tell(gnomeWindow(
                3, QStringLiteral("Blender"), QStringLiteral("Blender"), QStringLiteral("blender"), true, 0));
            QTRY_COMPARE(classInFront(windows), QStringLiteral("blender.Blender"));
            QCOMPARE(problemOf(windows), QString());
        }
    }
};

QTEST_GUILESS_MAIN(WindowListsTest)
#include "test_window_lists.moc"
