// The scopes inside a real main window on the scripted desktop: the scope
// picture and preview of a cycle, the cached plot, the overlays.

#include "cycle/FrameSum.h"
#include "platform/memory/MemoryDesktop.h"
#include "scopes/StillScope.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QLabel>
#include <QtTest>

#include <lcms2.h>

#include <functional>
#include <memory>
#include <tuple>

struct ScopeWindowTag;
template <> struct MainWindowProbe<ScopeWindowTag> {
    static QTimer* resizeTimer(MainWindow& w) { return w.resizeTimer; }
    static cv::Mat& scopeImage(MainWindow& w) { return w.scopeImage; }
    static cv::Mat& scopeCache(MainWindow& w) { return w.scopeCache; }
    static cv::Mat& frameImage(MainWindow& w) { return w.frameImage; }
    // The colour image as the colour search reads it (made on first reading).
    static cv::Mat& colorImage(MainWindow& w)
    {
        w.analysedColorImage();
        return w.colorImage;
    }
    static bool colorImageStale(MainWindow& w) { return w.colorImageStale; }
    static quint32& frameSum(MainWindow& w) { return w.frameSum; }
    // The next cycle's copy finds no frame to compare with: a new frame.
    static void forgetFrame(MainWindow& w) { w.frameImage.release(); }
    static int& displayMode(MainWindow& w) { return w.displayMode; }
    static QAction* displayAction(MainWindow& w) { return w.displayAction; }
    static void hover(MainWindow& w, float hue, double saturation, double x = -1.0, double y = -1.0)
    {
        w.hoverHue = hue;
        w.hoverSaturation = saturation;
        w.hoverX = x;
        w.hoverY = y;
    }
    static void pick(MainWindow& w, double hue, double spread)
    {
        w.selectedHue = hue;
        w.hueSpread = spread;
    }
    // The next cycle makes the scope picture afresh from the cached plot.
    static void forgetPicture(MainWindow& w) { w.scopeImageHoldsPlot = false; }
    static void showInfo(MainWindow& w, const QString& text) { w.showInfo(text); }
    // The capture region of the application in front (no application is recognised here).
    static void captureRegion(MainWindow& w, std::array<int, 4> leftTopRightBottom)
    {
        w.appRegions.insert(QStringLiteral("unknown"), leftTopRightBottom);
    }
    static QString cycleReport(MainWindow& w, long long milliseconds, int mode, int zoom)
    {
        w.displayMode = mode;
        w.vectorscopeZoom = zoom;
        return w.cycleInfoText(milliseconds);
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

// One 400 x 300 monitor of one colour, the pointer off it: the frame, pixel for pixel.
void showColour(int r, int g, int b)
{
    screen().reset(400, 300, cv::Scalar(b, g, r));
    screen().pointerPosition = platform::Point { -50, -50 };
}

// Random pixels (opaque) with a red and a green patch.
void showBusyScreen()
{
    showColour(0, 0, 0);
    cv::RNG(3).fill(screen().screen, cv::RNG::UNIFORM, 0, 256);
    screen().screen.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 255; });
    screen().screen(cv::Rect(0, 0, 90, 60)).setTo(cv::Scalar(0, 0, 200, 255));
    screen().screen(cv::Rect(250, 150, 90, 60)).setTo(cv::Scalar(0, 200, 0, 255));
}

bool samePicture(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

// Whether the plot's label shows this picture (R, G, B).
bool plotLabelShows(MainWindow& w, const cv::Mat& scope)
{
    const QImage shown = w.findChild<QLabel*>("plotLabel")->pixmap(Qt::ReturnByValue).toImage();
    return shown.convertToFormat(QImage::Format_RGB888)
        == QImage(scope.data, scope.cols, scope.rows, static_cast<int>(scope.step), QImage::Format_RGB888);
}

const cv::Vec4b kHighlight(0, 0, 255, 255); // B, G, R, A

// Counts the events of one type that reach a widget; paint events only
// where they reach below `overlay`, a sibling over its top (the info label
// over the plot repaints what lies under it, before and after it fits its
// text, whenever the text, the cycle's time, changes).
class EventCounter : public QObject {
public:
    EventCounter(QWidget* target, QEvent::Type type, const QWidget* overlay = nullptr)
        : type(type)
        , target(target)
        , overlay(overlay)
    {
        target->installEventFilter(this);
    }
    int take()
    {
        QCoreApplication::processEvents();
        const int n = count;
        count = 0;
        painted = QRegion();
        return n;
    }
    // What the paint events counted since the last take() repainted.
    QRegion takeRegion()
    {
        QCoreApplication::processEvents();
        const QRegion region = painted;
        take();
        return region;
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() != type)
            return false;
        const QRect covered
            = overlay ? QRect(0, 0, target->width(), overlay->geometry().bottom() + 1 - target->y()) : QRect();
        if (type != QEvent::Paint || !(static_cast<QPaintEvent*>(event)->region() - covered).isEmpty()) {
            ++count;
            if (type == QEvent::Paint)
                painted += static_cast<QPaintEvent*>(event)->region();
        }
        return false;
    }

private:
    QEvent::Type type;
    const QWidget* target;
    const QWidget* overlay;
    int count = 0;
    QRegion painted;
};

} // namespace

class TestScopeWindow : public QObject {
    Q_OBJECT

private slots:

    void vectorscopeReplotsWhenItMust()
    {
        // Red (hue 0) is plotted at (200, 50), green (hue 120) at (70, 275).
        showColour(255, 0, 0); // the window sizes its capture to the screen it starts on
        auto w = std::make_unique<MainWindow>(nullptr, false, 0);
        const auto plots = [&](bool red, bool green) {
            return (Probe::scopeImage(*w).at<cv::Vec3b>(50, 200) == cv::Vec3b::all(255)) == red
                && (Probe::scopeImage(*w).at<cv::Vec3b>(275, 70) == cv::Vec3b::all(255)) == green;
        };
        // Fault guarded: the change detector started from a sum of 0, so a
        // first frame whose byte sum is 0 counted as unchanged and found no
        // cached plot to show. A sum of 0 needs 16 MB of frame to wrap around;
        // the window is told instead that the first frame's sum is the one it
        // starts from. The first frame is new whatever its sum.
        Probe::frameSum(*w) = 400u * 300u * (255u + 255u);
        w->updateScreen();
        QCOMPARE(Probe::scopeImage(*w).size(), cv::Size(400, 400));
        QVERIFY(plots(true, false));

        // An unchanged frame keeps the cached plot: the frame is not analysed
        // again (which would make the colour image anew) and the picture stays.
        // (The cache is the plotter's picture, and only what the plotter says
        // it changed is copied from it: a mark made in it from outside no
        // longer shows.)
        Probe::colorImage(*w); // made now
        const cv::Mat before = Probe::scopeImage(*w).clone();
        w->updateScreen();
        QVERIFY(!Probe::colorImageStale(*w));
        QVERIFY(samePicture(Probe::scopeImage(*w), before));

        // Fault guarded: the change flag fires once per frame in whatever mode is
        // shown, so a frame that changed while the Waveform was up reached the
        // vectorscope as unchanged and the plot of an older frame stayed on screen.
        QAction* display = Probe::displayAction(*w);
        display->trigger(); // Waveform
        QCOMPARE(Probe::displayMode(*w), 1);
        showColour(0, 200, 0); // (pure green would have pure red's byte sum)
        w->updateScreen();
        display->trigger(); // Parade, same frame
        display->trigger(); // Vectorscope, same frame again
        QCOMPARE(Probe::displayMode(*w), 0);
        QVERIFY(plots(false, true));
        QCOMPARE(Probe::scopeImage(*w).at<cv::Vec3b>(10, 10), cv::Vec3b(0, 0, 0));
        // The colour search reads the colour image: it must be the green frame's.
        QCOMPARE(Probe::colorImage(*w).at<cv::Vec3f>(0, 0)[0], 120.0f);

        // Fault guarded: the hover highlight walks the frame and the colour image
        // in step; a colour image of another size was read past its end.
        showColour(128, 0, 0);
        w->updateScreen();
        Probe::hover(*w, 0.5f, 1.0); // pointing at red: direction 0.5 turns, full saturation
        Probe::colorImage(*w) = Probe::colorImage(*w).rowRange(0, 150).clone();
        w->updateScreen();
        QCOMPARE(Probe::colorImage(*w).size(), cv::Size(400, 300));
        QCOMPARE(Probe::frameImage(*w).at<cv::Vec4b>(0, 0), kHighlight);
        QCOMPARE(Probe::frameImage(*w).at<cv::Vec4b>(299, 399), kHighlight);
    }

    // The pointer marker sits where the pointer is on the captured picture.
    // Two 400 x 300 monitors side by side, grey with a green patch at
    // (100, 60)-(139, 99) of each; green (hue 120) is plotted at (70, 275), so
    // the marker's right arm crosses (74, 275) only when the pointer's frame
    // position lands on the patch. Recorded as a region chosen with no
    // application recognised.
    void pointerMapsOntoTheCapturedRectangle()
    {
        const std::tuple<const char*, platform::Point, bool> cases[] = {
            { "1|-1|-1|-1|-1", { 510, 70 }, true }, // guards monitor 1's own origin
            { "1|50|40|250|190", { 510, 70 }, true }, // 200 x 150 at scale 2: frame (120, 60)
            // Guards the whole-monitor fallbacks: zero height and zero width are
            // captured whole, and the pointer mapped with what was captured.
            { "1|50|40|250|40", { 510, 70 }, true },
            { "0|30|30|30|200", { 110, 70 }, true },
            { "0|50|40|250|190", { 510, 70 }, false }, // on monitor 1, off monitor 0's rectangle
            // Damaged records: the pointer far off the frame, without an
            // overflowing difference or an out-of-range conversion on the way.
            { "0|0|-2147483648|1|100", { 110, 70 }, false },
            { "0|0|-2000000000|1|100", { 110, 70 }, false },
        };
        for (const auto& [record, pointer, marked] : cases) {
            screen().reset(800, 300, cv::Scalar::all(128));
            screen().monitorTable = { { 0, 0, 400, 300 }, { 400, 0, 800, 300 } };
            for (const int left : { 100, 500 })
                screen().screen(cv::Rect(left, 60, 40, 40)).setTo(cv::Scalar(0, 255, 0, 255));
            screen().pointerPosition = pointer;
            testSandbox().writeConfig(QByteArray("[General]\nUnknown=") + record + "\n");
            MainWindow w(nullptr, false, 0);
            w.updateScreen();
            QVERIFY2((Probe::scopeImage(w).at<cv::Vec3b>(275, 74) == cv::Vec3b(255, 0, 0)) == marked, record);
        }
        QFile::remove(testSandbox().configFile());
    }

    void overlaysFollowThePointerAndEveryModeShowsItsStillPicture()
    {
        // Fault guarded: the pointed pixel's hue, the colour image and the
        // highlighted pixels are kept per analysed frame; on an unchanged frame
        // the overlays must still follow the pointer and the picks, be drawn on
        // a copy (never into the cached plot), and the preview be repainted from
        // the capture. Fault guarded as well: the plot's label skips a picture
        // with its own bytes; calling two different pictures the same left it
        // on an older one.
        showBusyScreen();
        const cv::Mat frame = screen().screen.clone();
        cv::Mat wheel, hsv;
        scopes::renderColorWheel(wheel, 400, 400, 150.0);
        const cv::Mat plot = scopes::reference::vectorscopePlot(frame, wheel, 150.0, hsv);
        // Pointer, dominant hues, the direction and saturation pointed at on the plot (-1: none), any highlighted.
        const std::tuple<platform::Point, std::vector<float>, float, double, bool> cycles[] = {
            { { 399, 5 }, {}, 0.0f, -1.0, false }, // no colour image yet: the last column's pixel alone
            { { 10, 10 }, { 0.0f, 0.25f, 0.5f, 0.75f }, 0.5f, 1.0, true }, // on the red patch, pointing at red
            { { 300, 200 }, { 0.1f }, 0.8333333f, 1.0, true }, // on green, pointing at green
            { { 123, 45 }, {}, 0.1f, 1.5, false }, // pointing beyond the rim, where no pixel lies
            { { -50, -50 }, {}, 0.0f, -1.0, false }, // nothing: the plain picture again
        };
        auto w = std::make_unique<MainWindow>(nullptr, false, 0);
        for (const auto& [pointer, hues, hue, saturation, anyHighlighted] : cycles) {
            screen().pointerPosition = pointer;
            Probe::setDominantHues(*w, hues);
            Probe::hover(*w, hue, saturation);
            w->updateScreen();
            cv::Mat scope = plot.clone(), preview = frame.clone();
            scopes::drawPointerMarker(scope, hsv, pointer.x, pointer.y, 150.0);
            scopes::drawDominantHueLines(scope, hues, static_cast<int>(hues.size()), 150.0);
            scopes::drawSkinToneLine(scope, 150.0);
            if (saturation >= 0)
                scopes::highlightMatchingHues(preview, hsv, hue, saturation);
            QVERIFY(samePicture(Probe::scopeImage(*w), scope));
            QVERIFY(samePicture(Probe::frameImage(*w), preview));
            QVERIFY(plotLabelShows(*w, scope));
            QCOMPARE(cv::countNonZero(cv::Mat(preview != frame).reshape(1)) > 0, anyHighlighted);
            QVERIFY(samePicture(Probe::scopeCache(*w), plot));
        }
        // Every mode shows the still picture of a new frame; with the pointer
        // resting on the Waveform or the Parade at (200, 133), the preview is
        // the capture with the matching pixels highlighted.
        Probe::hover(*w, 0.0f, -1.0, 200.0, 133.0);
        for (int mode = 0; mode < 3; ++mode) {
            Probe::displayMode(*w) = mode;
            Probe::forgetFrame(*w); // every mode sees a new frame
            w->updateScreen();
            QVERIFY2(samePicture(Probe::scopeImage(*w), scopes::renderStillScope(frame, mode, 400)),
                qPrintable(QStringLiteral("display mode %1").arg(mode)));
            cv::Mat preview = frame.clone();
            if (mode > 0)
                scopes::highlightMatchingLevels(preview, 400, 266, 200.0, 133.0, mode == 2);
            QVERIFY(samePicture(Probe::frameImage(*w), preview));
            QVERIFY(plotLabelShows(*w, Probe::scopeImage(*w)));
            QCOMPARE(samePicture(preview, frame), mode == 0);
        }
    }

    // Fault guarded: a cycle brings back from the cached plot only what the
    // plotter changed and where the last overlays lay, and the plot's label
    // converts only what changed; anything missed left traces of an older
    // plot or overlay on screen. A window that makes its picture afresh every
    // cycle runs beside one that keeps it, through the same changes.
    void aKeptPictureIsTheOneMadeAfresh()
    {
        showBusyScreen();
        auto kept = std::make_unique<MainWindow>(nullptr, false, 0);
        auto fresh = std::make_unique<MainWindow>(nullptr, false, 0);
        const auto both = [&](const std::function<void(MainWindow&)>& change) {
            change(*kept);
            change(*fresh);
        };
        const auto point = [](int x, int y) { screen().pointerPosition = platform::Point { x, y }; };
        const auto movePatch = [](int x, int y, const cv::Scalar& bgr) {
            showBusyScreen();
            screen().screen(cv::Rect(x, y, 60, 50)).setTo(bgr);
        };
        const std::pair<const char*, std::function<void()>> cycles[] = {
            { "first", [&] { point(10, 10); } },
            { "the pointer moves", [&] { point(300, 200); } },
            { "the screen changes", [&] { movePatch(100, 100, cv::Scalar(255, 40, 0, 255)); } },
            { "dominant hues", [&] { both([](MainWindow& w) {
                                         Probe::setDominantHues(w, { 0.1f, 0.6f, 0.85f });
                                     }); } },
            { "a harmony pick", [&] { both([](MainWindow& w) { Probe::pick(w, 0.3, -1000.0); }); } },
            { "a spread", [&] { both([](MainWindow& w) { Probe::pick(w, 0.3, 0.1); }); } },
            { "nothing", [] {} },
            { "the pointer on the patch", [&] { point(120, 120); } },
            { "fewer hues, another pick",
                [&] {
                    both([](MainWindow& w) {
                        Probe::setDominantHues(w, { 0.45f });
                        Probe::pick(w, 0.7, -1000.0);
                    });
                } },
            { "the screen changes again", [&] { movePatch(20, 200, cv::Scalar(0, 255, 255, 255)); } },
            { "no overlays",
                [&] {
                    point(-50, -50);
                    both([](MainWindow& w) {
                        Probe::setDominantHues(w, {});
                        Probe::pick(w, -1.0, -1000.0);
                    });
                } },
            { "magnified", [&] { both([](MainWindow& w) { w.zoomTrigger(); }); } },
            { "the pointer again", [&] { point(300, 200); } },
            { "the Waveform", [&] { both([](MainWindow& w) { Probe::displayMode(w) = 1; }); } },
            { "back, on a new screen",
                [&] {
                    both([](MainWindow& w) { Probe::displayMode(w) = 0; });
                    movePatch(250, 30, cv::Scalar(10, 10, 250, 255));
                } },
        };
        for (const auto& [what, change] : cycles) {
            change();
            Probe::forgetPicture(*fresh);
            kept->updateScreen();
            fresh->updateScreen();
            QVERIFY2(samePicture(Probe::scopeImage(*kept), Probe::scopeImage(*fresh)), what);
            QVERIFY2(plotLabelShows(*kept, Probe::scopeImage(*kept)), what);
            QVERIFY2(plotLabelShows(*fresh, Probe::scopeImage(*fresh)), what);
        }
    }

    // Fault guarded: the change test was the frame's byte sum, so a frame
    // whose bytes changed but whose sum did not (a red capture turned blue,
    // its channels swapped, its pixels rearranged) counted as unchanged: the
    // scope kept the old frame while the preview showed the new one. And with
    // the pointer resting on the plot the frame carries last cycle's
    // highlight, which alone must not count as a change (the scope would be
    // redrawn 25 times a second for nothing). A changed frame logs "sum
    // changed", once.
    void aFrameWhoseBytesChangedIsAChangedFrame_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("hovering");
        for (int mode = 0; mode < 3; ++mode) {
            const char* name = mode == 0 ? "Vectorscope" : mode == 1 ? "Waveform" : "Parade";
            QTest::newRow(name) << mode << false;
            QTest::newRow(qPrintable(QStringLiteral("%1, hovering").arg(QLatin1String(name)))) << mode << true;
        }
    }

    void aFrameWhoseBytesChangedIsAChangedFrame()
    {
        QFETCH(int, mode);
        QFETCH(bool, hovering);
        const auto colour = [](int r, int g, int b) { return cv::Mat(300, 400, CV_8UC4, cv::Scalar(b, g, r, 255)); };
        cv::Mat halves = colour(255, 0, 0), swappedHalves = colour(0, 255, 0);
        halves.colRange(200, 400).setTo(cv::Scalar(0, 255, 0, 255));
        swappedHalves.colRange(200, 400).setTo(cv::Scalar(0, 0, 255, 255));
        showBusyScreen();
        const cv::Mat busy = screen().screen.clone();
        cv::Mat mirrored;
        cv::flip(busy, mirrored, 1);
        // Each frame but the first of a group has the byte sum of the one before it.
        const std::tuple<const char*, cv::Mat, bool> frames[] = {
            { "busy", busy, false },
            { "mirrored", mirrored, true },
            { "red", colour(255, 0, 0), false },
            { "blue", colour(0, 0, 255), true },
            { "green", colour(0, 255, 0), true },
            { "red | green", halves, true },
            { "green | red", swappedHalves, true },
            { "brown", colour(150, 90, 30), false },
            { "brown, channels swapped", colour(30, 150, 90), true },
        };

        QFile::remove(testSandbox().configFile()); // at 1x
        auto w = std::make_unique<MainWindow>(nullptr, true, 0);
        Probe::displayMode(*w) = mode;
        if (hovering && mode == 0)
            Probe::hover(*w, 0.8333333f, 1.0); // pointing at green
        else if (hovering)
            Probe::hover(*w, 0.0f, -1.0, 200.0, 133.0); // the middle of the plot
        cv::Mat wheel, hsv;
        scopes::renderColorWheel(wheel, 400, 400, 150.0);
        bool anyHighlighted = false;
        for (std::size_t i = 0; i < std::size(frames); ++i) {
            const auto& [what, frame, sameSum] = frames[i];
            if (sameSum)
                QCOMPARE(scopes::frameByteSum(frame), scopes::frameByteSum(std::get<1>(frames[i - 1])));
            frame.copyTo(screen().screen);
            cv::Mat preview = frame.clone();
            if (hovering && mode == 0) {
                scopes::reference::vectorscopePlot(frame, wheel, 150.0, hsv);
                scopes::highlightMatchingHues(preview, hsv, 0.8333333f, 1.0);
            } else if (hovering) {
                scopes::highlightMatchingLevels(preview, 400, 266, 200.0, 133.0, mode == 2);
            }
            anyHighlighted = anyHighlighted || !samePicture(preview, frame);
            // The new frame, then the same frame again, under the same highlight.
            for (const bool changed : { true, false }) {
                QFile::remove(QStringLiteral("log.txt"));
                w->updateScreen();
                const QString log = QString::fromUtf8(testSandbox().readFile(QStringLiteral("log.txt")));
                const QString step = QStringLiteral("%1, %2").arg(
                    QLatin1String(what), changed ? QStringLiteral("new") : QStringLiteral("again"));
                QVERIFY2(
                    samePicture(Probe::scopeImage(*w), scopes::renderStillScope(frame, mode, 400)), qPrintable(step));
                QVERIFY2(log.count(QStringLiteral("sum changed\n")) == (changed ? 1 : 0), qPrintable(step));
                QVERIFY2(samePicture(Probe::frameImage(*w), preview), qPrintable(step));
            }
        }
        QCOMPARE(anyHighlighted, hovering);
        QFile::remove(QStringLiteral("log.txt"));
    }

    // The same with the monitor's profile undone. Fault guarded: the
    // readings were converted again only for a frame of another byte sum, so
    // a red capture turned blue kept red's readings, in every mode.
    void aChangedFrameGetsNewReadings()
    {
        cmsCIExyYTRIPLE primaries { { 0.64, 0.33, 1.0 }, { 0.21, 0.71, 1.0 }, { 0.15, 0.06, 1.0 } }; // Adobe RGB
        cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
        cmsToneCurve* curves[3] = { gamma, gamma, gamma };
        cmsHPROFILE wide = cmsCreateRGBProfile(cmsD50_xyY(), &primaries, curves);
        cmsFreeToneCurve(gamma);
        cmsUInt32Number size = 0;
        cmsSaveProfileToMem(wide, nullptr, &size);
        std::vector<std::uint8_t> icc(size);
        cmsSaveProfileToMem(wide, icc.data(), &size);
        cmsCloseProfile(wide);

        for (int mode = 0; mode < 2; ++mode) {
            testSandbox().writeConfig("[General]\nreadings=undo_monitor_profile\n");
            const auto cycleOn = [&](MainWindow& w, const cv::Scalar& bgr) {
                screen().screen.setTo(bgr);
                w.updateScreen();
                return Probe::scopeImage(w).clone();
            };
            showColour(255, 0, 0);
            screen().profiles[0] = icc;
            auto turned = std::make_unique<MainWindow>(nullptr, false, 0);
            auto fresh = std::make_unique<MainWindow>(nullptr, false, 0);
            Probe::displayMode(*turned) = Probe::displayMode(*fresh) = mode;
            const cv::Mat red = cycleOn(*turned, cv::Scalar(0, 0, 255, 255));
            const cv::Mat blue = cycleOn(*turned, cv::Scalar(255, 0, 0, 255));
            QVERIFY(!samePicture(red, blue));
            QVERIFY2(samePicture(blue, cycleOn(*fresh, cv::Scalar(255, 0, 0, 255))), mode ? "Waveform" : "Vectorscope");
        }
        QFile::remove(testSandbox().configFile());
    }

    // A desktop that can tell the screen did not change spares the cycle its
    // copy, sum and frame copy. Fault guarded: the preview then still holds
    // last cycle's frame, and a hover highlight painted on it must be taken
    // off by copying the kept capture back, not left on. The same cycles run
    // on a desktop that always copies and on one that keeps what it can.
    void aKeptCaptureShowsWhatACopyWould()
    {
        const auto run = [](bool tracksChanges) {
            showBusyScreen();
            screen().tracksChanges = tracksChanges;
            auto w = std::make_unique<MainWindow>(nullptr, false, 0);
            const auto hover = [&](float hue) { Probe::hover(*w, hue, hue < 0 ? -1.0 : 1.0); };
            const std::function<void()> cycles[] = {
                [] {},
                [] {},
                [&] { hover(0.5f); }, // the red patch lights up on the kept frame
                [] {},
                [&] { hover(-1.0f); }, // and goes dark again
                [] {},
                [] { screen().screen(cv::Rect(30, 200, 60, 50)).setTo(cv::Scalar(255, 0, 0, 255)); },
                [] { screen().pointerPosition = platform::Point { 300, 200 }; },
                [&] { Probe::displayMode(*w) = 1; Probe::hover(*w, 0.0f, 0.0, 200.0, 100.0); },
                [] {},
                [&] { Probe::hover(*w, 0.0f, -1.0); },
            };
            std::vector<cv::Mat> shown;
            for (const auto& change : cycles) {
                change();
                w->updateScreen();
                shown.push_back(Probe::frameImage(*w).clone());
                shown.push_back(Probe::scopeImage(*w).clone());
            }
            return shown;
        };
        const std::vector<cv::Mat> copied = run(false);
        const std::vector<cv::Mat> kept = run(true);
        QVERIFY(screen().unchangedAnswers >= 4);
        QCOMPARE(kept.size(), copied.size());
        for (std::size_t i = 0; i < kept.size(); ++i)
            QVERIFY2(samePicture(kept[i], copied[i]), qPrintable(QString::asprintf("cycle %zu", i / 2 + 1)));
    }

    // The labels are repainted when what they show changed, and only then.
    // Fault guarded: the preview is repainted when the frame copy saw a byte
    // change, or when the hover highlight painted on it; a highlight on an
    // unchanged frame did not show. And a harmony swatch's style sheet, set
    // again every cycle with the same text, restyled and repainted it.
    void labelsRepaintWhatChangedOnly()
    {
        showBusyScreen();
        auto w = std::make_unique<MainWindow>(nullptr, false, 0);
        // The window fits itself to its contents 100 ms after a change of
        // layout, which shows the whole frame; the cropped preview below
        // must stay cropped however slowly the test runs.
        Probe::resizeTimer(*w)->stop();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        w->updateScreen();
        Probe::resizeTimer(*w)->stop();
        auto* plot = w->findChild<QLabel*>("plotLabel");
        auto* info = w->findChild<QLabel*>("infoLabel");
        QCOMPARE(info->parentWidget(), plot->parentWidget());
        EventCounter plotPaints(plot, QEvent::Paint, info);
        EventCounter previewPaints(w->findChild<QLabel*>("previewLabel"), QEvent::Paint);
        plotPaints.take();
        previewPaints.take();

        w->updateScreen();
        QCOMPARE(plotPaints.take(), 0);
        QCOMPARE(previewPaints.take(), 0);

        Probe::hover(*w, 0.5f, 1.0); // pointing at red: the red patch lights up
        w->updateScreen();
        QVERIFY(previewPaints.take() > 0);
        QCOMPARE(Probe::frameImage(*w).at<cv::Vec4b>(10, 10), kHighlight);
        w->updateScreen(); // the same highlight on the same frame
        Probe::hover(*w, 0.0f, -1.0);
        w->updateScreen();
        QVERIFY(previewPaints.take() > 0);
        QCOMPARE(Probe::frameImage(*w).at<cv::Vec4b>(10, 10), screen().screen.at<cv::Vec4b>(10, 10));
        w->updateScreen();
        QCOMPARE(previewPaints.take(), 0);

        screen().pointerPosition = platform::Point { 300, 200 }; // the marker appears
        w->updateScreen();
        QVERIFY(plotPaints.take() > 0);
        // The preview shows the frame's middle 200 rows of 300: a change below
        // them repaints nothing; one within them repaints the rows it changed,
        // where the label shows them, and not the whole preview.
        screen().screen(cv::Rect(0, 280, 50, 20)).setTo(cv::Scalar(255, 0, 0, 255));
        w->updateScreen();
        QCOMPARE(previewPaints.take(), 0);
        screen().screen(cv::Rect(0, 120, 50, 20)).setTo(cv::Scalar(255, 0, 0, 255));
        w->updateScreen();
        const QRegion repainted = previewPaints.takeRegion();
        QVERIFY((QRegion(0, 70, 50, 20) - repainted).isEmpty());
        QVERIFY2(
            repainted.boundingRect().height() < 40, qPrintable(QString::number(repainted.boundingRect().height())));

        Probe::pick(*w, 0.3, 0.1);
        w->updateScreen();
        auto* swatch = w->findChild<QLabel*>("colorSwatch0");
        QVERIFY(swatch->isVisible());
        EventCounter restyled(swatch, QEvent::StyleChange);
        for (int i = 0; i < 3; ++i)
            w->updateScreen();
        QCOMPARE(restyled.take(), 0);
    }

    // A preview whose frame covers its label is painted without its
    // background; one whose frame is shorter shows the grey around it.
    // Fault guarded: the label still painted as covered after the frame
    // shrank, which leaves the rows around it unpainted.
    void thePreviewShowsGreyWhereTheFrameDoesNotReach()
    {
        screen().reset(1600, 900);
        auto w = std::make_unique<MainWindow>(nullptr, false, 0);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        auto* preview = w->findChild<QLabel*>("previewLabel");
        const auto shownAt = [&](int y) {
            QCoreApplication::processEvents();
            return preview->grab().toImage().pixelColor(preview->width() / 2, y);
        };
        const QColor grey(0x88, 0x88, 0x88);
        const struct {
            int height; // of the captured region, 1600 wide; the frame is 400 wide
            cv::Scalar colour; // B, G, R
            bool greyAtTop;
        } steps[] = {
            { 900, cv::Scalar(0, 0, 200, 255), false },
            { 400, cv::Scalar(200, 0, 0, 255), true }, // a frame of 100 rows in a taller label
            { 900, cv::Scalar(0, 200, 0, 255), false },
            { 400, cv::Scalar(200, 0, 0, 255), true },
        };
        for (const auto& step : steps) {
            screen().screen.setTo(step.colour);
            Probe::captureRegion(*w, { 0, 0, 1600, step.height });
            w->updateScreen();
            QVERIFY(preview->height() > 150);
            const QColor middle(int(step.colour[2]), int(step.colour[1]), int(step.colour[0]));
            QCOMPARE(shownAt(preview->height() / 2), middle);
            QCOMPARE(shownAt(0), step.greyAtTop ? grey : middle);
        }
    }

    // The info label is held at the size its text needs, measured once per
    // text. Fault guarded: a longer text (a capture problem) clipped to the
    // size of the cycle's time, or a text shown at another text's size.
    void theInfoLabelFitsEveryText()
    {
        showBusyScreen();
        auto w = std::make_unique<MainWindow>(nullptr, false, 0);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        auto* info = w->findChild<QLabel*>("infoLabel");
        // The size a label that never showed another text gives it: on one
        // line, or wrapped to the width it was given.
        const auto fitted = [info] {
            QLabel fresh;
            fresh.setFont(info->font());
            fresh.setTextFormat(Qt::PlainText);
            fresh.setContentsMargins(info->contentsMargins());
            fresh.setWordWrap(info->wordWrap());
            fresh.setText(info->text());
            return info->wordWrap() ? info->height() == fresh.heightForWidth(info->width())
                                    : info->size() == fresh.sizeHint();
        };
        for (const char* text : { "0 ms Vectorscope", "The desktop did not allow capturing the screen.",
                 "1 ms Vectorscope", "12 ms 2\u00D7 Vectorscope", "0 ms Vectorscope", "1 ms Vectorscope" }) {
            Probe::showInfo(*w, QString::fromUtf8(text));
            QCoreApplication::processEvents();
            QCOMPARE(info->text(), QString::fromUtf8(text));
            QVERIFY2(fitted(), text);
        }
        w->updateScreen();
        QVERIFY2(info->text().endsWith(QLatin1String("Vectorscope")), qPrintable(info->text()));
        QVERIFY(fitted());
    }

    // The cycle's report is made again only when what it says changes.
    // Fault guarded: a report kept across a new scale or display mode.
    void theCycleReportFollowsWhatItSays()
    {
        auto w = std::make_unique<MainWindow>(nullptr, false, 0);
        const struct {
            long long milliseconds;
            int mode;
            int zoom;
            const char* report;
        } steps[] = {
            { 0, 0, 1, "0 ms Vectorscope" },
            { 0, 0, 2, "0 ms 2\u00D7 Vectorscope" },
            { 0, 1, 2, "0 ms Waveform" },
            { 0, 2, 2, "0 ms Parade" },
            { 0, 0, 2, "0 ms 2\u00D7 Vectorscope" },
            { 13, 0, 2, "13 ms 2\u00D7 Vectorscope" },
            { 13, 0, 4, "13 ms 4\u00D7 Vectorscope" },
            { 13, 0, 1, "13 ms Vectorscope" },
        };
        for (const auto& step : steps)
            QCOMPARE(Probe::cycleReport(*w, step.milliseconds, step.mode, step.zoom), QString::fromUtf8(step.report));
    }
};

QTEST_MAIN(TestScopeWindow)
#include "test_scope_window.moc"
