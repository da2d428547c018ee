// The tool window over a grey screen on the headless Wayland desktop of
// with-sway.sh, the whole monitor shared through the portal. On XWayland
// (QT_QPA_PLATFORM=xcb, STACK_XWAYLAND=1) XWayland says where the window
// is, wherever sway puts it, and the vectorscope plots the grey alone, not
// the window's own wheel. On native Wayland (QT_QPA_PLATFORM=wayland) the
// window cannot know its place, and nothing of the screen is left out.
// TEST_OUTPUT_SCALE=2 (with STACK_OUTPUT=2560x1440) scales the output first:
// XWayland then sees a monitor half the size of the shared stream.
#include "support/ScopePictures.h"
#include "support/TestSupport.h"
#include "wayland/WaylandEndToEnd.h"

#include "platform/Desktop.h"
#include "platform/wayland/WaylandDesktop.h"
#include "platform/wayland/XWaylandFrames.h"
#include "shell/MainWindow.h"

#include <QGuiApplication>

#include <memory>

struct OwnWindowXWaylandTag;
template <> struct MainWindowProbe<OwnWindowXWaylandTag> {
    static const cv::Mat& scopeCache(MainWindow& w) { return w.scopeCache; }
    static const cv::Mat& wheel(MainWindow& w) { return w.backgroundImage; }
    static const cv::Mat& frame(MainWindow& w) { return w.frameImage; }
    static const cv::Mat& capture(MainWindow& w) { return w.captureImage; }
};
using Probe = MainWindowProbe<OwnWindowXWaylandTag>;
using namespace wayland_e2e;

namespace {

using platform::Rect;
using platform::wayland::XWaylandFrames;

// sway's output scale: desktop pixels per pixel of sway's layout (and XWayland's).
int outputScale()
{
    return std::max(1, qEnvironmentVariableIntValue("TEST_OUTPUT_SCALE"));
}


// The place sway gives the window titled `title`, in desktop pixels.
QRect swayRect(const QJsonObject& node, const QString& title)
{
    if (node.value("name").toString() == title && node.value("type").toString().endsWith("con")) {
        const QJsonObject r = node.value("rect").toObject();
        return QRect(r.value("x").toInt(), r.value("y").toInt(), r.value("width").toInt(), r.value("height").toInt());
    }
    for (const char* children : { "nodes", "floating_nodes" })
        for (const QJsonValue child : node.value(children).toArray())
            if (const QRect found = swayRect(child.toObject(), title); !found.isEmpty())
                return found;
    return {};
}

QRect swayRect(const QString& title)
{
    return swayRect(QJsonDocument::fromJson(run({ "swaymsg", "-t", "get_tree" }).toUtf8()).object(), title);
}

// Sway's place for a window, in the pixels of the shared monitor.
Rect toRect(const QRect& r)
{
    const int s = outputScale();
    return Rect { r.left() * s, r.top() * s, (r.left() + r.width()) * s, (r.top() + r.height()) * s };
}

// Waits until sway has kept the window titled `title` in one place at one
// size for half a second: the window fits itself to the first frames, and
// the shared stream shows a change a frame or so after XWayland tells it.
bool settled(const QString& title)
{
    QRect last;
    int still = 0;
    return QTest::qWaitFor(
        [&] {
            const QRect now = swayRect(title);
            still = now == last && !now.isEmpty() ? still + 1 : 0;
            last = now;
            QTest::qWait(100);
            return still >= 5;
        },
        10000);
}

// A few cycles, so that the window has painted its scope and the capture shows it.
void cycle(MainWindow& w)
{
    for (int i = 0; i < 5; ++i) {
        w.updateScreen();
        QTest::qWait(100);
    }
}

// Cycles until the window stays put through them (it fits itself to its
// first frames, and may move then), then once more after a pause, so that
// the last capture shows it where it is.
bool cycleAtRest(MainWindow& w, const QString& title)
{
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!settled(title))
            return false;
        const QRect before = swayRect(title);
        cycle(w);
        if (swayRect(title) == before) {
            QTest::qWait(300);
            cycle(w);
            return swayRect(title) == before;
        }
    }
    return false;
}

bool placed(MainWindow& w, platform::Rect& frame)
{
    return platform::desktop().windowFrame(static_cast<platform::WindowHandle>(w.winId()), frame);
}

} // namespace

class TestOwnWindowXWayland : public QObject {
    Q_OBJECT

    QProcess terminal;

private slots:
    void initTestCase()
    {
        QVERIFY2(!stackDir().isEmpty(), "run through tests/wayland/with-sway.sh");
        // The screen shared through the portal, not read from XWayland.
        QVERIFY(dynamic_cast<platform::WaylandDesktop*>(&platform::desktop()));
        if (outputScale() != 1)
            run({ "swaymsg", "output HEADLESS-1 scale " + QString::number(outputScale()) });
        // The grey screen: a terminal filling the output, its text and
        // cursor grey too.
        terminal.setWorkingDirectory("/");
        terminal.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        terminal.start("setpriv",
            { "--reuid=65534", "--regid=65534", "--clear-groups", "foot", "--app-id=test-app", "--title=Grey", "-o",
                "colors.background=808080", "-o", "colors.foreground=808080", "-o", "cursor.color=808080 808080",
                "sleep", "600" });
        QVERIFY(QTest::qWaitFor([] { return !windowRect("test-app").isEmpty(); }, 10000));
        platform::desktop().requestCapture({}, [] {});
        QVERIFY2(QTest::qWaitFor([] { return platform::desktop().captureAccess().granted; }, 20000),
            platform::desktop().captureAccess().message.c_str());
        QVERIFY(QTest::qWaitFor([] { return !platform::desktop().monitors().empty(); }, 10000));
    }
    void cleanupTestCase()
    {
        terminal.kill();
        terminal.waitForFinished();
    }

    void theToolWindowIsNotMeasured()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            QSKIP("the tool window on XWayland: QT_QPA_PLATFORM=xcb");
        testSandbox().writeConfig("[General]\nwindow_size=400\n"); // no region: the whole monitor
        auto w = std::make_unique<MainWindow>(nullptr, false, 0);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const QString title = w->windowTitle();
        QVERIFY(cycleAtRest(*w, title));
        run({ "swaymsg", "[title=\"^" + QRegularExpression::escape(title) + "$\"] move absolute position 300 40" });
        QVERIFY(QTest::qWaitFor([&] { return swayRect(title).topLeft() == QPoint(300, 40); }, 5000));
        QVERIFY(cycleAtRest(*w, title));

        // Where sway shows it, in the pixels of the shared monitor.
        platform::Rect frame;
        QVERIFY(placed(*w, frame));
        QCOMPARE(frame, toRect(swayRect(title)));

        // The capture holds the tool window (its scope is not grey), yet the
        // plot is the grey screen's: the centre cell and its smoothing.
        const platform::Rect monitor = platform::desktop().monitors().front();
        const double scale = double(Probe::capture(*w).cols) / monitor.width();
        const cv::Rect inFrame(int(frame.left * scale), int(frame.top * scale), int(frame.width() * scale / 4),
            int(frame.height() * scale / 4));
        const cv::Mat window = Probe::capture(*w)(inFrame);
        QVERIFY(
            cv::norm(window, cv::Mat(window.size(), window.type(), cv::Scalar(128, 128, 128, 255)), cv::NORM_INF) > 60);
        QCOMPARE(farthestLitCell(Probe::scopeCache(*w), Probe::wheel(*w)), 1);

        // The preview shows the window's area darkened, the grey beside it as it is.
        const cv::Vec4b c = Probe::capture(*w).at<cv::Vec4b>(inFrame.y + 10, inFrame.x + 10);
        QCOMPARE(Probe::frame(*w).at<cv::Vec4b>(inFrame.y + 10, inFrame.x + 10),
            cv::Vec4b(c[0] / 4, c[1] / 4, c[2] / 4, 255));
        QCOMPARE(Probe::frame(*w).at<cv::Vec4b>(inFrame.y + 10, inFrame.x - 2), cv::Vec4b(128, 128, 128, 255));

        // Moved by the desktop, it is found where it went: what was kept
        // of its place is no longer trusted once XWayland says it moved.
        run({ "swaymsg", "[title=\"^" + QRegularExpression::escape(title) + "$\"] move absolute position 700 100" });
        QVERIFY(QTest::qWaitFor([&] { return swayRect(title).topLeft() == QPoint(700, 100); }, 5000));
        QVERIFY(cycleAtRest(*w, title));
        const Rect before = frame;
        QVERIFY(placed(*w, frame));
        QCOMPARE(frame, toRect(swayRect(title)));
        QVERIFY(!(frame == before));
        QCOMPARE(farthestLitCell(Probe::scopeCache(*w), Probe::wheel(*w)), 1);

        // Hidden, it is no window of the screen.
        w->hide();
        QVERIFY(QTest::qWaitFor([&] { return !placed(*w, frame); }, 5000));
    }

    // When XWayland's root pixels are the shared monitor's, and when they
    // cannot be told apart from another layout.
    void monitorsLineUp()
    {
        XWaylandFrames::Mapping m;
        const Rect left { 0, 0, 1920, 1080 };
        const Rect right { 1920, 0, 3200, 1024 };
        // The same monitors in another order: nothing moves.
        QVERIFY(XWaylandFrames::lineUp({ left, right }, { right, left }, m));
        QCOMPARE(m.map(Rect { 2000, 10, 2400, 610 }), (Rect { 2000, 10, 2400, 610 }));
        // One monitor each, scaled alike: scaled, rounded outwards (1.5).
        QVERIFY(XWaylandFrames::lineUp({ Rect { 0, 0, 2560, 1440 } }, { Rect { 0, 0, 1707, 960 } }, m));
        QCOMPARE(m.map(Rect { 1, 1, 101, 11 }), (Rect { 1, 1, 152, 17 }));
        QVERIFY(XWaylandFrames::lineUp({ Rect { 0, 0, 2560, 1440 } }, { Rect { 0, 0, 1280, 720 } }, m));
        QCOMPARE(m.map(Rect { 300, 40, 700, 640 }), (Rect { 600, 80, 1400, 1280 }));
        // Not scaled alike, another monitor elsewhere, monitors scaled
        // (which is which?), a count that differs, nothing shared yet.
        QVERIFY(!XWaylandFrames::lineUp({ Rect { 0, 0, 2560, 1440 } }, { Rect { 0, 0, 1280, 1024 } }, m));
        QVERIFY(!XWaylandFrames::lineUp({ left, right }, { left, Rect { 1920, 56, 3200, 1080 } }, m));
        QVERIFY(!XWaylandFrames::lineUp({ Rect { 0, 0, 3840, 2160 }, Rect { 3840, 0, 7680, 2160 } },
            { Rect { 0, 0, 1920, 1080 }, Rect { 1920, 0, 3840, 1080 } }, m));
        QVERIFY(!XWaylandFrames::lineUp({ left }, { left, right }, m));
        QVERIFY(!XWaylandFrames::lineUp({}, {}, m));
    }

    // A native Wayland window never learns its place: nothing is left out,
    // and the preview is the capture as it came.
    void aNativeWaylandWindowLeavesNothingOut()
    {
        if (QGuiApplication::platformName() != QLatin1String("wayland"))
            QSKIP("the tool window on native Wayland: QT_QPA_PLATFORM=wayland");
        testSandbox().writeConfig("[General]\nwindow_size=400\n");
        auto w = std::make_unique<MainWindow>(nullptr, false, 0);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QVERIFY(settled(w->windowTitle()));
        cycle(*w);
        platform::Rect frame;
        QVERIFY(!placed(*w, frame));
        QCOMPARE(cv::norm(Probe::frame(*w), Probe::capture(*w), cv::NORM_INF), 0.0);
        // The capture holds the window, and the scope measures it.
        QVERIFY(farthestLitCell(Probe::scopeCache(*w), Probe::wheel(*w)) > 1);
    }
};

QTEST_MAIN(TestOwnWindowXWayland)
#include "test_own_window_xwayland.moc"
