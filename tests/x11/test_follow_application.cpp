// Following the application in front, on a real X server with windows of a
// real foreign program: the desktop is split into two monitors, each xterm
// is one solid colour, and each application's capture region lies inside its
// own window, so the colour of the captured frame tells which region the
// program captured. Focus is set the way a window manager would
// (XSetInputFocus, through xdotool); there is no window manager here.
//
// Desktop, 1600 x 900, monitor 0 on the left half, monitor 1 on the right:
//
//   (0, 0)   Resolve window            (800, 0)   Photoshop window
//   (0, 450) unrecognised window       (800, 450) MyEditor window (user rule)
//                                      (1330, 600) the program, 250 wide
//
// Every xterm is 484 x 316 pixels.

#include "x11/EndToEnd.h"

#include "capture/QSelectLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "platform/Desktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QToolBar>
#include <QToolButton>
#include <QtTest>

#include <memory>

#include <X11/Xlib.h>

struct FollowTag;
template <> struct MainWindowProbe<FollowTag> {
    static QString currentApp(MainWindow& w) { return w.currentApp; }
    static cv::Mat captureImage(MainWindow& w) { return w.captureImage; }
    static QString foregroundClass(MainWindow& w) { return QString::fromStdString(w.foregroundClass); }
    static QSelectRegionWindow* regionWindow(MainWindow& w) { return w.regionWindow; }
};
using Probe = MainWindowProbe<FollowTag>;

using e2e::ForeignWindow;

namespace {

const QString kTitlePrefix = QStringLiteral("Korvant Huelens 1.0: ");

// The configuration every run starts from: a small window without preview,
// so the program fits beside the four foreign windows.
const QByteArray kSmallWindow = "[General]\nwindow_size=250\npreview_enabled=false\n";

QString recordOnDisk(const QString& key)
{
    return e2e::valueOnDisk(testSandbox().configFile(), key);
}

// A point on the bare desktop, beside the program and the foreign windows.
const QPoint kBareDesktop(1300, 500);

QString appLabelText(MainWindow& w)
{
    auto* label = w.findChild<QLabel*>(QStringLiteral("appLabel"));
    return label ? label->text() : QStringLiteral("<no label>");
}

} // namespace

class TestFollowApplication : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void startingMapsNoWindowButTheToolWindow();
    void followsTheApplicationInFront();
    void anUnrecognisedWindowKeepsTheLastApplication();
    void regionsChosenWithTheMouseAreStoredAndCapturedAfterRestart();

private:
    std::unique_ptr<MainWindow> startProgram();
    bool focusAndWait(const ForeignWindow& window);
    void startCapturing(MainWindow& w);

    std::unique_ptr<ForeignWindow> resolve;
    std::unique_ptr<ForeignWindow> photoshop;
    std::unique_ptr<ForeignWindow> plain;
    std::unique_ptr<ForeignWindow> myEditor;
    std::unique_ptr<MainWindow> window;
};

void TestFollowApplication::initTestCase()
{
    e2e::run({ "xrandr", "--setmonitor", "left", "800/211x900/238+0+0", "none" });
    // The right half takes the output, which replaces the monitor the server made for it.
    e2e::run({ "xrandr", "--setmonitor", "right", "800/211x900/238+800+0", "screen" });
    const QString monitors = e2e::run({ "xrandr", "--listmonitors" });
    QVERIFY2(monitors.startsWith(QLatin1String("Monitors: 2")) && monitors.contains(QLatin1String(" 0: left "))
            && monitors.contains(QLatin1String(" 1: right ")),
        qPrintable(monitors));

    // The Resolve window is recognised by its title, the Photoshop window by its class.
    resolve = std::make_unique<ForeignWindow>(
        "xterm", "Grader", "DaVinci Resolve 18", QColor(0x20, 0x60, 0xc0), QPoint(0, 0));
    photoshop = std::make_unique<ForeignWindow>(
        "ps", "PhotoshopThing", "Untitled-1", QColor(0xd0, 0x40, 0x20), QPoint(800, 0));
    plain = std::make_unique<ForeignWindow>(
        "files", "FileManager", "Home folder", QColor(0x30, 0xa0, 0x50), QPoint(0, 450));
    myEditor = std::make_unique<ForeignWindow>(
        "myeditor", "MyEditorWindow", "picture one", QColor(0xa0, 0xa0, 0x20), QPoint(800, 450));
    for (ForeignWindow* w : { resolve.get(), photoshop.get(), plain.get(), myEditor.get() })
        QVERIFY2(w->waitUntilMapped() != 0, qPrintable(w->title()));
}

void TestFollowApplication::cleanup()
{
    window.reset();
}

std::unique_ptr<MainWindow> TestFollowApplication::startProgram()
{
    auto w = std::make_unique<MainWindow>(nullptr, false, 0);
    w->move(1330, 600);
    w->show();
    if (!QTest::qWaitForWindowExposed(w.get()))
        return nullptr;
    return w;
}

bool TestFollowApplication::focusAndWait(const ForeignWindow& window)
{
    window.focus();
    return e2e::waitFor([&] { return platform::desktop().foreground() == window.id(); });
}

void TestFollowApplication::startCapturing(MainWindow& w)
{
    QVERIFY(e2e::clickToolBarButton(w, QStringLiteral("Start capturing...")));
    QTRY_VERIFY(e2e::toolBarButton(w, QStringLiteral("Stop capturing")) != nullptr);
}

// Guards a fault: the toolbar spacer and the preview label were made visible
// before they had a parent, so each flashed on screen as a window of its
// own; a window manager could make one of them the active window just while
// the start-up recognition read it, and the program started as "Unknown" in
// front of a window it knows.
void TestFollowApplication::startingMapsNoWindowButTheToolWindow()
{
    Display* display = XOpenDisplay(nullptr);
    QVERIFY(display);
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);

    testSandbox().writeConfig("[General]\nwindow_size=250\npreview_enabled=true\n");
    // Showing the window waits for it to be exposed, so the server has
    // handled everything the program sent before it.
    window = startProgram();
    QVERIFY(window);
    XSync(display, False);
    QList<unsigned long> mapped;
    while (XPending(display) > 0) {
        XEvent event;
        XNextEvent(display, &event);
        if (event.type == MapNotify)
            mapped.append(event.xmap.window);
    }
    XCloseDisplay(display);
    QCOMPARE(mapped, QList<unsigned long> { static_cast<unsigned long>(window->winId()) });
}

void TestFollowApplication::followsTheApplicationInFront()
{
    // Photoshop's region lies on monitor 1 at the same offsets as Resolve's
    // on monitor 0: only the monitor's own origin tells them apart.
    testSandbox().writeConfig(kSmallWindow
        + "Photoshop=1|100|50|300|150\n"
          "DaVinci%20Resolve=0|100|50|300|150\n"
          "apps=MyEditor:myeditor.\n"
          "MyEditor=1|50|500|250|600\n");
    QVERIFY(focusAndWait(*plain));
    window = startProgram();
    QVERIFY(window);
    MainWindow& w = *window;
    QCOMPARE(w.windowTitle(), kTitlePrefix + QStringLiteral("Unknown"));
    startCapturing(w);

    struct Case {
        ForeignWindow* foreign;
        QString name;
    };
    const Case cases[] = {
        { photoshop.get(), QStringLiteral("Photoshop") },
        { resolve.get(), QStringLiteral("DaVinci Resolve") },
        { myEditor.get(), QStringLiteral("MyEditor") },
        { photoshop.get(), QStringLiteral("Photoshop") },
    };
    for (const Case& c : cases) {
        QVERIFY(focusAndWait(*c.foreign));
        QTRY_COMPARE(Probe::currentApp(w), c.name);
        QTRY_COMPARE(w.windowTitle(), kTitlePrefix + c.name);
        QCOMPARE(appLabelText(w), c.name);
        // 200 x 100 monitor pixels, scaled to the window's 250 columns.
        QTRY_COMPARE(e2e::uniformColour(Probe::captureImage(w)), e2e::colourName(c.foreign->colour()));
        QCOMPARE(Probe::captureImage(w).cols, 250);
        QCOMPARE(Probe::captureImage(w).rows, 125);
    }
}

void TestFollowApplication::anUnrecognisedWindowKeepsTheLastApplication()
{
    testSandbox().writeConfig(kSmallWindow + "DaVinci%20Resolve=0|100|50|300|150\n");
    QVERIFY(focusAndWait(*resolve));
    window = startProgram();
    QVERIFY(window);
    MainWindow& w = *window;
    QCOMPARE(w.windowTitle(), kTitlePrefix + QStringLiteral("DaVinci Resolve"));
    startCapturing(w);
    QVERIFY(focusAndWait(*resolve));
    QTRY_COMPARE(e2e::uniformColour(Probe::captureImage(w)), e2e::colourName(resolve->colour()));

    QVERIFY(focusAndWait(*plain));
    // The cycle has read the unrecognised window ...
    QTRY_COMPARE(Probe::foregroundClass(w), QStringLiteral("files.FileManager"));
    // ... and still names and captures Resolve, a few cycles later too.
    for (int i = 0; i < 5; ++i) {
        QTest::qWait(50);
        QCOMPARE(Probe::currentApp(w), QStringLiteral("DaVinci Resolve"));
        QCOMPARE(w.windowTitle(), kTitlePrefix + QStringLiteral("DaVinci Resolve"));
        QCOMPARE(appLabelText(w), QStringLiteral("DaVinci Resolve"));
        QCOMPARE(e2e::uniformColour(Probe::captureImage(w)), e2e::colourName(resolve->colour()));
    }
}

// The user picks a region while nothing is recognised ("Unknown", monitor 0)
// and one for Photoshop on the second monitor, with the real pointer; both
// records land in config.ini, and a new start captures both again.
void TestFollowApplication::regionsChosenWithTheMouseAreStoredAndCapturedAfterRestart()
{
    testSandbox().writeConfig(kSmallWindow);
    QVERIFY(focusAndWait(*plain));
    window = startProgram();
    QVERIFY(window);
    QCOMPARE(Probe::currentApp(*window), QStringLiteral("Unknown"));

    struct Selection {
        ForeignWindow* foreign;
        QString name;
        int monitor;
        QPoint from; // label pixels: monitor pixels x 0.75
        QPoint to;
        QString record;
    };
    const Selection selections[] = {
        // (75, 375)-(225, 450): 151 x 76 label pixels from (100, 500) -> 201 x 101 monitor pixels.
        { plain.get(), QStringLiteral("Unknown"), 0, { 225, 450 }, { 75, 375 }, QStringLiteral("0|100|500|300|600") },
        // (75, 45)-(225, 120) on monitor 1 -> (100, 60), 201 x 101.
        { photoshop.get(), QStringLiteral("Photoshop"), 1, { 75, 45 }, { 225, 120 },
            QStringLiteral("1|100|60|300|160") },
    };
    for (const Selection& s : selections) {
        QVERIFY(focusAndWait(*s.foreign));
        // As a person does: the pointer comes over the tool, whose refresh on
        // entering recognises the window in front, and then clicks.
        QVERIFY(e2e::hoverToolBarButton(*window, QStringLiteral("Select region"), kBareDesktop));
        QTRY_COMPARE(Probe::currentApp(*window), s.name);
        QVERIFY(e2e::clickToolBarButton(*window, QStringLiteral("Select region")));
        QTRY_VERIFY(Probe::regionWindow(*window) != nullptr);
        QPointer<QSelectRegionWindow> regionWindow = Probe::regionWindow(*window);
        QVERIFY(QTest::qWaitForWindowExposed(regionWindow.data()));
        QCOMPARE(regionWindow->windowTitle(), QStringLiteral("Select region to capture for application: ") + s.name);
        auto* label = regionWindow->findChild<QSelectLabel*>();
        QVERIFY(label);

        if (s.monitor != label->monitorIndex) {
            QToolButton* monitorButton = nullptr;
            for (QToolButton* button : regionWindow->findChildren<QToolButton*>())
                if (button->text() == QStringLiteral("Monitor #%1").arg(s.monitor + 1))
                    monitorButton = button;
            QVERIFY(monitorButton);
            e2e::click(e2e::centreOnDesktop(monitorButton));
            QTRY_COMPARE(label->monitorIndex, s.monitor);
            QVERIFY(QTest::qWaitForWindowExposed(regionWindow.data()));
            QTRY_VERIFY(monitorButton->isChecked());
        }
        // The screenshot shows the monitor without the region window in it:
        // the drag starts on the foreign window's colour.
        const QImage screenshot = label->pixmap(Qt::ReturnByValue).toImage();
        QCOMPARE(e2e::colourName(screenshot.pixelColor(s.from)), e2e::colourName(s.foreign->colour()));

        e2e::drag(label->mapToGlobal(s.from), label->mapToGlobal(s.to));
        QTRY_COMPARE(recordOnDisk(s.name), s.record);
        QTRY_VERIFY(regionWindow.isNull() || !regionWindow->isVisible());
        QCOMPARE(Probe::currentApp(*window), s.name);
        // The selection's own refresh captures the new region at once.
        QCOMPARE(e2e::uniformColour(Probe::captureImage(*window)), e2e::colourName(s.foreign->colour()));
    }

    // Restart with the unrecognised window in front, then bring Photoshop forward.
    window.reset();
    QVERIFY(focusAndWait(*plain));
    window = startProgram();
    QVERIFY(window);
    MainWindow& w = *window;
    QCOMPARE(Probe::currentApp(w), QStringLiteral("Unknown"));
    startCapturing(w);
    QVERIFY(focusAndWait(*plain));
    QTRY_COMPARE(e2e::uniformColour(Probe::captureImage(w)), e2e::colourName(plain->colour()));
    QVERIFY(focusAndWait(*photoshop));
    QTRY_COMPARE(Probe::currentApp(w), QStringLiteral("Photoshop"));
    QTRY_COMPARE(e2e::uniformColour(Probe::captureImage(w)), e2e::colourName(photoshop->colour()));
}

QTEST_MAIN(TestFollowApplication)
#include "test_follow_application.moc"
