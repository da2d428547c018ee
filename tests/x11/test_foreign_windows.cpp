// The program among solid-coloured xterms on two monitors (each half of the
// 1600 x 900 desktop), no window manager: the colour of a captured frame
// tells which region was captured.

#include "x11/EndToEnd.h"

#include "capture/QSelectLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "platform/Desktop.h"
#include "shell/MainWindow.h"

#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>

#include <X11/Xlib.h>

#include <memory>

struct ForeignTag;
template <> struct MainWindowProbe<ForeignTag> {
    static QString currentApp(MainWindow& w) { return w.currentApp; }
    static cv::Mat frame(MainWindow& w) { return w.captureImage; }
    static cv::Mat scope(MainWindow& w) { return w.scopeImage; }
    static QString foregroundClass(MainWindow& w) { return QString::fromStdString(w.foregroundClass); }
    static QString foregroundTitle(MainWindow& w) { return QString::fromStdString(w.foregroundTitle); }
    static QSelectRegionWindow* regionWindow(MainWindow& w) { return w.regionWindow; }
    static QMainWindow* settingsWindow(MainWindow& w) { return w.settingsWindow; }
    static QTimer* appInfoTimer(MainWindow& w) { return w.appInfoTimer; }
};
using Probe = MainWindowProbe<ForeignTag>;
using e2e::ForeignWindow;

class TestForeignWindows : public QObject {
    Q_OBJECT

    // Resolve is recognised by its title, Photoshop by its class.
    ForeignWindow resolve { "xterm", "Grader", "DaVinci Resolve 18", QColor(0x2060c0u), { 0, 0 } };
    ForeignWindow photoshop { "ps", "PhotoshopThing", "Untitled-1", QColor(0xd04020u), { 800, 0 } };
    ForeignWindow plain { "files", "FileManager", "Home folder", QColor(0x30a050u), { 0, 450 } };
    ForeignWindow myEditor { "myeditor", "MyEditorWindow", "picture one", QColor(0xa0a020u), { 800, 450 } };
    std::unique_ptr<MainWindow> window;
    const QString kTitlePrefix = QStringLiteral("Korvant Huelens 1.0: ");

    static QPoint centre(const QWidget* widget) { return widget->mapToGlobal(widget->rect().center()); }
    static QStringList pointerTo(const QPoint& at)
    {
        return { "mousemove", QString::number(at.x()), QString::number(at.y()) };
    }
    static void click(const QPoint& at, int button = 1)
    {
        e2e::xdotool(pointerTo(at) + QStringList { "click", QString::number(button) });
    }
    static QWidget* toolBarButton(QWidget& window, const QString& text)
    {
        auto* toolBar = window.findChild<QToolBar*>(QStringLiteral("toolBar"));
        for (QAction* action : toolBar->actions())
            if (action->text() == text)
                return toolBar->widgetForAction(action);
        return nullptr;
    }
    static bool focusAndWait(unsigned long id)
    {
        e2e::xdotool({ "windowfocus", "--sync", QString::number(id) });
        return QTest::qWaitFor([id] { return platform::desktop().foreground() == id; });
    }
    // The CLIPBOARD as another program reads it; the event loop runs so this process, the owner, answers.
    static QString clipboardSeenByAnotherProgram()
    {
        QProcess xclip;
        xclip.start("xclip", { "-o", "-selection", "clipboard" });
        if (!QTest::qWaitFor([&] { return xclip.state() == QProcess::NotRunning; }))
            e2e::stop(xclip);
        return QString::fromUtf8(xclip.readAllStandardOutput());
    }
    bool startProgram(const QPoint& at)
    {
        window = std::make_unique<MainWindow>(nullptr, false, 0);
        window->move(at);
        window->show();
        return QTest::qWaitForWindowExposed(window.get());
    }
    void startCapturing()
    {
        click(centre(toolBarButton(*window, QStringLiteral("Start capturing..."))));
        QTRY_VERIFY(toolBarButton(*window, QStringLiteral("Stop capturing")) != nullptr);
    }

private slots:
    void cleanup() { window.reset(); }

    void initTestCase()
    {
        e2e::run({ "xrandr", "--setmonitor", "left", "800/211x900/238+0+0", "none" });
        // The right half takes the output, which replaces the monitor the server made for it.
        e2e::run({ "xrandr", "--setmonitor", "right", "800/211x900/238+800+0", "screen" });
        QVERIFY(e2e::run({ "xrandr", "--listmonitors" }).startsWith(QLatin1String("Monitors: 2")));

        for (ForeignWindow* w : { &resolve, &photoshop, &plain, &myEditor })
            QVERIFY2(w->waitUntilMapped() != 0, qPrintable(w->title));
    }

    // Each window in front is named in the title and the label and its region
    // captured; an unrecognised window in front keeps the last name and region.
    void followsTheApplicationInFront()
    {
        // Guards widgets shown before they had a parent, each flashing on
        // screen as a window that start-up recognition could read as active.
        Display* display = XOpenDisplay(nullptr);
        XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
        XSync(display, False);
        // Photoshop's region has Resolve's offsets, on monitor 1.
        testSandbox().writeConfig("[General]\nwindow_size=250\npreview_enabled=true\n"
                                  "Photoshop=1|100|50|300|150\nDaVinci%20Resolve=0|100|50|300|150\n"
                                  "apps=MyEditor:myeditor.\nMyEditor=1|50|500|250|600\n");
        QVERIFY(focusAndWait(plain.id));
        QVERIFY(startProgram({ 1330, 320 })); // exposed: the server has handled all the program sent
        XSync(display, False);
        QList<unsigned long> mapped;
        for (XEvent event; XPending(display) > 0;)
            if (XNextEvent(display, &event) == 0 && event.type == MapNotify)
                mapped.append(event.xmap.window);
        XCloseDisplay(display);
        QCOMPARE(mapped, QList<unsigned long> { static_cast<unsigned long>(window->winId()) });

        MainWindow& w = *window;
        QCOMPARE(w.windowTitle(), kTitlePrefix + "Unknown");
        startCapturing();
        auto appLabel = [&w] { return w.findChild<QLabel*>(QStringLiteral("appLabel"))->text(); };

        const std::pair<ForeignWindow*, QString> cases[] = { { &photoshop, "Photoshop" },
            { &resolve, "DaVinci Resolve" }, { &myEditor, "MyEditor" }, { &photoshop, "Photoshop" } };
        for (const auto& [foreign, name] : cases) {
            QVERIFY(focusAndWait(foreign->id));
            QTRY_COMPARE(w.windowTitle(), kTitlePrefix + name);
            QCOMPARE(appLabel(), name);
            QTRY_COMPARE(e2e::uniformColour(Probe::frame(w)), foreign->colour.name());
        }

        QVERIFY(focusAndWait(plain.id));
        QTRY_COMPARE(Probe::foregroundClass(w), QStringLiteral("files.FileManager")); // read by a cycle ...
        QTest::qWait(250); // ... and several cycles later, still Photoshop
        QCOMPARE(w.windowTitle(), kTitlePrefix + "Photoshop");
        QCOMPARE(appLabel(), QStringLiteral("Photoshop"));
        QCOMPARE(e2e::uniformColour(Probe::frame(w)), photoshop.colour.name());
    }

    // Regions dragged with the real pointer on either monitor land in
    // config.ini; a new start captures both.
    void regionsChosenWithTheMouseAreStoredAndCapturedAfterRestart()
    {
        testSandbox().writeConfig("[General]\nwindow_size=250\npreview_enabled=false\n");
        QVERIFY(focusAndWait(plain.id));
        QVERIFY(startProgram({ 1330, 600 }));

        struct Selection {
            ForeignWindow* foreign;
            QString name;
            int monitor;
            QPoint from, to; // label pixels: monitor pixels x 0.75
            QString record;
        };
        const Selection selections[] = {
            // (75, 375)-(225, 450), dragged backwards: 151 x 76 label pixels from (100, 500) -> 201 x 101.
            { &plain, "Unknown", 0, { 225, 450 }, { 75, 375 }, "0|100|500|300|600" },
            { &photoshop, "Photoshop", 1, { 75, 45 }, { 225, 120 }, "1|100|60|300|160" },
        };
        for (const Selection& s : selections) {
            QVERIFY(focusAndWait(s.foreign->id));
            // Entering the tool refreshes the window in front, then the click.
            QWidget* button = toolBarButton(*window, QStringLiteral("Select region"));
            e2e::xdotool(pointerTo({ 1300, 500 }));
            e2e::xdotool(pointerTo(centre(button)));
            QTRY_COMPARE(Probe::currentApp(*window), s.name);
            click(centre(button));
            QTRY_VERIFY(Probe::regionWindow(*window) != nullptr);
            QPointer<QSelectRegionWindow> region = Probe::regionWindow(*window);
            QVERIFY(QTest::qWaitForWindowExposed(region.data()));
            auto* label = region->findChild<QSelectLabel*>();
            if (s.monitor != label->monitorIndex) {
                for (QToolButton* monitorButton : region->findChildren<QToolButton*>())
                    if (monitorButton->text() == QStringLiteral("Monitor #%1").arg(s.monitor + 1))
                        click(centre(monitorButton));
                QTRY_COMPARE(label->monitorIndex, s.monitor);
                QVERIFY(QTest::qWaitForWindowExposed(region.data()));
            }
            // The screenshot shows the monitor without the region window in it.
            QCOMPARE(label->pixmap(Qt::ReturnByValue).toImage().pixelColor(s.from).name(), s.foreign->colour.name());
            e2e::xdotool(pointerTo(label->mapToGlobal(s.from)) + QStringList { "mousedown", "1" }
                + pointerTo(label->mapToGlobal(s.to)) + QStringList { "mouseup", "1" });
            QTRY_COMPARE(e2e::valueOnDisk(s.name), s.record);
            QTRY_VERIFY(region.isNull() || !region->isVisible());
            // The selection's own refresh captures the new region at once.
            QCOMPARE(e2e::uniformColour(Probe::frame(*window)), s.foreign->colour.name());
        }

        window.reset();
        QVERIFY(focusAndWait(plain.id));
        QVERIFY(startProgram({ 1330, 600 }));
        startCapturing();
        QVERIFY(focusAndWait(plain.id));
        QTRY_COMPARE(e2e::uniformColour(Probe::frame(*window)), plain.colour.name());
        QVERIFY(focusAndWait(photoshop.id));
        QTRY_COMPARE(Probe::currentApp(*window), QStringLiteral("Photoshop"));
        QTRY_COMPARE(e2e::uniformColour(Probe::frame(*window)), photoshop.colour.name());
    }

    // 200 columns of red and 200 of blue, one to one at size 400. Hue h at
    // full saturation plots at (200 - round(150 sin h), 200 - round(150 cos h)):
    // red at (200, 50), blue at (330, 275); those cells and the four beside
    // each (smoothing) are white, nothing else.
    void vectorscopeOfRedAndBlueAndTheClipboard()
    {
        ForeignWindow red("left", "Colours", "red half", QColor(255, 0, 0), QPoint(0, 0));
        ForeignWindow blue("right", "Colours", "blue half", QColor(0, 0, 255), QPoint(484, 0));
        QVERIFY(red.waitUntilMapped() && blue.waitUntilMapped());
        testSandbox().writeConfig("[General]\nUnknown=0|284|50|684|250\n");
        QVERIFY(focusAndWait(red.id));
        QVERIFY(startProgram({ 1150, 270 }));
        MainWindow& w = *window;
        startCapturing();

        // Guards the window fitting: Qt's own let the preview cover the plot.
        auto* plot = w.findChild<QLabel*>(QStringLiteral("plotLabel"));
        auto* preview = w.findChild<QLabel*>(QStringLiteral("previewLabel"));
        QVERIFY(preview->isVisible());
        QTRY_VERIFY2(preview->mapTo(&w, QPoint(0, 0)).y() >= plot->mapTo(&w, QPoint(0, plot->height())).y(),
            qPrintable(QStringLiteral("window %1 high").arg(w.height())));

        const QPoint redSpot(200, 50), blueSpot(330, 275);
        cv::Mat expected = cv::Mat::zeros(400, 400, CV_8U), white;
        for (const QPoint& spot : { redSpot, blueSpot })
            for (const QPoint& step : { QPoint(0, 0), QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1) })
                expected.at<uchar>(spot.y() + step.y(), spot.x() + step.x()) = 255;
        QTRY_VERIFY((cv::inRange(Probe::scope(w), cv::Scalar::all(255), cv::Scalar::all(255), white),
            cv::countNonZero(white != expected) == 0));

        // Clicks one pixel inside the circle. Red: hue 1.0, S 0.75, L 0.5 gives
        // q = 0.875, p = 0.125, (223.125, 31.875, 31.875) -> #df2020.
        auto swatch = [&w](int i) { return w.findChild<QLabel*>(QStringLiteral("colorSwatch%1").arg(i)); };
        click(plot->mapToGlobal(redSpot + QPoint(0, 1)));
        QTRY_COMPARE(swatch(0)->toolTip(), QStringLiteral("#df2020 (click to copy)"));
        click(centre(swatch(0)));
        QTRY_COMPARE(clipboardSeenByAnotherProgram(), QStringLiteral("#df2020"));
        // Right on (329, 274): (atan2(-129, -74) + pi) / 2pi = 0.16711, spread
        // 0.33289, so swatch 2 shows hue 0.66711, the blue.
        click(plot->mapToGlobal(blueSpot - QPoint(1, 1)), 3);
        QTRY_COMPARE(swatch(2)->toolTip(), QStringLiteral("#2020df (click to copy)"));
    }

    // The dialog describes the window in front, keeps it while the dialog or
    // the program is in front, and OK saves and applies size and rule.
    void settingsDialogDescribesTheWindowInFrontAndAppliesOk()
    {
        testSandbox().writeConfig("[General]\n");
        QVERIFY(focusAndWait(resolve.id));
        QVERIFY(startProgram({ 1150, 270 }));
        MainWindow& w = *window;
        QCOMPARE(w.width(), 400);
        click(centre(toolBarButton(w, QStringLiteral("Settings"))));
        QTRY_VERIFY(Probe::settingsWindow(w) != nullptr);
        QPointer<QMainWindow> dialog = Probe::settingsWindow(w);
        QVERIFY(QTest::qWaitForWindowExposed(dialog.data()));
        auto labels = [&] {
            QStringList texts;
            for (const char* name : { "classLabel", "titleLabel", "executableLabel" })
                texts << dialog->findChild<QLabel*>(name)->text();
            return texts;
        };
        const QStringList described { "files.FileManager", "Home folder", "xterm" };

        QVERIFY(focusAndWait(plain.id));
        QTRY_COMPARE(labels(), described);
        QVERIFY(focusAndWait(dialog->winId()));
        QTRY_COMPARE(Probe::foregroundTitle(w), QStringLiteral("Huelens Settings"));
        QCOMPARE(labels(), described);
        QVERIFY(focusAndWait(w.winId()));
        QList<unsigned long> inFront;
        connect(
            Probe::appInfoTimer(w), &QTimer::timeout, this, [&] { inFront.append(platform::desktop().foreground()); });
        QTRY_VERIFY(inFront.size() >= 2);
        QCOMPARE(inFront.first(), static_cast<unsigned long>(w.winId()));
        QCOMPARE(inFront.last(), static_cast<unsigned long>(w.winId()));
        QCOMPARE(labels(), described);

        dialog->findChild<QSpinBox*>(QStringLiteral("windowSizeSpin"))->setValue(300);
        dialog->findChild<QTextEdit*>(QStringLiteral("appsEdit"))->setPlainText(QStringLiteral("Files:files"));
        click(centre(dialog->findChild<QPushButton*>(QStringLiteral("okButton"))));
        QTRY_VERIFY(dialog.isNull());
        QCOMPARE(e2e::valueOnDisk("window_size"), QStringLiteral("300"));
        QCOMPARE(e2e::valueOnDisk("apps"), QStringLiteral("Files:files"));
        QTRY_COMPARE(w.width(), 300);

        startCapturing();
        QVERIFY(focusAndWait(plain.id));
        QTRY_COMPARE(w.windowTitle(), kTitlePrefix + "Files");
    }
};

QTEST_MAIN(TestForeignWindows)
#include "test_foreign_windows.moc"
