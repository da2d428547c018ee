// Two device pixels per logical pixel (QT_SCALE_FACTOR=2): capture, marker,
// region selection, preview and sample land on the screen pixels shown.
// Screen 1600 x 900 (800 x 450 logical); blue at x 100..299, green at
// 300..499, y 100..299; "Unknown" captures 400 x 200 of them one to one.

#include "x11/EndToEnd.h"

#include "capture/QClickLabel.h"
#include "capture/QSelectLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "shell/MainWindow.h"

#include <QClipboard>
#include <QLabel>
#include <QScreen>

#include <X11/Xlib.h>

struct HiDpiTag;
template <> struct MainWindowProbe<HiDpiTag> {
    static const cv::Mat& frame(MainWindow& w) { return w.frameImage; }
    static const cv::Mat& scope(MainWindow& w) { return w.scopeImage; }
    static QSelectRegionWindow* regionWindow(MainWindow& w) { return w.regionWindow.data(); }
    static QClickLabel* sample(MainWindow& w) { return w.sampleLabel.get(); }
};
using Probe = MainWindowProbe<HiDpiTag>;

namespace {

// QApplication reads the scale factor once, when it starts.
const bool scaleFactorSet = [] { return qputenv("QT_SCALE_FACTOR", "2"); }();

const cv::Vec4b kBlue(255, 0, 0, 255); // B, G, R, A
const cv::Vec4b kGreen(0, 255, 0, 255);
const cv::Vec3b kMarkerRed(255, 0, 0); // R, G, B

// grab() renders at the device pixel ratio: logical (x, y) is device (2x, 2y).
QRgb shownPixel(QWidget* widget, int deviceX, int deviceY)
{
    return widget->grab().toImage().pixel(deviceX, deviceY);
}

} // namespace

class HiDpiTest : public QObject {
    Q_OBJECT

    Display* display = XOpenDisplay(nullptr);
    std::unique_ptr<MainWindow> w;

    void addWindow(int x, unsigned long rgb)
    {
        XSetWindowAttributes attributes {};
        attributes.background_pixel = rgb;
        attributes.override_redirect = True;
        XMapRaised(display,
            XCreateWindow(display, DefaultRootWindow(display), x, 100, 200, 200, 0, CopyFromParent, InputOutput,
                CopyFromParent, CWBackPixel | CWOverrideRedirect, &attributes));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(scaleFactorSet && display);
        addWindow(100, 0x0000ff);
        addWindow(300, 0x00ff00);
        XSync(display, False);
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
        QCOMPARE(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 800, 450));
    }
    void cleanupTestCase() { XCloseDisplay(display); }

    void init()
    {
        testSandbox().writeConfig("[General]\nwindow_size=400\nUnknown=0|100|100|500|300\n");
        w = std::make_unique<MainWindow>(nullptr, false, 0);
        w->move(450, 0); // logical: screen x 900 on, clear of the coloured windows
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }
    void cleanup() { w.reset(); }

    void captureMarkerAndPreviewUseScreenPixels()
    {
        // Screen (350, 200) is green; half of it, (175, 100), would be blue.
        XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, 350, 200);
        XSync(display, False);
        w->updateScreen();
        const cv::Mat& frame = Probe::frame(*w);
        QCOMPARE(frame.size(), cv::Size(400, 200));
        QCOMPARE(frame.at<cv::Vec4b>(100, 199), kBlue);
        QCOMPARE(frame.at<cv::Vec4b>(100, 200), kGreen);
        QCOMPARE(frame.at<cv::Vec4b>(199, 399), kGreen);

        // The marker on green (hue 120): (200 - 150 sin 120, 200 - 150 cos 120)
        // = (70.1, 275), arm 6 pixels right.
        QCOMPARE(Probe::scope(*w).at<cv::Vec3b>(275, 70), kMarkerRed);
        QCOMPARE(Probe::scope(*w).at<cv::Vec3b>(275, 76), kMarkerRed);

        // Frame column i shows on logical column i, device columns 2i and 2i + 1.
        auto* preview = w->findChild<QLabel*>(QStringLiteral("previewLabel"));
        const QPixmap previewPicture = preview->pixmap(Qt::ReturnByValue);
        QCOMPARE(previewPicture.size() / previewPicture.devicePixelRatio(), QSize(400, 200));
        QCOMPARE(shownPixel(preview, 2 * 199 + 1, 2 * 100), qRgb(0, 0, 255));
        QCOMPARE(shownPixel(preview, 2 * 200, 2 * 100), qRgb(0, 255, 0));
    }

    void regionSelectionStoresTheScreenPixelsShown()
    {
        w->selectRegion();
        QVERIFY(Probe::regionWindow(*w));
        auto* label = Probe::regionWindow(*w)->findChild<QSelectLabel*>();
        // The screenshot is 1200 x 675 device pixels: logical (75, 75) shows screen (200, 200).
        QCOMPARE(label->pixmap(Qt::ReturnByValue).size(), QSize(1200, 675));
        QCOMPARE(shownPixel(label, 150, 150), qRgb(0, 0, 255));
        QCOMPARE(shownPixel(label, 2 * 140, 150), qRgb(0, 255, 0)); // screen (373, 200)

        // A drag from logical (60, 30) to (210, 105), 151 x 76 logical pixels:
        // x 60 * 2 / 0.75 = 160, y 80, width trunc(151 * 2 / 0.75) = 402,
        // height trunc(76 * 2 / 0.75) = 202, so right 561 and bottom 281.
        QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(60, 30));
        QTest::mouseMove(label, QPoint(210, 105));
        QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(210, 105));
        QCoreApplication::processEvents();
        QCOMPARE(e2e::valueOnDisk("Unknown"), QStringLiteral("0|160|80|561|281"));

        // 401 screen columns scaled to 400: blue ends at screen x 299.
        w->updateScreen();
        QCOMPARE(Probe::frame(*w).at<cv::Vec4b>(100, 0), kBlue);
        QCOMPARE(Probe::frame(*w).at<cv::Vec4b>(100, 137), kBlue);
        QCOMPARE(Probe::frame(*w).at<cv::Vec4b>(100, 142), kGreen);
    }

    // Guards a sample shown at twice its size: it covers the screen and no
    // more, and a click copies the screen pixel under the pointer.
    void sampleShowsAndCopiesScreenPixels()
    {
        w->startSampleColor();
        QClickLabel* sample = Probe::sample(*w);
        QVERIFY(QTest::qWaitForWindowExposed(sample));
        QCOMPARE(sample->geometry(), QRect(0, 0, 800, 450));
        QTest::mouseClick(sample, Qt::LeftButton, Qt::NoModifier, QPoint(175, 100)); // screen (350, 200)
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("#00ff00"));
        QVERIFY(w->isVisible());
    }
};

QTEST_MAIN(HiDpiTest)
#include "test_hidpi.moc"
