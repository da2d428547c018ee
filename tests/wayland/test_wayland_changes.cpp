// A screen at rest on a Wayland desktop that sends frames only when
// something is drawn (as real desktops do; with-sway.sh runs with damage
// here): the desktop says a copy is unchanged while no new frame came, and
// stops saying so as soon as one does, so the scopes never freeze on an old
// picture, and a still screen is told of the first new frame. The
// terminal's colour is changed through a pipe it reads.
#include "platform/wayland/WaylandDesktop.h"
#include "wayland/WaylandEndToEnd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

using platform::Rect;
using namespace wayland_e2e;

namespace {

// Below the terminal's first rows (where what is written to it shows), 1:1.
const Rect kSource { 100, 300, 500, 500 };
constexpr int kWidth = 400;
constexpr int kHeight = 200;

bool allOf(const std::vector<std::uint8_t>& copy, const QColor& colour)
{
    for (std::size_t i = 0; i < copy.size(); i += 4)
        if (copy[i] != colour.blue() || copy[i + 1] != colour.green() || copy[i + 2] != colour.red())
            return false;
    return true;
}

} // namespace

class WaylandChangesTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!stackDir().isEmpty(), "run through tests/wayland/with-sway.sh");
        const QString pipe = stackDir() + "/terminal-input";
        QCOMPARE(mkfifo(pipe.toLocal8Bit().constData(), 0666), 0);
        QCOMPARE(chmod(pipe.toLocal8Bit().constData(), 0666), 0); // the terminal runs as nobody
        startTerminal(terminal, "ff8000", { "cat", pipe });
        QVERIFY(QTest::qWaitFor([] { return !windowRect("test-app").isEmpty(); }, 10000));
        // Opened once the terminal reads it, so a terminal that failed to
        // start fails the test instead of blocking it.
        QVERIFY(QTest::qWaitFor(
            [&] { return (input = open(pipe.toLocal8Bit().constData(), O_WRONLY | O_NONBLOCK)) >= 0; }, 10000));
    }
    void cleanupTestCase()
    {
        if (input >= 0)
            close(input);
        terminal.kill();
        terminal.waitForFinished();
    }

    void aCopyIsUnchangedUntilTheScreenIs()
    {
        platform::WaylandDesktop desktop;
        desktop.requestCapture({}, [] {});
        int waited = 0;
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         if (waited++ % 20 == 0)
                             write("."); // something drawn, for a desktop that sends only what changed
                         return desktop.captureAccess().granted;
                     },
                     20000),
            desktop.captureAccess().message.c_str());
        const auto unchanged = [&](const Rect& source = kSource, int width = kWidth, int height = kHeight) {
            return desktop.unchangedSinceLastCopy(source, width, height);
        };
        std::vector<std::uint8_t> copy(std::size_t(kWidth) * kHeight * 4);
        const auto copyAgain = [&] { desktop.copy(kSource, kWidth, kHeight, copy.data()); };

        // At rest once the dots written above have been sent; another
        // rectangle or size was never copied.
        const auto restsAfterACopy = [&] {
            return QTest::qWaitFor(
                [&] {
                    copyAgain();
                    QTest::qWait(300);
                    return unchanged();
                },
                10000);
        };
        QVERIFY(restsAfterACopy());
        QVERIFY(allOf(copy, kTerminalColour));
        QVERIFY(!unchanged(Rect { 101, 300, 501, 500 }));
        QVERIFY(!unchanged(kSource, kWidth / 2, kHeight / 2));
        QTest::qWait(500);
        QVERIFY(unchanged());

        // Resting after the cycle's reads: told of nothing while nothing is
        // drawn, once of the first frame drawn.
        int told = 0;
        const auto readThenWatch = [&] {
            told = 0;
            desktop.pointer();
            desktop.texts(desktop.foreground());
            return desktop.watchForChange([&] { ++told; });
        };
        QVERIFY(readThenWatch());
        QTest::qWait(500);
        QCOMPARE(told, 0);

        // The whole terminal turns blue: the next frame ends it, and stays
        // ended until copied again.
        const QColor blue(0, 0, 255);
        write("\033]11;#0000ff\033\\");
        QVERIFY(QTest::qWaitFor([&] { return !unchanged(); }, 5000));
        QTRY_COMPARE_WITH_TIMEOUT(told, 1, 5000);
        QVERIFY(!unchanged());
        QVERIFY(restsAfterACopy());
        QVERIFY(allOf(copy, blue));

        // A request withdrawn is not answered. (This stack's portal sends no
        // cursor metadata and sway here has no pointer, so a pointer moving
        // over a still screen is not tried here.)
        QVERIFY(readThenWatch());
        desktop.stopWatchingForChange();
        // Drawn in the terminal's first rows, on the same monitor; the portal
        // here may send a change only with the next one.
        int waits = 0;
        QVERIFY(QTest::qWaitFor(
            [&] {
                if (waits++ % 10 == 0)
                    write("x");
                return !unchanged();
            },
            10000));
        QTest::qWait(300);
        QCOMPARE(told, 0);

        // Sharing ended: nothing is known any more.
        desktop.stopCapture();
        QVERIFY(!unchanged());
    }

private:
    void write(const QByteArray& text) { QCOMPARE(::write(input, text.constData(), text.size()), text.size()); }

    QProcess terminal;
    int input = -1;
};

QTEST_GUILESS_MAIN(WaylandChangesTest)
#include "test_wayland_changes.moc"
