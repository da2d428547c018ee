#include "capture/QClickLabel.h"
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QSettings>
#include <QTimer>
#include <QToolBar>
#include <QtTest>

#include <memory>

struct ShellTag;
template <>
struct MainWindowProbe<ShellTag> {
    static int windowSize(MainWindow& w) { return w.windowSize; }
    static double scopeRadius(MainWindow& w) { return w.scopeRadius; }
    static int sliderLength(MainWindow& w) { return w.sliderLength; }
    static bool hasScreenService(MainWindow& w) { return w.screenService != nullptr; }
    static QAction* helpAction(MainWindow& w) { return w.helpAction; }
    static QAction* startAction(MainWindow& w) { return w.startAction; }
    static QAction* previewAction(MainWindow& w) { return w.previewAction; }
    static QAction* alwaysOnTopAction(MainWindow& w) { return w.alwaysOnTopAction; }
    static QAction* displayAction(MainWindow& w) { return w.displayAction; }
    static QTimer* updateTimer(MainWindow& w) { return w.updateTimer; }
    static int displayMode(MainWindow& w) { return w.displayMode; }
    static quint32 frameSum(MainWindow& w) { return w.frameSum; }
};
using Probe = MainWindowProbe<ShellTag>;

namespace {

std::unique_ptr<MainWindow> makeWindow(bool debug = false, int skip = 0)
{
    return std::make_unique<MainWindow>(nullptr, debug, skip);
}

QToolBar* toolBarOf(MainWindow& w)
{
    return w.findChild<QToolBar*>(QStringLiteral("toolBar"));
}

QString infoText(MainWindow& w)
{
    return w.findChild<QLabel*>(QStringLiteral("infoLabel"))->text();
}

QStringList logLines()
{
    QFile file(QStringLiteral("log.txt"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QString text = QString::fromUtf8(file.readAll());
    if (text.endsWith(QLatin1Char('\n')))
        text.chop(1);
    return text.split(QLatin1Char('\n'));
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        QFile::remove(testSandbox().configFile());
        QFile::remove(QStringLiteral("log.txt"));
        platform::memoryDesktop().reset(1600, 900, cv::Scalar(40, 80, 160));
    }

    void defaultsWithoutConfiguration()
    {
        auto w = makeWindow();
        QCOMPARE(Probe::windowSize(*w), 400);
        QCOMPARE(Probe::scopeRadius(*w), 150.0);
        QCOMPARE(Probe::sliderLength(*w), 185);
        QCOMPARE(w->width(), 400);
        QCOMPARE(Probe::previewAction(*w)->text(), QStringLiteral("Hide preview"));
        QVERIFY(!w->findChild<QLabel*>(QStringLiteral("previewLabel"))->isHidden());
        QCOMPARE(toolBarOf(*w)->height(), 24);
        QCOMPARE(toolBarOf(*w)->iconSize(), QSize(16, 16));
        QVERIFY(Probe::helpAction(*w)->isVisible());
        QVERIFY(QFileInfo(testSandbox().configFile()).dir().exists()); // the folder is made at start
    }

    void frameAndToolBarLayout()
    {
        auto w = makeWindow();
        QCOMPARE(int(w->windowFlags()), 0x901);
        QStringList texts;
        for (QAction* action : toolBarOf(*w)->actions())
            texts << action->text();
        QCOMPARE(texts,
                 (QStringList{"Start capturing...", "Select region", "Always on top",
                              "Display: Vectorscope, Waveform, Parade", "Hide preview", "Settings", "Help", QString(),
                              QString(), "Exit"}));
        auto* handle = w->findChild<QClickLabel*>(QStringLiteral("moveHandle"));
        QCOMPARE(handle->toolTip(), QStringLiteral("Move window"));
        QVERIFY(!handle->pixmap(Qt::ReturnByValue).isNull()); // the compiled-in copy when images/ is not beside us
    }

    void windowSizeIsClampedAndShapesTheToolBar_data()
    {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("toolBarHeight");
        QTest::addColumn<int>("iconSize");
        QTest::addColumn<bool>("helpVisible");
        QTest::newRow("zero") << QByteArray("0") << 400 << 24 << 16 << true;
        QTest::newRow("100") << QByteArray("100") << 150 << 18 << 14 << false;
        QTest::newRow("149") << QByteArray("149") << 150 << 18 << 14 << false;
        QTest::newRow("151") << QByteArray("151") << 151 << 18 << 14 << false;
        QTest::newRow("199") << QByteArray("199") << 199 << 18 << 14 << false;
        QTest::newRow("200") << QByteArray("200") << 200 << 24 << 16 << true;
        QTest::newRow("601") << QByteArray("601") << 600 << 24 << 16 << true;
        QTest::newRow("negative") << QByteArray("-5") << 150 << 18 << 14 << false;
        QTest::newRow("not a number") << QByteArray("large") << 400 << 24 << 16 << true;
    }

    void windowSizeIsClampedAndShapesTheToolBar()
    {
        QFETCH(QByteArray, stored);
        QFETCH(int, size);
        QFETCH(int, toolBarHeight);
        QFETCH(int, iconSize);
        QFETCH(bool, helpVisible);
        testSandbox().writeConfig("[General]\nwindow_size=" + stored + "\n");
        auto w = makeWindow();
        QCOMPARE(Probe::windowSize(*w), size);
        QCOMPARE(w->width(), size);
        QCOMPARE(toolBarOf(*w)->height(), toolBarHeight);
        QCOMPARE(toolBarOf(*w)->iconSize(), QSize(iconSize, iconSize));
        QCOMPARE(Probe::helpAction(*w)->isVisible(), helpVisible);
    }

    void oddWindowSizeGeometry()
    {
        testSandbox().writeConfig("[General]\nwindow_size=151\n");
        auto w = makeWindow();
        QCOMPARE(Probe::scopeRadius(*w), 56.25);
        QCOMPARE(Probe::sliderLength(*w), 60);
        QCOMPARE(w->findChild<QLabel*>(QStringLiteral("previewLabel"))->minimumHeight(), 75);
        auto* lightness = w->findChild<QClickLabel*>(QStringLiteral("lightnessSlider"));
        QCOMPARE(lightness->geometry(), QRect(151 - 60 - 10, 151 - 15, 60, 10));
        QCOMPARE(w->findChild<QClickLabel*>(QStringLiteral("saturationSlider"))->geometry(), QRect(10, 136, 60, 10));
    }

    void storedHiddenPreview()
    {
        testSandbox().writeConfig("[General]\npreview_enabled=false\n");
        auto w = makeWindow();
        QVERIFY(w->findChild<QLabel*>(QStringLiteral("previewLabel"))->isHidden());
        QCOMPARE(Probe::previewAction(*w)->text(), QStringLiteral("Show preview"));
    }

    void hidingThePreviewIsOnDiskAtOnce()
    {
        auto w = makeWindow();
        Probe::previewAction(*w)->trigger();
        QSettings onDisk(testSandbox().configFile(), QSettings::IniFormat);
        QCOMPARE(onDisk.value(QStringLiteral("preview_enabled")).toBool(), false);
        QCOMPARE(Probe::previewAction(*w)->text(), QStringLiteral("Show preview"));
        w.reset();

        auto next = makeWindow();
        QVERIFY(next->findChild<QLabel*>(QStringLiteral("previewLabel"))->isHidden());
        Probe::previewAction(*next)->trigger();
        QSettings again(testSandbox().configFile(), QSettings::IniFormat);
        QCOMPARE(again.value(QStringLiteral("preview_enabled")).toBool(), true);
    }

    void unknownKeysSurviveTheProgramsWrites()
    {
        testSandbox().writeConfig("[General]\nsomeone_elses_key=keep me\nwindow_size=300\n");
        auto w = makeWindow();
        Probe::previewAction(*w)->trigger();
        QSettings onDisk(testSandbox().configFile(), QSettings::IniFormat);
        QCOMPARE(onDisk.value(QStringLiteral("someone_elses_key")).toString(), QStringLiteral("keep me"));
        QCOMPARE(onDisk.value(QStringLiteral("window_size")).toInt(), 300);
    }

    void withoutScreenServiceNothingRefreshes()
    {
        auto w = makeWindow(false, 2);
        QVERIFY(!Probe::hasScreenService(*w));
        const int copies = platform::memoryDesktop().copyCount;
        Probe::displayAction(*w)->trigger();
        QCOMPARE(platform::memoryDesktop().copyCount, copies);
        QCOMPARE(infoText(*w), QString());
        QCOMPARE(Probe::displayMode(*w), 1);
    }

    void skippedCycleWritesNoLogLine()
    {
        auto w = makeWindow(true, 1);
        QVERIFY(Probe::hasScreenService(*w));
        const QStringList before = logLines();
        QMetaObject::invokeMethod(w.get(), "updateScreen");
        QCOMPARE(logLines(), before);
        QCOMPARE(infoText(*w), QString());
    }

    void constructionLogInOrder()
    {
        auto w = makeWindow(true);
        const QStringList lines = logLines();
        const QStringList expected{"MainWindow created", "scrsvc create", "scrsvc A", "scrsvc B", "scrsvc C",
                                   "scrsvc D", "ScreenShot created", "Configuration parsed", "Adapters set",
                                   "Window set", "GUI prepare 1", "GUI prepare 2", "GUI connected 1",
                                   "GUI connected 2", "BG generated", "GUI prepared 3", "GUI prepared 5",
                                   "GUI prepared 6", "GUI prepared 6", "Sliders updated", "Size optimized",
                                   "APP detected"};
        QCOMPARE(lines, expected);
    }

    void cycleLogAndOverlay()
    {
        auto w = makeWindow(true);
        QFile::remove(QStringLiteral("log.txt"));
        QMetaObject::invokeMethod(w.get(), "updateScreen");
        const QStringList lines = logLines();
        QVERIFY(lines.size() > 8);
        QCOMPARE(lines.mid(0, 4), (QStringList{"UPD screen", "UPD screen A", "UPD screen B", "adapter selected"}));
        QVERIFY(lines.contains(QStringLiteral("scrsvc scr J")));
        const int scrOk = lines.indexOf(QStringLiteral("scr ok"));
        QVERIFY(scrOk > lines.indexOf(QStringLiteral("scrsvc scr J")));
        QCOMPARE(lines.mid(scrOk, 3), (QStringList{"scr ok", "cursor ok", "sum changed"}));
        QCOMPARE(lines.mid(lines.size() - 2), (QStringList{"scr pix set", "scr end"}));
        QVERIFY(QRegularExpression(QStringLiteral("^\\d+ ms Vectorscope$")).match(infoText(*w)).hasMatch());
    }

    // The byte sum of an unchanged screen stays put, so later cycles see no change.
    void unchangedScreenIsNotAChange()
    {
        auto w = makeWindow(true);
        QMetaObject::invokeMethod(w.get(), "updateScreen");
        const quint32 sum = Probe::frameSum(*w);
        QVERIFY(sum != 0);
        QFile::remove(QStringLiteral("log.txt"));
        QMetaObject::invokeMethod(w.get(), "updateScreen");
        QVERIFY(!logLines().contains(QStringLiteral("sum changed")));
        QCOMPARE(Probe::frameSum(*w), sum);
        platform::memoryDesktop().screen(cv::Rect(0, 0, 100, 100)).setTo(cv::Scalar(0, 0, 0, 255));
        QMetaObject::invokeMethod(w.get(), "updateScreen");
        QVERIFY(logLines().contains(QStringLiteral("sum changed")));
    }

    void displayClicksCycleTheModesWhileStopped()
    {
        auto w = makeWindow();
        QStringList names;
        for (int i = 0; i < 3; ++i) {
            Probe::displayAction(*w)->trigger();
            names << infoText(*w).section(QLatin1Char(' '), 2);
        }
        QCOMPARE(names, (QStringList{"Waveform", "Parade", "Vectorscope"}));
        QCOMPARE(Probe::displayMode(*w), 0);
    }

    void startAndStop()
    {
        auto w = makeWindow();
        QAction* start = Probe::startAction(*w);
        start->trigger();
        QCOMPARE(start->text(), QStringLiteral("Stop capturing"));
        QVERIFY(Probe::updateTimer(*w)->isActive());
        QCOMPARE(Probe::updateTimer(*w)->interval(), 40);
        QVERIFY(!Probe::updateTimer(*w)->isSingleShot());
        const int copies = platform::memoryDesktop().copyCount;
        QTRY_VERIFY_WITH_TIMEOUT(platform::memoryDesktop().copyCount > copies + 1, 2000);
        start->trigger();
        QCOMPARE(start->text(), QStringLiteral("Start capturing..."));
        QVERIFY(!Probe::updateTimer(*w)->isActive());
        QCOMPARE(w->findChild<QLabel*>(QStringLiteral("previewLabel"))->minimumSize(), QSize(10, 0));
    }

    void alwaysOnTopTogglesOnlyItsHint()
    {
        auto w = makeWindow();
        w->show();
        QAction* onTop = Probe::alwaysOnTopAction(*w);
        onTop->trigger();
        QVERIFY(w->windowFlags() & Qt::WindowStaysOnTopHint);
        QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
        QVERIFY(w->isVisible());
        QCOMPARE(onTop->text(), QStringLiteral("Disable always on top"));
        onTop->trigger();
        QVERIFY(!(w->windowFlags() & Qt::WindowStaysOnTopHint));
        QCOMPARE(int(w->windowFlags()), 0x901);
        QVERIFY(w->isVisible());
        QCOMPARE(onTop->text(), QStringLiteral("Always on top"));
    }

    void draggingTheHandleMovesTheWindow()
    {
        auto w = makeWindow();
        w->move(100, 100);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const QPoint start = w->pos();
        auto* handle = w->findChild<QClickLabel*>(QStringLiteral("moveHandle"));
        auto send = [handle](QEvent::Type type, QPoint at, Qt::MouseButtons held) {
            QMouseEvent event(type, at, handle->mapToGlobal(at), type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton,
                              held, Qt::NoModifier);
            QApplication::sendEvent(handle, &event);
        };
        send(QEvent::MouseMove, QPoint(2, 2), Qt::NoButton); // moves before a press do nothing
        QCOMPARE(w->pos(), start);
        send(QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton);
        send(QEvent::MouseMove, QPoint(35, 15), Qt::LeftButton);
        send(QEvent::MouseButtonRelease, QPoint(5, 5), Qt::NoButton);
        QCOMPARE(w->pos(), start + QPoint(30, 10));
        send(QEvent::MouseMove, QPoint(50, 50), Qt::NoButton);
        QCOMPARE(w->pos(), start + QPoint(30, 10));
    }

    void enteringTheWindowRefreshesOnce()
    {
        auto w = makeWindow();
        const int copies = platform::memoryDesktop().copyCount;
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(w.get(), &enter);
        QCOMPARE(platform::memoryDesktop().copyCount, copies + 1);
        QVERIFY(infoText(*w).endsWith(QStringLiteral(" ms Vectorscope")));
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
