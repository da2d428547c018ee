// Faults the program must ride out on a real X server: a settings file that
// is damaged, huge or not a file at all, stored monitors and rectangles that
// no longer fit the desktop, windows that vanish while they are being read,
// the X server going away, and hours of capturing compressed into a soak.
// Each test fails if the program crashes, hangs or loses what the user
// stored. Runs on the private Xvfb of with-xvfb.sh (1600 x 900).
#include "apps/SettingsFile.h"
#include "capture/QSelectLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <cstdio>
#include <malloc.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

struct FaultsTag;
template <> struct MainWindowProbe<FaultsTag> {
    static int windowSize(MainWindow& w) { return w.windowSize; }
    static bool capturing(MainWindow& w) { return w.capturing; }
    static const cv::Mat& frame(MainWindow& w) { return w.captureImage; }
    static QString currentApp(MainWindow& w) { return w.currentApp; }
    static QSelectRegionWindow* regionWindow(MainWindow& w) { return w.regionWindow.data(); }
};
using Probe = MainWindowProbe<FaultsTag>;

namespace {

// ------------------------------------------------------------ helpers

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QAction* toolAction(MainWindow& window, int index)
{
    return window.findChild<QToolBar*>(QStringLiteral("toolBar"))->actions().at(index);
}

// Resident memory of this process in kB, after handing freed memory back.
long residentKilobytes()
{
    malloc_trim(0);
    const QByteArray status = readBytes(QStringLiteral("/proc/self/status"));
    const QRegularExpressionMatch m
        = QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+) kB")).match(QString::fromLatin1(status));
    return m.hasMatch() ? m.captured(1).toLong() : -1;
}

// Paints the root window one colour (0xRRGGBB), so captures of the desktop
// have something to show, and a new colour makes a new frame.
class RootPainter {
public:
    RootPainter()
        : display(XOpenDisplay(nullptr))
    {
    }
    ~RootPainter()
    {
        if (display)
            XCloseDisplay(display);
    }
    void paint(unsigned long rgb)
    {
        const Window root = DefaultRootWindow(display);
        XSetWindowBackground(display, root, rgb);
        XClearWindow(display, root);
        XSync(display, False);
    }
    Display* display;
};

// The program as a user starts it: its own data folder and working folder.
class Program {
public:
    Program(const QString& sandbox, const QStringList& arguments, const QProcessEnvironment& extra = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), sandbox + QStringLiteral("/data"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        for (const QString& key : extra.keys())
            env.insert(key, extra.value(key));
        QDir().mkpath(sandbox + QStringLiteral("/work"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(sandbox + QStringLiteral("/work"));
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(HUELENS_BINARY), arguments);
        process.waitForStarted();
    }
    ~Program() { stop(); }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000)) {
            process.kill();
            process.waitForFinished(5000);
        }
    }

    QProcess process;
};

QString runTool(const QStringList& args, const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(args.first(), args.mid(1));
    p.waitForFinished(10000);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// The program's window on the display of `env`, once it is mapped; empty
// when it does not appear within 30 seconds (valgrind starts slowly).
QString waitForWindow(const QProcessEnvironment& env, QProcess& program)
{
    for (int i = 0; i < 300 && program.state() == QProcess::Running; ++i) {
        const QString id
            = runTool({ QStringLiteral("xdotool"), QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                          QStringLiteral("--name"), QStringLiteral("^Korvant Huelens 1\\.0: ") },
                env);
        if (!id.isEmpty())
            return id.section(QLatin1Char('\n'), 0, 0);
        QTest::qWait(100);
    }
    return {};
}

// Clicks at a position of the program's window (window pixels).
void clickAt(const QProcessEnvironment& env, const QString& window, int x, int y)
{
    runTool({ QStringLiteral("xdotool"), QStringLiteral("mousemove"), QStringLiteral("--window"), window,
                QString::number(x), QString::number(y), QStringLiteral("click"), QStringLiteral("1") },
        env);
}

int refreshCount(const QString& logPath)
{
    return readBytes(logPath).count("UPD screen\n");
}

// The start button is the toolbar's first, at its left end; Exit its last,
// at its right end.
constexpr int kToolBarY = 12;
constexpr int kStartButtonX = 12;

// A config.ini of about `bytes` bytes: many keys of other programs (or of
// older versions) around the program's own.
QByteArray largeConfig(int bytes)
{
    QByteArray text = "[General]\nwindow_size=300\n";
    for (int i = 0; text.size() < bytes; ++i)
        text += "foreign_key_" + QByteArray::number(i) + "=\"value, " + QByteArray::number(i)
            + " with text to make it long\"\n";
    text += "[other section]\nkept=yes\n";
    return text;
}

QByteArray binaryGarbage(int bytes)
{
    QByteArray text(bytes, '\0');
    QRandomGenerator random(20240611);
    for (char& c : text)
        c = char(random.bounded(256));
    // A key of another program among the garbage, on lines of its own.
    return text + "\nforeign=kept through garbage\n" + text.left(4096);
}

QByteArray wrongTypes()
{
    return "[General]\n"
           "window_size=@Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n"
           "preview_enabled=@Rect(1 2 3 4)\n"
           "apps=@ByteArray(\\0\\xff)\n"
           "Photoshop=1|2\n"
           "Firefox=a|b|c|d|e\n"
           "Chrome=99999999999|-99999999999|1e9|0x10|\n"
           "DaVinci%20Resolve=\"1, 2\", 3\n"
           "Lightroom=2147483647|2147483647|2147483647|-2147483648|-2147483648\n"
           "Unknown=-1|0|0|0|0\n"
           "foreign=kept\n";
}

// Every key of `before` that the program does not write is in `after` with
// the same value.
void verifyKeysSurvive(const QByteArray& before, const QByteArray& after, const QStringList& written)
{
    const QSettings::SettingsMap old = readSettingsText(before);
    const QSettings::SettingsMap now = readSettingsText(after);
    for (auto it = old.cbegin(); it != old.cend(); ++it) {
        if (written.contains(it.key()))
            continue;
        QVERIFY2(now.contains(it.key()), qPrintable(QStringLiteral("lost key ") + it.key()));
        const QByteArray was = writeSettingsText({ { it.key(), it.value() } });
        const QByteArray is = writeSettingsText({ { it.key(), now.value(it.key()) } });
        QVERIFY2(was == is, qPrintable(QStringLiteral("changed key ") + it.key()));
    }
}

// --------------------------------------------------- windows that vanish

// Run as a child process (HUELENS_FAULTS_CHURN=seconds): creates, activates
// and destroys client windows as fast as the server takes them, and now and
// then names a window that is already gone as the active one, as a window
// manager that lags behind would.
int churnWindows(double seconds)
{
    Display* display = XOpenDisplay(nullptr);
    if (!display)
        return 2;
    const Window root = DefaultRootWindow(display);
    const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    const Atom wmState = XInternAtom(display, "WM_STATE", False);
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    const Atom pid = XInternAtom(display, "_NET_WM_PID", False);
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    Window previous = None;
    long count = 0;
    while (std::chrono::steady_clock::now() < end) {
        const Window w
            = XCreateSimpleWindow(display, root, int(count % 1200), int(count % 700), 300, 200, 0, 0, 0x336699);
        const long state[2] = { 1, None };
        XChangeProperty(
            display, w, wmState, wmState, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(state), 2);
        XClassHint hint { const_cast<char*>("churn"), const_cast<char*>(count % 2 ? "Photoshop" : "Churn") };
        XSetClassHint(display, w, &hint);
        const QByteArray title
            = "Window " + QByteArray::number(qlonglong(count)) + (count % 3 ? " Resolve" : " Firefox");
        XChangeProperty(display, w, netName, utf8, 8, PropModeReplace,
            reinterpret_cast<const unsigned char*>(title.constData()), title.size());
        const long ownPid = long(getpid());
        XChangeProperty(
            display, w, pid, XA_CARDINAL, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&ownPid), 1);
        XMapRaised(display, w);
        const Window named = (count % 5 == 0 && previous != None) ? previous : w;
        if (previous != None)
            XDestroyWindow(display, previous);
        // Every fifth time the active window is one just destroyed.
        XChangeProperty(
            display, root, active, XA_WINDOW, 32, PropModeReplace, reinterpret_cast<const unsigned char*>(&named), 1);
        XFlush(display);
        previous = w;
        ++count;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (previous != None)
        XDestroyWindow(display, previous);
    XDeleteProperty(display, root, active);
    XSync(display, False);
    XCloseDisplay(display);
    std::printf("%ld windows\n", count);
    return 0;
}

} // namespace

class FaultsTest : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        QFile::remove(testSandbox().configFile());
        RootPainter().paint(0x000000);
    }

    // ------------------------------------------------ the settings file

    // Damaged, huge and wrongly typed files: the program starts with sound
    // values, captures, writes (the preview switch, a region), and every key
    // it does not use is still there, unchanged.
    void keysItDoesNotUseSurviveItsWrites_data()
    {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<int>("windowSize");
        QTest::addColumn<QByteArray>("previewWritten");
        QTest::newRow("binary garbage") << binaryGarbage(256 * 1024) << 400 << QByteArray("false");
        QTest::newRow("10 MB") << largeConfig(10 * 1024 * 1024) << 300 << QByteArray("false");
        // A preview switch that is not a boolean reads as false (hidden); the toggle shows it.
        QTest::newRow("every key of the wrong type") << wrongTypes() << 400 << QByteArray("true");
    }

    void keysItDoesNotUseSurviveItsWrites()
    {
        QFETCH(QByteArray, config);
        QFETCH(int, windowSize);
        QFETCH(QByteArray, previewWritten);
        testSandbox().writeConfig(config);
        {
            MainWindow window(nullptr, false, 0);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QCOMPARE(Probe::windowSize(window), windowSize);

            toolAction(window, 0)->trigger(); // start capturing
            QTRY_VERIFY(!Probe::frame(window).empty());
            QTest::qWait(200);
            toolAction(window, 4)->trigger(); // the preview switch is written at once

            // A region, stored under the application in front.
            window.selectRegion();
            QSelectRegionWindow* region = Probe::regionWindow(window);
            QVERIFY(region);
            auto* label = region->findChild<QSelectLabel*>();
            QVERIFY(label);
            QTest::mousePress(label, Qt::LeftButton, {}, QPoint(10, 10));
            QTest::mouseMove(label, QPoint(110, 60));
            QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(110, 60));
            QTRY_VERIFY(!Probe::regionWindow(window));
            toolAction(window, 0)->trigger(); // stop
        }
        const QByteArray after = readBytes(testSandbox().configFile());
        QVERIFY(after.contains("preview_enabled=" + previewWritten + "\n"));
        QVERIFY(after.contains("Unknown=0|13|13|146|80\n"));
        verifyKeysSurvive(config, after, { QStringLiteral("preview_enabled"), QStringLiteral("Unknown") });
    }

    // What the program does when config.ini cannot be read or written: as
    // root, file permissions stop nothing, so the path holds something that
    // is not a file, or its folder cannot be made. The program starts,
    // captures, and leaves whatever is there untouched.
    void startsWhereTheSettingsFileCannotBe_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("folder cannot be created") << QStringLiteral("file in the way");
        QTest::newRow("config.ini is a folder") << QStringLiteral("folder");
        QTest::newRow("config.ini is a FIFO") << QStringLiteral("fifo");
    }

    void startsWhereTheSettingsFileCannotBe()
    {
        QFETCH(QString, kind);
        QTemporaryDir sandbox;
        const QString appData = sandbox.path() + QStringLiteral("/data/huelens");
        const QString config = appData + QStringLiteral("/config.ini");
        QDir().mkpath(sandbox.path() + QStringLiteral("/data"));
        if (kind == QLatin1String("file in the way")) {
            QFile blocker(appData);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.write("not a folder");
        } else if (kind == QLatin1String("folder")) {
            QVERIFY(QDir().mkpath(config + QStringLiteral("/inside")));
        } else {
            QDir().mkpath(appData);
            QCOMPARE(::mkfifo(QFile::encodeName(config).constData(), 0600), 0);
        }

        const QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        Program program(sandbox.path(), { QStringLiteral("-debug") });
        const QString window = waitForWindow(env, program.process);
        QVERIFY2(!window.isEmpty(), program.process.readAll().constData());
        const QString log = sandbox.path() + QStringLiteral("/work/log.txt");
        clickAt(env, window, kStartButtonX, kToolBarY);
        QTRY_VERIFY_WITH_TIMEOUT(refreshCount(log) >= 10, 20000);
        QCOMPARE(program.process.state(), QProcess::Running);
        program.stop();

        if (kind == QLatin1String("file in the way"))
            QCOMPARE(readBytes(appData), QByteArray("not a folder"));
        else if (kind == QLatin1String("folder"))
            QVERIFY(QFileInfo(config + QStringLiteral("/inside")).isDir());
        else
            QVERIFY(QFileInfo(config).exists() && !QFileInfo(config).isFile());
    }

    // ------------------------------------ monitors and rectangles stored

    // A monitor index for a monitor that is gone captures monitor 0 instead;
    // a rectangle beyond the monitor reads the desktop where there is one and
    // black beyond it. Nothing is read outside the monitor table or the
    // screen (the sanitizer build checks the reads).
    void storedTargetsThatNoLongerFit_data()
    {
        QTest::addColumn<QByteArray>("record");
        QTest::addColumn<int>("rows");
        QTest::addColumn<QPoint>("desktopPixel");
        QTest::addColumn<QPoint>("blackPixel");
        // Frames are 400 wide; rows = height * 400 / width, truncated.
        QTest::newRow("monitor 3 of 1") << QByteArray("3|10|10|110|60") << 200 << QPoint(399, 199) << QPoint(-1, -1);
        QTest::newRow("negative monitor") << QByteArray("-7|10|10|110|60") << 200 << QPoint(0, 0) << QPoint(-1, -1);
        // 1000 x 1000 from (1400, 700): the desktop ends 200 pixels in, at 80 frame pixels.
        QTest::newRow("past the corner") << QByteArray("0|1400|700|2400|1700") << 400 << QPoint(79, 79)
                                         << QPoint(80, 80);
        QTest::newRow("far larger than the monitor")
            << QByteArray("0|0|0|100000|50000") << 200 << QPoint(0, 0) << QPoint(399, 199);
    }

    void storedTargetsThatNoLongerFit()
    {
        QFETCH(QByteArray, record);
        QFETCH(int, rows);
        QFETCH(QPoint, desktopPixel);
        QFETCH(QPoint, blackPixel);
        RootPainter().paint(0x204080);
        testSandbox().writeConfig("[General]\nUnknown=" + record + "\n");
        MainWindow window(nullptr, false, 0); // not shown: it would cover the desktop it reads
        QCOMPARE(Probe::currentApp(window), QStringLiteral("Unknown"));
        window.updateScreen();
        const cv::Mat& frame = Probe::frame(window);
        QCOMPARE(frame.cols, 400);
        QCOMPARE(frame.rows, rows);
        QCOMPARE(frame.at<cv::Vec4b>(desktopPixel.y(), desktopPixel.x()), cv::Vec4b(0x80, 0x40, 0x20, 255));
        if (blackPixel.x() >= 0)
            QCOMPARE(frame.at<cv::Vec4b>(blackPixel.y(), blackPixel.x()), cv::Vec4b(0, 0, 0, 255));
    }

    // ------------------------------------------- windows that vanish

    // Windows appear, become active and vanish hundreds of times a second
    // while the program captures at 25 frames a second. An X error reaching
    // Xlib's default handler would end this process.
    void windowsVanishingWhileCapturing()
    {
        MainWindow window(nullptr, false, 0);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        toolAction(window, 0)->trigger();
        QVERIFY(Probe::capturing(window));

        QProcess churn;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HUELENS_FAULTS_CHURN"), QStringLiteral("4"));
        churn.setProcessEnvironment(env);
        churn.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(churn.waitForStarted());
        QSet<QString> seen;
        while (churn.state() != QProcess::NotRunning) {
            QTest::qWait(20);
            seen.insert(Probe::currentApp(window));
        }
        QCOMPARE(churn.exitCode(), 0);
        const QByteArray report = churn.readAllStandardOutput();
        QVERIFY2(report.split(' ').value(0).toInt() > 200, report.constData());
        QVERIFY(Probe::capturing(window));
        // Recognition kept up with the windows it could read.
        QVERIFY2(seen.contains(QStringLiteral("Photoshop")) || seen.contains(QStringLiteral("DaVinci Resolve"))
                || seen.contains(QStringLiteral("Firefox")),
            qPrintable(QStringList(seen.values()).join(QLatin1Char(','))));
        toolAction(window, 0)->trigger();
    }

    // ----------------------------------------- the X server going away

    // The server of a capturing program is killed: the program ends within
    // two seconds, by its own exit and not by a signal, and config.ini is
    // as it was.
    void xServerGoingAwayWhileCapturing()
    {
        QTemporaryDir sandbox;
        QProcess xvfb;
        // Display number from the server itself: -displayfd writes it to stdout.
        xvfb.start(QStringLiteral("Xvfb"),
            { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"), QStringLiteral("0"),
                QStringLiteral("800x600x24"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                // Without it the server resets whenever its last client leaves,
                // which a window search before the program connects can be.
                QStringLiteral("-noreset") });
        QVERIFY(xvfb.waitForStarted());
        QByteArray number;
        QTRY_VERIFY_WITH_TIMEOUT((number += xvfb.readAllStandardOutput()).contains('\n'), 20000);
        const QString display = QLatin1Char(':') + QString::fromLatin1(number.trimmed().split('\n').last());

        const QString appData = sandbox.path() + QStringLiteral("/data/huelens");
        QDir().mkpath(appData);
        const QByteArray config = "[General]\napps=Gimp:gimp\nwindow_size=300\nUnknown=0|10|10|400|300\nforeign=kept\n";
        {
            QFile file(appData + QStringLiteral("/config.ini"));
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(config);
        }

        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        QProcessEnvironment extra;
        extra.insert(QStringLiteral("DISPLAY"), display);
        // A process that ends this way leaves its window and everything in it
        // allocated; that is no leak.
        extra.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0:halt_on_error=1"));
        Program program(sandbox.path(), { QStringLiteral("-debug") }, extra);
        const QString window = waitForWindow(env, program.process);
        QVERIFY2(!window.isEmpty(), program.process.readAll().constData());
        const QString log = sandbox.path() + QStringLiteral("/work/log.txt");
        clickAt(env, window, kStartButtonX, kToolBarY);
        const int before = refreshCount(log);
        QTRY_VERIFY_WITH_TIMEOUT(refreshCount(log) >= before + 5, 20000);

        xvfb.kill();
        QVERIFY(xvfb.waitForFinished(5000));
        QVERIFY2(program.process.waitForFinished(2000), "the program did not end within two seconds");
        QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(readBytes(appData + QStringLiteral("/config.ini")), config);
    }

    // --------------------------------------------------------- soak

    // Region selection opened and closed 50 times, then 10,000 capture
    // cycles on frames that change every cycle: after the warm-up, resident
    // memory grows by at most 1 MB.
    void memoryStaysBoundedOverLongRuns()
    {
        testSandbox().writeConfig("[General]\nwindow_size=150\n");
        RootPainter root;
        MainWindow window(nullptr, false, 0);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        auto openAndClose = [&] {
            window.selectRegion();
            QSelectRegionWindow* region = Probe::regionWindow(window);
            QVERIFY(region);
            region->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
        };
        for (int i = 0; i < 5; ++i)
            openAndClose();
        const long regionStart = residentKilobytes();
        for (int i = 5; i < 50; ++i)
            openAndClose();
        const long regionEnd = residentKilobytes();

        // Sanitizers keep freed memory in quarantine: there the cycles run
        // for their reports, and the size is measured in the plain build.
        const int cycles = kSanitized ? 1000 : 10000;
        const int warmUp = 500;
        long cycleStart = 0;
        for (int i = 0; i < cycles; ++i) {
            if (i % 4 == 0)
                root.paint((0x010203u * unsigned(i)) & 0xffffffu);
            window.updateScreen();
            if (i % 100 == 0)
                QCoreApplication::processEvents();
            if (i == warmUp)
                cycleStart = residentKilobytes();
        }
        const long cycleEnd = residentKilobytes();
        qInfo("resident memory: region windows %ld -> %ld kB, capture cycles %ld -> %ld kB", regionStart, regionEnd,
            cycleStart, cycleEnd);
        if (kSanitized)
            QSKIP("resident memory is measured in the plain build");
        QVERIFY2(regionEnd - regionStart <= 1024, "50 region windows grew resident memory by more than 1 MB");
        QVERIFY2(cycleEnd - cycleStart <= 1024, "10,000 capture cycles grew resident memory by more than 1 MB");
    }

    // A short run of the real program under valgrind's memcheck: started,
    // capturing, stopped, ended with Exit. No block definitely lost may have
    // been allocated by our code: the first frame below the allocator is
    // ours when it has a source line (Debian's libraries carry none) or lies
    // in the program's binary.
    void valgrindFindsNoLeakInOurCode()
    {
        if (kSanitized)
            QSKIP("valgrind cannot run a program built with AddressSanitizer");
        const QString valgrind = QStandardPaths::findExecutable(QStringLiteral("valgrind"));
        QVERIFY2(!valgrind.isEmpty(), "valgrind is installed by scripts/install-deps.sh");
        QTemporaryDir sandbox;
        const QString report = sandbox.path() + QStringLiteral("/memcheck.txt");
        QDir().mkpath(sandbox.path() + QStringLiteral("/work"));
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), sandbox.path() + QStringLiteral("/data"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(sandbox.path() + QStringLiteral("/work"));
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        program.start(valgrind,
            { QStringLiteral("--tool=memcheck"), QStringLiteral("--leak-check=full"),
                QStringLiteral("--show-leak-kinds=definite"), QStringLiteral("--num-callers=30"),
                QStringLiteral("--log-file=") + report, QStringLiteral(HUELENS_BINARY), QStringLiteral("-debug") });
        QVERIFY(program.waitForStarted());
        const QString window = waitForWindow(env, program);
        QVERIFY(!window.isEmpty());
        const QString log = sandbox.path() + QStringLiteral("/work/log.txt");
        clickAt(env, window, kStartButtonX, kToolBarY);
        QTRY_VERIFY_WITH_TIMEOUT(refreshCount(log) >= 20, 60000);
        clickAt(env, window, kStartButtonX, kToolBarY); // stop
        // Exit: the toolbar's last button, at its right end.
        const QString geometry
            = runTool({ QStringLiteral("xdotool"), QStringLiteral("getwindowgeometry"), window }, env);
        const int width = QRegularExpression(QStringLiteral("Geometry: (\\d+)x")).match(geometry).captured(1).toInt();
        QVERIFY(width > 0);
        clickAt(env, window, width - 12, kToolBarY);
        if (!program.waitForFinished(120000)) {
            program.kill();
            program.waitForFinished();
            QFAIL("the program did not end on Exit");
        }
        QCOMPARE(program.exitCode(), 0);

        const QString text = QString::fromUtf8(readBytes(report));
        QVERIFY2(
            text.contains(QLatin1String("LEAK SUMMARY")) || text.contains(QLatin1String("All heap blocks were freed")),
            qPrintable(text.right(2000)));
        // Records are separated by blank lines ("==pid== ").
        const QStringList records = text.split(QRegularExpression(QStringLiteral("==\\d+== \\n")));
        const QRegularExpression sourceLine(QStringLiteral("\\([^()]+:\\d+\\)$"));
        QStringList ours;
        for (const QString& record : records) {
            if (!record.contains(QLatin1String("definitely lost in loss record")))
                continue;
            for (const QString& line : record.split(QLatin1Char('\n'))) {
                if (!line.contains(QRegularExpression(QStringLiteral("==\\d+==\\s+(at|by) 0x")))
                    || line.contains(QLatin1String("vgpreload")))
                    continue;
                if (line.contains(sourceLine) || line.contains(QStringLiteral("(in " HUELENS_BINARY ")")))
                    ours.append(record);
                break;
            }
        }
        QVERIFY2(ours.isEmpty(), qPrintable(ours.join(QLatin1Char('\n'))));
    }
};

int main(int argc, char* argv[])
{
    const QByteArray churn = qgetenv("HUELENS_FAULTS_CHURN");
    if (!churn.isEmpty())
        return churnWindows(churn.toDouble());
    QApplication app(argc, argv);
    FaultsTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_faults.moc"
