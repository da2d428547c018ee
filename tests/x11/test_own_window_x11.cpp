// The tool window over a grey screen, captured whole, on with-xvfb.sh's
// Xvfb (1600 x 900, no window manager): the X server says where the window
// is, and the vectorscope plots the grey alone, not the window's own wheel.

#include "x11/EndToEnd.h"
#include "support/ScopePictures.h"

#include "platform/Desktop.h"
#include "shell/MainWindow.h"

#include <X11/Xlib.h>

#include <memory>

struct OwnWindowX11Tag;
template <> struct MainWindowProbe<OwnWindowX11Tag> {
    static const cv::Mat& scopeCache(MainWindow& w) { return w.scopeCache; }
    static const cv::Mat& wheel(MainWindow& w) { return w.backgroundImage; }
    static const cv::Mat& frame(MainWindow& w) { return w.frameImage; }
    static const cv::Mat& capture(MainWindow& w) { return w.captureImage; }
};
using Probe = MainWindowProbe<OwnWindowX11Tag>;

namespace {


} // namespace

class TestOwnWindowX11 : public QObject {
    Q_OBJECT

    Display* display = XOpenDisplay(nullptr);

private slots:
    void initTestCase()
    {
        QVERIFY(display);
        // The grey screen: a window over all of it, under the tool window.
        XSetWindowAttributes attributes {};
        attributes.background_pixel = 0x808080;
        attributes.override_redirect = True;
        XMapRaised(display,
            XCreateWindow(display, DefaultRootWindow(display), 0, 0, 1600, 900, 0, CopyFromParent, InputOutput,
                CopyFromParent, CWBackPixel | CWOverrideRedirect, &attributes));
        XSync(display, False);
    }
    void cleanupTestCase() { XCloseDisplay(display); }

    void theToolWindowIsNotMeasured()
    {
        testSandbox().writeConfig("[General]\nwindow_size=400\n"); // no region: the whole monitor
        auto w = std::make_unique<MainWindow>(nullptr, false, 0);
        w->move(400, 200);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, 1500, 850); // off the window
        XSync(display, False);
        // A few cycles, so that the window has painted its scope, and the
        // capture shows it.
        for (int i = 0; i < 4; ++i) {
            w->updateScreen();
            QTest::qWait(100);
        }

        platform::Rect frame;
        QVERIFY(platform::desktop().windowFrame(static_cast<platform::WindowHandle>(w->winId()), frame));
        QCOMPARE(frame.left, 400);
        QCOMPARE(frame.top, 200);
        QCOMPARE(frame.width(), w->frameGeometry().width());
        QCOMPARE(frame.height(), w->frameGeometry().height());

        // The capture holds the tool window (its scope is not grey), yet the
        // plot is the grey screen's: the centre cell and its smoothing.
        const cv::Rect inFrame(100, 50, frame.width() / 4, frame.height() / 4);
        const cv::Mat window = Probe::capture(*w)(inFrame);
        QVERIFY(
            cv::norm(window, cv::Mat(window.size(), window.type(), cv::Scalar(128, 128, 128, 255)), cv::NORM_INF) > 60);
        QCOMPARE(farthestLitCell(Probe::scopeCache(*w), Probe::wheel(*w)), 1);

        // The preview shows the window's area darkened, the grey beside it as it is.
        const cv::Vec4b c = Probe::capture(*w).at<cv::Vec4b>(inFrame.y + 10, inFrame.x + 10);
        QCOMPARE(Probe::frame(*w).at<cv::Vec4b>(inFrame.y + 10, inFrame.x + 10),
            cv::Vec4b(c[0] / 4, c[1] / 4, c[2] / 4, 255));
        QCOMPARE(Probe::frame(*w).at<cv::Vec4b>(inFrame.y + 10, inFrame.x - 2), cv::Vec4b(128, 128, 128, 255));

        // Its place is kept between cycles, and forgotten as soon as the
        // server tells of a change: moved by another client, hidden, shown.
        const auto handle = static_cast<platform::WindowHandle>(w->winId());
        XMoveWindow(display, static_cast<Window>(w->winId()), 520, 260);
        XSync(display, False);
        QTRY_VERIFY(platform::desktop().windowFrame(handle, frame) && frame.left == 520 && frame.top == 260);
        w->hide();
        QTRY_VERIFY(!platform::desktop().windowFrame(handle, frame));
        w->show();
        QTRY_VERIFY(platform::desktop().windowFrame(handle, frame));
        w->hide();
        QTRY_VERIFY(!platform::desktop().windowFrame(handle, frame));
    }
};

QTEST_MAIN(TestOwnWindowX11)
#include "test_own_window_x11.moc"
