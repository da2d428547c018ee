// A still screen rests: on the scripted desktop, the 40 ms timer stops after
// a cycle that changed nothing, and the first change of the frame, the
// pointer, the window in front or the program's own window runs a cycle at
// once that shows exactly what a window that never rests shows.

#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QTimer>
#include <QtTest>

#include <functional>
#include <memory>

struct CycleRestTag;
template <> struct MainWindowProbe<CycleRestTag> {
    static QTimer* updateTimer(MainWindow& w) { return w.updateTimer; }
    static bool resting(MainWindow& w) { return w.cycleResting; }
    static int zoom(MainWindow& w) { return w.vectorscopeZoom; }
    static QLabel* infoLabel(MainWindow& w) { return w.infoLabel; }
    // As if the last cycle that analysed a new frame had taken this long.
    static void lastNewFrameTook(MainWindow& w, long long milliseconds)
    {
        w.cycleInfo.milliseconds = milliseconds;
        w.cycleInfo.mode = -1; // the report made again, not the one kept
    }
    static void captureRegion(MainWindow& w, const QString& app, std::array<int, 4> leftTopRightBottom)
    {
        w.appRegions.insert(app, leftTopRightBottom);
        w.appAdapters.insert(app, 0);
    }
};
using Probe = MainWindowProbe<CycleRestTag>;

namespace {

platform::MemoryDesktop& screen()
{
    return platform::memoryDesktop();
}

constexpr platform::WindowHandle kEditor = 7;
constexpr platform::WindowHandle kOtherEditor = 8;

// A 400 x 300 monitor of random pixels with a red patch, an editor in front,
// the pointer off the monitor; a desktop that tells which copies would
// repeat the last, and that watches for changes when `watches`.
void showStillScene(bool watches)
{
    screen().reset(400, 300);
    cv::RNG(5).fill(screen().screen, cv::RNG::UNIFORM, 0, 256);
    screen().screen.forEach<cv::Vec4b>([](cv::Vec4b& p, const int*) { p[3] = 255; });
    screen().screen(cv::Rect(40, 30, 90, 60)).setTo(cv::Scalar(0, 0, 220, 255));
    screen().pointerPosition = platform::Point { -50, -50 };
    screen().windows[kEditor] = { { "editor.Editor", "notes" }, "/usr/bin/editor" };
    screen().windows[kOtherEditor] = { { "PhotoshopMain", "Photoshop" }, "/opt/photoshop" };
    screen().foregroundWindow = kEditor;
    screen().tracksChanges = true;
    screen().watchesChanges = watches;
}

// What the window shows: the plot, the preview, the application's name.
struct Shown {
    QImage plot;
    QImage preview;
    QString app;
    bool operator==(const Shown& o) const { return plot == o.plot && preview == o.preview && app == o.app; }
};

Shown shownBy(MainWindow& w)
{
    const auto picture = [&w](const char* name) {
        return w.findChild<QLabel*>(QString::fromLatin1(name))
            ->pixmap(Qt::ReturnByValue)
            .toImage()
            .convertToFormat(QImage::Format_RGB32)
            .copy(); // the label's pixmap may be the window's own buffer, rewritten by the next cycle
    };
    return { picture("plotLabel"), picture("previewLabel"), w.findChild<QLabel*>(QStringLiteral("appLabel"))->text() };
}

// A capturing window, in front, so that its keys work.
std::unique_ptr<MainWindow> capturingWindow()
{
    auto w = std::make_unique<MainWindow>(nullptr, false, 0);
    // The other editor's region differs from the default one: its frame does.
    Probe::captureRegion(*w, QStringLiteral("Photoshop"), { 200, 150, 400, 300 });
    w->show();
    QApplication::setActiveWindow(w.get());
    if (!QTest::qWaitForWindowActive(w.get()))
        return nullptr;
    w->startOrStop();
    return w;
}

bool restsWithin(MainWindow& w, int milliseconds)
{
    QElapsedTimer waited;
    waited.start();
    while (!Probe::resting(w) && waited.elapsed() < milliseconds)
        QTest::qWait(10);
    return Probe::resting(w);
}

// What changes, and how the desktop tells of it when it watches.
struct Change {
    std::function<void(MainWindow&)> make;
    bool desktopTells = true; // false: the change is the window's own
};

Change changeOf(const QByteArray& name)
{
    if (name == "frame")
        return { [](MainWindow&) { screen().screen(cv::Rect(0, 200, 400, 100)).setTo(cv::Scalar(200, 80, 0, 255)); } };
    if (name == "pointer") // onto the red patch: the scope marks where it points
        return { [](MainWindow&) { screen().pointerPosition = platform::Point { 60, 50 }; } };
    if (name == "window in front")
        return { [](MainWindow&) { screen().foregroundWindow = kOtherEditor; } };
    if (name == "title of the window in front")
        return { [](MainWindow&) { screen().windows[kEditor].texts.title = "Photoshop"; } };
    // Z: the vectorscope at twice the scale.
    return { [](MainWindow& w) { QTest::keyClick(&w, Qt::Key_Z); }, false };
}

} // namespace

class TestCycleRest : public QObject {
    Q_OBJECT

private slots:
    void init() { testSandbox().writeConfig(""); }

    // A still screen: the timer stops, the desktop is watched, and nothing
    // is read until it tells of a change, however long that takes.
    void aStillScreenStopsTheTimer()
    {
        showStillScene(true);
        auto w = capturingWindow();
        QVERIFY(w);
        QVERIFY(restsWithin(*w, 5000));
        QVERIFY(!Probe::updateTimer(*w)->isActive());
        QCOMPARE(screen().changeWatches, 1);
        QVERIFY(screen().changeWatcher);
        const Shown before = shownBy(*w);
        const int copies = screen().copyCount;
        const int answers = screen().unchangedAnswers;
        // Resting is not asking: a change the desktop keeps to itself shows nothing.
        screen().screen.setTo(cv::Scalar(0, 255, 0, 255));
        QTest::qWait(300);
        QCOMPARE(screen().copyCount, copies);
        QCOMPARE(screen().unchangedAnswers, answers);
        QVERIFY(shownBy(*w) == before);
        QCOMPARE(screen().changeWatches, 1);
    }

    // The first change after a rest shows in the cycle it wakes, run at
    // once: the very pictures a window that never rests shows for it.
    void aChangeShowsWithinOneCycleAfterARest_data()
    {
        QTest::addColumn<QByteArray>("change");
        for (const char* change : { "frame", "pointer", "window in front", "title of the window in front", "key" })
            QTest::newRow(change) << QByteArray(change);
    }
    void aChangeShowsWithinOneCycleAfterARest()
    {
        QFETCH(QByteArray, change);
        const Change what = changeOf(change);

        Shown expected;
        Shown stillPictures;
        {
            showStillScene(false);
            auto reference = capturingWindow();
            QVERIFY(reference);
            for (int i = 0; i < 3; ++i)
                reference->updateScreen();
            stillPictures = shownBy(*reference);
            what.make(*reference);
            for (int i = 0; i < 3; ++i)
                reference->updateScreen();
            expected = shownBy(*reference);
            QVERIFY(Probe::updateTimer(*reference)->isActive());
        }
        QVERIFY2(!(expected == stillPictures), "the change shows nothing: it tests nothing");

        testSandbox().writeConfig(""); // the same settings: Z stored the scale
        showStillScene(true);
        auto w = capturingWindow();
        QVERIFY(w);
        QVERIFY(restsWithin(*w, 5000));
        QVERIFY(shownBy(*w) == stillPictures);
        what.make(*w);
        if (what.desktopTells)
            screen().announceChange();
        // The wake runs after the event that caused it, then the cycle at once.
        QCoreApplication::processEvents();
        QVERIFY(!Probe::resting(*w));
        QVERIFY(Probe::updateTimer(*w)->isActive());
        QVERIFY(shownBy(*w) == expected);
        if (change == "key")
            QCOMPARE(Probe::zoom(*w), 2);
        // The request answered is not asked again until the screen is still again.
        QVERIFY(!screen().changeWatcher);
        QVERIFY(restsWithin(*w, 5000));
        QVERIFY(shownBy(*w) == expected);
    }

    // A desktop that cannot watch is read every cycle, as the timer says.
    void aDesktopThatCannotWatchNeverRests()
    {
        showStillScene(false);
        auto w = capturingWindow();
        QVERIFY(w);
        const int answers = screen().unchangedAnswers;
        QTest::qWait(600);
        QVERIFY(!Probe::resting(*w));
        QVERIFY(Probe::updateTimer(*w)->isActive());
        QVERIFY(screen().unchangedAnswers >= answers + 5);
        QCOMPARE(screen().changeWatches, 0);
    }

    // Stopping a resting window withdraws its request, and Start again runs
    // the cycle; a change told after the stop runs nothing.
    void stoppingARestingWindowEndsTheRest()
    {
        showStillScene(true);
        auto w = capturingWindow();
        QVERIFY(w);
        QVERIFY(restsWithin(*w, 5000));
        w->startOrStop();
        QCoreApplication::processEvents();
        QVERIFY(!Probe::resting(*w));
        QVERIFY(!screen().changeWatcher);
        QVERIFY(!Probe::updateTimer(*w)->isActive());
        const int answers = screen().unchangedAnswers;
        screen().announceChange();
        QTest::qWait(100);
        QCOMPARE(screen().unchangedAnswers, answers);
        QVERIFY(!Probe::updateTimer(*w)->isActive());
        w->startOrStop();
        QVERIFY(Probe::updateTimer(*w)->isActive());
        QVERIFY(restsWithin(*w, 5000));
    }

    // What the cycle itself changes never wakes it. Where the window lies
    // over what it captures, its report of a new time is a change of the
    // screen, which the next cycle would report again: a cycle that
    // analysed no new frame keeps the last new frame's time (it showed its
    // own, and never rested, under load). And the info label's size
    // following its text, or the window's layout, is no change of ours:
    // only the window's own resize is.
    void theCyclesOwnWorkNeverWakesIt()
    {
        showStillScene(true);
        auto w = capturingWindow();
        QVERIFY(w);
        QVERIFY(restsWithin(*w, 5000));
        QLabel* info = Probe::infoLabel(*w);
        Probe::lastNewFrameTook(*w, 987);
        w->updateScreen();
        QCOMPARE(info->text(), QStringLiteral("987 ms Vectorscope"));
        QVERIFY(restsWithin(*w, 5000));

        info->setFixedSize(info->size() + QSize(1, 0));
        QCoreApplication::processEvents();
        QVERIFY(Probe::resting(*w));
        w->resize(w->size() + QSize(0, 10));
        QTRY_VERIFY(!Probe::resting(*w));
    }

    // What the cycle reads that no one reports keeps it running: the
    // profile the readings undo is read again once a second.
    void readingsWithTheProfileUndoneKeepTheTimer()
    {
        testSandbox().writeConfig("[General]\nreadings=undo_monitor_profile\n");
        showStillScene(true);
        auto w = capturingWindow();
        QVERIFY(w);
        QTest::qWait(600);
        QVERIFY(!Probe::resting(*w));
        QCOMPARE(screen().changeWatches, 0);
    }
};

QTEST_MAIN(TestCycleRest)
#include "test_cycle_rest.moc"
