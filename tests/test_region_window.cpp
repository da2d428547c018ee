// The region window's screenshots: when they are read, and how large they get.

#include "capture/QSelectLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "capture/ScreenService.h"
#include "platform/memory/MemoryDesktop.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

namespace {

// A scripted desktop that notes, for every read of the screen, whether a
// region window had already been shown by then.
class WatchedDesktop : public platform::MemoryDesktop, public QObject {
public:
    WatchedDesktop() { qApp->installEventFilter(this); }
    ~WatchedDesktop() override { qApp->removeEventFilter(this); }

    void copy(const platform::Rect& source, int outWidth, int outHeight, std::uint8_t* destination) override
    {
        (windowShown ? readsAfterShown : readsBeforeShown) += 1;
        MemoryDesktop::copy(source, outWidth, outHeight, destination);
    }

    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (event->type() == QEvent::Show && qobject_cast<QSelectRegionWindow*>(object))
            windowShown = true;
        return false;
    }

    bool windowShown = false;
    int readsBeforeShown = 0;
    int readsAfterShown = 0;
};

QToolButton* monitorButton(QSelectRegionWindow& window, int number)
{
    for (QToolButton* button : window.findChildren<QToolButton*>())
        if (button->text() == QStringLiteral("Monitor #%1").arg(number))
            return button;
    return nullptr;
}

QRgb shownPixel(QSelectLabel* label, int x, int y)
{
    return label->pixmap(Qt::ReturnByValue).toImage().pixel(x, y);
}

} // namespace

class RegionWindowTest : public QObject {
    Q_OBJECT

private slots:
    // A window once on screen may still be drawn there after it is hidden
    // (its frame stays until the window manager has handled the unmap), and
    // the screenshot showed an empty "Select..." window. Every monitor is
    // read before the window first shows; switching monitors reads nothing.
    void screenshotsAreReadBeforeTheWindowShows()
    {
        WatchedDesktop desktop;
        desktop.reset(3840, 1080, cv::Scalar(0, 0, 255)); // red, and blue on the right
        desktop.screen(cv::Rect(1920, 0, 1920, 1080)).setTo(cv::Scalar(255, 0, 0, 255));
        desktop.monitorTable = { { 0, 0, 1920, 1080 }, { 1920, 0, 3840, 1080 } };
        ScreenService service(false, desktop);

        QSelectRegionWindow window(QStringLiteral("Photoshop"), &service, nullptr);
        QVERIFY(window.isVisible());
        auto* label = window.findChild<QSelectLabel*>();
        QCOMPARE(shownPixel(label, 100, 100), qRgb(255, 0, 0));
        monitorButton(window, 2)->click();
        QCOMPARE(shownPixel(label, 100, 100), qRgb(0, 0, 255));
        monitorButton(window, 1)->click();
        QCOMPARE(shownPixel(label, 100, 100), qRgb(255, 0, 0));

        QCOMPARE(desktop.readsBeforeShown, 2);
        QCOMPARE(desktop.readsAfterShown, 0);
    }

    // A monitor wider than the screenshot may be is read scaled down, and a
    // selection on it still lands on its own pixels: 16000 x 1000 is read as
    // 8192 x 512 (1.953125 monitor pixels each) and shown at 6144 x 384.
    // Unbounded, a declared 32767-pixel monitor took gigabytes.
    void largeMonitorIsReadScaledDown()
    {
        platform::MemoryDesktop desktop;
        desktop.reset(16000, 1000, cv::Scalar(0, 255, 0));
        ScreenService service(false, desktop);
        QSelectRegionWindow window(QStringLiteral("Photoshop"), &service, nullptr);
        auto* label = window.findChild<QSelectLabel*>();
        QCOMPARE(label->pixmap(Qt::ReturnByValue).size(), QSize(6144, 384));

        QRect selected;
        connect(&window, &QSelectRegionWindow::rectSelected, [&] { selected = window.selection; });
        QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(750, 75));
        QTest::mouseMove(label, QPoint(1500, 150));
        QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(1500, 150));
        // 751 x 76 label pixels from (750, 75): screenshot (1000, 100), 1001 x 101.
        QCOMPARE(selected, QRect(1953, 195, 1955, 197));
    }
};

QTEST_MAIN(RegionWindowTest)
#include "test_region_window.moc"
