// Two device pixels per logical pixel (QT_SCALE_FACTOR=2) on a real X server:
// the capture, the pointer marker, the region selection, the preview, the
// plot and the screen sample must all land on the screen pixels the user
// sees. The X server and the X11 back-end count screen pixels; Qt places and
// sizes widgets in logical pixels.
//
// The private Xvfb is 1600 x 900 pixels (800 x 450 logical). Two coloured
// windows of our own make the screen: blue at x 100..299 and green at
// x 300..499, both at y 100..299.

#include "capture/QClickLabel.h"
#include "capture/QSelectLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QClipboard>
#include <QLabel>
#include <QScreen>
#include <QtTest>

#include <X11/Xlib.h>

#include <memory>

struct HiDpiTag;
template <> struct MainWindowProbe<HiDpiTag> {
    static const cv::Mat& frame(MainWindow& w) { return w.frameImage; }
    static const cv::Mat& scope(MainWindow& w) { return w.scopeImage; }
    static QString currentApp(MainWindow& w) { return w.currentApp; }
    static QSelectRegionWindow* regionWindow(MainWindow& w) { return w.regionWindow.data(); }
    static QClickLabel* swatch(MainWindow& w, int i) { return w.colorSwatches[static_cast<size_t>(i)]; }
};
using Probe = MainWindowProbe<HiDpiTag>;

namespace {

// QApplication reads the scale factor once, when it starts.
const bool scaleFactorSet = [] {
    qputenv("QT_SCALE_FACTOR", "2");
    return true;
}();

const cv::Vec4b kBlue(255, 0, 0, 255); // B, G, R, A
const cv::Vec4b kGreen(0, 255, 0, 255);
const cv::Vec3b kMarkerRed(255, 0, 0); // R, G, B

class ColouredWindows {
public:
    ColouredWindows()
        : display(XOpenDisplay(nullptr))
    {
        if (!display)
            return;
        add(100, 100, 200, 200, 0x0000ff);
        add(300, 100, 200, 200, 0x00ff00);
        XSync(display, False);
    }
    ~ColouredWindows()
    {
        if (display)
            XCloseDisplay(display);
    }
    bool ready() const { return display != nullptr; }
    void warpPointer(int x, int y)
    {
        XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, x, y);
        XSync(display, False);
    }

private:
    void add(int x, int y, unsigned width, unsigned height, unsigned long rgb)
    {
        XSetWindowAttributes attributes {};
        attributes.background_pixel = rgb;
        attributes.override_redirect = True;
        const Window window = XCreateWindow(display, DefaultRootWindow(display), x, y, width, height, 0, CopyFromParent,
            InputOutput, CopyFromParent, CWBackPixel | CWOverrideRedirect, &attributes);
        XMapRaised(display, window);
    }

    Display* display;
};

QString recordOnDisk(const QString& key)
{
    const QByteArray text = testSandbox().readFile(testSandbox().configFile());
    for (const QByteArray& line : text.split('\n')) {
        const QString entry = QString::fromUtf8(line).trimmed();
        if (entry.startsWith(key + QLatin1Char('=')))
            return entry.mid(key.size() + 1);
    }
    return QStringLiteral("<absent>");
}

// The pixel of a widget as the screen shows it: grab() renders at the
// device pixel ratio, so logical (x, y) is device (2x, 2y).
QRgb shownPixel(QWidget* widget, int deviceX, int deviceY)
{
    return widget->grab().toImage().pixel(deviceX, deviceY);
}

std::unique_ptr<MainWindow> windowBesideTheColours()
{
    // "Unknown" is what recognition gives on this desktop; its region is the
    // two coloured windows, 400 x 200 screen pixels, captured 1:1 at size 400.
    testSandbox().writeConfig("[General]\nwindow_size=400\nUnknown=0|100|100|500|300\n");
    auto w = std::make_unique<MainWindow>(nullptr, false, 0);
    w->move(450, 0); // logical: screen x 900 on, clear of the coloured windows
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        return nullptr;
    return w;
}

} // namespace

class HiDpiTest : public QObject {
    Q_OBJECT

private:
    ColouredWindows screen;

private slots:
    void initTestCase()
    {
        QVERIFY(scaleFactorSet);
        QVERIFY(screen.ready());
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
        QCOMPARE(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 800, 450));
    }

    void captureAndPointerMarkerUseScreenPixels();
    void previewAndPlotShowOnePicturePixelPerLogicalPixel();
    void regionSelectionStoresTheScreenPixelsShown();
    void sampleShowsAndCopiesScreenPixels();
};

void HiDpiTest::captureAndPointerMarkerUseScreenPixels()
{
    auto w = windowBesideTheColours();
    QVERIFY(w);
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Unknown"));

    // Screen (350, 200) is green; half of it, (175, 100), would be blue.
    screen.warpPointer(350, 200);
    w->updateScreen();

    const cv::Mat& frame = Probe::frame(*w);
    QCOMPARE(frame.cols, 400);
    QCOMPARE(frame.rows, 200);
    QCOMPARE(frame.at<cv::Vec4b>(0, 0), kBlue);
    QCOMPARE(frame.at<cv::Vec4b>(100, 199), kBlue);
    QCOMPARE(frame.at<cv::Vec4b>(100, 200), kGreen);
    QCOMPARE(frame.at<cv::Vec4b>(199, 399), kGreen);

    // Green (hue 120 degrees, full saturation) is plotted 150 pixels from the
    // centre (200, 200), two thirds of a half turn counter-clockwise from
    // straight up: (200 - 150 sin 120, 200 - 150 cos 120) = (70.1, 275).
    // Blue (240 degrees) would be at (329.9, 275).
    const cv::Mat& scope = Probe::scope(*w);
    QCOMPARE(scope.at<cv::Vec3b>(275, 70), kMarkerRed);
    QCOMPARE(scope.at<cv::Vec3b>(275, 76), kMarkerRed); // the arm, 6 pixels right
    QVERIFY(scope.at<cv::Vec3b>(275, 330) != kMarkerRed);
}

void HiDpiTest::previewAndPlotShowOnePicturePixelPerLogicalPixel()
{
    auto w = windowBesideTheColours();
    QVERIFY(w);
    w->updateScreen();

    // The preview is as wide as the window: frame column i shows on logical
    // column i, that is device columns 2i and 2i + 1.
    auto* preview = w->findChild<QLabel*>(QStringLiteral("previewLabel"));
    const QPixmap previewPicture = preview->pixmap(Qt::ReturnByValue);
    QCOMPARE(previewPicture.size() / previewPicture.devicePixelRatio(), QSize(400, 200));
    QCOMPARE(shownPixel(preview, 2 * 199 + 1, 2 * 100), qRgb(0, 0, 255));
    QCOMPARE(shownPixel(preview, 2 * 200, 2 * 100), qRgb(0, 255, 0));

    // The scope fills its 400 logical pixels, and a click at logical (200, 80),
    // straight above the centre, picks the direction straight up: the base
    // line (yellow) runs up to 150 * 1.1 = 165 pixels above the centre (200,
    // 200), and its swatch is centred where the line ends on the picture,
    // (200, 35), in logical pixels.
    auto* plot = w->findChild<QClickLabel*>(QStringLiteral("plotLabel"));
    QCOMPARE(plot->width(), 400);
    QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 80));
    const cv::Mat& scope = Probe::scope(*w);
    int lineEnd = 0;
    while (lineEnd < 200 && !(scope.at<cv::Vec3b>(lineEnd, 200)[0] > 200 && scope.at<cv::Vec3b>(lineEnd, 200)[2] < 100))
        ++lineEnd;
    QVERIFY2(qAbs(lineEnd - 35) <= 1, qPrintable(QString::number(lineEnd)));
    const QPoint swatchCentre = Probe::swatch(*w, 0)->geometry().center();
    QVERIFY2(qAbs(swatchCentre.x() - 200) <= 1 && qAbs(swatchCentre.y() - 35) <= 1,
        qPrintable(QStringLiteral("swatch at %1,%2").arg(swatchCentre.x()).arg(swatchCentre.y())));
    // On the screen the line is at device column 400, under the swatch.
    const QRgb onScreen = shownPixel(plot, 400, 2 * 100);
    QVERIFY2(qRed(onScreen) > 200 && qGreen(onScreen) > 200 && qBlue(onScreen) < 100,
        qPrintable(QString::number(onScreen, 16)));
}

void HiDpiTest::regionSelectionStoresTheScreenPixelsShown()
{
    auto w = windowBesideTheColours();
    QVERIFY(w);
    w->selectRegion();
    QSelectRegionWindow* region = Probe::regionWindow(*w);
    QVERIFY(region);
    auto* label = region->findChild<QSelectLabel*>();
    QVERIFY(label);

    // The screenshot is three quarters of the screen in device pixels,
    // 1200 x 675, so 600 x 337 logical; logical (75, 75) shows screen pixel
    // (75 * 2 / 0.75, 75 * 2 / 0.75) = (200, 200), which is blue.
    QCOMPARE(label->pixmap(Qt::ReturnByValue).size(), QSize(1200, 675));
    QCOMPARE(shownPixel(label, 150, 150), qRgb(0, 0, 255));
    QCOMPARE(shownPixel(label, 2 * 140, 150), qRgb(0, 255, 0)); // screen (373, 200)

    // A drag from logical (60, 30) to (210, 105): the selection 151 x 76
    // logical pixels, in screen pixels x = 60 * 2 / 0.75 = 160,
    // y = 30 * 2 / 0.75 = 80, width trunc(151 * 2 / 0.75) = 402 and height
    // trunc(76 * 2 / 0.75) = 202, so right 561 and bottom 281.
    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(60, 30));
    QTest::mouseMove(label, QPoint(210, 105));
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(210, 105));
    QCoreApplication::processEvents();
    QCOMPARE(recordOnDisk(QStringLiteral("Unknown")), QStringLiteral("0|160|80|561|281"));

    // The next capture takes those screen pixels: 401 x 201 scaled to 400
    // columns, so column i shows about screen x 160 + i; blue ends at x 299.
    w->updateScreen();
    const cv::Mat& frame = Probe::frame(*w);
    QCOMPARE(frame.cols, 400);
    QCOMPARE(frame.at<cv::Vec4b>(100, 0), kBlue);
    QCOMPARE(frame.at<cv::Vec4b>(100, 137), kBlue);
    QCOMPARE(frame.at<cv::Vec4b>(100, 142), kGreen);
}

// Guards a sample shown at twice its size: the monitor picture has a screen
// pixel per device pixel, so it covers the screen and no more, and a click
// copies the colour of the screen pixel under the pointer.
void HiDpiTest::sampleShowsAndCopiesScreenPixels()
{
    auto w = windowBesideTheColours();
    QVERIFY(w);
    w->startSampleColor();
    QClickLabel* sample = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("sampleLabel") && widget->isVisible())
            sample = qobject_cast<QClickLabel*>(widget);
    QVERIFY(sample);
    QVERIFY(QTest::qWaitForWindowExposed(sample));
    QCOMPARE(sample->size(), QSize(800, 450));
    QCOMPARE(sample->pos(), QPoint(0, 0));

    QTest::mouseClick(sample, Qt::LeftButton, Qt::NoModifier, QPoint(175, 100)); // screen (350, 200)
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("#00ff00"));
    QVERIFY(w->isVisible());
}

QTEST_MAIN(HiDpiTest)
#include "test_hidpi.moc"
