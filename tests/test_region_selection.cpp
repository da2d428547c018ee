// Region selection: the drag rules, the shown screenshot size, the way back to
// monitor pixels, and the whole round from the "Select region" action to the
// capture record in config.ini, on a scripted desktop.

#include "capture/QSelectLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "capture/RegionMath.h"
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>
#include <QRubberBand>
#include <QSignalSpy>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <optional>

struct RegionTag;
template <> struct MainWindowProbe<RegionTag> {
    static QString currentApp(MainWindow& w) { return w.currentApp; }
    static std::array<int, 4> region(MainWindow& w, const QString& app) { return w.appRegions.value(app); }
    static int adapter(MainWindow& w, const QString& app) { return w.appAdapters.value(app, -99); }
    static QSelectRegionWindow* regionWindow(MainWindow& w) { return w.regionWindow; }
};
using Probe = MainWindowProbe<RegionTag>;

Q_DECLARE_METATYPE(std::optional<QRect>)

namespace {

const QString kApp = QStringLiteral("Photoshop");

// A Photoshop window in front, so the selection is stored under "Photoshop".
void scriptForeground()
{
    auto& d = platform::memoryDesktop();
    d.foregroundWindow = 42;
    d.windows[42] = { { "Photoshop", "Untitled-1 @ 66.7% (RGB/8) - Photoshop" }, "/opt/photoshop/photoshop" };
}

void scriptOneMonitor(int width, int height)
{
    platform::memoryDesktop().reset(width, height, cv::Scalar(0, 0, 255)); // red
    scriptForeground();
}

// Monitor 0 red, monitor 1 blue, side by side.
void scriptTwoMonitors()
{
    auto& d = platform::memoryDesktop();
    d.reset(3840, 1080, cv::Scalar(0, 0, 255));
    d.screen(cv::Rect(1920, 0, 1920, 1080)).setTo(cv::Scalar(255, 0, 0, 255));
    d.monitorTable = { platform::Rect { 0, 0, 1920, 1080 }, platform::Rect { 1920, 0, 3840, 1080 } };
    scriptForeground();
}

// The value stored under `key`, read from the file on disk (not through a
// QSettings object, which could answer from its in-process cache).
const QString kAbsent = QStringLiteral("<absent>");

QString recordOnDisk(const QString& key)
{
    const QByteArray text = testSandbox().readFile(testSandbox().configFile());
    for (const QByteArray& line : text.split('\n')) {
        const QString entry = QString::fromUtf8(line).trimmed();
        if (entry.startsWith(key + QLatin1Char('=')))
            return entry.mid(key.size() + 1);
    }
    return kAbsent;
}

void triggerSelectRegion(MainWindow& w)
{
    auto* toolBar = w.findChild<QToolBar*>(QStringLiteral("toolBar"));
    QVERIFY(toolBar);
    for (QAction* action : toolBar->actions()) {
        if (action->text() == QLatin1String("Select region")) {
            action->trigger();
            // Let the window lay itself out, as the event loop would before the user drags.
            QCoreApplication::processEvents();
            return;
        }
    }
    QFAIL("no \"Select region\" action");
}

QSelectLabel* labelOf(QSelectRegionWindow* window)
{
    return window ? window->findChild<QSelectLabel*>() : nullptr;
}

QPixmap shownPicture(QSelectLabel* label)
{
    return label->pixmap(Qt::ReturnByValue);
}

void drag(QSelectLabel* label, const QPoint& from, const QPoint& to)
{
    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(label, to);
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, to);
}

QList<QToolButton*> monitorButtons(QSelectRegionWindow* window)
{
    QList<QToolButton*> buttons;
    for (QToolButton* button : window->findChildren<QToolButton*>())
        if (button->text().startsWith(QLatin1String("Monitor #")))
            buttons.append(button);
    return buttons;
}

void releaseDeletedWindows()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace

class RegionSelectionTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QFile::remove(testSandbox().configFile()); }

    // --- the arithmetic --------------------------------------------------

    void dragBecomesSelection_data();
    void dragBecomesSelection();
    void screenshotShownAtThreeQuarters_data();
    void screenshotShownAtThreeQuarters();
    void selectionGoesBackToMonitorPixels_data();
    void selectionGoesBackToMonitorPixels();

    // --- the window, driven as a user drives it ----------------------------

    void workedExampleIsStoredInConfig();
    void twoMonitorsGiveTwoButtons();
    void clickWithoutDragStoresNothing();
    void dragPastThePictureStaysOnTheMonitor();
    void rubberBandFollowsTheDrag();
    void closedWindowsAreReleased();
    void noScreenServiceOpensNothing();
};

void RegionSelectionTest::dragBecomesSelection_data()
{
    QTest::addColumn<QPoint>("from");
    QTest::addColumn<QPoint>("to");
    QTest::addColumn<std::optional<QRect>>("expected");

    const auto corners
        = [](int x0, int y0, int x1, int y1) { return std::optional<QRect>(QRect(QPoint(x0, y0), QPoint(x1, y1))); };
    // 300 x 150, ratio 0.5: kept as drawn, in either direction.
    QTest::newRow("bottom-right to top-left") << QPoint(375, 300) << QPoint(75, 150) << corners(75, 150, 375, 300);
    QTest::newRow("top-left to bottom-right") << QPoint(75, 150) << QPoint(375, 300) << corners(75, 150, 375, 300);
    QTest::newRow("bottom-left to top-right") << QPoint(75, 300) << QPoint(375, 150) << corners(75, 150, 375, 300);
    // 39 x 20 is too narrow: 40 wide, height 40 * 20/39 = 20.5 -> 20.
    QTest::newRow("39 wide") << QPoint(10, 10) << QPoint(49, 30) << corners(10, 10, 50, 30);
    QTest::newRow("39 wide, reversed") << QPoint(49, 30) << QPoint(10, 10) << corners(10, 10, 50, 30);
    QTest::newRow("exactly 40 wide") << QPoint(10, 10) << QPoint(50, 30) << corners(10, 10, 50, 30);
    // 50 x 300, ratio 6: capped at four times the minimum width.
    QTest::newRow("ratio 6") << QPoint(10, 10) << QPoint(60, 310) << corners(10, 10, 50, 170);
    // 100 x 400, ratio exactly 4: kept.
    QTest::newRow("ratio exactly 4") << QPoint(10, 10) << QPoint(110, 410) << corners(10, 10, 110, 410);
    // Zero width: infinite ratio, the tallest box.
    QTest::newRow("vertical line") << QPoint(20, 105) << QPoint(20, 5) << corners(20, 5, 60, 165);
    // Zero height and too narrow: ratio 0, a box one row high.
    QTest::newRow("short horizontal line") << QPoint(5, 20) << QPoint(30, 20) << corners(5, 20, 45, 20);
    // Guards the 0 / 0 ratio: the box rule would truncate a NaN height into a
    // rectangle of huge negative size. A click selects nothing.
    QTest::newRow("click") << QPoint(7, 7) << QPoint(7, 7) << std::optional<QRect>();
}

void RegionSelectionTest::dragBecomesSelection()
{
    QFETCH(QPoint, from);
    QFETCH(QPoint, to);
    QFETCH(std::optional<QRect>, expected);
    const std::optional<QRect> selection = selectionFromDrag(from, to);
    QCOMPARE(selection.has_value(), expected.has_value());
    if (expected)
        QCOMPARE(*selection, *expected);
}

void RegionSelectionTest::screenshotShownAtThreeQuarters_data()
{
    QTest::addColumn<QSize>("monitor");
    QTest::addColumn<QSize>("shown");
    QTest::newRow("1920 x 1080") << QSize(1920, 1080) << QSize(1440, 810);
    // Limit 1024 x 576; aspect 1.7786 > 1024/576 = 1.7778, so the width
    // limits: 1024 / 1.7786 = 575.7 -> 575.
    QTest::newRow("1366 x 768") << QSize(1366, 768) << QSize(1024, 575);
    QTest::newRow("portrait 1080 x 1920") << QSize(1080, 1920) << QSize(810, 1440);
    // Limit 750 x 749; aspect 1.001 < 750/749, so the height limits:
    // 749 * 1.001 = 749.75 -> 749.
    QTest::newRow("1000 x 999") << QSize(1000, 999) << QSize(749, 749);
    // Guards the empty target that cv::resize rejects: an empty monitor record
    // gives a one-pixel screenshot, whose three quarters are 0 x 0.
    QTest::newRow("1 x 1") << QSize(1, 1) << QSize(1, 1);
}

void RegionSelectionTest::screenshotShownAtThreeQuarters()
{
    QFETCH(QSize, monitor);
    QFETCH(QSize, shown);
    QCOMPARE(shownScreenshotSize(monitor.width(), monitor.height()), shown);

    cv::Mat screenshot(monitor.height(), monitor.width(), CV_8UC4, cv::Scalar(10, 20, 30, 255));
    scaleScreenshotForDisplay(screenshot);
    QCOMPARE(QSize(screenshot.cols, screenshot.rows), shown);
    QCOMPARE(screenshot.type(), CV_8UC4);
    const cv::Vec4b pixel = screenshot.at<cv::Vec4b>(shown.height() / 2, shown.width() / 2);
    QCOMPARE(pixel, cv::Vec4b(10, 20, 30, 255));
}

void RegionSelectionTest::selectionGoesBackToMonitorPixels_data()
{
    QTest::addColumn<QRect>("label");
    QTest::addColumn<double>("pixelRatio");
    QTest::addColumn<QRect>("monitor");
    // 75/0.75, 150/0.75, 301/0.75 = 401.3, 151/0.75 = 201.3.
    QTest::newRow("worked example") << QRect(75, 150, 301, 151) << 1.0 << QRect(100, 200, 401, 201);
    // 1/0.75 = 1.33 and 41/0.75 = 54.67 truncate.
    QTest::newRow("truncation") << QRect(1, 1, 41, 1) << 1.0 << QRect(1, 1, 54, 1);
    // Two screenshot pixels per label pixel: 75 * 2 / 0.75 = 200, 151 * 2 / 0.75 = 402.7.
    QTest::newRow("ratio 2") << QRect(75, 150, 151, 151) << 2.0 << QRect(200, 400, 402, 402);
    QTest::newRow("ratio 1.5") << QRect(10, 20, 100, 50) << 1.5 << QRect(20, 40, 200, 100);
}

void RegionSelectionTest::selectionGoesBackToMonitorPixels()
{
    QFETCH(QRect, label);
    QFETCH(double, pixelRatio);
    QFETCH(QRect, monitor);
    QCOMPARE(labelToMonitor(label, pixelRatio), monitor);
}

void RegionSelectionTest::workedExampleIsStoredInConfig()
{
    scriptOneMonitor(1920, 1080);
    MainWindow w(nullptr, false, 0);
    QCOMPARE(Probe::currentApp(w), kApp);
    triggerSelectRegion(w);

    QPointer<QSelectRegionWindow> window = Probe::regionWindow(w);
    QVERIFY(window);
    QCOMPARE(window->parent(), static_cast<QObject*>(&w));
    QCOMPARE(window->windowTitle(), QStringLiteral("Select region to capture for application: Photoshop"));
    QCOMPARE(window->windowModality(), Qt::WindowModal);
    QVERIFY(window->isVisible());

    QSelectLabel* label = labelOf(window);
    QVERIFY(label);
    QCOMPARE(shownPicture(label).size(), QSize(1440, 810));
    QCOMPARE(shownPicture(label).toImage().pixel(720, 405), qRgb(255, 0, 0));
    // Label pixels are picture pixels only if the label is exactly the picture.
    QCOMPARE(label->size(), QSize(1440, 810));

    QSignalSpy selected(window.data(), &QSelectRegionWindow::rectSelected);
    drag(label, QPoint(375, 300), QPoint(75, 150));
    QCOMPARE(selected.count(), 1);

    QCOMPARE(Probe::region(w, kApp), (std::array<int, 4> { 100, 200, 500, 400 }));
    QCOMPARE(Probe::adapter(w, kApp), 0);
    QCOMPARE(recordOnDisk(kApp), QStringLiteral("0|100|200|500|400"));
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("previewLabel"))->minimumSize(), QSize(10, 0));
    QVERIFY(!window || !window->isVisible());
}

void RegionSelectionTest::twoMonitorsGiveTwoButtons()
{
    scriptTwoMonitors();
    MainWindow w(nullptr, false, 0);
    triggerSelectRegion(w);
    QSelectRegionWindow* window = Probe::regionWindow(w);
    QVERIFY(window);
    QSelectLabel* label = labelOf(window);

    const QList<QToolButton*> buttons = monitorButtons(window);
    QCOMPARE(buttons.size(), 2);
    QCOMPARE(buttons[0]->text(), QStringLiteral("Monitor #1"));
    QCOMPARE(buttons[1]->text(), QStringLiteral("Monitor #2"));
    QVERIFY(buttons[0]->isCheckable() && buttons[1]->isCheckable());
    QVERIFY(buttons[0]->isChecked());
    QVERIFY(!buttons[1]->isChecked());
    QCOMPARE(shownPicture(label).toImage().pixel(100, 100), qRgb(255, 0, 0));

    QTest::mouseClick(buttons[1], Qt::LeftButton);
    QVERIFY(!buttons[0]->isChecked());
    QVERIFY(buttons[1]->isChecked());
    QCOMPARE(label->monitorIndex, 1);
    QCOMPARE(shownPicture(label).size(), QSize(1440, 810));
    QCOMPARE(shownPicture(label).toImage().pixel(100, 100), qRgb(0, 0, 255));

    // A click on the checked button toggles it off; the shown monitor stays checked.
    QTest::mouseClick(buttons[1], Qt::LeftButton);
    QVERIFY(!buttons[0]->isChecked());
    QVERIFY(buttons[1]->isChecked());

    drag(label, QPoint(75, 150), QPoint(375, 300));
    QCOMPARE(Probe::adapter(w, kApp), 1);
    QCOMPARE(recordOnDisk(kApp), QStringLiteral("1|100|200|500|400"));
}

void RegionSelectionTest::clickWithoutDragStoresNothing()
{
    scriptOneMonitor(1920, 1080);
    MainWindow w(nullptr, false, 0);
    triggerSelectRegion(w);
    QPointer<QSelectRegionWindow> window = Probe::regionWindow(w);
    QSelectLabel* label = labelOf(window);
    QVERIFY(label);
    QSignalSpy labelSelected(label, &QSelectLabel::rectSelected);

    // Guards the 0 / 0 ratio of a press and release at one point, which used
    // to yield a rectangle of undefined, hugely negative height.
    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
    releaseDeletedWindows();

    QCOMPARE(labelSelected.count(), 0);
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QVERIFY(label->selection.isNull());
    QCOMPARE(recordOnDisk(kApp), kAbsent);
    QCOMPARE(Probe::region(w, kApp)[0], -1);

    // The user can still drag after the stray click.
    drag(label, QPoint(75, 150), QPoint(375, 300));
    QCOMPARE(recordOnDisk(kApp), QStringLiteral("0|100|200|500|400"));
}

void RegionSelectionTest::dragPastThePictureStaysOnTheMonitor()
{
    scriptOneMonitor(1920, 1080);
    MainWindow w(nullptr, false, 0);
    triggerSelectRegion(w);
    QSelectLabel* label = labelOf(Probe::regionWindow(w));
    QVERIFY(label);

    // Guards a release left of and above the picture (the pointer may leave
    // the label while the button is held): a negative left would be read as
    // "the whole monitor". The drag stops at the picture's corner:
    // (0, 0)-(80, 60) is 81 x 61 label pixels, 108 x 81 monitor pixels.
    drag(label, QPoint(80, 60), QPoint(-20, -10));
    QCOMPARE(recordOnDisk(kApp), QStringLiteral("0|0|0|107|80"));
}

void RegionSelectionTest::rubberBandFollowsTheDrag()
{
    scriptOneMonitor(1920, 1080);
    MainWindow w(nullptr, false, 0);
    triggerSelectRegion(w);
    QSelectLabel* label = labelOf(Probe::regionWindow(w));
    QVERIFY(label);
    auto* band = label->findChild<QRubberBand*>();
    QVERIFY(band);
    QVERIFY(!band->isVisible());

    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(100, 100));
    QVERIFY(band->isVisible());
    QMouseEvent move(QEvent::MouseMove, QPointF(50, 200), label->mapToGlobal(QPoint(50, 200)), Qt::NoButton,
        Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(label, &move);
    QCOMPARE(band->geometry(), QRect(QPoint(50, 100), QPoint(100, 200)));

    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(50, 200));
    QVERIFY(!band->isVisible());
}

void RegionSelectionTest::closedWindowsAreReleased()
{
    scriptOneMonitor(1920, 1080);
    MainWindow w(nullptr, false, 0);

    // Every selection opens a new window with a full-monitor screenshot;
    // guards against closed windows piling up for the rest of the run.
    for (int i = 0; i < 3; ++i) {
        triggerSelectRegion(w);
        QSelectLabel* label = labelOf(Probe::regionWindow(w));
        QVERIFY(label);
        drag(label, QPoint(75, 150), QPoint(375, 300));
        releaseDeletedWindows();
        QCOMPARE(w.findChildren<QSelectRegionWindow*>().size(), 0);
    }
    QVERIFY(!Probe::regionWindow(w));

    // A result arriving after the window is gone must not read it.
    QFile::remove(testSandbox().configFile());
    QVERIFY(QMetaObject::invokeMethod(&w, "rectSelected"));
    QCOMPARE(recordOnDisk(kApp), kAbsent);

    // Closed without a drag: released, nothing stored.
    triggerSelectRegion(w);
    QPointer<QSelectRegionWindow> unused = Probe::regionWindow(w);
    QVERIFY(unused);
    unused->close();
    releaseDeletedWindows();
    QVERIFY(!unused);
    QCOMPARE(recordOnDisk(kApp), kAbsent);

    // Opened again while one is still open: only the newer one remains, and
    // its result is the one taken.
    triggerSelectRegion(w);
    QPointer<QSelectRegionWindow> first = Probe::regionWindow(w);
    triggerSelectRegion(w);
    QPointer<QSelectRegionWindow> second = Probe::regionWindow(w);
    releaseDeletedWindows();
    QVERIFY(!first);
    QVERIFY(second);
    QCOMPARE(w.findChildren<QSelectRegionWindow*>().size(), 1);
    drag(labelOf(second), QPoint(75, 150), QPoint(375, 300));
    QCOMPARE(recordOnDisk(kApp), QStringLiteral("0|100|200|500|400"));
}

void RegionSelectionTest::noScreenServiceOpensNothing()
{
    scriptOneMonitor(1920, 1080);
    MainWindow w(nullptr, false, 2);
    triggerSelectRegion(w);
    QVERIFY(!Probe::regionWindow(w));
    QCOMPARE(w.findChildren<QSelectRegionWindow*>().size(), 0);
}

QTEST_MAIN(RegionSelectionTest)
#include "test_region_selection.moc"
