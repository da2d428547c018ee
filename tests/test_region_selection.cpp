// Region selection, from the drag rules to the record in config.ini, on a
// scripted desktop (two device pixels per pixel end to end: x11/test_hidpi).

#include "capture/QSelectLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "capture/RegionMath.h"
#include "capture/ScreenService.h"
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <optional>

struct RegionTag;
template <> struct MainWindowProbe<RegionTag> {
    static QSelectRegionWindow* regionWindow(MainWindow& w) { return w.regionWindow; }
};
using Probe = MainWindowProbe<RegionTag>;

Q_DECLARE_METATYPE(std::optional<QRect>)

namespace {

// Monitor 0 red; with two, monitor 1 blue beside it. A Photoshop window in
// front, so the selection is stored under "Photoshop".
void scriptDesktop(int monitors = 1)
{
    auto& d = platform::memoryDesktop();
    d.reset(1920 * monitors, 1080, cv::Scalar(0, 0, 255));
    if (monitors == 2) {
        d.screen(cv::Rect(1920, 0, 1920, 1080)).setTo(cv::Scalar(255, 0, 0, 255));
        d.monitorTable = { { 0, 0, 1920, 1080 }, { 1920, 0, 3840, 1080 } };
    }
    d.foregroundWindow = 42;
    d.windows[42] = { { "Photoshop", "Untitled-1 @ 66.7% (RGB/8) - Photoshop" }, "/opt/photoshop/photoshop" };
}

// Read from the file, not through QSettings, which could answer from its cache.
QByteArray recordOnDisk()
{
    for (const QByteArray& line : testSandbox().readFile(testSandbox().configFile()).split('\n'))
        if (line.startsWith("Photoshop="))
            return line.mid(10).trimmed();
    return "<absent>";
}

// The "Select region" button, then the layout the event loop does before the user drags.
QSelectLabel* openRegionWindow(MainWindow& w)
{
    w.findChild<QToolBar*>()->actions().at(1)->trigger();
    QCoreApplication::processEvents();
    return Probe::regionWindow(w) ? Probe::regionWindow(w)->findChild<QSelectLabel*>() : nullptr;
}

void drag(QSelectLabel* label, const QPoint& from, const QPoint& to)
{
    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, from);
    QTest::mouseMove(label, to);
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, to);
}

QRgb shownPixel(QSelectLabel* label, int x, int y)
{
    return label->pixmap(Qt::ReturnByValue).toImage().pixel(x, y);
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

    void dragBecomesSelection_data()
    {
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        QTest::addColumn<std::optional<QRect>>("expected");
        const auto box = [](int x0, int y0, int x1, int y1) {
            return std::optional<QRect>(QRect(QPoint(x0, y0), QPoint(x1, y1)));
        };
        // 300 x 150, ratio 0.5: kept as drawn, in either direction.
        QTest::newRow("bottom-right to top-left") << QPoint(375, 300) << QPoint(75, 150) << box(75, 150, 375, 300);
        QTest::newRow("bottom-left to top-right") << QPoint(75, 300) << QPoint(375, 150) << box(75, 150, 375, 300);
        // 39 x 20 is too narrow: 40 wide, height 40 * 20/39 = 20.5 -> 20.
        QTest::newRow("39 wide") << QPoint(10, 10) << QPoint(49, 30) << box(10, 10, 50, 30);
        QTest::newRow("39 wide, reversed") << QPoint(49, 30) << QPoint(10, 10) << box(10, 10, 50, 30);
        QTest::newRow("exactly 40 wide") << QPoint(10, 10) << QPoint(50, 30) << box(10, 10, 50, 30);
        // 50 x 300, ratio 6: capped at four times the minimum width.
        QTest::newRow("ratio 6") << QPoint(10, 10) << QPoint(60, 310) << box(10, 10, 50, 170);
        QTest::newRow("ratio exactly 4") << QPoint(10, 10) << QPoint(110, 410) << box(10, 10, 110, 410);
        // Zero width: infinite ratio, the tallest box.
        QTest::newRow("vertical line") << QPoint(20, 105) << QPoint(20, 5) << box(20, 5, 60, 165);
        // Zero height and too narrow: ratio 0, a box one row high.
        QTest::newRow("short horizontal line") << QPoint(5, 20) << QPoint(30, 20) << box(5, 20, 45, 20);
        // Guards the 0 / 0 ratio, a NaN height truncated to a huge negative size.
        QTest::newRow("click") << QPoint(7, 7) << QPoint(7, 7) << std::optional<QRect>();
    }

    void dragBecomesSelection()
    {
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        QFETCH(std::optional<QRect>, expected);
        QCOMPARE(selectionFromDrag(from, to), expected);
    }

    void screenshotShownAtThreeQuarters_data()
    {
        QTest::addColumn<QSize>("monitor");
        QTest::addColumn<QSize>("shown");
        QTest::newRow("1920 x 1080") << QSize(1920, 1080) << QSize(1440, 810);
        // Limit 1024 x 576; aspect 1.7786 > 1024/576, so the width limits: 1024 / 1.7786 = 575.7 -> 575.
        QTest::newRow("1366 x 768") << QSize(1366, 768) << QSize(1024, 575);
        QTest::newRow("portrait 1080 x 1920") << QSize(1080, 1920) << QSize(810, 1440);
        // Limit 750 x 749; aspect 1.001 < 750/749, so the height limits: 749 * 1.001 = 749.75 -> 749.
        QTest::newRow("1000 x 999") << QSize(1000, 999) << QSize(749, 749);
        // Guards the empty target that cv::resize rejects: an empty monitor
        // record gives a one-pixel screenshot, whose three quarters are 0 x 0.
        QTest::newRow("1 x 1") << QSize(1, 1) << QSize(1, 1);
    }

    void screenshotShownAtThreeQuarters()
    {
        QFETCH(QSize, monitor);
        QFETCH(QSize, shown);
        QCOMPARE(shownScreenshotSize(monitor.width(), monitor.height()), shown);
        cv::Mat screenshot(monitor.height(), monitor.width(), CV_8UC4, cv::Scalar(10, 20, 30, 255));
        scaleScreenshotForDisplay(screenshot);
        QCOMPARE(QSize(screenshot.cols, screenshot.rows), shown);
    }

    void selectionGoesBackToMonitorPixels_data()
    {
        QTest::addColumn<QRect>("label");
        QTest::addColumn<double>("pixelRatio");
        QTest::addColumn<QRect>("monitor");
        // 75/0.75, 150/0.75, 301/0.75 = 401.3, 151/0.75 = 201.3.
        QTest::newRow("worked example") << QRect(75, 150, 301, 151) << 1.0 << QRect(100, 200, 401, 201);
        // 1/0.75 = 1.33 and 41/0.75 = 54.67 truncate; a side is at least 2
        // (a flat drag's single row), so the record's right - left and
        // bottom - top, which the capture reads, are at least 1.
        QTest::newRow("truncation") << QRect(1, 1, 41, 1) << 1.0 << QRect(1, 1, 54, 2);
        // Two device pixels per label pixel: 75 * 2 / 0.75 = 200, 151 * 2 / 0.75 = 402.7.
        QTest::newRow("ratio 2") << QRect(75, 150, 151, 151) << 2.0 << QRect(200, 400, 402, 402);
        QTest::newRow("ratio 1.5") << QRect(10, 20, 100, 50) << 1.5 << QRect(20, 40, 200, 100);
    }

    void selectionGoesBackToMonitorPixels()
    {
        QFETCH(QRect, label);
        QFETCH(double, pixelRatio);
        QFETCH(QRect, monitor);
        QCOMPARE(labelToMonitor(label, pixelRatio), monitor);
    }

    // A drag at a screen scale, followed to the capture of the record it
    // stores (right and bottom inclusive), 400 columns wide: the capture reads
    // the stored rectangle, not the whole monitor, and does not squeeze it.
    void selectionsAreCapturedAsDrawn_data()
    {
        QTest::addColumn<double>("pixelRatio");
        QTest::addColumn<QPoint>("from");
        QTest::addColumn<QPoint>("to");
        for (const double ratio : { 0.5, 1.0, 1.25, 2.0 }) {
            // Guards a flat drag: its one label row became a record whose bottom
            // equals its top, which the capture reads as the whole monitor.
            QTest::addRow("flat, scale %g", ratio) << ratio << QPoint(100, 100) << QPoint(300, 100);
            QTest::addRow("one row, scale %g", ratio) << ratio << QPoint(100, 100) << QPoint(300, 101);
            // Guards the height cap: at scale 1 a 100 x 400 drag (stored 133 x 533)
            // came out 1600 rows high instead of 1603, the smallest box (53 x 213)
            // 1600 instead of 1607.
            QTest::addRow("ratio 4, scale %g", ratio) << ratio << QPoint(10, 10) << QPoint(110, 410);
            QTest::addRow("smallest box, scale %g", ratio) << ratio << QPoint(20, 165) << QPoint(20, 5);
        }
    }

    void selectionsAreCapturedAsDrawn()
    {
        QFETCH(double, pixelRatio);
        QFETCH(QPoint, from);
        QFETCH(QPoint, to);
        // Every desktop pixel names its position: B, G = x, y mod 256, R = their high bits.
        auto& desktop = platform::memoryDesktop();
        desktop.reset(1920, 1080);
        desktop.screen.forEach<cv::Vec4b>([](cv::Vec4b& p, const int* yx) {
            p = cv::Vec4b(yx[1] & 255, yx[0] & 255, ((yx[1] >> 8) << 4) | (yx[0] >> 8), 255);
        });
        const QRect monitor = labelToMonitor(*selectionFromDrag(from, to), pixelRatio);
        const platform::Rect stored { monitor.left(), monitor.top(), monitor.right(), monitor.bottom() };
        QVERIFY2(stored.width() >= 1 && stored.height() >= 1, "a record the capture reads as the whole monitor");

        ScreenService service(false);
        cv::Mat frame;
        float scale = 0.0f;
        service.captureScreen(&frame, 0, &stored, 400, &scale);
        QCOMPARE(scale, 400.0f / static_cast<float>(stored.width()));
        // Never an empty frame: a flat drag scaled down is one row.
        QCOMPARE(frame.rows, std::max(1, static_cast<int>(static_cast<float>(stored.height()) * scale)));
        const int x = stored.left + platform::nearestSourceIndex(0, stored.width(), frame.cols);
        const int y = stored.top + platform::nearestSourceIndex(0, stored.height(), frame.rows);
        QCOMPARE(frame.at<cv::Vec4b>(0, 0), cv::Vec4b(x & 255, y & 255, ((x >> 8) << 4) | (y >> 8), 255));
    }

    // 1920 x 1080 shown at 1440 x 810; the drag (375, 300) -> (75, 150) is
    // 301 x 151 label pixels from (75, 150): monitor (100, 200)-(500, 400).
    void workedExampleIsStoredInConfig()
    {
        scriptDesktop();
        MainWindow w(nullptr, false, 0);
        QSelectLabel* label = openRegionWindow(w);
        QVERIFY(label);
        QPointer<QSelectRegionWindow> window = Probe::regionWindow(w);
        QCOMPARE(window->windowTitle(), QStringLiteral("Select region to capture for application: Photoshop"));
        QCOMPARE(window->windowModality(), Qt::WindowModal);
        QCOMPARE(label->pixmap(Qt::ReturnByValue).size(), QSize(1440, 810));
        QCOMPARE(shownPixel(label, 720, 405), qRgb(255, 0, 0));
        QCOMPARE(label->size(), QSize(1440, 810)); // label pixels are picture pixels

        // A click stores nothing, and the window stays for a real drag.
        QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(200, 150));
        releaseDeletedWindows();
        QVERIFY(window && window->isVisible());
        QCOMPARE(recordOnDisk(), QByteArray("<absent>"));

        QSignalSpy selected(window.data(), &QSelectRegionWindow::rectSelected);
        drag(label, QPoint(375, 300), QPoint(75, 150));
        QCOMPARE(selected.count(), 1);
        QCOMPARE(recordOnDisk(), QByteArray("0|100|200|500|400"));
        QCOMPARE(w.findChild<QLabel*>(QStringLiteral("previewLabel"))->minimumSize(), QSize(10, 0));
        QVERIFY(!window || !window->isVisible());

        // Guards a release left of and above the picture: a negative left would
        // mean "the whole monitor". The drag stops at the corner: (0, 0)-(80, 60)
        // is 81 x 61 label pixels, 108 x 81 monitor pixels.
        drag(openRegionWindow(w), QPoint(80, 60), QPoint(-20, -10));
        QCOMPARE(recordOnDisk(), QByteArray("0|0|0|107|80"));
    }

    void twoMonitorsGiveTwoButtons()
    {
        scriptDesktop(2);
        MainWindow w(nullptr, false, 0);
        QSelectLabel* label = openRegionWindow(w);
        QVERIFY(label);
        QList<QToolButton*> buttons;
        for (QToolButton* button : Probe::regionWindow(w)->findChildren<QToolButton*>())
            if (button->text().startsWith(QLatin1String("Monitor #")))
                buttons << button;
        QCOMPARE(buttons.size(), 2);
        QCOMPARE(buttons[1]->text(), QStringLiteral("Monitor #2"));
        const auto checked = [&] { return QPair<bool, bool>(buttons[0]->isChecked(), buttons[1]->isChecked()); };
        QCOMPARE(checked(), qMakePair(true, false));
        QCOMPARE(shownPixel(label, 100, 100), qRgb(255, 0, 0));

        QTest::mouseClick(buttons[1], Qt::LeftButton);
        QCOMPARE(checked(), qMakePair(false, true));
        QCOMPARE(shownPixel(label, 100, 100), qRgb(0, 0, 255));
        QTest::mouseClick(buttons[1], Qt::LeftButton); // the shown monitor stays checked
        QCOMPARE(checked(), qMakePair(false, true));

        drag(label, QPoint(75, 150), QPoint(375, 300));
        QCOMPARE(recordOnDisk(), QByteArray("1|100|200|500|400"));
    }

    // Every selection opens a new window with a full-monitor screenshot;
    // guards against closed windows piling up for the rest of the run.
    void closedWindowsAreReleased()
    {
        scriptDesktop();
        MainWindow w(nullptr, false, 0);
        for (int i = 0; i < 3; ++i) {
            drag(openRegionWindow(w), QPoint(75, 150), QPoint(375, 300));
            releaseDeletedWindows();
            QVERIFY(w.findChildren<QSelectRegionWindow*>().isEmpty());
        }
        QFile::remove(testSandbox().configFile());
        QVERIFY(QMetaObject::invokeMethod(&w, "rectSelected")); // a result after the window is gone reads nothing
        QCOMPARE(recordOnDisk(), QByteArray("<absent>"));

        openRegionWindow(w);
        QPointer<QSelectRegionWindow> unused = Probe::regionWindow(w);
        unused->close(); // without a drag: released, nothing stored
        releaseDeletedWindows();
        QVERIFY(!unused);
        QCOMPARE(recordOnDisk(), QByteArray("<absent>"));

        // Opened again while one is open: only the newer one remains, and its result is taken.
        openRegionWindow(w);
        QPointer<QSelectRegionWindow> first = Probe::regionWindow(w);
        QSelectLabel* second = openRegionWindow(w);
        releaseDeletedWindows();
        QVERIFY(!first);
        QCOMPARE(w.findChildren<QSelectRegionWindow*>().size(), 1);
        drag(second, QPoint(75, 150), QPoint(375, 300));
        QCOMPARE(recordOnDisk(), QByteArray("0|100|200|500|400"));
    }
};

QTEST_MAIN(RegionSelectionTest)
#include "test_region_selection.moc"
