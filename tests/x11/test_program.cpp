// The real program, started as a user starts it, on the test's private X server.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

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
    ~RunningProgram() { stop(); }

    void stop()
    {
        if (process.state() == QProcess::NotRunning)
            return;
        process.terminate();
        if (!process.waitForFinished(3000)) {
            process.kill();
            process.waitForFinished(3000);
        }
    }

    bool running() const { return process.state() == QProcess::Running; }

private:
    QProcess process;
};

QString run(const QStringList& args, int timeoutMs = 5000)
{
    QProcess p;
    p.start(args.first(), args.mid(1));
    p.waitForFinished(timeoutMs);
    return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Waits until a window whose title starts with the program's prefix is mapped.
QString waitForProgramWindow()
{
    for (int i = 0; i < 100; ++i) {
        const QString id =
            run({QStringLiteral("xdotool"), QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                 QStringLiteral("--name"), QStringLiteral("^Korvant Huelens 1\\.0: ")});
        if (!id.isEmpty())
            return id.section(QLatin1Char('\n'), 0, 0);
        QTest::qWait(100);
    }
    return {};
}

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class ProgramTest : public QObject {
    Q_OBJECT
private:
    QTemporaryDir sandbox;
    QString work() const { return sandbox.path() + QStringLiteral("/work"); }
    QString data() const { return sandbox.path() + QStringLiteral("/data"); }
    QString logPath() const { return work() + QStringLiteral("/log.txt"); }

private slots:
    void initTestCase()
    {
        QVERIFY(sandbox.isValid());
        QDir().mkpath(work());
        QDir().mkpath(data());
    }

    void withoutDebugNoLogIsWritten()
    {
        RunningProgram program(work(), data(), {});
        QVERIFY(!waitForProgramWindow().isEmpty());
        QTest::qWait(300);
        QVERIFY(program.running());
        QVERIFY(!QFile::exists(logPath()));
    }

    void startsAsANarrowFramelessWindow()
    {
        RunningProgram program(work(), data(), {});
        const QString id = waitForProgramWindow();
        QVERIFY(!id.isEmpty());
        const QString geometry = run({QStringLiteral("xdotool"), QStringLiteral("getwindowgeometry"), id});
        QVERIFY2(geometry.contains(QStringLiteral("Geometry: 400x")), qPrintable(geometry));
        const QString name = run({QStringLiteral("xdotool"), QStringLiteral("getwindowname"), id});
        QCOMPARE(name, QStringLiteral("Korvant Huelens 1.0: Unknown"));
        // Frameless: Qt asks the window manager for no decorations through _MOTIF_WM_HINTS.
        const QString hints = run({QStringLiteral("xprop"), QStringLiteral("-id"), id, QStringLiteral("_MOTIF_WM_HINTS")});
        // flags, functions, decorations, ...: the decorations flag set and no decorations.
        const QStringList fields = hints.section(QLatin1Char('='), 1).split(QLatin1Char(','));
        QVERIFY2(fields.size() >= 3, qPrintable(hints));
        QVERIFY2(fields[0].trimmed().toUInt(nullptr, 16) & 0x2, qPrintable(hints));
        QCOMPARE(fields[2].trimmed(), QStringLiteral("0x0"));
    }

    void debugLogAcrossTwoRuns()
    {
        QFile::remove(logPath());
        for (int run = 0; run < 2; ++run) {
            RunningProgram program(work(), data(), {QStringLiteral("-debug")});
            QTRY_VERIFY_WITH_TIMEOUT(readAll(logPath()).count("WIN inited\n") == run + 1, 10000);
        }
        const QByteArray text = readAll(logPath());
        QVERIFY(!text.contains('\r'));
        const QList<QByteArray> lines = text.split('\n');
        QCOMPARE(lines.last(), QByteArray()); // every line ends in one line feed
        QCOMPARE(text.count("APP started\n"), 2);
        const int firstRunEnd = text.indexOf("WIN inited\n") + int(sizeof("WIN inited\n")) - 1;
        const QByteArray firstRun = text.left(firstRunEnd);
        QVERIFY(firstRun.startsWith("APP started\nMainWindow created\nscrsvc create\n"));
        QVERIFY(firstRun.endsWith("APP detected\nWIN created\nWIN shown\nWIN inited\n"));
        QVERIFY(text.mid(firstRunEnd).startsWith("APP started\n"));
    }

    void skipSwitchIsLoggedSecond()
    {
        QFile::remove(logPath());
        RunningProgram program(work(), data(), {QStringLiteral("-debug"), QStringLiteral("-skipus=2")});
        QTRY_VERIFY_WITH_TIMEOUT(readAll(logPath()).endsWith("WIN inited\n"), 10000);
        const QByteArray text = readAll(logPath());
        QVERIFY(text.startsWith("APP started\n-skipus=2\nMainWindow created\nScreenShot created\n"));
        QVERIFY(!text.contains("scrsvc"));
    }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "test_program.moc"
