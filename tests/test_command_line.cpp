#include "capture/QClickLabel.h"
#include "shell/CommandLine.h"
#include "shell/Log.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QSignalSpy>
#include <QtTest>

#include <vector>

namespace {

CommandLine parse(std::vector<const char*> args)
{
    args.insert(args.begin(), "huelens");
    return parseCommandLine(static_cast<int>(args.size()), args.data());
}

QByteArray logText()
{
    QFile file(QStringLiteral("log.txt"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class CommandLineTest : public QObject {
    Q_OBJECT
private slots:
    void switchesAreComparedWhole()
    {
        QCOMPARE(parse({}).debug, false);
        QCOMPARE(parse({}).skipUpdateScreen, 0);
        QCOMPARE(parse({"-debug"}).debug, true);
        QCOMPARE(parse({"-skipus=1"}).skipUpdateScreen, 1);
        QCOMPARE(parse({"-skipus=2"}).skipUpdateScreen, 2);
        for (const char* lookalike : {"-DEBUG", "--debug", "-debug=1", "debug", "-debug "}) {
            QVERIFY2(!parse({lookalike}).debug, lookalike);
        }
        for (const char* lookalike : {"-skipus=3", "-skipus=", "-skipus", "--skipus=1", "-SKIPUS=2", "-skipus=01"}) {
            QVERIFY2(parse({lookalike}).skipUpdateScreen == 0, lookalike);
        }
    }

    void laterSkipSwitchWins()
    {
        QCOMPARE(parse({"-skipus=2", "-skipus=1"}).skipUpdateScreen, 1);
        QCOMPARE(parse({"-skipus=1", "-debug", "-skipus=2"}).skipUpdateScreen, 2);
        QCOMPARE(parse({"-skipus=1", "-skipus=3"}).skipUpdateScreen, 1);
    }

    void programPathTakesPartInTheScan()
    {
        const char* args[] = {"-debug"};
        QVERIFY(parseCommandLine(1, args).debug);
    }

    void logAppendsUtf8LinesEndingInOneLineFeed()
    {
        QFile::remove(QStringLiteral("log.txt"));
        writeLog(QStringLiteral("first"));
        writeLog(QString::fromUtf8("Farbe \xc3\xa4 \xe2\x86\x92 ok"));
        writeLog(QString());
        QCOMPARE(logText(), QByteArray("first\nFarbe \xc3\xa4 \xe2\x86\x92 ok\n\n"));
        writeLog(QStringLiteral("again"));
        QVERIFY(logText().endsWith("\n\nagain\n"));
    }

    void unwritableLogLosesTheLineQuietly()
    {
        QFile::remove(QStringLiteral("log.txt"));
        QDir().mkdir(QStringLiteral("log.txt")); // a folder where the file should be
        writeLog(QStringLiteral("lost"));
        QVERIFY(QFileInfo(QStringLiteral("log.txt")).isDir());
        QDir().rmdir(QStringLiteral("log.txt"));
    }
};

// The click label's signals are read together with its public fields.
class ClickLabelTest : public QObject {
    Q_OBJECT
private slots:
    void doubleClickReportsPressReleaseDoubleRelease()
    {
        QClickLabel label;
        label.resize(50, 50);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QStringList order;
        connect(&label, &QClickLabel::clicked, [&] { order << QStringLiteral("clicked"); });
        connect(&label, &QClickLabel::released, [&] { order << QStringLiteral("released"); });
        connect(&label, &QClickLabel::dblclicked, [&] { order << QStringLiteral("dblclicked"); });
        // Through the window, as the windowing system delivers it: press, release,
        // press, release, with the second press turned into a double click.
        QTest::mouseDClick(label.windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(7, 9));
        QCOMPARE(order, (QStringList{"clicked", "released", "dblclicked", "released"}));
        QCOMPARE(label.mousePos, QPoint(7, 9));
        QCOMPARE(label.mouseButton, 1);
    }

    void buttonCodesAndMoves()
    {
        QClickLabel label;
        label.resize(50, 50);
        label.show();
        QVERIFY(QTest::qWaitForWindowExposed(&label));
        QSignalSpy moved(&label, &QClickLabel::moved);
        int buttonSeenByMoved = -1;
        connect(&label, &QClickLabel::moved, [&] { buttonSeenByMoved = label.mouseButton; });

        QTest::mousePress(label.windowHandle(), Qt::RightButton, Qt::NoModifier, QPoint(3, 4));
        QCOMPARE(label.mouseButton, 2);
        const int movesBefore = moved.count();
        QTest::mouseMove(label.windowHandle(), QPoint(10, 12));
        QVERIFY(moved.count() > movesBefore);
        QCOMPARE(buttonSeenByMoved, 0);
        QCOMPARE(label.mousePos, QPoint(10, 12));
        QTest::mouseRelease(label.windowHandle(), Qt::RightButton, Qt::NoModifier, QPoint(11, 13));
        QCOMPARE(label.mouseButton, 0); // a release leaves the button code alone

        QTest::mousePress(label.windowHandle(), Qt::MiddleButton, Qt::NoModifier, QPoint(1, 1));
        QCOMPARE(label.mouseButton, 3);
        QTest::mousePress(label.windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(1, 1));
        QCOMPARE(label.mouseButton, 1);
    }

    void movesAreReportedWithNoButtonHeld()
    {
        QClickLabel label;
        label.resize(50, 50);
        QVERIFY(label.testAttribute(Qt::WA_MouseTracking));
        QSignalSpy moved(&label, &QClickLabel::moved);
        QMouseEvent move(QEvent::MouseMove, QPointF(20, 21), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&label, &move);
        QCOMPARE(moved.count(), 1);
        QCOMPARE(label.mousePos, QPoint(20, 21));
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    int status = 0;
    CommandLineTest commandLine;
    status |= QTest::qExec(&commandLine, argc, argv);
    ClickLabelTest clickLabel;
    status |= QTest::qExec(&clickLabel, argc, argv);
    return status;
}

#include "test_command_line.moc"
