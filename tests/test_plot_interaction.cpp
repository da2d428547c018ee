// Picking hues on the vectorscope and the S and L controls, driven with mouse
// events on the real widgets of a main window (400 pixels: half 200, scope
// radius 150, controls 185 pixels long). Colours are worked out by hand from
// the HSL formulas with S 0.75 and L 0.5 unless a test changes them.

#include "shell/MainWindow.h"

#include "capture/QClickLabel.h"
#include "platform/memory/MemoryDesktop.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QtTest>

struct PlotTag;
template <> struct MainWindowProbe<PlotTag> {
    static double& selectedHue(MainWindow& w) { return w.selectedHue; }
    static double& hueSpread(MainWindow& w) { return w.hueSpread; }
    static float hoverHue(MainWindow& w) { return w.hoverHue; }
    static double hoverSaturation(MainWindow& w) { return w.hoverSaturation; }
    static double hoverX(MainWindow& w) { return w.hoverX; }
    static double hoverY(MainWindow& w) { return w.hoverY; }
    static bool plotDragging(MainWindow& w) { return w.plotDragging; }
    static int plotDragButton(MainWindow& w) { return w.plotDragButton; }
    static float saturation(MainWindow& w) { return w.saturation; }
    static float lightness(MainWindow& w) { return w.lightness; }
    static bool colorsShown(MainWindow& w) { return w.colorsShown; }
    static bool& capturing(MainWindow& w) { return w.capturing; }
    static const cv::Mat& scopeImage(MainWindow& w) { return w.scopeImage; }

    // The vectorscope's overlay pass, on a black picture so the lines can be found.
    static void drawOverlay(MainWindow& w)
    {
        w.scopeImage = cv::Mat::zeros(w.windowSize, w.windowSize, CV_8UC3);
        w.updateHarmonySwatches();
    }
};
using Probe = MainWindowProbe<PlotTag>;

namespace {

QClickLabel* child(MainWindow& w, const char* name)
{
    auto* label = w.findChild<QClickLabel*>(QLatin1String(name));
    if (!label)
        qFatal("no child %s", name);
    return label;
}

QClickLabel* swatch(MainWindow& w, int index)
{
    return child(w, QStringLiteral("colorSwatch%1").arg(index).toLatin1().constData());
}

QLabel* firstLabelChild(QWidget* control, int index)
{
    return control->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly).value(index);
}

// QTest moves the real cursor for a move; the labels follow the events they get.
void moveTo(QWidget* widget, const QPoint& pos, Qt::MouseButtons held = Qt::NoButton)
{
    QMouseEvent move(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

QString code(QClickLabel* label)
{
    return label->toolTip().left(7);
}

} // namespace

class TestPlotInteraction : public QObject {
    Q_OBJECT
private slots:
    void init();

    void leftClickAtTheCentrePicksRed();
    void rightClickSpreadsAndShowsAllFourSwatches();
    void rightClickBeforeAnyBaseOnlyStartsADrag();
    void pressOutsideTheCircleOnlyRefreshes();
    void dragFollowsThePointerBeyondTheCircle();
    void hoverMovesOnlyTheHoverPoint();
    void middleClickClearsThePicks();
    void theRefreshAfterAClickPlacesTheSwatches();
    void clicksRefreshOnlyWhileStopped();
    void saturationControlFollowsADrag();
    void lightnessControlAndDoubleClickReset();
    void swatchesFollowSaturationAndLightness();
};

void TestPlotInteraction::init()
{
    platform::memoryDesktop().reset(320, 180, cv::Scalar(40, 80, 120));
}

void TestPlotInteraction::leftClickAtTheCentrePicksRed()
{
    MainWindow w(nullptr, false, 0);
    QClickLabel* plot = child(w, "plotLabel");

    QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
    // atan2(0, 0) = 0: half a turn, the direction of hue 0.
    QCOMPARE(Probe::selectedHue(w), 0.5);
    QCOMPARE(Probe::hueSpread(w), -1000.0);
    QVERIFY(Probe::plotDragging(w));
    QCOMPARE(Probe::plotDragButton(w), 1);
    QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
    QVERIFY(!Probe::plotDragging(w));
    QCOMPARE(Probe::plotDragButton(w), 0);

    Probe::drawOverlay(w);
    QVERIFY(Probe::colorsShown(w));
    // Base swatch: hue wrap(0.5 + 0.5) = 1.0, red (223, 32, 32), at the end of
    // a line 165 pixels straight up: (200, 35), so the swatch's corner is (190, 25).
    QVERIFY(!swatch(w, 0)->isHidden());
    QCOMPARE(swatch(w, 0)->pos(), QPoint(190, 25));
    QCOMPARE(swatch(w, 0)->toolTip(), QStringLiteral("#df2020 (click to copy)"));
    QCOMPARE(swatch(w, 0)->styleSheet(),
        QStringLiteral("QLabel{background-color:rgb(223,32,32);border-radius:10;border:1px solid #CCC;}"
                       "QLabel:hover{border:3px solid #FFFFFF;}"));
    // Complement: hue 0.5, cyan (32, 223, 223), straight down at (200, 365).
    QVERIFY(!swatch(w, 1)->isHidden());
    QCOMPARE(swatch(w, 1)->pos(), QPoint(190, 355));
    QCOMPARE(code(swatch(w, 1)), QStringLiteral("#20dfdf"));
    QVERIFY(swatch(w, 2)->isHidden());
    QVERIFY(swatch(w, 3)->isHidden());
    QVERIFY(!child(w, "saturationSlider")->isHidden());
    QVERIFY(!child(w, "lightnessSlider")->isHidden());

    // The base line (255, 255, 0) runs up the centre column, the complement
    // (150, 150, 25) down it: antialiased, so brightest on the column itself,
    // red and green equal, blue absent on the base line and present below.
    const cv::Mat& scope = Probe::scopeImage(w);
    const cv::Vec3b up = scope.at<cv::Vec3b>(100, 200);
    QVERIFY(up[0] > 0 && up[0] == up[1] && up[2] == 0);
    QVERIFY(up[0] > scope.at<cv::Vec3b>(100, 199)[0] && up[0] > scope.at<cv::Vec3b>(100, 201)[0]);
    const cv::Vec3b down = scope.at<cv::Vec3b>(300, 200);
    QVERIFY(down[0] > 0 && down[0] == down[1] && down[2] > 0 && down[2] < down[0]);
    QCOMPARE(scope.at<cv::Vec3b>(100, 100), cv::Vec3b(0, 0, 0));
}

void TestPlotInteraction::rightClickSpreadsAndShowsAllFourSwatches()
{
    MainWindow w(nullptr, false, 0);
    QClickLabel* plot = child(w, "plotLabel");
    QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
    // Left of the centre: direction 0.75, so the spread is 0.5 - 0.75. (A
    // press exactly on the rim, 150 pixels out, would be outside: r < 150 is required.)
    QTest::mouseClick(plot, Qt::RightButton, Qt::NoModifier, QPoint(60, 200));
    QCOMPARE(Probe::selectedHue(w), 0.5);
    QCOMPARE(Probe::hueSpread(w), -0.25);

    Probe::drawOverlay(w);
    // Swatch 2: direction s - d = 0.75 points left, to (35, 200); hue wrap(1.25) = 0.25:
    // R on the falling ramp 0.125 + 0.75 * 0.49999999999998 -> 127, G q -> 223, B p -> 32.
    QVERIFY(!swatch(w, 2)->isHidden());
    QCOMPARE(swatch(w, 2)->pos(), QPoint(25, 190));
    QCOMPARE(code(swatch(w, 2)), QStringLiteral("#7fdf20"));
    // Swatch 3: direction s + d = 0.25 points right, to (365, 200); hue 0.75, violet (127, 32, 223).
    QVERIFY(!swatch(w, 3)->isHidden());
    QCOMPARE(swatch(w, 3)->pos(), QPoint(355, 190));
    QCOMPARE(code(swatch(w, 3)), QStringLiteral("#7f20df"));

    // Spread lines: (0, 255, 0) to the left, (50, 150, 50) to the right, along row 200.
    const cv::Mat& scope = Probe::scopeImage(w);
    const cv::Vec3b left = scope.at<cv::Vec3b>(200, 100);
    QVERIFY(left[1] > 0 && left[0] == 0 && left[2] == 0);
    const cv::Vec3b right = scope.at<cv::Vec3b>(200, 300);
    QVERIFY(right[1] > right[0] && right[0] > 0 && right[0] == right[2]);

    // A new base keeps the spread: the spread swatches turn with it.
    QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(60, 200));
    QCOMPARE(Probe::selectedHue(w), 0.75);
    QCOMPARE(Probe::hueSpread(w), -0.25);
    Probe::drawOverlay(w);
    // s - d = 1.0 points straight down, (200, 365); hue wrap(1.5) = 0.5, cyan.
    QCOMPARE(swatch(w, 2)->pos(), QPoint(190, 355));
    QCOMPARE(code(swatch(w, 2)), QStringLiteral("#20dfdf"));
}

void TestPlotInteraction::rightClickBeforeAnyBaseOnlyStartsADrag()
{
    MainWindow w(nullptr, false, 0);
    QClickLabel* plot = child(w, "plotLabel");
    QTest::mousePress(plot, Qt::RightButton, Qt::NoModifier, QPoint(250, 200));
    QCOMPARE(Probe::selectedHue(w), -1.0);
    QCOMPARE(Probe::hueSpread(w), -1000.0);
    QVERIFY(Probe::plotDragging(w));
    QCOMPARE(Probe::plotDragButton(w), 2);
    Probe::drawOverlay(w);
    QVERIFY(!Probe::colorsShown(w));
    for (int i = 0; i < 4; ++i)
        QVERIFY(swatch(w, i)->isHidden());
}

void TestPlotInteraction::pressOutsideTheCircleOnlyRefreshes()
{
    MainWindow w(nullptr, false, 0);
    QClickLabel* plot = child(w, "plotLabel");
    const int copies = platform::memoryDesktop().copyCount;
    // (60, 60) lies 198 pixels from the centre, beyond the radius of 150.
    QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, QPoint(60, 60));
    QCOMPARE(Probe::selectedHue(w), -1.0);
    QVERIFY(!Probe::plotDragging(w));
    QCOMPARE(Probe::plotDragButton(w), 0);
    QCOMPARE(platform::memoryDesktop().copyCount, copies + 1);
    // Exactly on the rim, 150 pixels out, is outside too.
    QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, QPoint(50, 200));
    QCOMPARE(Probe::selectedHue(w), -1.0);
    QVERIFY(!Probe::plotDragging(w));
}

void TestPlotInteraction::dragFollowsThePointerBeyondTheCircle()
{
    MainWindow w(nullptr, false, 0);
    QClickLabel* plot = child(w, "plotLabel");
    QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
    // 190 pixels right of the centre, outside the circle: the drag still moves the base.
    moveTo(plot, QPoint(390, 200), Qt::LeftButton);
    QCOMPARE(Probe::selectedHue(w), 0.25);
    QCOMPARE(Probe::plotDragButton(w), 1);
    QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, QPoint(390, 200));

    // A right drag moves the spread.
    QTest::mousePress(plot, Qt::RightButton, Qt::NoModifier, QPoint(200, 100)); // up: 0.5
    QCOMPARE(Probe::hueSpread(w), 0.25 - 0.5);
    moveTo(plot, QPoint(200, 390), Qt::RightButton); // down: 1.0
    QCOMPARE(Probe::hueSpread(w), 0.25 - 1.0);
    QCOMPARE(Probe::selectedHue(w), 0.25);
    QTest::mouseRelease(plot, Qt::RightButton, Qt::NoModifier, QPoint(200, 390));

    // Released: moving changes nothing but the hover point.
    moveTo(plot, QPoint(50, 200));
    QCOMPARE(Probe::selectedHue(w), 0.25);
    QCOMPARE(Probe::hueSpread(w), -0.75);
}

void TestPlotInteraction::hoverMovesOnlyTheHoverPoint()
{
    MainWindow w(nullptr, false, 0);
    QClickLabel* plot = child(w, "plotLabel");
    QCOMPARE(Probe::hoverSaturation(w), -1.0);
    QCOMPARE(Probe::hoverX(w), -1.0);

    const int copies = platform::memoryDesktop().copyCount;
    moveTo(plot, QPoint(200, 50));
    QCOMPARE(Probe::hoverHue(w), 0.5f);
    QCOMPARE(Probe::hoverSaturation(w), 1.0); // 150 / 150
    QCOMPARE(Probe::hoverX(w), 200.0);
    QCOMPARE(Probe::hoverY(w), 50.0);

    // Beyond the rim the saturation exceeds 1: (0, 200) is 200 away.
    moveTo(plot, QPoint(0, 200));
    QCOMPARE(Probe::hoverHue(w), 0.75f);
    QCOMPARE(Probe::hoverSaturation(w), 200.0 / 150.0);
    QCOMPARE(Probe::selectedHue(w), -1.0);
    QCOMPARE(Probe::hueSpread(w), -1000.0);
    QVERIFY(!Probe::plotDragging(w));
    QCOMPARE(platform::memoryDesktop().copyCount, copies); // hovering does not refresh
}

void TestPlotInteraction::middleClickClearsThePicks()
{
    MainWindow w(nullptr, false, 0);
    QClickLabel* plot = child(w, "plotLabel");
    QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
    QTest::mouseClick(plot, Qt::RightButton, Qt::NoModifier, QPoint(60, 200));
    Probe::drawOverlay(w);
    QVERIFY(!swatch(w, 3)->isHidden());

    QTest::mousePress(plot, Qt::MiddleButton, Qt::NoModifier, QPoint(210, 190));
    QCOMPARE(Probe::selectedHue(w), -1.0);
    QCOMPARE(Probe::hueSpread(w), -1000.0);
    QCOMPARE(Probe::plotDragButton(w), 3);
    // Dragging with the middle button keeps clearing.
    Probe::selectedHue(w) = 0.3;
    moveTo(plot, QPoint(220, 190), Qt::MiddleButton);
    QCOMPARE(Probe::selectedHue(w), -1.0);
    QTest::mouseRelease(plot, Qt::MiddleButton, Qt::NoModifier, QPoint(220, 190));

    Probe::drawOverlay(w);
    QVERIFY(!Probe::colorsShown(w));
    for (int i = 0; i < 4; ++i)
        QVERIFY(swatch(w, i)->isHidden());
    QVERIFY(child(w, "saturationSlider")->isHidden());
    QVERIFY(child(w, "lightnessSlider")->isHidden());
    // Nothing is drawn without a base.
    QCOMPARE(cv::countNonZero(Probe::scopeImage(w).reshape(1)), 0);
}

void TestPlotInteraction::theRefreshAfterAClickPlacesTheSwatches()
{
    // No overlay pass by hand here: the click's own refresh runs the vectorscope, which places them.
    MainWindow w(nullptr, false, 0);
    QClickLabel* plot = child(w, "plotLabel");
    QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
    QVERIFY(Probe::colorsShown(w));
    QVERIFY(!swatch(w, 0)->isHidden());
    QCOMPARE(swatch(w, 0)->pos(), QPoint(190, 25));
    QCOMPARE(code(swatch(w, 0)), QStringLiteral("#df2020"));
    QVERIFY(!child(w, "saturationSlider")->isHidden());

    QTest::mouseClick(plot, Qt::MiddleButton, Qt::NoModifier, QPoint(200, 200));
    QVERIFY(!Probe::colorsShown(w));
    QVERIFY(swatch(w, 0)->isHidden());
    QVERIFY(child(w, "lightnessSlider")->isHidden());
}

void TestPlotInteraction::clicksRefreshOnlyWhileStopped()
{
    MainWindow w(nullptr, false, 0);
    QClickLabel* plot = child(w, "plotLabel");
    int copies = platform::memoryDesktop().copyCount;
    QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 100));
    QCOMPARE(platform::memoryDesktop().copyCount, copies + 1);
    // A drag runs the click again, which refreshes too.
    moveTo(plot, QPoint(200, 120), Qt::LeftButton);
    QCOMPARE(platform::memoryDesktop().copyCount, copies + 2);
    QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 120));

    // While capturing the timer shows the change; the click itself does not capture.
    Probe::capturing(w) = true;
    copies = platform::memoryDesktop().copyCount;
    QTest::mousePress(plot, Qt::LeftButton, Qt::NoModifier, QPoint(100, 200));
    QCOMPARE(Probe::selectedHue(w), 0.75);
    QCOMPARE(platform::memoryDesktop().copyCount, copies);
    QTest::mouseRelease(plot, Qt::LeftButton, Qt::NoModifier, QPoint(100, 200));
    Probe::capturing(w) = false;
}

void TestPlotInteraction::saturationControlFollowsADrag()
{
    MainWindow w(nullptr, false, 0);
    QClickLabel* slider = child(w, "saturationSlider");
    QLabel* bar = firstLabelChild(slider, 0);
    QLabel* text = firstLabelChild(slider, 1);
    QCOMPARE(text->text(), QStringLiteral(" S: 0.75"));

    const int copies = platform::memoryDesktop().copyCount;
    // 37 / 185 = 0.2; the bar is trunc(185 * 0.2f) = 37 wide. The press refreshes.
    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, QPoint(37, 5));
    QCOMPARE(Probe::saturation(w), 0.2f);
    QCOMPARE(text->text(), QStringLiteral(" S: 0.2"));
    QCOMPARE(bar->width(), 37);
    QCOMPARE(platform::memoryDesktop().copyCount, copies + 1);

    // Past the right end: 1, the full length.
    moveTo(slider, QPoint(400, 5), Qt::LeftButton);
    QCOMPARE(Probe::saturation(w), 1.0f);
    QCOMPARE(text->text(), QStringLiteral(" S: 1"));
    QCOMPARE(bar->width(), 185);
    // Past the left end: 0.
    moveTo(slider, QPoint(-30, 5), Qt::LeftButton);
    QCOMPARE(Probe::saturation(w), 0.0f);
    QCOMPARE(text->text(), QStringLiteral(" S: 0"));
    QCOMPARE(bar->width(), 0);
    // 100 / 185 = 0.5405405f: the text shows two decimals, and the bar is
    // trunc(185 * 0.5405405f) where the single-precision product is 99.9999924.
    moveTo(slider, QPoint(100, 5), Qt::LeftButton);
    QCOMPARE(text->text(), QStringLiteral(" S: 0.54"));
    QCOMPARE(bar->width(), 99);

    // Released: moves are only hovering.
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(100, 5));
    moveTo(slider, QPoint(150, 5));
    QCOMPARE(text->text(), QStringLiteral(" S: 0.54"));

    // Double click: back to 0.75, trunc(185 * 0.75) = 138, without a refresh of its own.
    const int beforeReset = platform::memoryDesktop().copyCount;
    QTest::mouseDClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(20, 5));
    QCOMPARE(Probe::saturation(w), 0.75f);
    QCOMPARE(text->text(), QStringLiteral(" S: 0.75"));
    QCOMPARE(bar->width(), 138);
    QCOMPARE(platform::memoryDesktop().copyCount, beforeReset);
    // The bar keeps its height.
    QCOMPARE(bar->height(), 8);
}

void TestPlotInteraction::lightnessControlAndDoubleClickReset()
{
    MainWindow w(nullptr, false, 0);
    QClickLabel* slider = child(w, "lightnessSlider");
    QLabel* bar = firstLabelChild(slider, 0);
    QLabel* text = firstLabelChild(slider, 1);
    QCOMPARE(text->text(), QStringLiteral(" L: 0.5"));

    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, QPoint(185, 5));
    QCOMPARE(Probe::lightness(w), 1.0f);
    QCOMPARE(text->text(), QStringLiteral(" L: 1"));
    QCOMPARE(bar->width(), 185);
    moveTo(slider, QPoint(-1, 5), Qt::LeftButton);
    QCOMPARE(Probe::lightness(w), 0.0f);
    QCOMPARE(text->text(), QStringLiteral(" L: 0"));
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(-1, 5));

    // S and L are separate: the saturation did not move.
    QCOMPARE(Probe::saturation(w), 0.75f);

    QTest::mouseDClick(slider, Qt::LeftButton, Qt::NoModifier, QPoint(20, 5));
    QCOMPARE(Probe::lightness(w), 0.5f);
    QCOMPARE(text->text(), QStringLiteral(" L: 0.5"));
    QCOMPARE(bar->width(), 92); // trunc(92.5)
}

void TestPlotInteraction::swatchesFollowSaturationAndLightness()
{
    MainWindow w(nullptr, false, 0);
    QClickLabel* plot = child(w, "plotLabel");
    QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
    QTest::mouseClick(plot, Qt::RightButton, Qt::NoModifier, QPoint(60, 200));

    // S 0: every swatch is the grey round(0.5 * 255) = 128.
    QTest::mouseClick(child(w, "saturationSlider"), Qt::LeftButton, Qt::NoModifier, QPoint(0, 5));
    QCOMPARE(Probe::saturation(w), 0.0f);
    Probe::drawOverlay(w);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(code(swatch(w, i)), QStringLiteral("#808080"));

    QTest::mouseClick(child(w, "saturationSlider"), Qt::LeftButton, Qt::NoModifier, QPoint(185, 5));
    // L 1: white whatever the hue.
    QTest::mouseClick(child(w, "lightnessSlider"), Qt::LeftButton, Qt::NoModifier, QPoint(185, 5));
    Probe::drawOverlay(w);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(code(swatch(w, i)), QStringLiteral("#ffffff"));
    // L 0: black.
    QTest::mouseClick(child(w, "lightnessSlider"), Qt::LeftButton, Qt::NoModifier, QPoint(-5, 5));
    Probe::drawOverlay(w);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(code(swatch(w, i)), QStringLiteral("#000000"));
}

QTEST_MAIN(TestPlotInteraction)
#include "test_plot_interaction.moc"
