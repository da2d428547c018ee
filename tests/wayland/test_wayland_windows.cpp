// The window in front on a real wlroots compositor: a private headless sway
// (with-sway.sh), foot terminals as the other programs' windows, focus moved
// with swaymsg as a user moves it with the keyboard.
#include "platform/wayland/windows/WaylandWindows.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>
#include <sys/stat.h>

using platform::WaylandWindows;
using platform::WindowHandle;

namespace {

// Reads what the compositor sent, as the back-end does once per cycle.
WindowHandle front(WaylandWindows& windows)
{
    windows.dispatchPending();
    return windows.foreground();
}

QString appInFront(WaylandWindows& windows)
{
    const WindowHandle window = front(windows);
    return window ? QString::fromStdString(windows.texts(window).windowClass) : QStringLiteral("(none)");
}

QString titleOf(WaylandWindows& windows, const QString& appId)
{
    // Any window of that app id: the test gives each its own.
    const WindowHandle window = front(windows);
    if (window && QString::fromStdString(windows.texts(window).windowClass) == appId)
        return QString::fromStdString(windows.texts(window).title);
    return QString();
}

void swaymsg(const QString& command)
{
    QProcess p;
    p.start(QStringLiteral("swaymsg"), { command });
    QVERIFY(p.waitForFinished(10000));
    QVERIFY2(p.exitCode() == 0, p.readAllStandardOutput().constData());
}

} // namespace

class WaylandWindowsTest : public QObject {
    Q_OBJECT

    QTemporaryDir home; // foot runs as nobody and needs a home it may write
    std::vector<std::unique_ptr<QProcess>> terminals;

    // A foot window as the compositor's user (sway runs as nobody and admits
    // only its own user's clients); the shell in it sets the title to each
    // line written to the fifo `titles`, if given.
    void openWindow(const QString& appId, const QString& title, const QString& titles = QString())
    {
        const QString shell = titles.isEmpty()
            ? QStringLiteral("exec sleep 600")
            // A read that opens the fifo while the test's writer is still
            // closing it meets an end of file: that must not end the loop
            // (and close the window), only a fifo taken away may.
            : QStringLiteral("while [ -p '%1' ]; do IFS= read -r t < '%1' && printf '\\033]2;%s\\033\\\\' \"$t\"; "
                             "done; exec sleep 600")
                  .arg(titles);
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), home.filePath(QStringLiteral("cache")));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QStringLiteral("setpriv"),
            { QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups"),
                QStringLiteral("foot"), QStringLiteral("--log-level=warning"), QStringLiteral("--app-id=") + appId,
                QStringLiteral("--title=") + title, QStringLiteral("sh"), QStringLiteral("-c"), shell });
        QVERIFY(p->waitForStarted());
        terminals.push_back(std::move(p));
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(qEnvironmentVariableIsSet("SWAYSOCK"), "run me through tests/wayland/with-sway.sh");
        QVERIFY(home.isValid());
        chmod(home.path().toLocal8Bit().constData(), 0777);
    }

    void cleanup()
    {
        for (auto& p : terminals) {
            p->kill();
            p->waitForFinished();
        }
        terminals.clear();
    }

    // Focus moving between two programs: the window in front follows, and at
    // no read in between is there no window at all.
    void foregroundFollowsFocus()
    {
        WaylandWindows windows;
        QCOMPARE(windows.source(), WaylandWindows::Source::WlrForeignToplevel);
        QCOMPARE(windows.problem(), std::string());
        openWindow(QStringLiteral("org.example.editor"), QStringLiteral("photo.jpg - Editor"));
        QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("org.example.editor"), 20000);
        QCOMPARE(titleOf(windows, QStringLiteral("org.example.editor")), QStringLiteral("photo.jpg - Editor"));
        QCOMPARE(windows.executable(front(windows)), std::string()); // this protocol tells no process
        openWindow(QStringLiteral("org.example.browser"), QStringLiteral("Colour theory - Browser"));
        QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("org.example.browser"), 20000);

        int noWindow = 0;
        for (int i = 0; i < 6; ++i) {
            const QString app = i % 2 ? QStringLiteral("org.example.browser") : QStringLiteral("org.example.editor");
            swaymsg(QStringLiteral("[app_id=\"%1\"] focus").arg(app));
            QString now;
            for (int reads = 0; reads < 2000 && now != app; ++reads) {
                now = appInFront(windows);
                noWindow += now == QLatin1String("(none)");
                QTest::qWait(1);
            }
            QCOMPARE(now, app);
        }
        QCOMPARE(noWindow, 0);
    }

    // The program sits idle (no capture, no settings dialog) while the user
    // switches windows for a long time. Guards the recognition going dead for
    // good: sway drops a client that leaves that much unread, and the window
    // list then has to connect again. (Whether sway drops it depends on how
    // its writes happen to batch; the answer must be right either way.)
    void idleThroughManyFocusChanges()
    {
        WaylandWindows windows;
        // One after the other: two terminals started together map in either order.
        openWindow(QStringLiteral("org.example.first"), QStringLiteral("First"));
        QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("org.example.first"), 20000);
        openWindow(QStringLiteral("org.example.second"), QStringLiteral("Second"));
        QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("org.example.second"), 20000);
        QProcess user;
        user.start(QStringLiteral("sh"),
            { QStringLiteral("-c"),
                QStringLiteral("for i in $(seq 2000); do swaymsg -q '[app_id=org.example.first] focus'; "
                               "swaymsg -q '[app_id=org.example.second] focus'; done; "
                               "swaymsg -q '[app_id=org.example.first] focus'") });
        QVERIFY(user.waitForFinished(240000));
        QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("org.example.first"), 20000);
        QCOMPARE(windows.source(), WaylandWindows::Source::WlrForeignToplevel);
    }

    // A program renames its window (a document opened): the new title counts.
    void titleChangeFollowed()
    {
        const QString fifo = home.filePath(QStringLiteral("titles"));
        QVERIFY(mkfifo(fifo.toLocal8Bit().constData(), 0666) == 0);
        chmod(fifo.toLocal8Bit().constData(), 0666);
        WaylandWindows windows;
        openWindow(QStringLiteral("org.example.viewer"), QStringLiteral("Viewer"), fifo);
        QTRY_COMPARE_WITH_TIMEOUT(
            titleOf(windows, QStringLiteral("org.example.viewer")), QStringLiteral("Viewer"), 20000);
        QFile titles(fifo);
        QVERIFY(titles.open(QIODevice::WriteOnly)); // waits for the shell to open it
        titles.write("IMG_0042.CR3 - Viewer\n");
        titles.close();
        // The windows of the test before may still be closing, and with them
        // the focus may move: the title is what is checked here, so focus again.
        swaymsg(QStringLiteral("[app_id=org.example.viewer] focus"));
        QTRY_COMPARE_WITH_TIMEOUT(
            titleOf(windows, QStringLiteral("org.example.viewer")), QStringLiteral("IMG_0042.CR3 - Viewer"), 20000);
        QFile::remove(fifo);
    }

    // A still screen waits to be told: of another window in front, of a new
    // title of the one in front and of its end, but not of a window behind
    // that renames itself.
    void watchTellsOfWhatTheFrontReads()
    {
        const QString fifo = home.filePath(QStringLiteral("behind-titles"));
        QVERIFY(mkfifo(fifo.toLocal8Bit().constData(), 0666) == 0);
        chmod(fifo.toLocal8Bit().constData(), 0666);
        const QString frontFifo = home.filePath(QStringLiteral("front-titles"));
        QVERIFY(mkfifo(frontFifo.toLocal8Bit().constData(), 0666) == 0);
        chmod(frontFifo.toLocal8Bit().constData(), 0666);
        WaylandWindows windows;
        openWindow(QStringLiteral("org.example.behind"), QStringLiteral("Behind"), fifo);
        QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("org.example.behind"), 20000);
        const WindowHandle behind = front(windows);
        openWindow(QStringLiteral("org.example.front"), QStringLiteral("Front"), frontFifo);
        QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("org.example.front"), 20000);

        int told = 0;
        // The cycle's reads, then the request (refused for the moment after a
        // window lost its activation).
        const auto readThenWatch = [&] {
            told = 0;
            return QTest::qWaitFor(
                [&] {
                    windows.texts(front(windows));
                    return windows.watchForChange([&] { ++told; });
                },
                5000);
        };
        const auto setTitle = [](const QString& path, const QByteArray& title) {
            QFile titles(path);
            QVERIFY(titles.open(QIODevice::WriteOnly));
            titles.write(title + '\n');
        };

        QVERIFY(readThenWatch());
        QTest::qWait(300);
        QCOMPARE(told, 0);
        setTitle(fifo, "Renamed behind");
        QTRY_COMPARE_WITH_TIMEOUT(QString::fromStdString(windows.texts(behind).title), QStringLiteral("Renamed behind"), 10000);
        QTest::qWait(300);
        QCOMPARE(told, 0);

        setTitle(frontFifo, "Renamed in front");
        QTRY_COMPARE_WITH_TIMEOUT(told, 1, 10000);
        QCOMPARE(titleOf(windows, QStringLiteral("org.example.front")), QStringLiteral("Renamed in front"));

        QVERIFY(readThenWatch());
        swaymsg(QStringLiteral("[app_id=org.example.behind] focus"));
        QTRY_COMPARE_WITH_TIMEOUT(told, 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("org.example.behind"), 10000);

        // Told once per request, and not at all once withdrawn.
        QVERIFY(readThenWatch());
        windows.stopWatchingForChange();
        swaymsg(QStringLiteral("[app_id=org.example.front] focus"));
        QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("org.example.front"), 10000);
        QCOMPARE(told, 0);

        QVERIFY(readThenWatch());
        swaymsg(QStringLiteral("[app_id=org.example.front] kill"));
        QTRY_COMPARE_WITH_TIMEOUT(told, 1, 10000);
        QTest::qWait(300);
        QCOMPARE(told, 1);
        QFile::remove(fifo);
        QFile::remove(frontFifo);
    }

    // The window in front closes: its handle has no texts any more, and the
    // window the compositor focuses next is in front.
    void closedWindow()
    {
        WaylandWindows windows;
        openWindow(QStringLiteral("org.example.stays"), QStringLiteral("Stays"));
        QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("org.example.stays"), 20000);
        openWindow(QStringLiteral("org.example.closes"), QStringLiteral("Closes"));
        QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("org.example.closes"), 20000);
        const WindowHandle closing = front(windows);
        swaymsg(QStringLiteral("[app_id=\"org.example.closes\"] kill"));
        QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("org.example.stays"), 20000);
        QCOMPARE(windows.texts(closing).windowClass, std::string());
        QCOMPARE(windows.texts(closing).title, std::string());
    }

    // The tool's own window in front is never reported; the window the user
    // goes to next is. Own are the app id the program adds, and those of its
    // executable's name as Qt's Wayland plugin and XWayland give them (this
    // test's executable stands in for the program).
    void ownWindowNeverInFront()
    {
        WaylandWindows windows;
        windows.addOwnAppId("org.korvant.huelens");
        openWindow(QStringLiteral("org.example.editor"), QStringLiteral("Editor"));
        QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("org.example.editor"), 20000);
        for (const char* own : { "org.korvant.huelens", "test_wayland_windows", "Test_wayland_windows" }) {
            openWindow(QString::fromLatin1(own), QStringLiteral("Korvant Huelens 1.0: Unknown"));
            QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("(none)"), 20000);
            swaymsg(QStringLiteral("[app_id=\"org.example.editor\"] focus"));
            QTRY_COMPARE_WITH_TIMEOUT(appInFront(windows), QStringLiteral("org.example.editor"), 20000);
        }
    }
};

QTEST_GUILESS_MAIN(WaylandWindowsTest)
#include "test_wayland_windows.moc"
