// Region selection on a screen with two device pixels per logical pixel: the
// screenshot must still cover three quarters of the monitor in device pixels,
// and a drag in the label's logical pixels must land on the monitor pixels
// that the user saw under the pointer.

#include "capture/QSelectLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QFile>
#include <QScreen>
#include <QToolBar>
#include <QtTest>

namespace {

// QApplication reads the scale factor once, when it starts.
const bool scaleFactorSet = [] {
    qputenv("QT_SCALE_FACTOR", "2");
    return true;
}();

QString recordOnDisk(const QString& key)
{
    const QByteArray text = testSandbox().readFile(testSandbox().configFile());
    for (const QByteArray& line : text.split('\n')) {
        const QString entry = QString::fromUtf8(line).trimmed();
        if (entry.startsWith(key + QLatin1Char('=')))
            return entry.mid(key.size() + 1);
    }
    return QStringLiteral("<absent>");
}

QSelectRegionWindow* openRegionWindow(MainWindow& w)
{
    auto* toolBar = w.findChild<QToolBar*>(QStringLiteral("toolBar"));
    for (QAction* action : toolBar->actions())
        if (action->text() == QLatin1String("Select region"))
            action->trigger();
    QCoreApplication::processEvents();
    return w.findChild<QSelectRegionWindow*>();
}

} // namespace

class RegionSelectionHiDpiTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(scaleFactorSet);
        QCOMPARE(QGuiApplication::primaryScreen()->devicePixelRatio(), 2.0);
    }

    void dragMapsToThePixelsShown();
};

void RegionSelectionHiDpiTest::dragMapsToThePixelsShown()
{
    // Left half of the monitor red, right half blue: the edge is at monitor x 960.
    auto& d = platform::memoryDesktop();
    d.reset(1920, 1080, cv::Scalar(0, 0, 255));
    d.screen(cv::Rect(960, 0, 960, 1080)).setTo(cv::Scalar(255, 0, 0, 255));
    d.foregroundWindow = 7;
    d.windows[7] = { { "Photoshop", "Photoshop" }, "/opt/photoshop/photoshop" };
    QFile::remove(testSandbox().configFile());

    MainWindow w(nullptr, false, 0);
    QSelectRegionWindow* window = openRegionWindow(w);
    QVERIFY(window);
    auto* label = window->findChild<QSelectLabel*>();
    QVERIFY(label);

    // 1440 x 810 screenshot pixels shown on 1440 x 810 device pixels, which
    // are 720 x 405 logical pixels.
    const QPixmap shown = label->pixmap(Qt::ReturnByValue);
    QCOMPARE(shown.size(), QSize(1440, 810));
    QCOMPARE(shown.devicePixelRatio(), 2.0);
    QCOMPARE(label->size(), QSize(720, 405));
    // The colour edge lies at screenshot x 720, that is logical x 360.
    const QImage picture = shown.toImage();
    QCOMPARE(picture.pixel(715, 400), qRgb(255, 0, 0));
    QCOMPARE(picture.pixel(725, 400), qRgb(0, 0, 255));

    // A drag from the colour edge: (360, 100)-(460, 200) is 101 x 101 logical
    // pixels; each logical pixel is 2 / 0.75 monitor pixels: left 960,
    // top 266.7 -> 266, sides 269.3 -> 269, right 960 + 268, bottom 266 + 268.
    QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(360, 100));
    QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(460, 200));
    QCOMPARE(recordOnDisk(QStringLiteral("Photoshop")), QStringLiteral("0|960|266|1228|534"));
}

QTEST_MAIN(RegionSelectionHiDpiTest)
#include "test_region_selection_hidpi.moc"
