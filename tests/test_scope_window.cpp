// The scopes inside a real main window on the scripted desktop: what a cycle
// puts into the scope picture and the preview, when the vectorscope reuses its
// cached plot and when it must not, the overlays and the progress log.

#include "platform/memory/MemoryDesktop.h"
#include "scopes/StillScope.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QLabel>
#include <QFile>
#include <QtTest>

#include <cstring>
#include <memory>

struct ScopeWindowTag;
template <> struct MainWindowProbe<ScopeWindowTag> {
    static cv::Mat& scopeImage(MainWindow& w) { return w.scopeImage; }
    static cv::Mat& scopeCache(MainWindow& w) { return w.scopeCache; }
    static cv::Mat& frameImage(MainWindow& w) { return w.frameImage; }
    // The colour image as the colour search reads it (made on first reading).
    static cv::Mat& colorImage(MainWindow& w)
    {
        w.analysedColorImage();
        return w.colorImage;
    }
    static quint32& frameSum(MainWindow& w) { return w.frameSum; }
    static int& displayMode(MainWindow& w) { return w.displayMode; }
    static QAction* displayAction(MainWindow& w) { return w.displayAction; }
    // Where every buffer of the cycle keeps its pixels.
    static std::vector<const void*> buffers(MainWindow& w)
    {
        std::vector<const void*> data { w.scopeImage.data, w.scopeCache.data, w.colorImage.data, w.scopeRgbBytes.data,
            w.scopeRgbFloat.data, w.analysedFrame.data };
        for (const void* b : w.waveformBuffers.renderer.buffers())
            data.push_back(b);
        return data;
    }
    static void hover(MainWindow& w, float hue, double saturation, double x, double y)
    {
        w.hoverHue = hue;
        w.hoverSaturation = saturation;
        w.hoverX = x;
        w.hoverY = y;
    }
    static void setDominantHues(MainWindow& w, std::vector<float> hues)
    {
        w.dominantHueCount = static_cast<int>(hues.size());
        w.dominantHues = std::move(hues);
    }
};
using Probe = MainWindowProbe<ScopeWindowTag>;

namespace {

platform::MemoryDesktop& screen()
{
    return platform::memoryDesktop();
}

// One 400 x 300 monitor of one colour, the pointer off the desktop; with the
// default window size of 400 the frame is the screen, pixel for pixel.
void showColour(int r, int g, int b)
{
    const platform::Point pointer = screen().pointerPosition;
    screen().reset(400, 300, cv::Scalar(b, g, r));
    screen().pointerPosition = pointer;
}

std::unique_ptr<MainWindow> makeWindow(bool debug = false)
{
    QFile::remove(QStringLiteral("log.txt"));
    screen().pointerPosition = platform::Point { -50, -50 };
    return std::make_unique<MainWindow>(nullptr, debug, 0);
}

cv::Vec3b rgbAt(const cv::Mat& picture, int x, int y)
{
    return picture.at<cv::Vec3b>(y, x);
}

bool samePicture(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

const cv::Vec3b kWhite(255, 255, 255);
const cv::Vec4b kHighlight(0, 0, 255, 255); // B, G, R, A

// Red (hue 0) is plotted at (200, 50), green (hue 120) at (70, 275).
bool plotsRed(const cv::Mat& scope)
{
    return rgbAt(scope, 200, 50) == kWhite;
}

bool plotsGreen(const cv::Mat& scope)
{
    return rgbAt(scope, 70, 275) == kWhite;
}

QStringList logLines()
{
    QFile file(QStringLiteral("log.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.split(QLatin1Char('\n'));
}

} // namespace

class TestScopeWindow : public QObject {
    Q_OBJECT

private slots:
    void init() { showColour(0, 0, 0); }

    void everyModeShowsTheStillPictureOfANewFrame();
    void unchangedFrameKeepsTheCachedPlot();
    void vectorscopeCatchesUpWithFramesSeenInOtherModes();
    void firstFrameWithAZeroSumIsStillPlotted();
    void staleColourImageOfAnotherSizeIsNotWalked();
    void overlaysFollowPointerAndPicksButNeverReachTheCache();
    void overlaysOfAnUnchangedFrameFollowThePointer();
    void labelsShowTheLatestPictures();
    void waveformAndParadeHighlightThePreview();
    void progressLogOfTheVectorscope();
    void cyclesOfAStableSizeReuseTheirBuffers();
};

void TestScopeWindow::everyModeShowsTheStillPictureOfANewFrame()
{
    // A busy screen: random pixels with a few flat patches.
    screen().reset(400, 300);
    cv::RNG rng(3);
    rng.fill(screen().screen, cv::RNG::UNIFORM, 0, 256);
    screen().screen(cv::Rect(20, 20, 90, 60)).setTo(cv::Scalar(40, 90, 200, 255));
    screen().pointerPosition = platform::Point { -50, -50 };
    cv::Mat frame = screen().screen.clone();
    frame.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 255; });

    auto w = makeWindow();
    for (int mode = 0; mode < 3; ++mode) {
        Probe::displayMode(*w) = mode;
        Probe::frameSum(*w) = 0; // every mode sees a new frame
        w->updateScreen();
        QVERIFY2(samePicture(Probe::scopeImage(*w), scopes::renderStillScope(frame, mode, 400)),
            qPrintable(QStringLiteral("display mode %1").arg(mode)));
        QVERIFY(samePicture(Probe::frameImage(*w), frame));
    }
}

void TestScopeWindow::unchangedFrameKeepsTheCachedPlot()
{
    showColour(255, 0, 0);
    auto w = makeWindow();
    w->updateScreen();
    QVERIFY(plotsRed(Probe::scopeImage(*w)));

    // Mark the cache where the wheel is black: only a reuse of the cache shows the mark.
    Probe::scopeCache(*w).at<cv::Vec3b>(10, 10) = cv::Vec3b(1, 2, 3);
    w->updateScreen();
    QCOMPARE(rgbAt(Probe::scopeImage(*w), 10, 10), cv::Vec3b(1, 2, 3));

    // A changed frame is plotted anew. (Pure green would have pure red's byte sum.)
    showColour(0, 200, 0);
    w->updateScreen();
    QCOMPARE(rgbAt(Probe::scopeImage(*w), 10, 10), cv::Vec3b(0, 0, 0));
    QVERIFY(plotsGreen(Probe::scopeImage(*w)));
    QVERIFY(!plotsRed(Probe::scopeImage(*w)));
}

void TestScopeWindow::vectorscopeCatchesUpWithFramesSeenInOtherModes()
{
    // Fault guarded: the change flag fires once per frame in whatever mode is
    // shown, so a frame that changed while the Waveform was up reached the
    // vectorscope as unchanged and the plot of an older frame stayed on screen.
    showColour(255, 0, 0);
    auto w = makeWindow();
    w->updateScreen();
    QVERIFY(plotsRed(Probe::scopeImage(*w)));

    QAction* display = Probe::displayAction(*w);
    display->trigger(); // Waveform
    QCOMPARE(Probe::displayMode(*w), 1);
    showColour(0, 200, 0);
    w->updateScreen();
    display->trigger(); // Parade, same frame
    display->trigger(); // Vectorscope, same frame again
    QCOMPARE(Probe::displayMode(*w), 0);
    QVERIFY(plotsGreen(Probe::scopeImage(*w)));
    QVERIFY(!plotsRed(Probe::scopeImage(*w)));
    // The colour search reads the colour image: it must be the green frame's.
    QCOMPARE(Probe::colorImage(*w).at<cv::Vec3f>(0, 0)[0], 120.0f);
}

void TestScopeWindow::firstFrameWithAZeroSumIsStillPlotted()
{
    // Fault guarded: the change detector starts from 0, so a first frame whose
    // byte sum is 0 counted as unchanged and found no cached plot to show.
    // A sum of 0 needs 16 MB of frame to wrap around; the window is told
    // instead that the first frame's sum is the one it already knows.
    showColour(255, 0, 0);
    auto w = makeWindow();
    Probe::frameSum(*w) = 400u * 300u * (255u + 255u);
    w->updateScreen();
    QCOMPARE(Probe::frameSum(*w), 400u * 300u * 510u); // indeed no change seen
    QCOMPARE(Probe::scopeImage(*w).size(), cv::Size(400, 400));
    QVERIFY(plotsRed(Probe::scopeImage(*w)));
}

void TestScopeWindow::staleColourImageOfAnotherSizeIsNotWalked()
{
    // Fault guarded: the hover highlight walks the frame and the colour image
    // in step; a colour image of another size was read past its end.
    showColour(128, 0, 0);
    auto w = makeWindow();
    w->updateScreen();
    // Pointing at red: direction 0.5 turns, full saturation.
    Probe::hover(*w, 0.5f, 1.0, 200.0, 50.0);
    Probe::colorImage(*w) = Probe::colorImage(*w).rowRange(0, 150).clone();
    w->updateScreen();
    QCOMPARE(Probe::colorImage(*w).size(), cv::Size(400, 300));
    const cv::Mat& preview = Probe::frameImage(*w);
    QCOMPARE(preview.at<cv::Vec4b>(0, 0), kHighlight);
    QCOMPARE(preview.at<cv::Vec4b>(299, 399), kHighlight);
}

void TestScopeWindow::overlaysFollowPointerAndPicksButNeverReachTheCache()
{
    showColour(128, 0, 0);
    auto w = makeWindow();
    w->updateScreen();
    const cv::Mat plain = Probe::scopeImage(*w).clone();
    const cv::Mat cacheBefore = Probe::scopeCache(*w).clone();
    QCOMPARE(Probe::frameImage(*w).at<cv::Vec4b>(0, 0), cv::Vec4b(0, 0, 128, 255));

    // The pointer on the dark red frame: a red plus sign on the red cell (200, 50).
    screen().pointerPosition = platform::Point { 10, 10 };
    // Four dominant hues: blue lines up (red), left (90), down (180) and right (270).
    Probe::setDominantHues(*w, { 0.0f, 0.25f, 0.5f, 0.75f });
    // Pointing at red: every preview pixel is highlighted.
    Probe::hover(*w, 0.5f, 1.0, 200.0, 50.0);
    w->updateScreen();

    const cv::Mat& scope = Probe::scopeImage(*w);
    // (The upward blue line is drawn after it, over its vertical arm.)
    QCOMPARE(rgbAt(scope, 194, 50), cv::Vec3b(255, 0, 0));
    QCOMPARE(rgbAt(scope, 206, 50), cv::Vec3b(255, 0, 0));
    QCOMPARE(rgbAt(scope, 207, 50), rgbAt(plain, 207, 50));
    const auto blueLine = [&](int x, int y) {
        const cv::Vec3b p = rgbAt(scope, x, y);
        return p[2] > 200 && p[0] < 100 && p[1] < 100;
    };
    QVERIFY(blueLine(200, 120));
    QVERIFY(blueLine(100, 200));
    QVERIFY(blueLine(200, 300));
    QVERIFY(blueLine(300, 200));
    QCOMPARE(Probe::frameImage(*w).at<cv::Vec4b>(150, 200), kHighlight);
    // The overlays are drawn on a copy: the cache still holds the plot alone.
    QVERIFY(samePicture(Probe::scopeCache(*w), cacheBefore));

    // Pointer, hues and hover gone: the next cycle is the plain picture again.
    screen().pointerPosition = platform::Point { -50, -50 };
    Probe::setDominantHues(*w, {});
    Probe::hover(*w, 0.0f, -1.0, -1.0, -1.0);
    w->updateScreen();
    QVERIFY(samePicture(Probe::scopeImage(*w), plain));
    QCOMPARE(Probe::frameImage(*w).at<cv::Vec4b>(150, 200), cv::Vec4b(0, 0, 128, 255));
}

void TestScopeWindow::overlaysOfAnUnchangedFrameFollowThePointer()
{
    // Fault guarded: the highlighted preview pixels and the pointed pixel's
    // hue are worked out once per analysed frame and kept; pointing elsewhere
    // on an unchanged frame must move both, and the preview must be painted
    // afresh from the capture every cycle. Left half red, right half green.
    showColour(0, 0, 0);
    screen().screen(cv::Rect(0, 0, 200, 300)).setTo(cv::Scalar(0, 0, 200, 255));
    screen().screen(cv::Rect(200, 0, 200, 300)).setTo(cv::Scalar(0, 200, 0, 255));
    auto w = makeWindow();
    screen().pointerPosition = platform::Point { 10, 10 }; // on red
    Probe::hover(*w, 0.5f, 1.0, 200.0, 50.0);             // pointing at red
    w->updateScreen();
    const cv::Mat& preview = Probe::frameImage(*w);
    QCOMPARE(preview.at<cv::Vec4b>(5, 5), kHighlight);
    QCOMPARE(preview.at<cv::Vec4b>(5, 300), cv::Vec4b(0, 200, 0, 255));
    // The plus sign on the red cell: its arms reach 6 pixels up and down.
    QCOMPARE(rgbAt(Probe::scopeImage(*w), 200, 50 - 6), cv::Vec3b(255, 0, 0));

    // Green is hue 120: plotted at (70, 275), half a turn on is 0.8333 turns.
    screen().pointerPosition = platform::Point { 300, 10 }; // on green
    Probe::hover(*w, 0.8333333f, 1.0, 70.0, 275.0);
    w->updateScreen();
    QCOMPARE(preview.at<cv::Vec4b>(5, 5), cv::Vec4b(0, 0, 200, 255));
    QCOMPARE(preview.at<cv::Vec4b>(5, 300), kHighlight);
    QCOMPARE(rgbAt(Probe::scopeImage(*w), 70, 275 - 6), cv::Vec3b(255, 0, 0));
    QVERIFY(rgbAt(Probe::scopeImage(*w), 200, 50 - 6) != cv::Vec3b(255, 0, 0));

    // Pointing nowhere near any pixel: the preview shows the capture as it is.
    Probe::hover(*w, 0.1f, 0.2, 300.0, 300.0);
    w->updateScreen();
    QCOMPARE(preview.at<cv::Vec4b>(5, 5), cv::Vec4b(0, 0, 200, 255));
    QCOMPARE(preview.at<cv::Vec4b>(5, 300), cv::Vec4b(0, 200, 0, 255));
}

// The picture a label shows, as R, G, B or B, G, R, A bytes.
cv::Mat shownBytes(QLabel* label, bool preview)
{
    const QImage image = label->pixmap(Qt::ReturnByValue)
                             .toImage()
                             .convertToFormat(preview ? QImage::Format_ARGB32 : QImage::Format_RGB888);
    cv::Mat bytes(image.height(), image.width(), preview ? CV_8UC4 : CV_8UC3);
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(bytes.ptr(y), image.constScanLine(y), static_cast<size_t>(bytes.cols) * bytes.elemSize());
    return bytes;
}

void TestScopeWindow::labelsShowTheLatestPictures()
{
    // Fault guarded: a picture with the same bytes as the one a label shows
    // is not handed over again; a comparison that called two different
    // pictures the same would leave a label on an older picture.
    showColour(200, 0, 0);
    auto w = makeWindow();
    auto* plot = w->findChild<QLabel*>(QStringLiteral("plotLabel"));
    auto* preview = w->findChild<QLabel*>(QStringLiteral("previewLabel"));
    QVERIFY(plot && preview);
    for (const cv::Scalar& bgr : { cv::Scalar(0, 0, 200), cv::Scalar(0, 200, 0), cv::Scalar(0, 200, 0),
             cv::Scalar(0, 0, 200), cv::Scalar(0, 0, 201) }) {
        showColour(static_cast<int>(bgr[2]), static_cast<int>(bgr[1]), static_cast<int>(bgr[0]));
        w->updateScreen();
        QVERIFY(samePicture(shownBytes(plot, false), Probe::scopeImage(*w)));
        QVERIFY(samePicture(shownBytes(preview, true), Probe::frameImage(*w)));
    }
    // One pixel of difference reaches the preview too.
    screen().screen.at<cv::Vec4b>(299, 399) = cv::Vec4b(1, 2, 3, 255);
    w->updateScreen();
    QCOMPARE(shownBytes(preview, true).at<cv::Vec4b>(299, 399), cv::Vec4b(1, 2, 3, 255));
}

void TestScopeWindow::waveformAndParadeHighlightThePreview()
{
    showColour(0, 0, 0);
    auto w = makeWindow();
    Probe::displayMode(*w) = 1;
    w->updateScreen();
    const cv::Mat& scope = Probe::scopeImage(*w);
    QCOMPARE(scope.size(), cv::Size(400, 266));
    QCOMPARE(rgbAt(scope, 200, 265), kWhite);
    QCOMPARE(rgbAt(scope, 200, 26), cv::Vec3b(50, 50, 50));
    QCOMPARE(rgbAt(scope, 200, 27), cv::Vec3b(0, 0, 0));

    // Parade, a frame with green 120 on the left half and 200 on the right.
    screen().screen.colRange(0, 200).setTo(cv::Scalar(0, 120, 0, 255));
    screen().screen.colRange(200, 400).setTo(cv::Scalar(0, 200, 0, 255));
    Probe::displayMode(*w) = 2;
    // The middle panel at height 133: green near 127.5, frame columns 191..211.
    Probe::hover(*w, 0.0f, -1.0, 200.0, 133.0);
    w->updateScreen();
    const cv::Mat& preview = Probe::frameImage(*w);
    for (int x = 0; x < 400; ++x)
        QCOMPARE(preview.at<cv::Vec4b>(100, x) == kHighlight, x >= 191 && x < 200);
    // The green panel shows both levels, the blue and red panels only black.
    const cv::Mat& parade = Probe::scopeImage(*w);
    QCOMPARE(parade.size(), cv::Size(400, 266));
    // Green 120 is level ceil(0.4706 x 127) = 60, count row 67, which the
    // stretch to 266 rows puts at row (67 + 0.5) x 266 / 128 - 0.5 = 139.8.
    QCOMPARE(rgbAt(parade, 133 + 30, 140), cv::Vec3b(0, 255, 0));
    QCOMPARE(rgbAt(parade, 133 + 30, 100), cv::Vec3b(0, 0, 0));
    QCOMPARE(rgbAt(parade, 60, 265), cv::Vec3b(0, 0, 255));
    QCOMPARE(rgbAt(parade, 399, 265), cv::Vec3b(0, 0, 0));
}

void TestScopeWindow::progressLogOfTheVectorscope()
{
    showColour(255, 0, 0);
    auto w = makeWindow(true);
    QFile::remove(QStringLiteral("log.txt"));
    w->updateScreen();
    const QStringList overlays { "scr A", "scr M changed", "scr M changed A", "scr M changed B", "scr M changed C",
        "scr M changed D", "scr M changed E" };
    QStringList expected { "sum changed", "ch A", "ch B", "ch C" };
    expected += overlays;
    expected << QStringLiteral("scr pix set");
    QStringList lines = logLines();
    const int first = lines.indexOf(QStringLiteral("sum changed"));
    QVERIFY(first >= 0);
    QCOMPARE(lines.mid(first, expected.size()), expected);

    // An unchanged frame: no recomputation, only the overlays.
    QFile::remove(QStringLiteral("log.txt"));
    w->updateScreen();
    lines = logLines();
    QVERIFY(!lines.contains(QStringLiteral("ch A")));
    const int start = lines.indexOf(QStringLiteral("scr A"));
    QVERIFY(start >= 0);
    QCOMPARE(lines.mid(start, overlays.size()), overlays);
}

void TestScopeWindow::cyclesOfAStableSizeReuseTheirBuffers()
{
    // A new frame every cycle: once a mode has sized its buffers, none of
    // them is given new memory while the size stays.
    auto w = makeWindow();
    const int colours[][3] = { { 200, 10, 10 }, { 10, 200, 10 }, { 10, 10, 200 }, { 90, 90, 90 } };
    int turn = 0;
    const auto cycle = [&](int mode) {
        const int* c = colours[turn++ % 4];
        showColour(c[0], c[1], c[2]);
        Probe::displayMode(*w) = mode;
        w->updateScreen();
    };
    for (int mode : { 0, 1, 2, 0 }) {
        cycle(mode);
        const std::vector<const void*> sized = Probe::buffers(*w);
        for (int i = 0; i < 4; ++i) {
            cycle(mode);
            QVERIFY2(Probe::buffers(*w) == sized, qPrintable(QStringLiteral("display mode %1").arg(mode)));
        }
    }
}

QTEST_MAIN(TestScopeWindow)
#include "test_scope_window.moc"
