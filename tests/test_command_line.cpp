// The command line, the debug log, and the click label's signals.
#include "capture/QClickLabel.h"
#include "shell/CommandLine.h"
#include "shell/Log.h"
#include "support/TestSupport.h"

#include <QSignalSpy>
#include <QtTest>

#include <vector>

class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    // Switches are compared whole; a later -skipus wins; the program's own
    // path takes part in the scan.
    void switches()
    {
        struct Case {
            std::vector<const char*> args;
            bool debug;
            int skip;
        } const cases[] = {
            { { "huelens" }, false, 0 },
            { { "huelens", "-debug" }, true, 0 },
            { { "-debug" }, true, 0 },
            { { "huelens", "-skipus=1" }, false, 1 },
            { { "huelens", "-skipus=2" }, false, 2 },
            { { "huelens", "-skipus=2", "-skipus=1" }, false, 1 },
            { { "huelens", "-skipus=1", "-debug", "-skipus=2" }, true, 2 },
            { { "huelens", "-skipus=1", "-skipus=3" }, false, 1 },
            { { "huelens", "-DEBUG", "--debug", "-debug=1", "debug", "-debug " }, false, 0 },
            { { "huelens", "-skipus=3", "-skipus=", "-skipus", "--skipus=1", "-SKIPUS=2", "-skipus=01" }, false, 0 },
        };
        for (const Case& c : cases) {
            const CommandLine parsed = parseCommandLine(int(c.args.size()), c.args.data());
            QCOMPARE(parsed.debug, c.debug);
            QCOMPARE(parsed.skipUpdateScreen, c.skip);
        }
    }

    // The desktop can be forced; the last -backend wins and other spellings are ignored.
    void backendSwitch()
    {
        using B = CommandLine::Backend;
        struct Case {
            std::vector<const char*> args;
            B backend;
        } const cases[] = {
            { { "huelens" }, B::Session },
            { { "huelens", "-backend=x11" }, B::X11 },
            { { "huelens", "-backend=wayland" }, B::Wayland },
            { { "huelens", "-backend=wayland", "-debug", "-backend=x11" }, B::X11 },
            { { "huelens", "-backend=X11", "--backend=wayland", "-backend", "-backend=", "-backend=xcb" }, B::Session },
        };
        for (const Case& c : cases)
            QCOMPARE(parseCommandLine(int(c.args.size()), c.args.data()).backend, c.backend);
    }

    void logAppendsUtf8LinesEndingInOneLineFeed()
    {
        QFile::remove(QStringLiteral("log.txt"));
        writeLog(QStringLiteral("first"));
        writeLog(QString::fromUtf8("Farbe \xc3\xa4 \xe2\x86\x92 ok"));
        writeLog(QString());
        writeLog(QStringLiteral("again"));
        QCOMPARE(testSandbox().readFile(QStringLiteral("log.txt")),
            QByteArray("first\nFarbe \xc3\xa4 \xe2\x86\x92 ok\n\nagain\n"));
        QFile::remove(QStringLiteral("log.txt"));
        QDir().mkdir(QStringLiteral("log.txt")); // a folder where the file should be: the line is lost quietly
        writeLog(QStringLiteral("lost"));
        QVERIFY(QDir().rmdir(QStringLiteral("log.txt")));
    }

    // The click label's signals (its button codes are shown in test_plot_interaction).
    void clickLabelDoubleClickAndMoves()
    {
        QClickLabel label;
        label.resize(50, 50);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QStringList order;
        connect(&label, &QClickLabel::clicked, [&] { order << QStringLiteral("clicked"); });
        connect(&label, &QClickLabel::released, [&] { order << QStringLiteral("released"); });
        connect(&label, &QClickLabel::dblclicked, [&] { order << QStringLiteral("dblclicked"); });
        // As the windowing system delivers it: the second press becomes a double click.
        QTest::mouseDClick(label.windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(7, 9));
        QCOMPARE(order, (QStringList { "clicked", "released", "dblclicked", "released" }));
        QCOMPARE(label.mousePos, QPoint(7, 9));

        // Moves with no button held are reported too, with button code 0.
        QSignalSpy moved(&label, &QClickLabel::moved);
        QMouseEvent move(QEvent::MouseMove, QPointF(20, 21), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&label, &move);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(label.mousePos, QPoint(20, 21));
        QCOMPARE(label.mouseButton, 0);
    }
};

QTEST_MAIN(CommandLineTest)

#include "test_command_line.moc"
