// The exposure view of the preview: which colour each captured pixel gets
// (a grey ramp through the bands, the clipping marks), and in the window the
// E key, config.ini, the legend, and that the scopes, the hover highlight
// and the colour search still read the captured pixels.
#include "apps/AppsFormat.h"
#include "apps/SettingsFile.h"
#include "capture/QClickLabel.h"
#include "platform/memory/MemoryDesktop.h"
#include "preview/ExposureOverlay.h"
#include "scopes/StillScope.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QLabel>
#include <QtTest>

#include <opencv2/imgproc.hpp>

#include <memory>
#include <tuple>

using scopes::ExposureMode;

struct ExposureTag;
template <> struct MainWindowProbe<ExposureTag> {
    static ExposureMode mode(MainWindow& w) { return w.exposureMode; }
    static const cv::Mat& scopeImage(MainWindow& w) { return w.scopeImage; }
    static const cv::Mat& colorImage(MainWindow& w) { return w.analysedColorImage(); }
    static const std::vector<float>& dominantHues(MainWindow& w) { return w.dominantHues; }
};
using Probe = MainWindowProbe<ExposureTag>;

namespace {

platform::MemoryDesktop& screen()
{
    return platform::memoryDesktop();
}

// What the view paints for one captured pixel (B, G, R), as R, G, B.
cv::Vec3b painted(ExposureMode mode, cv::Vec3b bgr, uchar fourth = 255)
{
    const cv::Mat frame(1, 1, CV_8UC4, cv::Scalar(bgr[0], bgr[1], bgr[2], fourth));
    cv::Mat out;
    scopes::ExposurePainter().paint(frame, out, mode, cv::Range(0, 1));
    const cv::Vec4b p = out.at<cv::Vec4b>(0, 0);
    return { p[2], p[1], p[0] };
}

// The preview as shown, R, G, B at (x, y).
cv::Vec3b previewAt(MainWindow& w, int x, int y)
{
    const QImage shown = w.findChild<QLabel*>(QStringLiteral("previewLabel"))->pixmap(Qt::ReturnByValue).toImage();
    const QRgb p = shown.pixel(x, y);
    return { uchar(qRed(p)), uchar(qGreen(p)), uchar(qBlue(p)) };
}

// The preview as shown, as B, G, R.
cv::Mat previewBgr(MainWindow& w)
{
    const QImage shown = w.findChild<QLabel*>(QStringLiteral("previewLabel"))
                             ->pixmap(Qt::ReturnByValue)
                             .toImage()
                             .convertToFormat(QImage::Format_RGB32);
    cv::Mat bgrx(shown.height(), shown.width(), CV_8UC4, const_cast<uchar*>(shown.constBits()), shown.bytesPerLine());
    cv::Mat bgr;
    cv::cvtColor(bgrx, bgr, cv::COLOR_BGRA2BGR);
    return bgr;
}

cv::Mat bgrOf(const cv::Mat& bgra)
{
    cv::Mat bgr;
    cv::cvtColor(bgra, bgr, cv::COLOR_BGRA2BGR);
    return bgr;
}

bool samePicture(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && cv::norm(a, b, cv::NORM_INF) == 0;
}

void hoverAt(QWidget* plot, const QPoint& pos)
{
    QMouseEvent move(QEvent::MouseMove, pos, plot->mapToGlobal(pos), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(plot, &move);
}

// 400 x 300, the pointer off it: the left half red at saturation 0.5
// (R 255, G and B 128: clipped), the right half grey 118 (18 % grey).
void showRedAndGrey()
{
    screen().reset(400, 300, cv::Scalar(128, 128, 255));
    screen().screen(cv::Rect(200, 0, 200, 300)).setTo(cv::Scalar(118, 118, 118, 255));
    screen().pointerPosition = platform::Point { -50, -50 };
}

QString storedMode()
{
    return readSettingsText(testSandbox().readFile(testSandbox().configFile()))
        .value(QStringLiteral("exposure_overlay"))
        .toString();
}

const cv::Vec3b kMagenta(255, 0, 255);
const cv::Vec3b kBlue(0, 64, 255);
const cv::Vec3b kGreen(0, 200, 0);
const cv::Vec3b kPink(255, 150, 200);
const cv::Vec3b kYellow(255, 230, 0);
const cv::Vec3b kHighlightRed(255, 0, 0);

} // namespace

class TestExposureOverlay : public QObject {
    Q_OBJECT

private slots:
    void init() { QFile::remove(testSandbox().configFile()); }

    // A grey's luma is its value, so a ramp 0..255 crosses every band at the
    // lumas the README gives; the levels between show their own grey.
    void greyRampLandsInTheBands()
    {
        const std::tuple<int, int, cv::Vec3b> bands[] = {
            { 0, 10, kBlue },
            { 113, 123, kGreen },
            { 155, 169, kPink },
            { 245, 252, kYellow },
            { 253, 255, kMagenta },
        };
        for (int v = 0; v < 256; ++v) {
            cv::Vec3b expected(v, v, v);
            for (const auto& [first, last, colour] : bands)
                if (v >= first && v <= last)
                    expected = colour;
            const cv::Vec3b got = painted(ExposureMode::FalseColour, cv::Vec3b(v, v, v));
            QVERIFY2(got == expected,
                qPrintable(QStringLiteral("grey %1: %2 %3 %4").arg(v).arg(got[0]).arg(got[1]).arg(got[2])));
        }
    }

    // The luma is round(0.2126 R + 0.7152 G + 0.0722 B), half up, on the
    // captured bytes; colours whose sum is exactly half-way show the rounding.
    void lumaWeightsAndRounding()
    {
        QCOMPARE(scopes::lumaOf(255, 0, 0), 54); // 54.213
        QCOMPARE(scopes::lumaOf(0, 255, 0), 182); // 182.376
        QCOMPARE(scopes::lumaOf(0, 0, 255), 18); // 18.411
        QCOMPARE(scopes::lumaOf(255, 255, 255), 255);
        QCOMPARE(scopes::lumaOf(44, 3, 0), 12); // 9.3544 + 2.1456 = 11.5 exactly
        QCOMPARE(scopes::lumaOf(111, 124, 3), 113); // 23.5986 + 88.6848 + 0.2166 = 112.5 exactly
        // So (R 111, G 124, B 3) is the darkest colour of its luma in the 18 % grey band.
        QCOMPARE(painted(ExposureMode::FalseColour, cv::Vec3b(3, 124, 111)), kGreen);
        // Pure green is bright, pure blue very nearly black (luma 18, shown as that grey).
        QCOMPARE(painted(ExposureMode::FalseColour, cv::Vec3b(0, 255, 0)), cv::Vec3b(182, 182, 182));
        QCOMPARE(painted(ExposureMode::FalseColour, cv::Vec3b(255, 0, 0)), cv::Vec3b(18, 18, 18));
    }

    // Any channel at 255 is magenta, every channel at 0 blue (whatever the
    // fourth byte), everything else as captured.
    void clippingMarks()
    {
        const std::tuple<cv::Vec3b, cv::Vec3b> cases[] = {
            { { 0, 0, 0 }, kBlue },
            { { 255, 255, 255 }, kMagenta },
            { { 0, 0, 255 }, kMagenta }, // red alone at 255
            { { 0, 255, 0 }, kMagenta }, // green
            { { 255, 0, 0 }, kMagenta }, // blue
            { { 10, 254, 3 }, { 3, 254, 10 } }, // nothing at 255: as it is
            { { 1, 0, 0 }, { 0, 0, 1 } }, // not every channel at 0
            { { 254, 254, 254 }, { 254, 254, 254 } },
        };
        for (const auto& [bgr, expected] : cases)
            QVERIFY2(painted(ExposureMode::Clipping, bgr) == expected,
                qPrintable(QStringLiteral("B %1 G %2 R %3").arg(bgr[0]).arg(bgr[1]).arg(bgr[2])));
        QCOMPARE(painted(ExposureMode::Clipping, cv::Vec3b(0, 0, 0), 0), kBlue);
        // The marks are themselves clipped colours, so no pixel left as it is shows one.
        QCOMPARE(painted(ExposureMode::Clipping, cv::Vec3b(kBlue[2], kBlue[1], kBlue[0])), kMagenta);
    }

    // E goes off, clipping, false colour, off; the preview and the legend
    // follow, config.ini keeps the mode, and with the view off again the
    // preview is the captured picture byte for byte.
    void eKeyCyclesTheViewAndConfigKeepsIt()
    {
        showRedAndGrey();
        auto w = std::make_unique<MainWindow>(nullptr, false, 0);
        w->show();
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));
        auto* legend = w->findChild<QWidget*>(QStringLiteral("exposureLegend"));
        QVERIFY(legend);
        w->updateScreen();
        QVERIFY(!legend->isVisible());
        QCOMPARE(previewAt(*w, 100, 150), cv::Vec3b(255, 128, 128));

        // The left half (R 255, G 128, B 128) has luma 54.213 + 91.5456 +
        // 9.2416 = 155.0002, 155: the first level of skin.
        const std::tuple<ExposureMode, const char*, cv::Vec3b, cv::Vec3b, bool> steps[] = {
            { ExposureMode::Clipping, "clipping", kMagenta, cv::Vec3b(118, 118, 118), true },
            { ExposureMode::FalseColour, "false_colour", kPink, kGreen, true },
            { ExposureMode::Off, "off", cv::Vec3b(255, 128, 128), cv::Vec3b(118, 118, 118), false },
        };
        for (const auto& [mode, text, left, right, legendShown] : steps) {
            QTest::keyClick(w.get(), Qt::Key_E);
            QCOMPARE(Probe::mode(*w), mode);
            QCOMPARE(storedMode(), QString::fromLatin1(text));
            QCOMPARE(previewAt(*w, 100, 150), left);
            QCOMPARE(previewAt(*w, 300, 150), right);
            QCOMPARE(legend->isVisible(), legendShown);
        }
        QVERIFY(samePicture(previewBgr(*w), bgrOf(screen().screen)));

        // The legend goes with the preview.
        QTest::keyClick(w.get(), Qt::Key_E);
        w->showPreviewTrigger();
        QVERIFY(!legend->isVisible());
        w->showPreviewTrigger();
        QVERIFY(legend->isVisible());
        w.reset();
        MainWindow restarted(nullptr, false, 0);
        QCOMPARE(Probe::mode(restarted), ExposureMode::Clipping);
    }

    // Only the three texts E writes are read; anything else is off, and the
    // file's other keys survive the view's saves.
    void storedModeAndOtherKeys()
    {
        const std::pair<QByteArray, ExposureMode> cases[] = {
            { "", ExposureMode::Off },
            { "exposure_overlay=clipping\n", ExposureMode::Clipping },
            { "exposure_overlay=false_colour\n", ExposureMode::FalseColour },
            { "exposure_overlay=off\n", ExposureMode::Off },
            { "exposure_overlay=False_Colour\n", ExposureMode::Off },
            { "exposure_overlay=false_color\n", ExposureMode::Off },
            { "exposure_overlay=2\n", ExposureMode::Off },
            { "exposure_overlay=clipping, false_colour\n", ExposureMode::Off },
            { "exposure_overlay=@Rect(1 2 3 4)\n", ExposureMode::Off },
            { "exposure_overlay=\n", ExposureMode::Off },
            { "exposure_overlay=\" clipping\"\n", ExposureMode::Clipping },
        };
        for (const auto& [line, mode] : cases) {
            testSandbox().writeConfig("[General]\n" + line);
            MainWindow w(nullptr, false, 0);
            QVERIFY2(Probe::mode(w) == mode, line.constData());
        }
        testSandbox().writeConfig(
            "[General]\nwindow_size=300\napps=Mine:mine.Mine\nMine=0|1|2|30|40\n"
            "exposure_overlay=@Variant(\\0\\0\\0\\x7f\\xff)\nsomething_else=kept\n[other]\nx=1\n");
        {
            MainWindow w(nullptr, false, 0);
            QCOMPARE(Probe::mode(w), ExposureMode::Off);
            w.exposureTrigger();
        }
        const QSettings::SettingsMap stored = readSettingsText(testSandbox().readFile(testSandbox().configFile()));
        QCOMPARE(stored.value(QStringLiteral("exposure_overlay")).toString(), QStringLiteral("clipping"));
        QCOMPARE(stored.value(QStringLiteral("window_size")).toString(), QStringLiteral("300"));
        QCOMPARE(stored.value(QStringLiteral("apps")).toString(), QStringLiteral("Mine:mine.Mine"));
        QCOMPARE(stored.value(QStringLiteral("Mine")).toString(), QStringLiteral("0|1|2|30|40"));
        QCOMPARE(stored.value(QStringLiteral("something_else")).toString(), QStringLiteral("kept"));
        QCOMPARE(stored.value(QStringLiteral("other/x")).toString(), QStringLiteral("1"));
        // No rule can store its region over the key.
        QVERIFY(isReservedSettingsKey(QStringLiteral("exposure_overlay")));
    }

    // With the view on, every scope is the picture of the captured frame,
    // the hover highlight takes the same pixels and paints them red over
    // the view, and the colour search finds the captured hue, not the marks.
    void scopesHighlightAndSearchReadTheCapture()
    {
        showRedAndGrey();
        const cv::Mat frame = screen().screen.clone();
        cv::Mat capturedColours;
        {
            MainWindow off(nullptr, false, 0);
            off.updateScreen();
            capturedColours = Probe::colorImage(off).clone();
        }
        for (const ExposureMode mode : { ExposureMode::Clipping, ExposureMode::FalseColour }) {
            MainWindow w(nullptr, false, 0);
            while (Probe::mode(w) != mode)
                w.exposureTrigger();
            for (int display = 0; display < 3; ++display) {
                w.updateScreen();
                QVERIFY2(samePicture(Probe::scopeImage(w), scopes::renderStillScope(frame, display, 400)),
                    qPrintable(QStringLiteral("display %1").arg(display)));
                w.displayTrigger();
            }
            // Half-way out towards red: the left half, painted red over the view.
            auto* plot = w.findChild<QClickLabel*>(QStringLiteral("plotLabel"));
            hoverAt(plot, QPoint(200, 125));
            w.updateScreen();
            QCOMPARE(previewAt(w, 100, 150), kHighlightRed);
            QCOMPARE(previewAt(w, 300, 150), mode == ExposureMode::Clipping ? cv::Vec3b(118, 118, 118) : kGreen);
            hoverAt(plot, QPoint(-10, -10));
            w.updateScreen();
            QCOMPARE(previewAt(w, 100, 150), mode == ExposureMode::Clipping ? kMagenta : kPink);

            // The colour image the search reads is that of the captured frame.
            QVERIFY(samePicture(Probe::colorImage(w), capturedColours));
            w.findColors();
            QCOMPARE(Probe::dominantHues(w).size(), size_t(4));
            for (const float hue : Probe::dominantHues(w)) // red: 0 (or 1, the same hue)
                QVERIFY2(std::min(hue, 1.0f - hue) < 1e-4f, qPrintable(QString::number(hue)));
        }
    }

    // A stream of frames changing in a few rows, the highlight coming and
    // going and the mode changing: the preview is always the view of the
    // whole frame as captured now, never rows left from an earlier one.
    void previewFollowsChangedRows()
    {
        showRedAndGrey();
        MainWindow w(nullptr, false, 0);
        auto* plot = w.findChild<QClickLabel*>(QStringLiteral("plotLabel"));
        w.exposureTrigger();
        w.updateScreen();
        const scopes::ExposurePainter painter;
        for (int step = 0; step < 12; ++step) {
            // A square of white, black or a mid colour moving down the grey half.
            const cv::Scalar colours[] = { { 255, 255, 255, 255 }, { 0, 0, 0, 255 }, { 40, 160, 90, 255 } };
            if (step != 5 && step != 8) // at those the screen stays as it was
                screen().screen(cv::Rect(220, 20 * step, 30, 30)).setTo(colours[step % 3]);
            if (step == 4)
                hoverAt(plot, QPoint(200, 125));
            if (step == 7)
                hoverAt(plot, QPoint(-10, -10));
            if (step == 6 || step == 9)
                w.exposureTrigger(); // to false colour, then off
            if (step == 10)
                w.exposureTrigger(); // on again: clipping
            w.updateScreen();
            cv::Mat expected;
            if (Probe::mode(w) == ExposureMode::Off)
                expected = screen().screen.clone();
            else
                painter.paint(screen().screen, expected, Probe::mode(w), cv::Range(0, 300));
            if (step >= 4 && step < 7) // the hover highlight: the left half, red
                expected(cv::Rect(0, 0, 200, 300)).setTo(cv::Scalar(0, 0, 255, 255));
            QVERIFY2(samePicture(previewBgr(w), bgrOf(expected)), qPrintable(QStringLiteral("step %1").arg(step)));
        }
    }
};

QTEST_MAIN(TestExposureOverlay)
#include "test_exposure_overlay.moc"
