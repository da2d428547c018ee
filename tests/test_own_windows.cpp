// The program never measures its own windows: where they lie on the capture
// (as the desktop tells it), their pixels count in no scope and in no colour
// search, and the preview shows them darkened.

#include "capture/QClickLabel.h"
#include "cycle/OwnWindowArea.h"
#include "platform/memory/MemoryDesktop.h"
#include "scopes/ScopePath.h"
#include "scopes/VectorscopeMath.h"
#include "scopes/VectorscopePlot.h"
#include "scopes/WaveformTrace.h"
#include "shell/MainWindow.h"
#include "support/ScopePictures.h"
#include "support/TestSupport.h"

#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <memory>

struct OwnWindowsTag;
template <> struct MainWindowProbe<OwnWindowsTag> {
    static const cv::Mat& scopeCache(MainWindow& w) { return w.scopeCache; }
    static const cv::Mat& scopeImage(MainWindow& w) { return w.scopeImage; }
    static const cv::Mat& wheel(MainWindow& w) { return w.backgroundImage; }
    static const cv::Mat& frame(MainWindow& w) { return w.frameImage; }
    static const cv::Mat& capture(MainWindow& w) { return w.captureImage; }
    static const std::vector<float>& dominantHues(MainWindow& w) { return w.dominantHues; }
    static void setMode(MainWindow& w, int mode) { w.displayMode = mode; }
    static QWidget* samplePicture(MainWindow& w) { return w.sampleLabel.get(); }
    static quint64 framesAnalysed(MainWindow& w) { return w.frameCount; }
};
using Probe = MainWindowProbe<OwnWindowsTag>;

namespace {

using platform::Rect;

platform::MemoryDesktop& screen()
{
    return platform::memoryDesktop();
}

bool samePicture(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// Random opaque pixels with flat patches: every cell and level sees some.
cv::Mat busyFrame(int cols, int rows)
{
    cv::Mat frame(rows, cols, CV_8UC4);
    cv::RNG rng(11);
    rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    for (int i = 0; i < 8; ++i)
        frame(cv::Rect(rng.uniform(0, cols - 40), rng.uniform(0, rows - 30), 40, 30))
            .setTo(cv::Scalar(rng.uniform(0, 256), rng.uniform(0, 256), rng.uniform(0, 256)));
    frame.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 255; });
    return frame;
}

// The scopes of a frame with `area` left out, as the cycle makes them.
struct Pictures {
    cv::Mat vectorscope, waveform, parade;
};

Pictures picturesOf(const cv::Mat& frame, const scopes::OwnWindowArea* area = nullptr)
{
    cv::Mat input = frame;
    if (area)
        area->blackenInto(frame, input);
    cv::Mat wheel;
    scopes::renderColorWheel(wheel, 400, 400, 150.0);
    scopes::VectorscopePlotter plotter;
    plotter.count(input, 400, 150.0, 1, area ? area->pixels() : 0);
    Pictures p;
    p.vectorscope = plotter.draw(wheel).clone();
    scopes::WaveformRenderer renderer;
    renderer.render(input, 400, false, p.waveform, area ? &area->leftOutInColumn() : nullptr);
    renderer.render(input, 400, true, p.parade, area ? &area->leftOutInColumn() : nullptr);
    return p;
}

bool samePictures(const Pictures& a, const Pictures& b)
{
    return samePicture(a.vectorscope, b.vectorscope) && samePicture(a.waveform, b.waveform)
        && samePicture(a.parade, b.parade);
}

class PathForced {
public:
    explicit PathForced(scopes::ScopePath path) { scopes::setScopePath(path); }
    ~PathForced() { scopes::setScopePath(scopes::runnableScopePaths().front()); }
};


// A grey 1600 x 900 screen with a window of saturated colours on it, where
// the tool window is said to be: hues across, saturation down.
const Rect kToolWindow { 200, 100, 600, 700 };

void showGreyScreenWithToolWindow()
{
    screen().reset(1600, 900, cv::Scalar(128, 128, 128));
    screen().pointerPosition = { -50, -50 };
    cv::Mat window = screen().screen(cv::Rect(kToolWindow.left, kToolWindow.top, 400, 600));
    window.forEach<cv::Vec4b>([](cv::Vec4b& p, const int* at) {
        cv::Mat hsv(1, 1, CV_8UC3, cv::Scalar(at[1] * 180 / 400, 80 + at[0] * 175 / 600, 230));
        cv::Mat bgr;
        cv::cvtColor(hsv, bgr, cv::COLOR_HSV2BGR);
        const cv::Vec3b c = bgr.at<cv::Vec3b>(0, 0);
        p = cv::Vec4b(c[0], c[1], c[2], 255);
    });
}

std::unique_ptr<MainWindow> shownWindow()
{
    auto w = std::make_unique<MainWindow>(nullptr, false, 0);
    w->show();
    return w;
}

void placeToolWindow(MainWindow& w, const Rect& frame)
{
    screen().windowFrames[static_cast<platform::WindowHandle>(w.winId())] = frame;
}

} // namespace

class TestOwnWindows : public QObject {
    Q_OBJECT

private slots:

    // A frame pixel stands for its share of the desktop the capture scaled:
    // it is left out when any of that share lies under the window.
    void theWindowMapsOntoTheFrameConservatively()
    {
        // 1600 desktop pixels onto 400 frame columns: four a column.
        QCOMPARE(scopes::coveredRange(100, 200, 1600, 400), cv::Vec2i(25, 50));
        QCOMPARE(scopes::coveredRange(101, 199, 1600, 400), cv::Vec2i(25, 50)); // partly covered columns too
        QCOMPARE(scopes::coveredRange(103, 104, 1600, 400), cv::Vec2i(25, 26));
        QCOMPARE(scopes::coveredRange(104, 108, 1600, 400), cv::Vec2i(26, 27));
        // Beyond the capture's edges: cut to the frame; wholly outside: nothing.
        QCOMPARE(scopes::coveredRange(-500, 3, 1600, 400), cv::Vec2i(0, 1));
        QCOMPARE(scopes::coveredRange(1590, 9000, 1600, 400), cv::Vec2i(397, 400));
        QCOMPARE(scopes::coveredRange(-500, 0, 1600, 400), cv::Vec2i(0, 0));
        QCOMPARE(scopes::coveredRange(1600, 1700, 1600, 400), cv::Vec2i(0, 0));
        // A capture smaller than the frame: each desktop pixel is four columns.
        QCOMPARE(scopes::coveredRange(10, 20, 100, 400), cv::Vec2i(40, 80));

        // Every frame pixel that shows a desktop pixel of the window (as the
        // captures sample them) is left out, and none whose share misses it.
        for (const auto& [source, out] : { std::pair(1600, 400), std::pair(1366, 400), std::pair(977, 600),
                 std::pair(301, 150), std::pair(150, 600), std::pair(1000, 999) }) {
            for (const auto& [from, to] : { std::pair(0, 1), std::pair(37, 38), std::pair(333, 701),
                     std::pair(source - 3, source), std::pair(5, source - 5) }) {
                const cv::Vec2i range = scopes::coveredRange(from, to, source, out);
                for (int i = 0; i < out; ++i) {
                    const int shown = platform::nearestSourceIndex(i, source, out);
                    const bool meets = static_cast<long long>(i)
                        * source<static_cast<long long>(to) * out&& static_cast<long long>(i + 1)
                            * source> static_cast<long long>(from)
                        * out;
                    const bool leftOut = i >= range[0] && i < range[1];
                    QVERIFY2(
                        leftOut == meets, qPrintable(QStringLiteral("%1 of %2 -> %3").arg(i).arg(source).arg(out)));
                    if (shown >= from && shown < to)
                        QVERIFY(leftOut);
                }
            }
        }

        // Two windows over each other count their common pixels once; the
        // area says it moved only when it did.
        scopes::OwnWindowArea area;
        const Rect captured { 0, 0, 1600, 900 };
        QVERIFY(area.place(captured, 400, 225, { Rect { 0, 0, 400, 400 }, Rect { 200, 200, 600, 600 } }));
        QCOMPARE(area.pixels(), 100u * 100u + 100u * 100u - 50u * 50u);
        QCOMPARE(area.leftOutInColumn()[10], 100u);
        QCOMPARE(area.leftOutInColumn()[60], 100u + 100u - 50u);
        QCOMPARE(area.leftOutInColumn()[120], 100u);
        QCOMPARE(area.leftOutInColumn()[160], 0u);
        QVERIFY(area.contains(120, 120) && !area.contains(120, 20) && !area.contains(20, 120));
        QVERIFY(!area.place(captured, 400, 225, { Rect { 0, 0, 400, 400 }, Rect { 200, 200, 600, 600 } }));
        QVERIFY(area.place(captured, 400, 225, { Rect { 4, 0, 404, 400 }, Rect { 200, 200, 600, 600 } }));
        // A capture elsewhere on the desktop: relative to its own corner.
        QVERIFY(area.place(Rect { 1600, 0, 3200, 900 }, 400, 225, { Rect { 0, 0, 1600, 900 } }));
        QVERIFY(area.empty());
        QVERIFY(!area.place(Rect { 1600, 0, 3200, 900 }, 400, 225, {}));
    }

    // Left out is exact: a frame whose last rows are left out gives every
    // scope of the frame without those rows, on every code path, and the
    // paths agree byte for byte on a frame left out in its middle. Fault
    // guarded: the pixels counted as the black they are made.
    void leftOutPixelsCountNowhere()
    {
        const cv::Mat frame = busyFrame(400, 225);
        std::vector<Pictures> middles;
        for (const scopes::ScopePath path : scopes::runnableScopePaths()) {
            PathForced forced(path);
            scopes::OwnWindowArea rows;
            rows.place(Rect { 0, 0, 1600, 900 }, 400, 225, { Rect { -10, 640, 1700, 1000 } });
            QCOMPARE(rows.pixels(), 400u * 65u);
            QVERIFY2(samePictures(picturesOf(frame, &rows), picturesOf(frame.rowRange(0, 160).clone())),
                scopes::scopePathName(path));

            scopes::OwnWindowArea middle;
            middle.place(Rect { 0, 0, 1600, 900 }, 400, 225, { Rect { 301, 203, 999, 702 } });
            middles.push_back(picturesOf(frame, &middle));
            QVERIFY2(!samePictures(middles.back(), picturesOf(frame)), scopes::scopePathName(path));
        }
        for (const Pictures& p : middles)
            QVERIFY(samePictures(p, middles.front()));
    }

    // The plot of a frame whose left-out area grew by a few rows is
    // counted by those rows; every cell then weighs another share. Fault
    // guarded: the moved cells were weighed again with the old share.
    void aGrownAreaWeighsEveryCellAnew()
    {
        const cv::Mat frame = busyFrame(400, 225);
        cv::Mat wheel;
        scopes::renderColorWheel(wheel, 400, 400, 150.0);
        for (const scopes::ScopePath path : scopes::runnableScopePaths()) {
            PathForced forced(path);
            scopes::VectorscopePlotter kept;
            cv::Mat input;
            scopes::OwnWindowArea area;
            cv::Mat picture;
            for (const int bottom : { 440, 460 }) {
                area.place(Rect { 0, 0, 1600, 900 }, 400, 225, { Rect { 0, 400, 1600, bottom } });
                area.blackenInto(frame, input);
                kept.count(input, 400, 150.0, 1, area.pixels());
                picture = kept.draw(wheel);
            }
            QVERIFY2(samePicture(picture, picturesOf(frame, &area).vectorscope), scopes::scopePathName(path));
        }
    }

    // The fault this mends: with no region stored the whole monitor is
    // captured, the tool window with it, and its own colours lit the
    // vectorscope. With the window where the desktop says it is, the grey
    // screen alone is plotted: the centre cell and its smoothing, no more.
    void theToolWindowOverAGreyScreenLeavesTheGreyAlone()
    {
        showGreyScreenWithToolWindow();
        auto w = shownWindow();
        w->updateScreen();
        QVERIFY(farthestLitCell(Probe::scopeCache(*w), Probe::wheel(*w)) > 50); // the window's colours, seen

        placeToolWindow(*w, kToolWindow);
        w->updateScreen();
        QCOMPARE(farthestLitCell(Probe::scopeCache(*w), Probe::wheel(*w)), 1);

        // The preview shows the window's area at a quarter of its brightness
        // (frame columns 50..149, rows 25..174), the rest as captured.
        const cv::Mat& frame = Probe::frame(*w);
        const cv::Mat& capture = Probe::capture(*w);
        for (const cv::Point at : { cv::Point(50, 25), cv::Point(149, 174), cv::Point(100, 100) }) {
            const cv::Vec4b c = capture.at<cv::Vec4b>(at);
            QCOMPARE(frame.at<cv::Vec4b>(at), cv::Vec4b(c[0] / 4, c[1] / 4, c[2] / 4, 255));
        }
        for (const cv::Point at : { cv::Point(49, 100), cv::Point(150, 100), cv::Point(100, 24), cv::Point(100, 175) })
            QCOMPARE(frame.at<cv::Vec4b>(at), cv::Vec4b(128, 128, 128, 255));

        // Taken off before the next capture is compared: an unchanged
        // screen is an unchanged frame, and the preview is the same.
        const cv::Mat before = frame.clone();
        w->updateScreen();
        QVERIFY(samePicture(Probe::frame(*w), before));
    }

    // The colour search finds the screen's hue, not the window's: a blue
    // screen with the tool window, all red, on it.
    void theColourSearchIgnoresTheToolWindow()
    {
        screen().reset(1600, 900, cv::Scalar(255, 0, 0));
        screen().pointerPosition = { -50, -50 };
        screen().screen(cv::Rect(200, 100, 700, 600)).setTo(cv::Scalar(0, 0, 255, 255));
        auto w = shownWindow();
        placeToolWindow(*w, Rect { 200, 100, 900, 700 });
        w->findColors();
        QCOMPARE(Probe::dominantHues(*w).size(), size_t(4));
        for (const float hue : Probe::dominantHues(*w))
            QVERIFY2(std::abs(hue - 240.0f / 360.0f) < 0.01f, qPrintable(QString::number(hue)));
    }

    // A screen at rest under a window that moved is a new frame for the
    // scopes: what the window covered is measured now. Fault guarded: the
    // unchanged capture kept the plot made with the old area left out.
    void aMovedWindowIsAChangeOfWhatIsAnalysed()
    {
        screen().reset(1600, 900, cv::Scalar(128, 128, 128));
        screen().pointerPosition = { -50, -50 };
        screen().tracksChanges = true; // a capture at rest is not even copied again
        screen().screen(cv::Rect(1000, 400, 200, 200)).setTo(cv::Scalar(0, 0, 255, 255));
        auto w = shownWindow();
        placeToolWindow(*w, Rect { 900, 300, 1300, 700 }); // over the red
        w->updateScreen();
        w->updateScreen();
        // Red lands straight up, at (200, 50).
        const auto redLit
            = [&] { return Probe::scopeCache(*w).at<cv::Vec3b>(50, 200) != Probe::wheel(*w).at<cv::Vec3b>(50, 200); };
        QVERIFY(!redLit());
        placeToolWindow(*w, Rect { 100, 100, 500, 500 });
        w->updateScreen();
        QVERIFY(screen().unchangedAnswers > 0);
        QVERIFY(redLit());
        placeToolWindow(*w, Rect { 900, 300, 1300, 700 });
        w->updateScreen();
        QVERIFY(!redLit());
    }

    // The tool repainting itself on the screen it captures changes nothing
    // it analyses: no new frame, no plot made again. What changes beside
    // it is a new frame.
    void theToolRepaintingItselfIsNoNewFrame()
    {
        showGreyScreenWithToolWindow();
        auto w = shownWindow();
        placeToolWindow(*w, kToolWindow);
        w->updateScreen();
        const quint64 frames = Probe::framesAnalysed(*w);
        screen().screen(cv::Rect(300, 200, 100, 100)).setTo(cv::Scalar(0, 255, 0, 255)); // inside the window
        w->updateScreen();
        QCOMPARE(Probe::framesAnalysed(*w), frames);
        screen().screen(cv::Rect(1300, 200, 100, 100)).setTo(cv::Scalar(0, 255, 0, 255)); // beside it
        w->updateScreen();
        QCOMPARE(Probe::framesAnalysed(*w), frames + 1);
    }

    // The tool window across the bottom of a busy screen: every scope of
    // the cycle is the scope of the frame above it.
    void aWindowAcrossTheBottomLeavesTheScopesOfTheRest()
    {
        screen().reset(1600, 900);
        screen().screen = busyFrame(1600, 900);
        screen().pointerPosition = { -50, -50 };
        auto w = shownWindow();
        placeToolWindow(*w, Rect { -20, 700, 1620, 950 }); // frame rows 175 on
        w->updateScreen();
        const Pictures rest = picturesOf(Probe::capture(*w).rowRange(0, 175).clone());
        QVERIFY(samePicture(Probe::scopeCache(*w), rest.vectorscope));
        Probe::setMode(*w, 1);
        w->updateScreen();
        QVERIFY(samePicture(Probe::scopeImage(*w), rest.waveform));
        Probe::setMode(*w, 2);
        w->updateScreen();
        QVERIFY(samePicture(Probe::scopeImage(*w), rest.parade));
    }

    // The colour-sample picture covers the first monitor while it is shown:
    // a capture of that monitor then has nothing to measure, and every scope
    // is empty (no pixel to divide by).
    void theSamplePictureLeavesNothingToMeasure()
    {
        showGreyScreenWithToolWindow();
        auto w = shownWindow();
        w->startSampleColor();
        QWidget* sample = Probe::samplePicture(*w);
        QVERIFY(sample && sample->isVisible());
        screen().windowFrames[static_cast<platform::WindowHandle>(sample->winId())] = Rect { 0, 0, 1600, 900 };
        w->updateScreen();
        QVERIFY(samePicture(Probe::scopeCache(*w), Probe::wheel(*w)));
        for (const int mode : { 1, 2 }) {
            Probe::setMode(*w, mode);
            w->updateScreen();
            // No trace: black, with the graticule's grey rows.
            const cv::Mat& scope = Probe::scopeImage(*w);
            bool empty = true;
            for (int y = 0; y < scope.rows; ++y)
                for (int x = 0; x < scope.cols; ++x)
                    empty &= scope.at<cv::Vec3b>(y, x) == cv::Vec3b(0, 0, 0)
                        || scope.at<cv::Vec3b>(y, x) == cv::Vec3b(50, 50, 50);
            QVERIFY2(empty, mode == 1 ? "Waveform" : "Parade");
        }
    }

    // Without any window on the capture every picture is the one made
    // without knowing any window, in every display mode.
    void aWindowBesideTheCaptureChangesNothing()
    {
        for (const int mode : { 0, 1, 2 }) {
            screen().reset(1600, 900);
            screen().screen = busyFrame(1600, 900);
            auto unplaced = shownWindow();
            Probe::setMode(*unplaced, mode);
            unplaced->updateScreen();
            const cv::Mat scope = Probe::scopeImage(*unplaced).clone(), frame = Probe::frame(*unplaced).clone();
            unplaced.reset();

            auto placed = shownWindow();
            Probe::setMode(*placed, mode);
            placeToolWindow(*placed, Rect { 1600, 0, 2000, 700 }); // right of the monitor
            placed->updateScreen();
            QVERIFY(samePicture(Probe::scopeImage(*placed), scope));
            QVERIFY(samePicture(Probe::frame(*placed), frame));
        }
    }
};

QTEST_MAIN(TestOwnWindows)
#include "test_own_windows.moc"
