// What the X11 back-end keeps about the window in front while the program
// captures: every change another program makes must show in the next answer,
// and a steady window in front must cost no request at all.

#include <QFileInfo>
#include <QProcess>
#include <QtTest>

#include "x11/PrivateServer.h"

#include "platform/x11/X11Windows.h"
#include "platform/x11/XErrorTrap.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <unistd.h>

using platform::x11::WindowInspector;

namespace {

// The inspector on a connection of its own, as the back-end keeps it; the
// test makes and changes windows on another, and a third inspector that never
// watches gives the answers as read afresh.
struct Watch {
    Display* maker = nullptr;
    Display* watched = nullptr;
    Display* plain = nullptr;
    Window root = None;
    std::unique_ptr<WindowInspector> inspector;
    std::unique_ptr<WindowInspector> reference;

    bool open(const char* name = nullptr)
    {
        maker = XOpenDisplay(name);
        watched = XOpenDisplay(name);
        plain = XOpenDisplay(name);
        if (!maker || !watched || !plain)
            return false;
        platform::x11::watchDisplay(watched);
        platform::x11::watchDisplay(plain);
        root = DefaultRootWindow(maker);
        inspector = std::make_unique<WindowInspector>(watched);
        reference = std::make_unique<WindowInspector>(plain);
        return true;
    }

    ~Watch()
    {
        inspector.reset();
        reference.reset();
        for (Display* display : { watched, plain }) {
            if (display) {
                XCloseDisplay(display);
                platform::x11::unwatchDisplay(display);
            }
        }
        if (maker)
            XCloseDisplay(maker);
    }

    Atom atom(const char* name) const { return XInternAtom(maker, name, False); }

    Window makeWindow(const char* instance, const char* windowClass, const char* title)
    {
        const Window window = XCreateSimpleWindow(maker, root, 10, 10, 200, 100, 0, 0, 0);
        XClassHint hint { const_cast<char*>(instance), const_cast<char*>(windowClass) };
        XSetClassHint(maker, window, &hint);
        XStoreName(maker, window, "old name");
        setTitle(window, title);
        XMapWindow(maker, window);
        XSync(maker, False);
        return window;
    }

    void setTitle(Window window, const char* title)
    {
        XChangeProperty(maker, window, atom("_NET_WM_NAME"), atom("UTF8_STRING"), 8, PropModeReplace,
            reinterpret_cast<const unsigned char*>(title), int(std::strlen(title)));
        XSync(maker, False);
    }

    void setCardinal(Window window, const char* name, unsigned long value)
    {
        XChangeProperty(maker, window, atom(name), XA_CARDINAL, 32, PropModeReplace,
            reinterpret_cast<const unsigned char*>(&value), 1);
        XSync(maker, False);
    }

    void setActive(Window window)
    {
        const unsigned long value = window;
        XChangeProperty(maker, root, atom("_NET_ACTIVE_WINDOW"), XA_WINDOW, 32, PropModeReplace,
            reinterpret_cast<const unsigned char*>(&value), 1);
        XSync(maker, False);
    }

    void remove(Window window, const char* property)
    {
        XDeleteProperty(maker, window, atom(property));
        XSync(maker, False);
    }

    // Hands the inspector every event the server sent its connection so far,
    // as the back-end does at the start of each call. The round trip makes
    // sure the events of every change the test has synced are in.
    void deliver()
    {
        XSync(watched, False);
        while (XPending(watched) > 0) {
            XEvent event;
            XNextEvent(watched, &event);
            inspector->handle(event);
        }
    }

    // The same, but the events are lost on the way.
    void lose()
    {
        XSync(watched, False);
        while (XPending(watched) > 0) {
            XEvent event;
            XNextEvent(watched, &event);
        }
    }

    unsigned long requestsOf(const std::function<void()>& calls)
    {
        const unsigned long before = NextRequest(watched);
        calls();
        return NextRequest(watched) - before;
    }

    long eventMask(Window window)
    {
        XWindowAttributes attributes {};
        XGetWindowAttributes(watched, window, &attributes);
        return attributes.your_event_mask;
    }

    // Recognition's three questions, about `window` (the window in front
    // named by its test name).
    QString answers(WindowInspector& from, Window window, const std::map<Window, QString>& names)
    {
        const platform::WindowHandle front = from.foreground();
        const auto named = names.find(front);
        QString frontName = front == 0 ? QStringLiteral("none") : QString::number(front, 16);
        if (named != names.end())
            frontName = named->second;
        const platform::WindowTexts texts = from.texts(window);
        QString executable = QString::fromStdString(from.executable(window));
        if (executable == QFileInfo("/proc/self/exe").canonicalFilePath())
            executable = QStringLiteral("self");
        return QStringList { frontName, QString::fromStdString(texts.windowClass), QString::fromStdString(texts.title),
            executable }
            .join(QStringLiteral(" | "));
    }
};

using Change = std::function<void(Watch&, Window window, Window other)>;

} // namespace

Q_DECLARE_METATYPE(Change)

class TestWindowWatch : public QObject {
    Q_OBJECT

private slots:
    // Recognition asks 25 times a second about a window that rarely changes.
    void steadyWindowInFrontCostsNoRequest()
    {
        Watch t;
        QVERIFY(t.open());
        const Window window = t.makeWindow("steady", "Steady", "unchanged");
        const Window other = t.makeWindow("other", "Other", "other");
        t.setActive(window);
        const std::map<Window, QString> names { { window, "w" } };
        const QString expected = QStringLiteral("w | steady.Steady | unchanged | self");
        QCOMPARE(t.answers(*t.reference, window, names), expected);

        // Not watching: each answer is read again.
        QVERIFY(t.requestsOf([&] { t.answers(*t.inspector, window, names); }) >= 5);

        t.inspector->startWatching();
        QCOMPARE(t.answers(*t.inspector, window, names), expected);
        t.deliver();
        const unsigned long steady = t.requestsOf([&] {
            for (int cycle = 0; cycle < 25; ++cycle) {
                t.inspector->startWatching(); // every cycle starts it again
                QCOMPARE(t.answers(*t.inspector, window, names), expected);
            }
        });
        QCOMPARE(steady, 0ul);

        // A window asked about before stops being followed when another is.
        QCOMPARE(t.inspector->texts(other).title, std::string("other"));
        QCOMPARE(t.eventMask(window), 0L);

        // Stopped: no event is asked for any longer, so none piles up on the
        // connection, and every answer is read again.
        t.inspector->stopWatching();
        QCOMPARE(t.eventMask(t.root), 0L);
        QCOMPARE(t.eventMask(other), 0L);
        t.setTitle(other, "renamed");
        t.setActive(other);
        XSync(t.watched, False);
        QCOMPARE(XPending(t.watched), 0);
        QVERIFY(t.requestsOf([&] { t.answers(*t.inspector, window, names); }) >= 5);
        QCOMPARE(t.inspector->texts(other).title, std::string("renamed"));
    }

    // Each change another program makes shows in the very next answers, the
    // same as read afresh.
    void changesShowInTheNextAnswers_data()
    {
        QTest::addColumn<Change>("change");
        QTest::addColumn<QString>("expected");
        const auto add = [](const char* name, const char* expected, Change change) {
            QTest::newRow(name) << change << QString::fromUtf8(expected);
        };
        add("nothing", "w | cached.Cached | before | self", [](Watch&, Window, Window) {});
        add("title", "w | cached.Cached | after \xe2\x9c\x93 | self",
            [](Watch& t, Window w, Window) { t.setTitle(w, "after \xe2\x9c\x93"); });
        add("UTF-8 title removed: WM_NAME", "w | cached.Cached | old name | self",
            [](Watch& t, Window w, Window) { t.remove(w, "_NET_WM_NAME"); });
        add("WM_NAME renamed", "w | cached.Cached | Caf\xc3\xa9 | self", [](Watch& t, Window w, Window) {
            t.remove(w, "_NET_WM_NAME");
            t.deliver();
            t.inspector->texts(w);
            XStoreName(t.maker, w, "Caf\xe9");
            XSync(t.maker, False);
        });
        add("class", "w | changed.Changed | before | self", [](Watch& t, Window w, Window) {
            XClassHint hint { const_cast<char*>("changed"), const_cast<char*>("Changed") };
            XSetClassHint(t.maker, w, &hint);
            XSync(t.maker, False);
        });
        add("another window active", "other | cached.Cached | before | self",
            [](Watch& t, Window, Window other) { t.setActive(other); });
        add("active window removed, focus elsewhere", "other | cached.Cached | before | self",
            [](Watch& t, Window, Window other) {
                XSetInputFocus(t.maker, other, RevertToPointerRoot, CurrentTime);
                t.remove(t.root, "_NET_ACTIVE_WINDOW");
            });
        // Without a window manager the property still names the window.
        add("window destroyed", "w |  |  | ", [](Watch& t, Window w, Window) {
            XDestroyWindow(t.maker, w);
            XSync(t.maker, False);
        });
        add("renamed while another was asked about", "w | cached.Cached | after | self",
            [](Watch& t, Window w, Window other) {
                t.inspector->texts(other);
                t.inspector->executable(other);
                t.deliver();
                t.setTitle(w, "after");
            });
    }

    void changesShowInTheNextAnswers()
    {
        QFETCH(Change, change);
        QFETCH(QString, expected);
        Watch t;
        QVERIFY(t.open());
        const Window window = t.makeWindow("cached", "Cached", "before");
        const Window other = t.makeWindow("other", "Other", "other");
        t.setActive(window);
        const std::map<Window, QString> names { { window, "w" }, { other, "other" } };

        t.inspector->startWatching();
        t.answers(*t.inspector, window, names);
        t.deliver();
        // Kept: the change below is the only way to learn of it.
        QCOMPARE(t.requestsOf([&] { t.answers(*t.inspector, window, names); }), 0ul);

        change(t, window, other);
        t.deliver();
        QCOMPARE(t.answers(*t.inspector, window, names), expected);
        QCOMPARE(t.answers(*t.reference, window, names), expected);
    }

    // Without X-Resource the process comes from the window's own properties,
    // which may change.
    void processFromPropertiesFollowsTheirChanges()
    {
        PrivateServer server;
        QVERIFY(server.start({ "-screen", "0", "320x200x24", "-extension", "X-Resource" }));
        Watch t;
        QVERIFY(t.open(server.name.c_str()));
        QProcess sleeper;
        sleeper.start(QStringLiteral("sleep"), { QStringLiteral("60") });
        QVERIFY(sleeper.waitForStarted());
        const QString sleepPath = QFileInfo(QStringLiteral("/proc/%1/exe").arg(sleeper.processId())).symLinkTarget();

        const Window window = t.makeWindow("pid", "Pid", "pid");
        t.setCardinal(window, "_NET_WM_PID", static_cast<unsigned long>(getpid()));
        t.inspector->startWatching();
        QCOMPARE(t.inspector->texts(window).title, std::string("pid"));
        QCOMPARE(
            QString::fromStdString(t.inspector->executable(window)), QFileInfo("/proc/self/exe").canonicalFilePath());
        t.deliver();

        const QByteArray host = QSysInfo::machineHostName().toUtf8();
        const struct {
            std::function<void()> change;
            QString executable;
        } steps[] = {
            { [&] { t.setCardinal(window, "_NET_WM_PID", static_cast<unsigned long>(sleeper.processId())); },
                sleepPath },
            { [&] {
                 XChangeProperty(t.maker, window, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
                     reinterpret_cast<const unsigned char*>("some-other-machine"), 18);
                 XSync(t.maker, False);
             },
                QString() },
            { [&] {
                 XChangeProperty(t.maker, window, XA_WM_CLIENT_MACHINE, XA_STRING, 8, PropModeReplace,
                     reinterpret_cast<const unsigned char*>(host.constData()), host.size());
                 XSync(t.maker, False);
             },
                sleepPath },
            { [&] { t.remove(window, "_NET_WM_PID"); }, QString() },
        };
        for (const auto& step : steps) {
            step.change();
            t.deliver();
            QCOMPARE(QString::fromStdString(t.inspector->executable(window)), step.executable);
            QCOMPARE(QString::fromStdString(t.reference->executable(window)), step.executable);
        }
        sleeper.kill();
        sleeper.waitForFinished();
    }

    // Windows that are never kept: none, the root, one that is gone; asking
    // about them spoils nothing kept about the others.
    void windowsNeverKept()
    {
        Watch t;
        QVERIFY(t.open());
        const Window window = t.makeWindow("kept", "Kept", "kept");
        const Window other = t.makeWindow("other", "Other", "other");
        const Window gone = t.makeWindow("gone", "Gone", "gone");
        XDestroyWindow(t.maker, gone);
        t.setActive(window);
        const std::map<Window, QString> names { { window, "w" }, { other, "other" } };
        t.inspector->startWatching();
        for (const Window odd : { Window(0), t.root, gone, window }) {
            const platform::WindowTexts texts = t.inspector->texts(odd);
            const platform::WindowTexts read = t.reference->texts(odd);
            QCOMPARE(texts.windowClass, read.windowClass);
            QCOMPARE(texts.title, read.title);
            QCOMPARE(t.inspector->executable(odd), t.reference->executable(odd));
        }
        QCOMPARE(t.answers(*t.inspector, window, names), QStringLiteral("w | kept.Kept | kept | self"));
        t.deliver();
        t.setActive(other);
        t.setTitle(window, "renamed");
        t.deliver();
        QCOMPARE(t.answers(*t.inspector, window, names), QStringLiteral("other | kept.Kept | renamed | self"));
        QVERIFY(t.inspector->texts(gone).title.empty());
    }

    // An event that never arrives leaves a wrong answer for a moment only.
    void lostEventsAreMadeGoodSoon()
    {
        Watch t;
        QVERIFY(t.open());
        const Window window = t.makeWindow("lost", "Lost", "before");
        const Window other = t.makeWindow("other", "Other", "other");
        t.setActive(window);
        const std::map<Window, QString> names { { window, "w" }, { other, "other" } };
        t.inspector->startWatching();
        t.answers(*t.inspector, window, names);
        t.deliver();
        t.setTitle(window, "after");
        t.lose();
        QTRY_COMPARE(t.answers(*t.inspector, window, names), QStringLiteral("w | lost.Lost | after | self"));
        t.setActive(other);
        t.lose();
        QTRY_COMPARE(t.answers(*t.inspector, window, names), QStringLiteral("other | lost.Lost | after | self"));
    }
};

QTEST_GUILESS_MAIN(TestWindowWatch)
#include "test_window_watch.moc"
