// The real program on the headless KWin 5.27 of with-kde.sh, installed into
// a prefix of the test's own as `make install` installs it: KWin gives the
// window list only to a program whose menu entry names its executable, so
// the installed program recognises the window in front by the same rule as
// on X11 and GNOME, and the one in the build folder does not. A grant seeded
// in the permission store shares the screen without a dialog; KWin's virtual
// back-end then sends no picture of a monitor, and the program says so.
#include "support/SessionProgram.h"
#include "support/TestSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

namespace {

const QString kWindowClass = QStringLiteral("huelens-test-window");
const QString kWindowTitle = QStringLiteral("Test Colour");
const QString kProgramTitle = QStringLiteral("Korvant Huelens 1.0: ");
constexpr int kKeySpace = 57; // Linux input key code

QString stackDir()
{
    return qEnvironmentVariable("STACK_DIR");
}

QByteArray fileText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QDBusMessage kwinScripting(const QString& method, const QVariantList& arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.KWin"), QStringLiteral("/Scripting"), QStringLiteral("org.kde.kwin.Scripting"), method);
    call.setArguments(arguments);
    return QDBusConnection::sessionBus().call(call, QDBus::Block, 10000);
}

// KWin's windows as "caption|active" lines, from a script KWin runs; its
// print() goes to KWin's log.
QStringList windows()
{
    static int runs = 0;
    const QString marker = QStringLiteral("huelens-test-%1").arg(++runs);
    const QString path = QDir(stackDir()).filePath(marker + ".js");
    QFile script(path);
    if (!script.open(QIODevice::WriteOnly))
        return {};
    script.write(QStringLiteral("print('%1 ' + workspace.clientList().map(c => c.caption + '|' + c.active)"
                                ".join('\\t') + ' %1');\n")
                     .arg(marker)
                     .toUtf8());
    script.close();
    kwinScripting(QStringLiteral("loadScript"), { path, marker });
    kwinScripting(QStringLiteral("start"), {});
    QByteArray line;
    (void)QTest::qWaitFor(
        [&] {
            const QByteArray log = fileText(stackDir() + "/logs/kwin.log");
            const int at = log.indexOf(marker.toUtf8() + ' ');
            const int end = at < 0 ? -1 : log.indexOf(' ' + marker.toUtf8(), at + marker.size());
            if (end < 0)
                return false;
            line = log.mid(at + marker.size() + 1, end - at - marker.size() - 1);
            return true;
        },
        5000);
    kwinScripting(QStringLiteral("unloadScript"), { marker });
    return line.isEmpty() ? QStringList() : QString::fromUtf8(line).split(QLatin1Char('\t'));
}

QString title(const QString& prefix)
{
    for (const QString& w : windows())
        if (w.startsWith(prefix))
            return w.section(QLatin1Char('|'), 0, 0);
    return {};
}

bool active(const QString& prefix)
{
    for (const QString& w : windows())
        if (w.startsWith(prefix))
            return w.section(QLatin1Char('|'), 1, 1) == QLatin1String("true");
    return false;
}

// Keys for the window KWin gives the keyboard, through its fake input.
bool typeKey(int code)
{
    QProcess keys;
    keys.start(qEnvironmentVariable("KDE_TEST_KEYS"), { QString::number(code) });
    return keys.waitForFinished(10000) && keys.exitCode() == 0;
}

// A screen-sharing grant of the output at 0,0, in the permission store as
// xdg-desktop-portal 1.16 and its KDE back-end 5.27 keep one: the back-end's
// own QDataStream of its choice.
bool seedGrant(const QString& token)
{
    QByteArray choice;
    QDataStream stream(&choice, QIODevice::WriteOnly);
    stream.setVersion(QDataStream::Qt_5_15);
    stream << QVariantMap { { QStringLiteral("outputs"), QVariantList { QStringLiteral("0x0") } },
        { QStringLiteral("windows"), QStringList() } };
    QStringList bytes;
    for (const char c : choice)
        bytes << QStringLiteral("byte 0x%1").arg(static_cast<unsigned char>(c), 2, 16, QLatin1Char('0'));
    QProcess gdbus;
    gdbus.start(QStringLiteral("gdbus"),
        { "call", "--session", "--dest", "org.freedesktop.impl.portal.PermissionStore", "--object-path",
            "/org/freedesktop/impl/portal/PermissionStore", "--method",
            "org.freedesktop.impl.portal.PermissionStore.Set", "screencast", "true", token, "{'': ['yes']}",
            QStringLiteral("<('KDE', uint32 1, <[%1]>)>").arg(bytes.join(QLatin1String(", "))) });
    return gdbus.waitForFinished(10000) && gdbus.exitCode() == 0;
}

// The program with -debug, its config.ini and log.txt in a folder of its own.
// The program, given keys through KWin's fake input.
struct Program : SessionProgram {
    using SessionProgram::SessionProgram;

    // True once its window is KWin's active window.
    bool start(const QString& executable)
    {
        launch(executable);
        return QTest::qWaitFor([] { return active(kProgramTitle); }, 20000);
    }
    bool pressStart()
    {
        // The window cycles before Start too: only a capture message tells.
        return pressUntilTaken([] { return typeKey(kKeySpace); }, 3000, { "capture: " });
    }
};

const QString kInstalled = stackDir() + "/prefix/bin/huelens";
const QByteArray kRule = "[General]\napps=Grader:" + kWindowClass.toUtf8() + "\n";

} // namespace

class KdeSessionTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QVERIFY2(!stackDir().isEmpty(), "run through tests/kde/with-kde.sh");
        QVERIFY2(QFile::exists(kInstalled), "with-kde.sh installs the program when given HUELENS_BUILD_DIR");
    }

    // The window in front when the program starts (a rule on its class, the
    // same rule as on X11 and GNOME) names the application: KWin gave the
    // installed program its window list. The program in the build folder,
    // which no menu entry names, gets none and knows no application.
    void installedProgramRecognisesTheWindowInFront()
    {
        QProcess colourWindow;
        colourWindow.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        colourWindow.start(QStringLiteral("/usr/bin/python3"),
            { QStringLiteral(HUELENS_SOURCE_DIR "/tests/support/colour-window.py"), kWindowClass, kWindowTitle,
                QStringLiteral("3070b0"), QStringLiteral("120") });
        QVERIFY(QTest::qWaitFor([] { return active(kWindowTitle); }, 20000));
        {
            Program installed(QStringLiteral("installed"), kRule);
            QVERIFY(installed.start(kInstalled));
            QCOMPARE(title(kProgramTitle), kProgramTitle + "Grader");
        }
        QVERIFY(QTest::qWaitFor([] { return active(kWindowTitle); }, 10000));
        {
            Program building(QStringLiteral("build-folder"), kRule);
            QVERIFY(building.start(QStringLiteral(HUELENS_BINARY)));
            QCOMPARE(title(kProgramTitle), kProgramTitle + "Unknown");
        }
        colourWindow.kill();
        colourWindow.waitForFinished();
    }

    // A grant in the permission store starts sharing with no dialog (KDE's
    // dialog cannot even load here); the virtual back-end sends no picture of
    // a monitor, and the program says so after its wait, without hanging.
    void seededGrantSharesWithoutADialog()
    {
        QVERIFY(seedGrant(QStringLiteral("aaaaaaaa-0000-0000-0000-000000000001")));
        Program program(QStringLiteral("seeded"), kRule + "screencast_token=aaaaaaaa-0000-0000-0000-000000000001\n");
        QVERIFY(program.start(kInstalled));
        QVERIFY(program.pressStart());
        QVERIFY2(program.waitForMessage("Waiting for the first picture of the screen...", 10000),
            program.log().right(300).constData());
        QVERIFY2(program.waitForMessage(
                     "PipeWire sent no picture of the screen. Press Start to share the screen again.", 20000),
            program.log().right(300).constData());
        QVERIFY(!program.log().contains("cancelled"));
        QCOMPARE(program.process.state(), QProcess::Running);
        QVERIFY(program.pressStart()); // Start again: the window still takes keys
        QVERIFY(QTest::qWaitFor(
            [&] { return program.log().count("capture: Waiting for the first picture of the screen...") == 2; },
            10000));
    }
};

QTEST_GUILESS_MAIN(KdeSessionTest)
#include "test_kde_session.moc"
