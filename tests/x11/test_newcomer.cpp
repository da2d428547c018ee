// The real program started as a newcomer starts it, under a window manager
// (openbox, which keeps _NET_ACTIVE_WINDOW): a rule typed into config.ini by
// hand, windows of a real foreign program brought to front by the window
// manager, and the program's title read from outside.

#include "x11/EndToEnd.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using e2e::ForeignWindow;

namespace {

const QString kTitlePrefix = QStringLiteral("Korvant Huelens 1.0: ");

// The start button sits at the left end of the toolbar, 24 x 16 pixels at
// (5, 5) of the window while the window is at least 200 pixels wide.
const QPoint kStartButton(17, 13);

class RunningProgram {
public:
    RunningProgram(const QString& workingDir, const QString& dataHome, const QStringList& arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_DATA_HOME"), dataHome);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(workingDir);
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(HUELENS_BINARY), arguments);
        process.waitForStarted();
    }
    ~RunningProgram()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    // The program's window once it is on screen, or an empty text.
    QString waitForWindow()
    {
        QString id;
        e2e::waitFor([&] {
            id = e2e::xdotool({ QStringLiteral("search"), QStringLiteral("--onlyvisible"), QStringLiteral("--name"),
                                  QStringLiteral("^Korvant Huelens 1\\.0: ") })
                     .section(QLatin1Char('\n'), 0, 0);
            return !id.isEmpty();
        });
        return id;
    }

private:
    QProcess process;
};

QString windowName(const QString& id)
{
    return e2e::xdotool({ QStringLiteral("getwindowname"), id });
}

int cyclesLogged(const QString& logPath)
{
    QFile file(logPath);
    return file.open(QIODevice::ReadOnly) ? int(file.readAll().count("UPD screen\n")) : 0;
}

} // namespace

class TestNewcomer : public QObject {
    Q_OBJECT

private slots:
    void initTestCase();
    void followsTheWindowOfARuleTypedIntoConfig();

private:
    QTemporaryDir sandbox;
    QString work() const { return sandbox.path() + QStringLiteral("/work"); }
    QString data() const { return sandbox.path() + QStringLiteral("/data"); }
    e2e::WindowManager windowManager;
};

void TestNewcomer::initTestCase()
{
    QVERIFY(sandbox.isValid());
    QDir().mkpath(work());
    QDir().mkpath(data() + QStringLiteral("/huelens"));
    QVERIFY2(windowManager.start(), "openbox did not start");
}

// The newcomer's config.ini holds one line they typed: no section header,
// no capture record. Their editor's windows have the instance name "myeditor".
void TestNewcomer::followsTheWindowOfARuleTypedIntoConfig()
{
    {
        QFile config(data() + QStringLiteral("/huelens/config.ini"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write("apps=MyEditor:myeditor\n");
    }
    ForeignWindow editor("myeditor", "Editor", "holiday picture", QColor(0xa0, 0xa0, 0x20), QPoint(0, 0));
    ForeignWindow photoshop("ps", "PhotoshopThing", "Untitled-1", QColor(0xd0, 0x40, 0x20), QPoint(500, 0));
    ForeignWindow files("files", "FileManager", "Home folder", QColor(0x30, 0xa0, 0x50), QPoint(0, 400));
    for (ForeignWindow* w : { &editor, &photoshop, &files })
        QVERIFY2(w->waitUntilMapped() != 0, qPrintable(w->title()));

    QVERIFY(editor.activate());
    RunningProgram program(work(), data(), { QStringLiteral("-debug") });
    const QString id = program.waitForWindow();
    QVERIFY(!id.isEmpty());
    QCOMPARE(windowName(id), kTitlePrefix + QStringLiteral("MyEditor"));

    e2e::xdotool({ QStringLiteral("mousemove"), QStringLiteral("--window"), id, QString::number(kStartButton.x()),
        QString::number(kStartButton.y()), QStringLiteral("click"), QStringLiteral("1") });
    const QString logPath = work() + QStringLiteral("/log.txt");
    // Capturing: the cycle runs by itself.
    const int before = cyclesLogged(logPath);
    QTRY_VERIFY(cyclesLogged(logPath) > before + 5);

    QVERIFY(photoshop.activate());
    QTRY_COMPARE(windowName(id), kTitlePrefix + QStringLiteral("Photoshop"));

    // A window no rule knows: after several cycles the name stays.
    QVERIFY(files.activate());
    const int withFiles = cyclesLogged(logPath);
    QTRY_VERIFY(cyclesLogged(logPath) > withFiles + 5);
    QCOMPARE(windowName(id), kTitlePrefix + QStringLiteral("Photoshop"));

    QVERIFY(editor.activate());
    QTRY_COMPARE(windowName(id), kTitlePrefix + QStringLiteral("MyEditor"));
}

QTEST_GUILESS_MAIN(TestNewcomer)
#include "test_newcomer.moc"
