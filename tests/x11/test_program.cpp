// The real program, started as a user starts it, on the test's private X
// server. It inherits the test's sandbox: log.txt lands in the working folder.
#include "support/TestSupport.h"
#include "x11/EndToEnd.h"

namespace {

struct RunningProgram {
    explicit RunningProgram(const QStringList& arguments)
    {
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(HUELENS_BINARY), arguments);
    }
    ~RunningProgram() { e2e::stop(process); }
    QProcess process;
};

QByteArray logText()
{
    return testSandbox().readFile(QStringLiteral("log.txt"));
}

} // namespace

class ProgramTest : public QObject {
    Q_OBJECT
private slots:
    void startsAsANarrowWindowWithoutALog()
    {
        RunningProgram program({});
        QString id;
        QTRY_VERIFY_WITH_TIMEOUT(
            !(id = e2e::xdotool({ "search", "--onlyvisible", "--name", "^Korvant Huelens" })).isEmpty(), 10000);
        QCOMPARE(e2e::xdotool({ "getwindowname", id }), QStringLiteral("Korvant Huelens 1.0: Unknown"));
        QVERIFY(e2e::xdotool({ "getwindowgeometry", id }).contains(QStringLiteral("Geometry: 400x")));
        QTest::qWait(300);
        QCOMPARE(program.process.state(), QProcess::Running);
        QVERIFY(!QFile::exists(QStringLiteral("log.txt")));
    }

    // Each run appends: "APP started", the window's construction, then the
    // start-up steps, every line ending in one line feed.
    void debugLogAcrossTwoRuns()
    {
        for (int run = 0; run < 2; ++run) {
            RunningProgram program({ QStringLiteral("-debug") });
            QTRY_VERIFY_WITH_TIMEOUT(logText().count("WIN inited\n") == run + 1, 10000);
        }
        const QByteArray oneRun = "APP started\nMainWindow created\nscrsvc create\nscrsvc A\nscrsvc B\nscrsvc C\n"
                                  "scrsvc D\nScreenShot created\nConfiguration parsed\nAdapters set\nWindow set\n"
                                  "GUI prepare 1\nGUI prepare 2\nGUI connected 1\nGUI connected 2\nBG generated\n"
                                  "GUI prepared 3\nGUI prepared 5\nGUI prepared 6\nGUI prepared 6\nSliders updated\n"
                                  "Size optimized\nAPP detected\nWIN created\nWIN shown\nWIN inited\n";
        const QByteArray text = logText();
        QVERIFY2(text.startsWith(oneRun), text.constData());
        QVERIFY(text.indexOf(oneRun, oneRun.size()) > 0);
        QVERIFY(text.endsWith('\n') && !text.contains('\r'));
    }

    void skipSwitchIsLoggedSecond()
    {
        QFile::remove(QStringLiteral("log.txt"));
        RunningProgram program({ QStringLiteral("-debug"), QStringLiteral("-skipus=2") });
        QTRY_VERIFY_WITH_TIMEOUT(logText().endsWith("WIN inited\n"), 10000);
        QVERIFY(logText().startsWith("APP started\n-skipus=2\nMainWindow created\nScreenShot created\n"));
        QVERIFY(!logText().contains("scrsvc"));
    }

    // On an 8-bit screen Qt draws nothing: the window came up blank, with no
    // toolbar to quit it and no word why.
    void eightBitScreenIsRefusedWithAReason()
    {
        QProcess program;
        program.start(QStringLiteral(HUELENS_SOURCE_DIR "/tests/with-xvfb.sh"),
            { "-s", "640x480x8", QStringLiteral(HUELENS_BINARY) });
        QVERIFY(program.waitForFinished(20000) || (e2e::stop(program), false));
        QCOMPARE(program.exitCode(), 1);
        const QByteArray errors = '\n' + program.readAllStandardError();
        QVERIFY2(errors.contains("\nhuelens: the screen has 8 bits per pixel; Huelens needs 15 bits or more (16 or "
                                 "24 bit colour)\n"),
            errors.constData());
    }
};

QTEST_GUILESS_MAIN(ProgramTest)
#include "test_program.moc"
