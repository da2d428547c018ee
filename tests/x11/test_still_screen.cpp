// A still screen on X11: after a cycle's reads, the back-end is asked to tell
// of the next change, and tells of exactly those that change what the cycle
// reads: drawing in the captured rectangle (not elsewhere), pointer motion,
// another active window, a new title of the window in front, its end. On
// with-xvfb.sh's Xvfb (1600 x 900, no window manager: the test names the
// active window on the root itself), drawing and moving the pointer with a
// connection of its own, as any other program would.

#include <QProcess>
#include <QtTest>

#include "ScreenCanvas.h"
#include "platform/x11/X11Desktop.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstring>
#include <memory>
#include <vector>

using platform::Rect;
using platform::X11Desktop;

namespace {

const Rect kWatched { 100, 100, 500, 400 };
constexpr int kOutWidth = 200;
constexpr int kOutHeight = 150;

} // namespace

class TestStillScreen : public QObject, ScreenCanvas {
    Q_OBJECT

    Atom netActiveWindow = None;
    Atom netWmName = None;
    Atom utf8String = None;
    std::unique_ptr<X11Desktop> desktop;
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(std::size_t(kOutWidth) * kOutHeight * 4);
    int told = 0;

    Window clientWindow(const char* instanceAndClass, std::size_t length, const char* title)
    {
        const Window window = XCreateSimpleWindow(display, root, 1200, 600, 100, 100, 0, 0, 0x808080);
        XChangeProperty(display, window, XA_WM_CLASS, XA_STRING, 8, PropModeReplace,
            reinterpret_cast<const unsigned char*>(instanceAndClass), int(length));
        setTitle(window, title);
        return window;
    }

    void setTitle(Window window, const char* title)
    {
        XChangeProperty(display, window, netWmName, utf8String, 8, PropModeReplace,
            reinterpret_cast<const unsigned char*>(title), int(std::strlen(title)));
        XSync(display, False);
    }

    void makeActive(Window window)
    {
        XChangeProperty(display, root, netActiveWindow, XA_WINDOW, 32, PropModeReplace,
            reinterpret_cast<const unsigned char*>(&window), 1);
        XSync(display, False);
    }

    // What the cycle reads, twice (the first read of a rectangle starts the
    // watching, the second finds it unchanged), then the request.
    bool cycleThenWatch()
    {
        for (int i = 0; i < 2; ++i) {
            if (!desktop->unchangedSinceLastCopy(kWatched, kOutWidth, kOutHeight))
                desktop->copy(kWatched, kOutWidth, kOutHeight, bytes.data());
            desktop->pointer();
            const platform::WindowHandle front = desktop->foreground();
            desktop->texts(front);
            desktop->executable(front);
        }
        told = 0;
        return desktop->watchForChange([this] { ++told; });
    }

    // Nothing told for a fifth of a second: events come back well within that.
    bool staysQuiet()
    {
        QTest::qWait(200);
        return told == 0;
    }

    bool toldOnce()
    {
        QElapsedTimer waited;
        waited.start();
        while (told == 0 && waited.elapsed() < 2000)
            QTest::qWait(10);
        QTest::qWait(100); // and no more than once
        return told == 1;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(openCanvas(), "no X display");
        netActiveWindow = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
        netWmName = XInternAtom(display, "_NET_WM_NAME", False);
        utf8String = XInternAtom(display, "UTF8_STRING", False);
        desktop = std::make_unique<X11Desktop>();
        QVERIFY(desktop->connected());
    }

    void cleanupTestCase()
    {
        desktop.reset();
        closeCanvas();
    }

    void cleanup()
    {
        desktop->stopWatchingForChange();
        desktop->releaseCapture();
    }

    // Without _NET_ACTIVE_WINDOW the window in front is the focus, whose
    // changes make no event the back-end watches: it cannot rest.
    void withoutTheActiveWindowNamedItCannotWatch()
    {
        XDeleteProperty(display, root, netActiveWindow);
        XSync(display, False);
        QVERIFY(!cycleThenWatch());
    }

    // Fault guarded: a rest that never ends while the captured rectangle
    // changes, or one that drawing anywhere else keeps breaking.
    void drawingInTheRectangleTellsDrawingElsewhereDoesNot()
    {
        const Window editor = clientWindow("editor\0Editor", 14, "notes");
        makeActive(editor);
        QVERIFY(cycleThenWatch());
        QVERIFY(staysQuiet());
        fill(600, 500, 100, 100, 0xff0000); // outside, beside the corner
        fill(1000, 50, 100, 100, 0x00ff00);
        QVERIFY(staysQuiet());
        fill(498, 398, 2, 2, 0xffffff); // inside
        QVERIFY(toldOnce());

        // Asked again after a cycle: quiet until the next change.
        QVERIFY(cycleThenWatch());
        QVERIFY(staysQuiet());
        fill(300, 300, 10, 10, 0x00ffff);
        QVERIFY(toldOnce());

        // A withdrawn request is never answered.
        QVERIFY(cycleThenWatch());
        desktop->stopWatchingForChange();
        fill(300, 300, 10, 10, 0xff00ff);
        QVERIFY(staysQuiet());
        XDestroyWindow(display, editor);
    }

    // Pointer motion of a device anywhere (xdotool moves it through XTEST,
    // as a mouse does) tells.
    void pointerMotionTells()
    {
        const Window editor = clientWindow("editor\0Editor", 14, "notes");
        makeActive(editor);
        QVERIFY(cycleThenWatch());
        QVERIFY(staysQuiet());
        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), { "mousemove_relative", "--", "5", "5" }), 0);
        QVERIFY(toldOnce());
        XDestroyWindow(display, editor);
    }

    // Another active window, a new title of the one in front, and its end tell;
    // the end of the watched window costs the program nothing.
    void theWindowInFrontTells()
    {
        const Window editor = clientWindow("editor\0Editor", 14, "notes");
        const Window browser = clientWindow("Navigator\0firefox", 18, "news");
        makeActive(editor);
        QVERIFY(cycleThenWatch());
        QVERIFY(staysQuiet());
        setTitle(browser, "other news"); // not the window in front
        QVERIFY(staysQuiet());
        makeActive(browser);
        QVERIFY(toldOnce());

        QVERIFY(cycleThenWatch());
        QCOMPARE(desktop->texts(desktop->foreground()).title, std::string("other news"));
        QVERIFY(cycleThenWatch());
        QVERIFY(staysQuiet());
        setTitle(browser, "more news");
        QVERIFY(toldOnce());
        QVERIFY(cycleThenWatch());
        QCOMPARE(desktop->texts(desktop->foreground()).title, std::string("more news"));

        XDestroyWindow(display, browser); // still named active: no window manager
        XSync(display, False);
        QVERIFY(toldOnce());
        // The cycle reads a window that is gone (trapped errors), and the
        // request after it waits quietly.
        QVERIFY(cycleThenWatch());
        QCOMPARE(desktop->texts(desktop->foreground()).title, std::string());
        QVERIFY(cycleThenWatch());
        QVERIFY(staysQuiet());
        makeActive(editor);
        QVERIFY(toldOnce());
        XDestroyWindow(display, editor);
    }
};

QTEST_MAIN(TestStillScreen)
#include "test_still_screen.moc"
