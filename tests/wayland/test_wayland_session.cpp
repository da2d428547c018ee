// The real program on the headless Wayland desktop of with-sway.sh: a
// terminal of one colour fills the screen, the program captures it through
// the screen-sharing portal and PipeWire, and the services behind the portal
// are stopped one by one for the fault cases.
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

namespace {

// Orange: a picture with red and blue swapped would show a sky blue.
const QColor kTerminalColour(0xff, 0x80, 0x00);

QString stackDir()
{
    return qEnvironmentVariable("STACK_DIR");
}

QString run(const QStringList& command)
{
    QProcess process;
    process.start(command.first(), command.mid(1));
    if (!process.waitForFinished(20000))
        process.kill(), process.waitForFinished();
    return QString::fromUtf8(process.readAllStandardOutput());
}

void stack(const QStringList& arguments)
{
    run(QStringList { "bash", QStringLiteral(HUELENS_SOURCE_DIR "/tests/wayland/stack.sh") } + arguments);
}

QByteArray fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The window of `appId` in sway's tree, in desktop pixels; empty when there is none.
QRect findWindow(const QJsonObject& node, const QString& appId)
{
    if (node.value("app_id").toString() == appId) {
        const QJsonObject r = node.value("rect").toObject();
        return QRect(r.value("x").toInt(), r.value("y").toInt(), r.value("width").toInt(), r.value("height").toInt());
    }
    for (const char* children : { "nodes", "floating_nodes" })
        for (const QJsonValue child : node.value(children).toArray())
            if (const QRect found = findWindow(child.toObject(), appId); !found.isEmpty())
                return found;
    return {};
}

QRect windowRect(const QString& appId)
{
    return findWindow(QJsonDocument::fromJson(run({ "swaymsg", "-t", "get_tree" }).toUtf8()).object(), appId);
}

QImage screenshot()
{
    const QString path = QDir::temp().filePath(QStringLiteral("huelens-wayland-shot.png"));
    run({ "grim", path });
    return QImage(path).convertToFormat(QImage::Format_RGB32);
}

// How many pixels of `area` differ from `colour`.
int pixelsOtherThan(const QImage& image, const QRect& area, const QColor& colour)
{
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += image.pixelColor(x, y) != colour;
    return count;
}

// The program with -debug, its config.ini and log.txt in a folder of its own.
struct Program {
    explicit Program(const QString& name, const QByteArray& config = {})
        : folder(testSandbox().workingDir() + "/" + name)
    {
        QDir().mkpath(folder + "/work");
        QDir().mkpath(folder + "/data/huelens");
        if (!config.isEmpty()) {
            QFile file(configPath());
            if (file.open(QIODevice::WriteOnly))
                file.write(config);
        }
    }
    ~Program() { stop(); }

    QString configPath() const { return folder + "/data/huelens/config.ini"; }
    QByteArray log() const { return fileText(folder + "/work/log.txt"); }

    bool start()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_DATA_HOME", folder + "/data");
        env.remove("QT_QPA_PLATFORM"); // the program's own choice for a Wayland session
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder + "/work");
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(HUELENS_BINARY), { "-debug" });
        return QTest::qWaitFor([] { return !windowRect("huelens").isEmpty(); }, 20000);
    }
    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(5000))
            process.kill(), process.waitForFinished(5000);
    }
    // The Start key, until the program shows it took it: a virtual keyboard's
    // first key can arrive before the window has its keymap.
    bool pressStart()
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const int before = log().count("UPD screen\n") + log().count("capture: ");
            run({ "swaymsg", "[app_id=\"huelens\"] focus" });
            QTest::qWait(200);
            run({ "wtype", "-k", "space" });
            if (QTest::qWaitFor([&] { return log().count("UPD screen\n") + log().count("capture: ") > before; }, 2000))
                return true;
        }
        return false;
    }
    int cycles() const { return log().count("scr end\n"); }
    bool waitForCycles(int count)
    {
        return QTest::qWaitFor([&] { return cycles() >= count; }, 20000);
    }
    bool waitForMessage(const QByteArray& text) const
    {
        return QTest::qWaitFor([&] { return log().contains("capture: " + text); }, 20000);
    }
    QString stored(const QByteArray& key) const
    {
        for (const QByteArray& line : fileText(configPath()).split('\n'))
            if (line.startsWith(key + '='))
                return QString::fromUtf8(line.mid(key.size() + 1));
        return QStringLiteral("<absent>");
    }

    const QString folder;
    QProcess process;
};

// A region of the terminal clear of the program's window (which sway floats
// in the middle of the 1280 x 720 output): 400 x 200 pixels, shown 1:1.
const QByteArray kRegionConfig = "[General]\nUnknown=0|20|100|420|300\n";

} // namespace

class WaylandSessionTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!stackDir().isEmpty(), "run through tests/wayland/with-sway.sh");
        // sway runs as nobody, and so does the terminal: its clients must reach
        // it. The test's own folders are root's alone.
        terminal.setWorkingDirectory("/");
        terminal.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        terminal.start("setpriv", { "--reuid=65534", "--regid=65534", "--clear-groups", "foot", "--app-id=test-app",
                                      "--title=Test Title", "-o", "colors.background=ff8000", "sleep", "600" });
        QVERIFY(QTest::qWaitFor([] { return !windowRect("test-app").isEmpty(); }, 10000));
        // A keyboard for the whole run: Qt takes a key only from a keyboard
        // the seat had when its window got the focus.
        keyboard.start("wtype", { "-s", "3600000" });
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
        QTest::qWait(300);

        const QRect window = windowRect("huelens");
        const QImage shot = screenshot();
        const QPoint plot = window.topLeft() + QPoint(1, 1 + 24);
        const QRect preview(plot.x() + 2, plot.y() + 400 + 2, 400 - 4, 200 - 4);
        QCOMPARE(pixelsOtherThan(shot, preview, kTerminalColour), 0);
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
    // the grant from the token (its back-end logs what it restored).
    void restartRestoresWithoutAsking()
    {
        QVERIFY(!token.isEmpty());
        const QString xdpwLog = stackDir() + "/logs/xdpw.log";
        const int restoredBefore = fileText(xdpwLog).count("restore_data.output_name: HEADLESS-1");
        Program program("second", kRegionConfig + "screencast_token=" + token.toUtf8() + "\n");
        QVERIFY(program.start());
        QVERIFY(program.pressStart());
        QVERIFY(program.waitForCycles(5));
        QCOMPARE(fileText(xdpwLog).count("restore_data.output_name: HEADLESS-1"), restoredBefore + 1);
        QVERIFY(program.stored("screencast_token") != "<absent>");
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

    // Without a portal on the bus the window says what to install.
    void noPortal()
    {
        stack({ "kill", "xdp" });
        Program program("noportal", kRegionConfig);
        QVERIFY(program.start());
        QVERIFY(program.pressStart());
        QVERIFY(program.waitForMessage("No screen-sharing portal on this desktop"));
        QCOMPARE(program.cycles(), 0);
        QCOMPARE(program.process.state(), QProcess::Running);
        stack({ "restart-xdp" });
    }

    // PipeWire goes away while capturing: the window says so and capture
    // stops (no further cycles); a new Start without PipeWire says why at once.
    void streamEndsAndPipeWireMissing()
    {
        Program program("ended", kRegionConfig);
        QVERIFY(program.start());
        QVERIFY(program.pressStart());
        QVERIFY(program.waitForCycles(5));
        stack({ "kill", "pipewire" });
        QVERIFY2(program.waitForMessage("The connection to PipeWire was lost. Press Start to share the screen again.")
                || program.waitForMessage("The screen stream"),
            program.log().right(300).constData());
        QTest::qWait(300);
        const int cycles = program.cycles();
        QTest::qWait(500);
        QCOMPARE(program.cycles(), cycles);

        QVERIFY(program.pressStart());
        QVERIFY(program.waitForMessage("PipeWire is not running, so the screen cannot be shared."));
        QCOMPARE(program.process.state(), QProcess::Running);
    }

private:
    QProcess terminal;
    QProcess keyboard;
    QString token;
};

QTEST_GUILESS_MAIN(WaylandSessionTest)
#include "test_wayland_session.moc"
