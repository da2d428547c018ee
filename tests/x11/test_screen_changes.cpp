// What the X11 back-end learns from events while capturing instead of
// asking every cycle: whether a repeated capture would give the last copy's
// bytes, and whether the pointer may have moved. On with-xvfb.sh's Xvfb
// (1600 x 900, no window manager); the test draws and moves the pointer
// with a connection of its own, as any other program would.

#include <QProcess>
#include <QtTest>

#include "ScreenCanvas.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/X11Pointer.h"

#include <X11/Xlib.h>

#include <memory>
#include <vector>

using platform::Rect;
using platform::X11Desktop;

namespace {

const Rect kWatched { 100, 100, 500, 400 };
constexpr int kOutWidth = 200;
constexpr int kOutHeight = 150;

std::vector<std::uint8_t> copyOf(X11Desktop& desktop, const Rect& source = kWatched)
{
    std::vector<std::uint8_t> bytes(std::size_t(kOutWidth) * kOutHeight * 4);
    desktop.copy(source, kOutWidth, kOutHeight, bytes.data());
    return bytes;
}

} // namespace

class TestScreenChanges : public QObject, ScreenCanvas {
    Q_OBJECT

    std::unique_ptr<X11Desktop> desktop;

    bool unchanged(const Rect& source = kWatched, int width = kOutWidth, int height = kOutHeight)
    {
        return desktop->unchangedSinceLastCopy(source, width, height);
    }

    // Events take their time to come back: what was drawn shows within a
    // second, and an answer that stays true for a tenth of a second after
    // drawing elsewhere did not just come early.
    bool staysUnchanged()
    {
        for (int i = 0; i < 10; ++i) {
            if (!unchanged())
                return false;
            QTest::qWait(10);
        }
        return true;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(openCanvas(), "no X display");
        desktop = std::make_unique<X11Desktop>();
        QVERIFY(desktop->connected());
    }

    void cleanupTestCase()
    {
        desktop.reset();
        closeCanvas();
    }

    // Fault guarded: a capture skipped while something was drawn in the
    // rectangle (by any window, on top or below) shows an old picture, and
    // one whose size or place changed shows another picture altogether.
    void onlyNothingDrawnThereKeepsTheCopy()
    {
        const std::vector<std::uint8_t> first = copyOf(*desktop);
        QVERIFY(!unchanged()); // not watching before: the first question starts it
        copyOf(*desktop);
        QVERIFY(staysUnchanged());
        QVERIFY(copyOf(*desktop) == first);
        QVERIFY(unchanged());

        fill(600, 500, 100, 100, 0xff0000); // elsewhere
        fill(1000, 50, 100, 100, 0x00ff00);
        fill(500, 400, 10, 10, 0x0000ff); // touching the corner from outside
        QVERIFY(staysUnchanged());

        fill(498, 398, 2, 2, 0xffffff); // the bottom right corner, inside
        QTRY_VERIFY_WITH_TIMEOUT(!unchanged(), 1000);
        QVERIFY(!unchanged()); // until copied again
        QVERIFY(copyOf(*desktop) != first);
        QVERIFY(staysUnchanged());

        // Drawing on both sides of it reads as drawing in it, once.
        fill(0, 0, 10, 10, 0x00ff00);
        fill(600, 500, 10, 10, 0x00ff00);
        QTRY_VERIFY_WITH_TIMEOUT(!unchanged(), 1000);
        copyOf(*desktop);
        QVERIFY(staysUnchanged());

        QVERIFY(!unchanged({ 100, 100, 500, 401 }));
        QVERIFY(!unchanged(kWatched, kOutWidth + 1, kOutHeight));
        copyOf(*desktop, { 0, 0, 400, 300 });
        QVERIFY(!unchanged()); // the last copy was of another rectangle
        copyOf(*desktop);
        QVERIFY(staysUnchanged());

        // Another program's window appears over the rectangle, and draws.
        const Window window = XCreateSimpleWindow(display, root, 300, 300, 50, 50, 0, 0, 0xc0c0c0);
        XMapRaised(display, window);
        XSync(display, False);
        QTRY_VERIFY_WITH_TIMEOUT(!unchanged(), 1000);
        copyOf(*desktop);
        QVERIFY(staysUnchanged());
        XDestroyWindow(display, window); // what was below shows again
        XSync(display, False);
        QTRY_VERIFY_WITH_TIMEOUT(!unchanged(), 1000);
    }

    // Fault guarded: after capturing stopped, drawing went unseen (nothing
    // reads the events then), and a later cycle kept a picture from before.
    void stoppingForgetsTheCopy()
    {
        copyOf(*desktop);
        unchanged();
        copyOf(*desktop);
        QVERIFY(unchanged());
        desktop->releaseCapture();
        fill(200, 200, 10, 10, 0x123456);
        QTest::qWait(50);
        QVERIFY(!unchanged());
        copyOf(*desktop);
        QVERIFY(staysUnchanged());
    }

    // Fault guarded: a pointer answered from memory while it moved. Device
    // movements (here xdotool's relative moves, which go through XTEST like
    // a real mouse) are seen at once, even while the clock stands still;
    // warps make no event and are seen once the answer is old enough.
    void pointerIsAskedAgainOnlyAfterItMayHaveMoved()
    {
        using platform::x11::PointerWatch;
        Display* own = XOpenDisplay(nullptr);
        QVERIFY(own != nullptr);
        PointerWatch watch(own);
        const auto readEvents = [&] {
            while (XEventsQueued(own, QueuedAfterReading) > 0) {
                XEvent event;
                XNextEvent(own, &event);
                watch.handle(event);
            }
        };
        const auto warp = [&](int x, int y) {
            XWarpPointer(display, None, root, 0, 0, 0, 0, x, y);
            XSync(display, False);
        };
        const auto at = [&](PointerWatch::Clock::time_point when) {
            readEvents();
            platform::Point p;
            watch.position(p, when);
            return QPoint(p.x, p.y);
        };
        const auto t0 = PointerWatch::Clock::now();

        warp(100, 100);
        QCOMPARE(at(t0), QPoint(100, 100)); // not watching: always asked
        warp(120, 100);
        QCOMPARE(at(t0), QPoint(120, 100));

        watch.start();
        QCOMPARE(at(t0), QPoint(120, 100));
        warp(200, 200);
        QTest::qWait(50);
        QCOMPARE(at(t0), QPoint(120, 100)); // kept: nothing moved that it could see
        QCOMPARE(at(t0 + PointerWatch::kRecheck), QPoint(200, 200));

        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), { "mousemove_relative", "--", "7", "-3" }), 0);
        QTRY_COMPARE(at(t0 + PointerWatch::kRecheck), QPoint(207, 197));

        watch.stop();
        warp(50, 60);
        QCOMPARE(at(t0 + PointerWatch::kRecheck), QPoint(50, 60));
        XCloseDisplay(own);
    }
};

QTEST_MAIN(TestScreenChanges)
#include "test_screen_changes.moc"
