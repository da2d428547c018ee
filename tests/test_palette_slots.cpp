// The palette slots of a real main window: copying swatch codes to the
// clipboard, the colour search on scripted captures, and the monitor sample.

#include "shell/MainWindow.h"

#include "capture/QClickLabel.h"
#include "platform/memory/MemoryDesktop.h"
#include "support/TestSupport.h"

#include <QApplication>
#include <QClipboard>
#include <QtTest>

struct PaletteTag;
template <> struct MainWindowProbe<PaletteTag> {
    static const std::vector<float>& dominantHues(MainWindow& w) { return w.dominantHues; }
    static int dominantHueCount(MainWindow& w) { return w.dominantHueCount; }
    static cv::Mat& colorImage(MainWindow& w) { return w.colorImage; }
    static void drawOverlay(MainWindow& w)
    {
        w.scopeImage = cv::Mat::zeros(w.windowSize, w.windowSize, CV_8UC3);
        w.updateHarmonySwatches();
    }
};
using Probe = MainWindowProbe<PaletteTag>;

namespace {

QClickLabel* child(MainWindow& w, const QString& name)
{
    auto* label = w.findChild<QClickLabel*>(name);
    if (!label)
        qFatal("no child %s", qPrintable(name));
    return label;
}

QString clipboardText()
{
    return QGuiApplication::clipboard()->text(QClipboard::Clipboard);
}

QList<QClickLabel*> topLevelClickLabels()
{
    QList<QClickLabel*> labels;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* label = qobject_cast<QClickLabel*>(widget))
            labels << label;
    }
    return labels;
}

// What the vectorscope analysis leaves for a frame of one colour: hue in degrees, S, V.
cv::Mat uniformHsv(float hue, float saturation, float value)
{
    return cv::Mat(12, 16, CV_32FC3, cv::Scalar(hue, saturation, value));
}

} // namespace

class TestPaletteSlots : public QObject {
    Q_OBJECT
private slots:
    void swatchClickCopiesOnlyTheCode();
    void searchOnOneColourFindsItFourTimes();
    void searchOnGreyKeepsThePreviousHues();
    void searchBeforeAnyAnalysisFindsNothing();
    void sampleShowsTheFirstMonitorInOneWindow();
    void sampleWithoutCaptureOnlyHides();
};

void TestPaletteSlots::swatchClickCopiesOnlyTheCode()
{
    platform::memoryDesktop().reset(320, 180);
    MainWindow w(nullptr, false, 0);
    QClickLabel* plot = child(w, QStringLiteral("plotLabel"));
    QTest::mouseClick(plot, Qt::LeftButton, Qt::NoModifier, QPoint(200, 200));
    QTest::mouseClick(plot, Qt::RightButton, Qt::NoModifier, QPoint(60, 200));
    Probe::drawOverlay(w);

    // Base red, complement cyan, spread hues 0.25 and 0.75 (S 0.75, L 0.5).
    const QStringList expected { QStringLiteral("#df2020"), QStringLiteral("#20dfdf"), QStringLiteral("#7fdf20"),
        QStringLiteral("#7f20df") };
    for (int i = 0; i < 4; ++i) {
        QGuiApplication::clipboard()->setText(QStringLiteral("something else"));
        QTest::mouseClick(
            child(w, QStringLiteral("colorSwatch%1").arg(i)), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        QCOMPARE(clipboardText(), expected[i]);
    }

    // Whatever the tooltip holds, the first seven characters go, never the suffix.
    child(w, QStringLiteral("colorSwatch2"))->setToolTip(QStringLiteral("#ff0500 (click to copy)"));
    QTest::mouseClick(child(w, QStringLiteral("colorSwatch2")), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    QCOMPARE(clipboardText(), QStringLiteral("#ff0500"));
}

void TestPaletteSlots::searchOnOneColourFindsItFourTimes()
{
    platform::memoryDesktop().reset(320, 180, cv::Scalar(255, 255, 0)); // cyan: hue 180, half a turn
    MainWindow w(nullptr, false, 0);
    QVERIFY(Probe::dominantHues(w).empty());
    QCOMPARE(Probe::dominantHueCount(w), 0);
    Probe::colorImage(w) = uniformHsv(180.0f, 1.0f, 1.0f);

    const int copies = platform::memoryDesktop().copyCount;
    w.findColors();
    QCOMPARE(platform::memoryDesktop().copyCount, copies + 1); // the search refreshes first
    QCOMPARE(Probe::dominantHues(w), std::vector<float>(4, 0.5f));
    QCOMPARE(Probe::dominantHueCount(w), 4);
}

void TestPaletteSlots::searchOnGreyKeepsThePreviousHues()
{
    // Guards the search on a capture without colour: no samples must not
    // crash or divide by zero, and the hues found before stay.
    platform::memoryDesktop().reset(320, 180, cv::Scalar(255, 255, 0));
    MainWindow w(nullptr, false, 0);
    Probe::colorImage(w) = uniformHsv(180.0f, 1.0f, 1.0f);
    w.findColors();
    QCOMPARE(Probe::dominantHues(w), std::vector<float>(4, 0.5f));

    for (const float value : { 0.5f, 0.0f, 1.0f }) { // grey, black, white
        const int level = static_cast<int>(value * 255);
        platform::memoryDesktop().reset(320, 180, cv::Scalar(level, level, level));
        Probe::colorImage(w) = uniformHsv(0.0f, 0.0f, value);
        w.findColors();
        QCOMPARE(Probe::dominantHues(w), std::vector<float>(4, 0.5f));
        QCOMPARE(Probe::dominantHueCount(w), 4);
    }

    // A first search on grey finds nothing and leaves the table empty.
    MainWindow fresh(nullptr, false, 0);
    Probe::colorImage(fresh) = uniformHsv(0.0f, 0.0f, 0.5f);
    fresh.findColors();
    QVERIFY(Probe::dominantHues(fresh).empty());
    QCOMPARE(Probe::dominantHueCount(fresh), 0);
}

void TestPaletteSlots::searchBeforeAnyAnalysisFindsNothing()
{
    // Guards the search on an empty colour picture: with capture switched off
    // no analysis ever ran, and the search must not read it.
    platform::memoryDesktop().reset(320, 180, cv::Scalar(0, 0, 255));
    MainWindow w(nullptr, false, 1);
    QVERIFY(Probe::colorImage(w).empty());
    w.findColors();
    QVERIFY(Probe::dominantHues(w).empty());
    QCOMPARE(Probe::dominantHueCount(w), 0);
}

void TestPaletteSlots::sampleShowsTheFirstMonitorInOneWindow()
{
    // Two monitors side by side; the sample is the first one at its own size.
    platform::MemoryDesktop& desktop = platform::memoryDesktop();
    desktop.reset(500, 180, cv::Scalar(10, 20, 30)); // B, G, R
    desktop.screen(cv::Rect(320, 0, 180, 180)).setTo(cv::Scalar(200, 200, 200, 255));
    desktop.monitorTable = { platform::Rect { 0, 0, 320, 180 }, platform::Rect { 320, 0, 500, 180 } };

    {
        MainWindow w(nullptr, false, 0);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.startSampleColor();
        QVERIFY(w.isHidden());

        QList<QClickLabel*> samples = topLevelClickLabels();
        QCOMPARE(samples.size(), 1);
        QClickLabel* sample = samples.first();
        QVERIFY(sample->isVisible());
        QCOMPARE(sample->size(), QSize(320, 180));
        QCOMPARE(sample->minimumSize(), QSize(320, 180));
        QCOMPARE(sample->maximumSize(), QSize(320, 180));
        QCOMPARE(sample->pos(), QPoint(0, 0));
        const QImage picture = sample->pixmap(Qt::ReturnByValue).toImage();
        QCOMPARE(picture.size(), QSize(320, 180));
        QCOMPARE(picture.pixel(5, 5), qRgb(30, 20, 10));
        QCOMPARE(picture.pixel(319, 179), qRgb(30, 20, 10));

        // Guards the leak of one window per sampling: the second replaces the first.
        w.startSampleColor();
        QCOMPARE(topLevelClickLabels().size(), 1);
    }
    // And it goes with the main window.
    QCOMPARE(topLevelClickLabels().size(), 0);
}

void TestPaletteSlots::sampleWithoutCaptureOnlyHides()
{
    platform::memoryDesktop().reset(320, 180);
    MainWindow w(nullptr, false, 1);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const int copies = platform::memoryDesktop().copyCount;
    w.startSampleColor();
    QVERIFY(w.isHidden());
    QVERIFY(topLevelClickLabels().isEmpty());
    QCOMPARE(platform::memoryDesktop().copyCount, copies);
}

QTEST_MAIN(TestPaletteSlots)
#include "test_palette_slots.moc"
