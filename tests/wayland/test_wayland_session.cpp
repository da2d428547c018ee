// The real program on the headless Wayland desktop of with-sway.sh: a
// terminal of one colour fills the screen, the program captures it through
// the screen-sharing portal and PipeWire, and the services behind the portal
// are stopped one by one for the fault cases.
#include "wayland/WaylandEndToEnd.h"

#include <csignal>
#include <memory>

using namespace wayland_e2e;

namespace {

// A region of the terminal clear of the program's window (which sway floats
// in the middle of the 1280 x 720 output): 400 x 200 pixels, shown 1:1.
const QByteArray kRegionConfig = "[General]\nUnknown=0|20|100|420|300\n";

// The program's title in sway's tree; empty when its window is not there.
QString programTitle(const QJsonObject& node)
{
    const QString name = node.value("name").toString();
    if (name.startsWith(QStringLiteral("Korvant Huelens 1.0: ")))
        return name;
    for (const char* children : { "nodes", "floating_nodes" })
        for (const QJsonValue child : node.value(children).toArray())
            if (const QString found = programTitle(child.toObject()); !found.isEmpty())
                return found;
    return {};
}

QString programTitle()
{
    return programTitle(QJsonDocument::fromJson(run({ "swaymsg", "-t", "get_tree" }).toUtf8()).object());
}

} // namespace

class WaylandSessionTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!stackDir().isEmpty(), "run through tests/wayland/with-sway.sh");
        startTerminal(terminal, "ff8000");
        QVERIFY(QTest::qWaitFor([] { return !windowRect("test-app").isEmpty(); }, 10000));
        startKeyboard(keyboard);
    }
    void cleanupTestCase()
    {
        keyboard.kill();
        keyboard.waitForFinished();
        terminal.kill();
        terminal.waitForFinished();
    }

    // Capture through the portal: the preview shows the terminal's colour
    // pixel for pixel, and the vectorscope lights the cell of its hue (30
    // degrees at full saturation: 75 left of the centre, 130 above it), not
    // the cell of the swapped colour's hue (210 degrees, mirrored).
    void capturesTheScreenAndKeepsThePermission()
    {
        Program program("first", kRegionConfig);
        QVERIFY(program.start());
        QVERIFY(program.pressStart());
        QVERIFY2(program.waitForCycles(5), program.log().right(400).constData());

        // Where the window is, from the picture itself: sway's tree can lag
        // behind a floating window that changes its size, and the window
        // refits itself to the first frames a moment after they arrive.
        QImage shot;
        QPoint plot;
        QRect preview;
        int wrong = -1;
        (void)QTest::qWaitFor(
            [&] {
                shot = screenshot();
                QPoint window(-1, -1);
                for (int y = 0; y < shot.height() && window.y() < 0; ++y)
                    if (shot.pixelColor(shot.width() / 2, y) != kTerminalColour)
                        window.setY(y);
                // Leftwards from the middle (the terminal's cursor sits at the far left).
                for (int x = shot.width() / 2; x >= 0 && window.y() >= 0; --x)
                    if (shot.pixelColor(x, window.y() + 12) == kTerminalColour) {
                        window.setX(x + 1);
                        break;
                    }
                plot = window + QPoint(1, 1 + 24);
                preview = QRect(plot.x() + 2, plot.y() + 400 + 2, 400 - 4, 200 - 4);
                // The window's border runs down beside the whole preview.
                const bool inside = shot.rect().contains(preview)
                    && shot.pixelColor(window.x(), preview.bottom() + 1) != kTerminalColour;
                wrong = inside ? pixelsOtherThan(shot, preview, kTerminalColour) : -1;
                return wrong == 0;
            },
            10000);
        QVERIFY2(wrong == 0,
            qPrintable(QStringLiteral("%1 pixels of the preview at (%2, %3) are not the terminal's colour")
                           .arg(wrong)
                           .arg(preview.x())
                           .arg(preview.y())));
        const auto brightest = [&](const QPoint& centre) {
            int best = 0;
            for (int dy = -2; dy <= 2; ++dy)
                for (int dx = -2; dx <= 2; ++dx)
                    best = std::max(best, qGray(shot.pixel(centre + QPoint(dx, dy))));
            return best;
        };
        QVERIFY2(brightest(plot + QPoint(125, 70)) > 200, QByteArray::number(brightest(plot + QPoint(125, 70))));
        QVERIFY2(brightest(plot + QPoint(275, 330)) < 120, QByteArray::number(brightest(plot + QPoint(275, 330))));

        // The grant is kept for the next start.
        QVERIFY(QTest::qWaitFor([&] { return program.stored("screencast_token").size() > 8; }, 5000));
        token = program.stored("screencast_token");
    }

    // The next start shares the screen without asking: the portal restores
    // the grant from the token (its back-end logs what it restored). Stop
    // ends the sharing (the desktop stops sending pictures), and Start
    // restores it again from the newest token.
    void restartRestoresWithoutAsking()
    {
        QVERIFY(!token.isEmpty());
        const QString xdpwLog = stackDir() + "/logs/xdpw.log";
        const int restoredBefore = fileText(xdpwLog).count("restore_data.output_name: HEADLESS-1");
        Program program("second", kRegionConfig + "screencast_token=" + token.toUtf8() + "\n");
        QVERIFY(program.start());
        QVERIFY(program.pressStart());
        QVERIFY(program.waitForCapture());
        QCOMPARE(fileText(xdpwLog).count("restore_data.output_name: HEADLESS-1"), restoredBefore + 1);
        QVERIFY(program.stored("screencast_token") != "<absent>");

        QVERIFY(program.press("space"));
        QVERIFY(program.waitForMessage("Press Start to share the screen."));
        const int cycles = program.cycles();
        QVERIFY(program.pressStart());
        QVERIFY(program.waitForCapture(cycles));
        QCOMPARE(fileText(xdpwLog).count("restore_data.output_name: HEADLESS-1"), restoredBefore + 2);
    }

    // A token the portal does not know (revoked, from another desktop) asks
    // again and keeps the new grant's token.
    void unknownTokenAsksAgain()
    {
        Program program("stale", kRegionConfig + "screencast_token=00000000-dead-beef-0000-000000000000\n");
        QVERIFY(program.start());
        QVERIFY(program.pressStart());
        QVERIFY(program.waitForCycles(5));
        QVERIFY(QTest::qWaitFor(
            [&] { return program.stored("screencast_token") != "00000000-dead-beef-0000-000000000000"; }, 5000));
    }

    // The user cancels the portal's dialog (here: its output chooser fails):
    // the window says so, nothing is captured, and capture is off again.
    void cancelledRequest()
    {
        const QString config = stackDir() + "/config/xdg-desktop-portal-wlr/config";
        const QByteArray normal = fileText(config);
        QFile file(config);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[screencast]\nchooser_type=simple\nchooser_cmd=false\n");
        file.close();
        stack({ "restart-xdpw" });

        Program program("cancelled", kRegionConfig);
        QVERIFY(program.start());
        QVERIFY(program.pressStart());
        QVERIFY(program.waitForMessage("Screen sharing was cancelled. Press Start to ask again."));
        QCOMPARE(program.cycles(), 0);
        QCOMPARE(program.stored("screencast_token"), QStringLiteral("<absent>"));

        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(normal);
        file.close();
        stack({ "restart-xdpw" });
    }

    // A portal that does not answer, then none on the bus: the window says
    // so, and what to install.
    void unansweringOrMissingPortal()
    {
        // A portal that takes calls and never answers (stopped): the window
        // keeps working while the call waits, then says the portal did not answer.
        const pid_t portal = fileText(stackDir() + "/run/pids/xdp").trimmed().toInt();
        QVERIFY(portal > 0);
        ::kill(portal, SIGSTOP);
        {
            const std::shared_ptr<void> resume(nullptr, [portal](void*) { ::kill(portal, SIGCONT); });
            Program program("frozen", kRegionConfig);
            QVERIFY(program.start());
            QVERIFY(program.pressStart());
            QVERIFY(program.press("d")); // the display switch runs a cycle at once
            QVERIFY(program.waitForMessage("The screen-sharing portal did not answer. Press Start to try again."));
            QCOMPARE(program.cycles(), 0);
        }

        stack({ "kill", "xdp" });
        Program program("noportal", kRegionConfig);
        QVERIFY(program.start());
        QVERIFY(program.pressStart());
        QVERIFY(program.waitForMessage("No screen-sharing portal on this desktop"));
        QCOMPARE(program.cycles(), 0);
        QCOMPARE(program.process.state(), QProcess::Running);
        stack({ "restart-xdp" });
    }

    // The window in front comes from the compositor's window list: a rule on
    // the terminal's app id names the application while the terminal is in
    // front, and the program's own window in front changes nothing.
    void recognisesTheApplicationInFront()
    {
        Program program("rule", "[General]\napps=Grader:test-app\nUnknown=0|20|100|420|300\n");
        QVERIFY(program.start());
        QVERIFY(program.pressStart());
        QVERIFY(program.waitForCycles(3));
        run({ "swaymsg", "[app_id=test-app] focus" });
        QVERIFY2(QTest::qWaitFor([] { return programTitle() == "Korvant Huelens 1.0: Grader"; }, 10000),
            qPrintable(programTitle()));
        run({ "swaymsg", "[title=\"^Korvant Huelens\"] focus" });
        const int cycles = program.cycles();
        QVERIFY(program.waitForCycles(cycles + 5));
        QCOMPARE(programTitle(), QStringLiteral("Korvant Huelens 1.0: Grader"));
    }

    // Nothing drawn and nothing in front changing: the cycle stops until the
    // desktop sends a new frame (here a key the terminal echoes, outside the
    // captured region), then runs at once and, the region being unchanged,
    // rests again.
    void aStillScreenRests()
    {
        // The terminal's first rows, where what is typed shows; clear of the program's window.
        Program program("rest", "[General]\nUnknown=0|0|0|400|200\n");
        QVERIFY(program.start());
        QVERIFY(program.pressStart());
        QVERIFY(program.waitForCycles(3));
        run({ "swaymsg", "[app_id=test-app] focus" });
        const auto rests = [&] { return program.log().count("UPD rest\n"); };
        const auto wakes = [&] { return program.log().count("UPD wake\n"); };
        QVERIFY2(QTest::qWaitFor([&] { return rests() > wakes(); }, 10000), program.log().right(400).constData());
        const int cycles = program.cycles();
        QTest::qWait(1000);
        QVERIFY2(program.cycles() - cycles < 5, QByteArray::number(program.cycles() - cycles)); // the timer: 25

        // A key the terminal echoes in the region wakes it, and the frame
        // that shows the key is analysed.
        const int woken = wakes();
        const int sums = program.log().count("sum changed\n");
        int waits = 0;
        QVERIFY(QTest::qWaitFor(
            [&] {
                if (waits++ % 10 == 0) // the portal here may send a change only with the next one
                    run({ "wtype", "x" });
                return wakes() > woken && program.log().count("sum changed\n") > sums;
            },
            10000));
        QVERIFY(QTest::qWaitFor([&] { return rests() > wakes(); }, 10000));
    }

    // Sharing ends while capturing: the portal's back-end goes away (as when
    // the compositor restarts), then PipeWire. Each time the window says so
    // and capture stops (no further cycles); a Start without PipeWire says
    // why at once.
    void sharingEnds()
    {
        for (const char* service : { "xdpw", "pipewire" }) {
            Program program(QStringLiteral("ended-") + service, kRegionConfig);
            QVERIFY(program.start());
            QVERIFY(program.pressStart());
            QVERIFY(program.waitForCapture());
            stack({ "kill", service });
            QVERIFY2(QTest::qWaitFor(
                         [&] { return program.log().contains("Press Start to share the screen again.\n"); }, 20000),
                program.log().right(300).constData());
            QTest::qWait(300);
            const int cycles = program.cycles();
            QTest::qWait(500);
            QCOMPARE(program.cycles(), cycles);
            if (QByteArray(service) == "xdpw") {
                stack({ "restart-xdpw" });
                continue;
            }
            QVERIFY(program.pressStart());
            QVERIFY(program.waitForMessage("PipeWire is not running, so the screen cannot be shared."));
            QCOMPARE(program.process.state(), QProcess::Running);
        }
    }

private:
    QProcess terminal;
    QProcess keyboard;
    QString token;
};

QTEST_GUILESS_MAIN(WaylandSessionTest)
#include "test_wayland_session.moc"
