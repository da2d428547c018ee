// Faults the program must ride out on a real X server (Xvfb, 1600 x 900)
// without crashing, hanging or losing what the user stored.
#include "x11/EndToEnd.h"

#include "apps/SettingsFile.h"
#include "capture/QSelectLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "shell/MainWindow.h"

#include <QApplication>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
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

// Resident memory of this process in kB, after handing freed memory back.
long residentKilobytes()
{
    malloc_trim(0);
    const QString status = QString::fromLatin1(testSandbox().readFile("/proc/self/status"));
    return QRegularExpression(QStringLiteral("VmRSS:\\s+(\\d+) kB")).match(status).captured(1).toLong();
}

// Paints the root window, which captures of the desktop show, one colour.
void paintRoot(unsigned long rgb)
{
    static Display* display = XOpenDisplay(nullptr);
    XSetWindowBackground(display, DefaultRootWindow(display), rgb);
    XClearWindow(display, DefaultRootWindow(display));
    XSync(display, False);
}

// About `bytes` of keys of other programs around ours.
QByteArray largeConfig(int bytes)
{
    QByteArray text = "[General]\nwindow_size=300\n";
    for (int i = 0; text.size() < bytes; ++i)
        text += "foreign_key_" + QByteArray::number(i) + "=\"value, " + QByteArray::number(i) + " with text\"\n";
    return text + "[other section]\nkept=yes\n";
}

// Random bytes, with a key of another program on lines of its own.
QByteArray binaryGarbage(int bytes)
{
    QByteArray text(bytes, '\0');
    QRandomGenerator random(20240611);
    for (char& c : text)
        c = char(random.bounded(256));
    return text + "\nforeign=kept through garbage\n" + text.left(4096);
}

const QByteArray kWrongTypes = "[General]\n"
                               "window_size=@Variant(\\0\\0\\0\\v\\x7f\\xff\\xff\\xff)\n"
                               "preview_enabled=@Rect(1 2 3 4)\n"
                               "apps=@ByteArray(\\0\\xff)\n"
                               "Photoshop=1|2\n"
                               "Chrome=99999999999|-99999999999|1e9|0x10|\n"
                               "Lightroom=2147483647|2147483647|2147483647|-2147483648|-2147483648\n"
                               "Unknown=-1|0|0|0|0\n"
                               "foreign=kept\n";

// The child process (HUELENS_FAULTS_CHURN=seconds): creates, activates and
// destroys windows, every fifth time naming a destroyed one active.
int churnWindows(double seconds)
{
    Display* display = XOpenDisplay(nullptr);
    const Window root = DefaultRootWindow(display);
    auto atom = [display](const char* name) { return XInternAtom(display, name, False); };
    auto set = [display](Window w, Atom property, Atom type, int format, const void* data, int count) {
        XChangeProperty(
            display, w, property, type, format, PropModeReplace, static_cast<const unsigned char*>(data), count);
    };
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    Window previous = None;
    long count = 0;
    for (; std::chrono::steady_clock::now() < end; ++count) {
        const Window w
            = XCreateSimpleWindow(display, root, int(count % 1200), int(count % 700), 300, 200, 0, 0, 0x336699);
        const long state[2] = { 1, None };
        set(w, atom("WM_STATE"), atom("WM_STATE"), 32, state, 2);
        XClassHint hint { const_cast<char*>("churn"), const_cast<char*>(count % 2 ? "Photoshop" : "Churn") };
        XSetClassHint(display, w, &hint);
        const long pid = long(getpid());
        set(w, atom("_NET_WM_PID"), XA_CARDINAL, 32, &pid, 1);
        XMapRaised(display, w);
        const Window named = (count % 5 == 0 && previous != None) ? previous : w;
        if (previous != None)
            XDestroyWindow(display, previous);
        set(root, atom("_NET_ACTIVE_WINDOW"), XA_WINDOW, 32, &named, 1);
        XFlush(display);
        previous = w;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    XDeleteProperty(display, root, atom("_NET_ACTIVE_WINDOW"));
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
        const QString folder = QFileInfo(testSandbox().configFile()).path();
        QDir(folder).removeRecursively();
        QFile::remove(folder); // a file where the data folder should be
        paintRoot(0x000000);
    }

    // Start-up on a settings file that is damaged, huge, wrongly typed, or
    // not a file (as root, permissions stop nothing): the program captures
    // and writes; every key it does not use is kept, and what is not a file
    // is left untouched.
    void startsOnAnySettingsFile_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<int>("windowSize");
        QTest::addColumn<QByteArray>("previewWritten");
        const auto row = [](const char* name, const char* kind, const QByteArray& config = {}, int size = 400,
                             const QByteArray& preview = "false") {
            QTest::newRow(name) << QString(kind) << config << size << preview;
        };
        row("binary garbage", "file", binaryGarbage(256 * 1024));
        row("10 MB", "file", largeConfig(10 * 1024 * 1024), 300);
        // A preview switch that is not a boolean reads as false; the toggle shows it.
        row("every key of the wrong type", "file", kWrongTypes, 400, "true");
        row("config.ini is a folder", "folder");
        row("config.ini is a FIFO", "fifo");
        row("a file where the data folder should be", "blocked");
    }

    void startsOnAnySettingsFile()
    {
        QFETCH(QString, kind);
        QFETCH(QByteArray, config);
        QFETCH(int, windowSize);
        QFETCH(QByteArray, previewWritten);
        const QString path = testSandbox().configFile();
        const QString folder = QFileInfo(path).path();
        if (kind == "file") {
            testSandbox().writeConfig(config);
        } else if (kind == "folder") {
            QVERIFY(QDir().mkpath(path + "/inside"));
        } else if (kind == "fifo") {
            QDir().mkpath(folder);
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0); // a regression hangs here
        } else {
            QFile blocker(folder);
            QVERIFY(blocker.open(QIODevice::WriteOnly));
            blocker.write("not a folder");
        }
        {
            MainWindow window(nullptr, false, 0);
            window.show();
            QVERIFY(QTest::qWaitForWindowExposed(&window));
            QCOMPARE(Probe::windowSize(window), windowSize);
            window.startOrStop();
            QTRY_VERIFY(!Probe::frame(window).empty());
            window.showPreviewTrigger(); // written at once
            window.selectRegion(); // a region, stored under "Unknown"
            auto* label = Probe::regionWindow(window)->findChild<QSelectLabel*>();
            QTest::mousePress(label, Qt::LeftButton, {}, QPoint(10, 10));
            QTest::mouseMove(label, QPoint(110, 60));
            QTest::mouseRelease(label, Qt::LeftButton, {}, QPoint(110, 60));
            QTRY_VERIFY(!Probe::regionWindow(window));
            QVERIFY(Probe::capturing(window));
        }
        if (kind == "folder")
            QVERIFY(QFileInfo(path + "/inside").isDir());
        else if (kind == "fifo")
            QVERIFY(QFileInfo(path).exists() && !QFileInfo(path).isFile());
        else if (kind == "blocked")
            QCOMPARE(testSandbox().readFile(folder), QByteArray("not a folder"));
        if (kind != "file")
            return;
        const QByteArray after = testSandbox().readFile(path);
        QVERIFY(after.contains("preview_enabled=" + previewWritten + "\n"));
        QVERIFY(after.contains("Unknown=0|13|13|146|80\n"));
        const QSettings::SettingsMap old = readSettingsText(config);
        const QSettings::SettingsMap now = readSettingsText(after);
        for (auto it = old.cbegin(); it != old.cend(); ++it) {
            if (it.key() == "preview_enabled" || it.key() == "Unknown")
                continue;
            QVERIFY2(now.contains(it.key())
                    && writeSettingsText({ { it.key(), it.value() } })
                        == writeSettingsText({ { it.key(), now.value(it.key()) } }),
                qPrintable("lost or changed key " + it.key()));
        }
    }

    // A monitor that is gone captures monitor 0 instead; a rectangle beyond
    // the monitor reads the desktop where there is one and black beyond it
    // (the sanitizer build checks every read). Frames are 400 wide.
    void storedTargetsThatNoLongerFit()
    {
        const struct {
            QByteArray record;
            int rows;
            QPoint desktopPixel, blackPixel;
        } cases[] = {
            { "3|10|10|110|60", 200, { 399, 199 }, {} },
            { "-7|10|10|110|60", 200, { 0, 0 }, {} },
            // The whole of a monitor that is gone: the whole of monitor 0, 1600 x 900.
            { "3|-1|-1|-1|-1", 225, { 399, 224 }, {} },
            // 1000 x 1000 from (1400, 700): the desktop ends 200 pixels in, at 80 frame pixels.
            { "0|1400|700|2400|1700", 400, { 79, 79 }, { 80, 80 } },
            { "0|0|0|100000|50000", 200, { 0, 0 }, { 399, 199 } },
        };
        paintRoot(0x204080);
        for (const auto& c : cases) {
            testSandbox().writeConfig("[General]\nUnknown=" + c.record + "\n");
            MainWindow window(nullptr, false, 0); // not shown: it would cover the desktop it reads
            QCOMPARE(Probe::currentApp(window), QStringLiteral("Unknown"));
            window.updateScreen();
            const cv::Mat& frame = Probe::frame(window);
            QVERIFY2(frame.cols == 400 && frame.rows == c.rows, c.record.constData());
            QCOMPARE(frame.at<cv::Vec4b>(c.desktopPixel.y(), c.desktopPixel.x()), cv::Vec4b(0x80, 0x40, 0x20, 255));
            if (!c.blackPixel.isNull())
                QCOMPARE(frame.at<cv::Vec4b>(c.blackPixel.y(), c.blackPixel.x()), cv::Vec4b(0, 0, 0, 255));
        }
    }

    // Windows churn while the program captures; an X error reaching Xlib's
    // default handler would end this process.
    void windowsVanishingWhileCapturing()
    {
        MainWindow window(nullptr, false, 0);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.startOrStop();
        QProcess churn;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HUELENS_FAULTS_CHURN", "4");
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
        QVERIFY(seen.contains("Photoshop")); // recognition kept up with the windows it could read
    }

    // The server of a capturing program is killed: the program ends within
    // two seconds, by its own exit and not by a signal, and config.ini is
    // as it was.
    void xServerGoingAwayWhileCapturing()
    {
        QProcess xvfb; // -noreset: a window search may be its last client before the program connects
        xvfb.start("Xvfb", { "-displayfd", "1", "-screen", "0", "800x600x24", "-nolisten", "tcp", "-noreset" });
        QByteArray number;
        QTRY_VERIFY_WITH_TIMEOUT((number += xvfb.readAllStandardOutput()).contains('\n'), 20000);
        QProcessEnvironment extra;
        extra.insert("DISPLAY", ':' + QString::fromLatin1(number.trimmed()));
        // A process that ends this way leaves its window allocated; that is no leak.
        extra.insert("ASAN_OPTIONS", "detect_leaks=0:halt_on_error=1");
        QTemporaryDir sandbox;
        const QByteArray stored = "[General]\napps=Gimp:gimp\nwindow_size=300\nUnknown=0|10|10|400|300\nforeign=kept\n";
        e2e::Program program(sandbox.path(), stored, {}, extra);
        QVERIFY(program.waitForWindow());
        program.click(12, 12); // start capturing
        QTRY_VERIFY_WITH_TIMEOUT(program.cyclesLogged() >= 5, 20000);

        xvfb.kill();
        QVERIFY(xvfb.waitForFinished(5000));
        QVERIFY2(program.process.waitForFinished(2000), "the program did not end within two seconds");
        QCOMPARE(program.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(testSandbox().readFile(sandbox.filePath("data/huelens/config.ini")), stored);
    }

    // 50 region windows, then 10,000 capture cycles on changing frames:
    // after the warm-up, resident memory grows by at most 1 MB each.
    void memoryStaysBoundedOverLongRuns()
    {
        testSandbox().writeConfig("[General]\nwindow_size=150\n");
        MainWindow window(nullptr, false, 0);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        long regionStart = 0;
        for (int i = 0; i < 50; ++i) {
            if (i == 5)
                regionStart = residentKilobytes();
            window.selectRegion();
            Probe::regionWindow(window)->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            QCoreApplication::processEvents();
        }
        const long regionEnd = residentKilobytes();

        // Sanitizers quarantine freed memory: the size is measured in the plain build.
        long cycleStart = 0;
        for (int i = 0; i < (kSanitized ? 1000 : 10000); ++i) {
            if (i % 4 == 0)
                paintRoot((0x010203u * unsigned(i)) & 0xffffffu);
            window.updateScreen();
            if (i % 100 == 0)
                QCoreApplication::processEvents();
            if (i == 500)
                cycleStart = residentKilobytes();
        }
        const long cycleEnd = residentKilobytes();
        if (kSanitized)
            QSKIP("resident memory is measured in the plain build");
        QVERIFY2(regionEnd - regionStart <= 1024, "50 region windows grew resident memory by more than 1 MB");
        QVERIFY2(cycleEnd - cycleStart <= 1024, "10,000 capture cycles grew resident memory by more than 1 MB");
    }

    // The real program under memcheck, started, capturing, stopped and ended
    // with Exit: no block definitely lost was allocated by our code (a frame
    // with a source line, which Debian's libraries lack, or in our binary).
    void valgrindFindsNoLeakInOurCode()
    {
        if (kSanitized)
            QSKIP("valgrind cannot run a program built with AddressSanitizer");
        const QString valgrind = QStandardPaths::findExecutable("valgrind");
        QVERIFY2(!valgrind.isEmpty(), "valgrind is installed by scripts/install-deps.sh");
        QTemporaryDir sandbox;
        const QString report = sandbox.filePath("memcheck.txt");
        e2e::Program program(sandbox.path(), {},
            { valgrind, "--tool=memcheck", "--leak-check=full", "--show-leak-kinds=definite", "--num-callers=30",
                "--log-file=" + report });
        QVERIFY(program.waitForWindow());
        program.click(12, 12); // start
        QTRY_VERIFY_WITH_TIMEOUT(program.cyclesLogged() >= 20, 60000);
        program.click(12, 12); // stop
        // Exit: the toolbar's last button, at its right end.
        const QString geometry = program.xdotool({ "getwindowgeometry", program.id });
        const int width = QRegularExpression(QStringLiteral("Geometry: (\\d+)x")).match(geometry).captured(1).toInt();
        QVERIFY(width > 0);
        program.click(width - 12, 12);
        QVERIFY2(program.process.waitForFinished(120000), "the program did not end on Exit");
        QCOMPARE(program.process.exitCode(), 0);

        const QString text = QString::fromUtf8(testSandbox().readFile(report));
        QVERIFY2(
            text.contains("LEAK SUMMARY") || text.contains("All heap blocks were freed"), qPrintable(text.right(2000)));
        // The first frame below the allocator (vgpreload) tells whose block it was.
        const QRegularExpression firstFrame(
            QStringLiteral("^==\\d+==\\s+(?:at|by) 0x\\w+: (?!.*vgpreload).*$"), QRegularExpression::MultilineOption);
        const QRegularExpression sourceLine(QStringLiteral("\\([^()]+:\\d+\\)$"));
        QStringList ours;
        for (const QString& record : text.split(QRegularExpression(QStringLiteral("==\\d+== \\n")))) {
            const QString frame = firstFrame.match(record).captured();
            if (record.contains("definitely lost in loss record")
                && (frame.contains(sourceLine) || frame.contains("(in " HUELENS_BINARY ")")))
                ours.append(record);
        }
        QVERIFY2(ours.isEmpty(), qPrintable(ours.join('\n')));
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
