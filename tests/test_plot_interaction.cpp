// Picking hues on the vectorscope, the S and L controls, the swatches, the colour
// search and the screen sample, driven with mouse events on a 400-pixel main
// window (scope radius 150, controls 185 long). Colours are worked out by hand
// from the HSL formulas, with S 0.75 and L 0.5 unless a test changes them.
#include "capture/QClickLabel.h"
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QClipboard>
#include <QLabel>
#include <QtTest>

#include <algorithm>
#include <cstdlib>

struct PlotTag;
template <> struct MainWindowProbe<PlotTag> {
    static double& selectedHue(MainWindow& w) { return w.selectedHue; }
    static QPair<double, double> picks(MainWindow& w) { return { w.selectedHue, w.hueSpread }; }
    static QList<double> hover(MainWindow& w) { return { w.hoverHue, w.hoverSaturation, w.hoverX, w.hoverY }; }
    static QPair<bool, int> drag(MainWindow& w) { return { w.plotDragging, w.plotDragButton }; }
    static float saturation(MainWindow& w) { return w.saturation; }
    static bool colorsShown(MainWindow& w) { return w.colorsShown; }
    static bool& capturing(MainWindow& w) { return w.capturing; }
    // The harmony lines alone, drawn on a black picture of the scope's size.
    static const cv::Mat& harmonyLines(MainWindow& w)
    {
        w.scopeImage = cv::Mat::zeros(w.windowSize, w.windowSize, CV_8UC3);
        w.updateHarmonySwatches();
        return w.scopeImage;
    }
    static const std::vector<float>& dominantHues(MainWindow& w) { return w.dominantHues; }
    static int dominantHueCount(MainWindow& w) { return w.dominantHueCount; }
};
using Probe = MainWindowProbe<PlotTag>;

namespace {

QClickLabel* child(MainWindow& w, const QString& name)
{
    return w.findChild<QClickLabel*>(name);
}
QClickLabel* swatch(MainWindow& w, int index)
{
    return child(w, QStringLiteral("colorSwatch%1").arg(index));
}

// QTest moves the real cursor for a move; the labels follow the events they get.
void moveTo(QWidget* widget, const QPoint& pos, Qt::MouseButtons held = Qt::NoButton)
{
    QMouseEvent move(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

int refreshes()
{
    return platform::memoryDesktop().copyCount;
}

// The four swatches as "corner code", "-" when hidden, then C, S and L when
// the colours count as shown and the S and L controls show.
QStringList shown(MainWindow& w)
{
    QStringList out;
    for (int i = 0; i < 4; ++i) {
        const QClickLabel* s = swatch(w, i);
        out << (s->isHidden() ? QStringLiteral("-")
                              : QStringLiteral("%1,%2 %3").arg(s->x()).arg(s->y()).arg(s->toolTip().left(7)));
    }
    return out << QStringLiteral("%1%2%3").arg(Probe::colorsShown(w) ? "C" : "-",
               child(w, QStringLiteral("saturationSlider"))->isHidden() ? "-" : "S",
               child(w, QStringLiteral("lightnessSlider"))->isHidden() ? "-" : "L");
}
const QStringList nothingShown { "-", "-", "-", "-", "---" };

// A pixel of an anti-aliased line on black: the line's colour at some
// intensity, each channel within rounding of the same fraction.
bool lineColour(const cv::Vec3b& pixel, const cv::Vec3b& colour)
{
    const int p = std::max({ pixel[0], pixel[1], pixel[2] });
    const int c = std::max({ colour[0], colour[1], colour[2] });
    for (int i = 0; i < 3; ++i)
        if (p == 0 || std::abs(pixel[i] * c - colour[i] * p) > c)
            return false;
    return true;
}

QList<QClickLabel*> sampleWindows()
{
    QList<QClickLabel*> labels;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (auto* label = qobject_cast<QClickLabel*>(widget))
            labels << label;
    return labels;
}

} // namespace

class TestPlotInteraction : public QObject {
    Q_OBJECT
private slots:
    void init() { platform::memoryDesktop().reset(320, 180, cv::Scalar(40, 80, 120)); }

    void clicksPickCopyAndClearHarmonies()
    {
        MainWindow w(nullptr, false, 0);
        QClickLabel* plot = child(w, QStringLiteral("plotLabel"));
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
        // atan2(0, 0) = 0: half a turn, the direction of hue 0.
        QCOMPARE(Probe::picks(w), qMakePair(0.5, -1000.0));
        QCOMPARE(Probe::drag(w), qMakePair(false, 0));
        // Swatch corners 155 pixels out. Base: hue wrap(0.5 + 0.5) = 1.0, red
        // (223, 32, 32), straight up; complement: hue 0.5, cyan, straight down.
        QCOMPARE(shown(w), QStringList({ "190,25 #df2020", "190,355 #20dfdf", "-", "-", "CSL" }));
        QCOMPARE(swatch(w, 0)->toolTip(), QStringLiteral("#df2020 (click to copy)"));
        QVERIFY(swatch(w, 0)->styleSheet().contains(QLatin1String("background-color:rgb(223,32,32)")));

        // Spread 0.5 - 0.75. Swatch 2: s - d = 0.75 points left, hue wrap(1.25) =
        // 0.25, R on the falling ramp -> 127. Swatch 3: 0.25 points right, violet.
        QTest::mouseClick(plot, Qt::RightButton, Qt::NoModifier, QPoint(60, 200));
        QCOMPARE(Probe::picks(w), qMakePair(0.5, -0.25));
        QCOMPARE(
            shown(w), QStringList({ "190,25 #df2020", "190,355 #20dfdf", "25,190 #7fdf20", "355,190 #7f20df", "CSL" }));
        // A swatch click puts exactly the code on the clipboard, without the tooltip's suffix.
        for (int i = 0; i < 4; ++i) {
            QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
            QTest::mouseClick(swatch(w, i), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
            QCOMPARE(QGuiApplication::clipboard()->text(), shown(w)[i].section(QLatin1Char(' '), 1));
        }
        // The lines, R, G, B: base up, complement down, the spread's two sides left and right.
        const cv::Mat& lines = Probe::harmonyLines(w);
        QVERIFY(lineColour(lines.at<cv::Vec3b>(100, 200), cv::Vec3b(255, 255, 0)));
        QVERIFY(lineColour(lines.at<cv::Vec3b>(300, 200), cv::Vec3b(150, 150, 25)));
        QVERIFY(lineColour(lines.at<cv::Vec3b>(200, 100), cv::Vec3b(0, 255, 0)));
        QVERIFY(lineColour(lines.at<cv::Vec3b>(200, 300), cv::Vec3b(50, 150, 50)));

        // S 0: every swatch is the grey round(0.5 * 255) = 128. At full saturation
        // L 1 is white and L 0 black, whatever the hue. A double click resets.
        const std::tuple<const char*, int, const char*> steps[]
            = { { "saturationSlider", 0, "#808080" }, { "saturationSlider", 185, nullptr },
                  { "lightnessSlider", 185, "#ffffff" }, { "lightnessSlider", -5, "#000000" } };
        for (const auto& [control, x, code] : steps) {
            QTest::mouseClick(child(w, QLatin1String(control)), Qt::LeftButton, Qt::NoModifier, QPoint(x, 5));
            for (int i = 0; i < 4 && code; ++i)
                QCOMPARE(swatch(w, i)->toolTip().left(7), QLatin1String(code));
        }
        for (const char* control : { "saturationSlider", "lightnessSlider" })
            QTest::mouseDClick(child(w, QLatin1String(control)), Qt::LeftButton, Qt::NoModifier, QPoint(5, 5));

        // A new base keeps the spread: s - d = 1.0 points straight down; hue wrap(1.5) = 0.5, cyan.
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(60, 200));
        QCOMPARE(Probe::picks(w), qMakePair(0.75, -0.25));
        QCOMPARE(shown(w)[2], QStringLiteral("190,355 #20dfdf"));

        // The middle button clears the picks, and keeps clearing while it drags.
        QTest::mousePress(plot, Qt::MiddleButton, Qt::NoModifier, QPoint(210, 190));
        QCOMPARE(Probe::picks(w), qMakePair(-1.0, -1000.0));
        QCOMPARE(Probe::drag(w), qMakePair(true, 3));
        Probe::selectedHue(w) = 0.3;
        moveTo(plot, QPoint(220, 190), Qt::MiddleButton);
        QCOMPARE(Probe::picks(w), qMakePair(-1.0, -1000.0));
        QTest::mouseRelease(plot, Qt::MiddleButton, Qt::NoModifier, QPoint(220, 190));
        QCOMPARE(shown(w), nothingShown);
    }

    void pressesThatPickNothing()
    {
        // Without a base there is nothing to spread from, but the drag starts.
        const std::tuple<Qt::MouseButton, QPoint, int> cases[] = {
            { Qt::RightButton, QPoint(250, 200), 2 }, // before any left click
            { Qt::LeftButton, QPoint(60, 60), 0 }, // outside the circle, 198 pixels out
            { Qt::LeftButton, QPoint(50, 200), 0 }, // exactly on the rim, 150 pixels out
        };
        for (const auto& [button, pos, dragButton] : cases) {
            MainWindow w(nullptr, false, 0);
            const int before = refreshes();
            QTest::mousePress(child(w, QStringLiteral("plotLabel")), button, Qt::NoModifier, pos);
            QCOMPARE(Probe::picks(w), qMakePair(-1.0, -1000.0));
            QCOMPARE(Probe::drag(w), qMakePair(dragButton != 0, dragButton));
            QCOMPARE(refreshes(), before + 1);
            QCOMPARE(shown(w), nothingShown);
        }
    }

    void dragsAndHover()
    {
        MainWindow w(nullptr, false, 0);
        QClickLabel* plot = child(w, QStringLiteral("plotLabel"));
        const int before = refreshes();
        // Hovering does not refresh. Beyond the rim the saturation exceeds 1.
        moveTo(plot, QPoint(200, 50));
        QCOMPARE(Probe::hover(w), (QList<double> { 0.5, 1.0, 200, 50 })); // hue, saturation, x, y
        moveTo(plot, QPoint(0, 200));
        QCOMPARE(Probe::hover(w), (QList<double> { 0.75, 200.0 / 150.0, 0, 200 }));
        QCOMPARE(Probe::picks(w), qMakePair(-1.0, -1000.0));
        QCOMPARE(refreshes(), before);

        // A drag keeps working outside the circle, and refreshes on every step.
        QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
        moveTo(plot, QPoint(390, 200), Qt::LeftButton);
        QCOMPARE(Probe::picks(w), qMakePair(0.25, -1000.0));
        QCOMPARE(refreshes(), before + 2);
        QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, QPoint(390, 200));

        // A right drag moves the spread: up is 0.5, down 1.0.
        QTest::mousePress(plot, Qt::RightButton, Qt::NoModifier, QPoint(200, 100));
        QCOMPARE(Probe::picks(w), qMakePair(0.25, 0.25 - 0.5));
        moveTo(plot, QPoint(200, 390), Qt::RightButton);
        QCOMPARE(Probe::picks(w), qMakePair(0.25, 0.25 - 1.0));
        QTest::mouseRelease(plot, Qt::RightButton, Qt::NoModifier, QPoint(200, 390));

        // While capturing, the next tick shows a pick; the click itself captures nothing.
        Probe::capturing(w) = true;
        const int whileCapturing = refreshes();
        QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(100, 200));
        QCOMPARE(Probe::picks(w).first, 0.75);
        QCOMPARE(refreshes(), whileCapturing);
        Probe::capturing(w) = false;
    }

    void controlsFollowADragAndResetOnDoubleClick()
    {
        using Steps = std::vector<std::tuple<int, const char*, int>>; // pointer x, value shown, bar width
        // The bar is trunc(185 * value) in single precision: 37 / 185 = 0.2 gives
        // 37; 100 / 185 = 0.5405405f gives 99.9999924 -> 99 (two decimals in the
        // text). Past either end: 1 and 0. Reset: trunc(138.75), trunc(92.5).
        const std::tuple<const char*, const char*, Steps, const char*, int> controls[] = {
            { "saturationSlider",
                " S: ", { { 37, "0.2", 37 }, { 400, "1", 185 }, { -30, "0", 0 }, { 100, "0.54", 99 } }, "0.75", 138 },
            { "lightnessSlider", " L: ", { { 185, "1", 185 }, { -1, "0", 0 } }, "0.5", 92 },
        };
        MainWindow w(nullptr, false, 0);
        for (const auto& [name, prefix, drag, reset, resetBar] : controls) {
            QClickLabel* slider = child(w, QLatin1String(name));
            const auto labels = slider->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly);
            QLabel *bar = labels.value(0), *text = labels.value(1);
            QCOMPARE(text->text(), QLatin1String(prefix) + QLatin1String(reset));

            // The press and every step of the drag set the value and refresh.
            const int before = refreshes();
            for (const auto& [x, value, width] : drag) {
                if (x == std::get<0>(drag.front()))
                    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, QPoint(x, 5));
                else
                    moveTo(slider, QPoint(x, 5), Qt::LeftButton);
                QCOMPARE(text->text(), QLatin1String(prefix) + QLatin1String(value));
                QCOMPARE(bar->width(), width);
            }
            QCOMPARE(refreshes(), before + int(drag.size()));
            const QString last = text->text();
            QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(150, 5));
            moveTo(slider, QPoint(150, 5));
            QCOMPARE(text->text(), last); // released: moves are only hovering

            // A double click resets without a refresh of its own.
            const int beforeReset = refreshes();
            QTest::mouseDClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(20, 5));
            QCOMPARE(text->text(), QLatin1String(prefix) + QLatin1String(reset));
            QCOMPARE(bar->width(), resetBar);
            QCOMPARE(refreshes(), beforeReset);
        }
        QCOMPARE(Probe::saturation(w), 0.75f); // the L drag left S alone
    }

    void colourSearch()
    {
        // Cyan is hue 180. Guards the search on a capture without colour: no
        // samples must not crash or divide by zero, and the hues found stay.
        MainWindow w(nullptr, false, 0);
        for (const cv::Scalar& bgr :
            { cv::Scalar(255, 255, 0), cv::Scalar::all(128), cv::Scalar::all(0), cv::Scalar::all(255) }) {
            platform::memoryDesktop().reset(320, 180, bgr);
            const int before = refreshes();
            w.findColors();
            QCOMPARE(refreshes(), before + 1); // the search refreshes first
            QCOMPARE(Probe::dominantHues(w), std::vector<float>(4, 0.5f));
            QCOMPARE(Probe::dominantHueCount(w), 4);
        }

        // Guards the search before any analysis: with capture off (-skipus=1) there
        // is no colour picture to read. Sampling takes no picture and leaves the window up.
        MainWindow skipping(nullptr, false, 1);
        skipping.show();
        QVERIFY(QTest::qWaitForWindowExposed(&skipping));
        skipping.findColors();
        QVERIFY(Probe::dominantHues(skipping).empty());
        QCOMPARE(Probe::dominantHueCount(skipping), 0);
        const int before = refreshes();
        skipping.startSampleColor();
        QVERIFY(skipping.isVisible() && sampleWindows().isEmpty());
        QCOMPARE(refreshes(), before);
    }

    void screenSample()
    {
        // Two monitors side by side; the sample is the first one at its own size.
        platform::MemoryDesktop& desktop = platform::memoryDesktop();
        desktop.reset(500, 180, cv::Scalar(10, 20, 30)); // B, G, R
        desktop.screen(cv::Rect(320, 0, 180, 180)).setTo(cv::Scalar(200, 200, 200, 255));
        desktop.screen(cv::Rect(100, 50, 10, 10)).setTo(cv::Scalar(0x56, 0x34, 0x12, 255));
        desktop.monitorTable = { platform::Rect { 0, 0, 320, 180 }, platform::Rect { 320, 0, 500, 180 } };
        {
            MainWindow w(nullptr, false, 0);
            w.show();
            QVERIFY(QTest::qWaitForWindowExposed(&w));

            // A left click copies the pixel under the pointer; Esc is the other way back.
            w.startSampleColor();
            QTest::mouseClick(sampleWindows().value(0), Qt::LeftButton, Qt::NoModifier, QPoint(105, 55));
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("#123456"));
            w.startSampleColor();
            QVERIFY(w.isHidden() && QTest::qWaitForWindowActive(sampleWindows().value(0)));
            QTest::keyClick(sampleWindows().value(0), Qt::Key_Escape);
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QVERIFY(sampleWindows().isEmpty() && w.isVisible());

            // Guards the leak of one window per sampling: the second replaces the first.
            w.startSampleColor();
            w.startSampleColor();
            QCOMPARE(sampleWindows().size(), 1);
            QClickLabel* sample = sampleWindows().first();
            QCOMPARE(QRect(sample->pos(), sample->size()), QRect(0, 0, 320, 180));
            const QImage picture = sample->pixmap(Qt::ReturnByValue).toImage();
            QCOMPARE(picture.size(), QSize(320, 180));
            QCOMPARE(picture.pixel(319, 179), qRgb(30, 20, 10));
        }
        QVERIFY(sampleWindows().isEmpty()); // it goes with the main window
    }
};

QTEST_MAIN(TestPlotInteraction)
#include "test_plot_interaction.moc"
