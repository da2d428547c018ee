// config.ini as untrusted input: what the program reads from it, what it
// writes back, and that Qt's own INI reader and ours agree on everything the
// program stores.
#include "apps/SettingsFile.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QDir>
#include <QFileInfo>
#include <QFile>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <sys/stat.h>

struct SettingsFileTag;
template <> struct MainWindowProbe<SettingsFileTag> {
    static int windowSize(MainWindow& w) { return w.windowSize; }
    static QList<AppProfile> profiles(MainWindow& w) { return w.appProfiles; }
    static std::array<int, 4> region(MainWindow& w, const QString& name) { return w.appRegions.value(name); }
};
using Probe = MainWindowProbe<SettingsFileTag>;

namespace {

// A list header claiming 0x7fffffff strings: Qt's own INI reader decodes it
// through QDataStream, reserves room for all of them and throws bad_alloc.
const QByteArray kListBomb = R"(@Variant(\0\0\0\v\x7f\xff\xff\xff))";

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Values of every kind the program keeps: capture records, rule text with
// line feeds, colons and blanks, numbers, booleans, and the awkward cases of
// the text format.
QVariantMap programValues()
{
    return {
        { QStringLiteral("apps"), QStringLiteral("Gimp:gimp::\n Dark table :darktable:\t:/usr/bin/darktable\n\n") },
        { QStringLiteral("window_size"), 350 },
        { QStringLiteral("preview_enabled"), false },
        { QStringLiteral("DaVinci Resolve"), QStringLiteral("1|100|200|500|400") },
        { QStringLiteral("Unknown"), QStringLiteral("0|-1|-1|-1|-1") },
        { QStringLiteral("Caf\u00e9 \u6f22\u5b57 \U0001F3A8"), QStringLiteral("\u00e9\u6f22\U0001F3A8 x4") },
        { QStringLiteral("semi;comma,equals=quote\"back\\slash"), QStringLiteral("a;b,c=d\"e\\f") },
        { QStringLiteral("blanks"), QStringLiteral("  both ends\t") },
        { QStringLiteral("tab end"), QStringLiteral("x\t") },
        { QStringLiteral("at sign"), QStringLiteral("@Variant(not really)") },
        { QStringLiteral("at sign 2"), QStringLiteral("@@two") },
        { QStringLiteral("controls"),
            QString::fromUtf16(u"\u0001\u0000"
                               "0a\u001f\u007f"
                               "F\r\n\v\f\a\b") },
        { QStringLiteral("empty"), QString() },
        { QStringLiteral("group/inner key"), QStringLiteral("in a section") },
        { QStringLiteral("General/odd"), QStringLiteral("section named General") },
        { QStringLiteral("list"), QStringList { QStringLiteral("a"), QStringLiteral(" b "), QStringLiteral("@c") } },
    };
}

} // namespace

class SettingsFileTest : public QObject {
    Q_OBJECT
private slots:
    // Guards the start-up crash: Qt's INI reader decodes "@Variant(...)"
    // through QDataStream, and this value made it throw bad_alloc, so a
    // damaged config.ini ended the program at every start.
    void typedValuesAreNeverDecoded()
    {
        const QByteArray text = "[General]\nwindow_size=" + kListBomb + "\nkept=" + kListBomb + "\nmixed=a, "
            + kListBomb + "\n[other]\nx=" + kListBomb + "\n";
        const QSettings::SettingsMap map = readSettingsText(text);
        QCOMPARE(map.size(), 4);
        for (const QString& key :
            { QStringLiteral("window_size"), QStringLiteral("kept"), QStringLiteral("other/x") }) {
            QCOMPARE(map.value(key).userType(), qMetaTypeId<StoredText>());
            QCOMPARE(map.value(key).toInt(), 0);
            QCOMPARE(map.value(key).toString(), QString());
        }
        QVERIFY(map.value(QStringLiteral("mixed")).value<StoredText>().list);
        // Written back as they were.
        const QByteArray written = writeSettingsText(map);
        QVERIFY(written.contains("kept=" + kListBomb + "\n"));
        QVERIFY(written.contains("mixed=a, " + kListBomb + "\n"));
        QVERIFY(written.contains("[other]\nx=" + kListBomb + "\n"));
    }

    void hostileFileThroughQSettingsKeepsWhatItDoesNotUse()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.ini"));
        writeBytes(path, "[General]\nwindow_size=" + kListBomb + "\nforeign=" + kListBomb + "\n");
        {
            std::unique_ptr<QSettings> settings(openSettingsFile(path));
            QCOMPARE(settings->value(QStringLiteral("window_size"), 400).toInt(), 0);
            settings->setValue(QStringLiteral("Photoshop"), QStringLiteral("0|1|2|3|4"));
            settings->sync();
            QCOMPARE(settings->status(), QSettings::NoError);
        }
        const QByteArray after = readBytes(path);
        QVERIFY2(after.contains("foreign=" + kListBomb + "\n"), after.constData());
        QVERIFY(after.contains("Photoshop=0|1|2|3|4\n"));
    }

    // What we write, Qt reads the same; what Qt writes, we read the same.
    void agreesWithQtsIniFormat()
    {
        const QVariantMap values = programValues();
        QTemporaryDir dir;

        const QString ours = dir.filePath(QStringLiteral("ours.ini"));
        {
            std::unique_ptr<QSettings> settings(openSettingsFile(ours));
            for (auto it = values.cbegin(); it != values.cend(); ++it)
                settings->setValue(it.key(), it.value());
        }
        QSettings qtReads(ours, QSettings::IniFormat);
        QCOMPARE(qtReads.allKeys().size(), values.size());
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            const QVariant read = qtReads.value(it.key());
            if (it.value().userType() == QMetaType::QStringList)
                QCOMPARE(read.toStringList(), it.value().toStringList());
            else
                QCOMPARE(read.toString(), it.value().toString());
        }

        const QString theirs = dir.filePath(QStringLiteral("theirs.ini"));
        {
            QSettings settings(theirs, QSettings::IniFormat);
            for (auto it = values.cbegin(); it != values.cend(); ++it)
                settings.setValue(it.key(), it.value());
        }
        const QSettings::SettingsMap weRead = readSettingsText(readBytes(theirs));
        QCOMPARE(weRead.size(), values.size());
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            if (it.value().userType() == QMetaType::QStringList)
                QCOMPARE(weRead.value(it.key()).toStringList(), it.value().toStringList());
            else
                QCOMPARE(weRead.value(it.key()).toString(), it.value().toString());
        }
    }

    // Hand-written and damaged files read as Qt reads them.
    void handWrittenTextReadsAsQtReadsIt_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("comments and blanks") << QByteArray("; note\n\n  [General]  \n a = 1 ; trailing\nb=\"x;y\"\n");
        QTest::newRow("no section header") << QByteArray("apps=Gimp:gimp\r\nwindow_size=300\r\n");
        QTest::newRow("continued line") << QByteArray("k=one\\\ntwo\nl=\"open\nquote\"\n");
        QTest::newRow("escapes") << QByteArray("k=\\x41\\101\\q\\x\\\"\\t \nm=\\U\nn=\\x00410\n");
        QTest::newRow("keys") << QByteArray("%41%U00e9=1\nx%4=2\n%=3\na\\b=4\n[s%20t]\nk=5\n[%general]\nk=6\n");
        QTest::newRow("lists") << QByteArray("l= a , b ,\"c \", @@d\nm=,\nn=@@x\n");
        QTest::newRow("no equals, no bracket") << QByteArray("junk line\n[unclosed\nk=v\n=novalue\n");
        QTest::newRow("carriage returns") << QByteArray("a=1\rb=2\n\rc=3");
        QTest::newRow("binary") << QByteArray("\x01\x02=\xff\xfe\x00\x80\n\x7f=\x1b[31m\n", 16);
    }

    void handWrittenTextReadsAsQtReadsIt()
    {
        QFETCH(QByteArray, text);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("hand.ini"));
        writeBytes(path, text);
        QSettings qt(path, QSettings::IniFormat);
        const QSettings::SettingsMap ours = readSettingsText(text);
        // Keys without a name ("", "a/") are dropped; "/a" and "a//b" are "a" and "a/b".
        QStringList reachable;
        for (const QString& key : qt.allKeys()) {
            if (!key.isEmpty() && !key.endsWith(QLatin1Char('/')))
                reachable.append(key);
        }
        QCOMPARE(QStringList(ours.keys()), reachable);
        for (const QString& key : qAsConst(reachable)) {
            const QVariant theirs = qt.value(key);
            if (theirs.userType() == QMetaType::QStringList)
                QCOMPARE(ours.value(key).toStringList(), theirs.toStringList());
            else
                QCOMPARE(ours.value(key).toString(), theirs.toString());
        }
    }

    // Writing what we read and reading it again changes nothing, so repeated
    // saves never drift or swallow a neighbouring key.
    void rewritingIsStable_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::newRow("unterminated quote at the end") << QByteArray("a=1\nb=@Variant(\"abc");
        QTest::newRow("backslash at the end") << QByteArray("b=@Rect(1 2 3 4)\\");
        QTest::newRow("quoted tab at the end") << QByteArray("t=\"x\\t\"\nu=1\n");
        QTest::newRow("empty list item") << QByteArray("l=,,\n");
        QTest::newRow("empty section name") << QByteArray("[]\nk=1\n[/]\nj=2\n[a//b]\nc/=3\n");
        QTest::newRow("section General and %General") << QByteArray("[GENERAL]\nk=1\n[%GENERAL]\nk=2\n");
    }

    void rewritingIsStable()
    {
        QFETCH(QByteArray, text);
        const QByteArray once = writeSettingsText(readSettingsText(text));
        const QByteArray twice = writeSettingsText(readSettingsText(once));
        QCOMPARE(twice, once);
        QCOMPARE(readSettingsText(once).keys(), readSettingsText(text).keys());
    }

    // Guards a hang at start-up: Qt opened a FIFO named config.ini for
    // reading and waited for a writer that never came. (A regression hangs
    // here until ctest's time limit ends the test.)
    void somethingOtherThanAFileIsLeftAlone()
    {
        QTemporaryDir dir;
        const QString fifo = dir.filePath(QStringLiteral("fifo.ini"));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        const QString folder = dir.filePath(QStringLiteral("folder.ini"));
        QVERIFY(QDir().mkpath(folder + QStringLiteral("/inside")));
        for (const QString& path : { fifo, folder }) {
            std::unique_ptr<QSettings> settings(openSettingsFile(path));
            QCOMPARE(settings->value(QStringLiteral("window_size"), 400).toInt(), 400);
            settings->setValue(QStringLiteral("window_size"), 300);
            settings->sync();
            // Kept in memory for the run.
            QCOMPARE(settings->value(QStringLiteral("window_size")).toInt(), 300);
        }
        QVERIFY(QFileInfo(fifo).exists() && !QFileInfo(fifo).isFile());
        QVERIFY(QFileInfo(folder + QStringLiteral("/inside")).isDir());
    }

    // The whole program on a damaged file: sound values, and the unknown key
    // and the damaged ones are still there after the program writes.
    void mainWindowStartsOnAHostileFile()
    {
        testSandbox().writeConfig("[General]\nwindow_size=" + kListBomb + "\napps=" + kListBomb
            + "\nPhotoshop=" + kListBomb + "\nforeign=" + kListBomb + "\n");
        {
            MainWindow window(nullptr, false, 0);
            QCOMPARE(Probe::windowSize(window), 400);
            QVERIFY(Probe::profiles(window).isEmpty());
            QCOMPARE(Probe::region(window, QStringLiteral("Photoshop")), (std::array<int, 4> { -1, -1, -1, -1 }));
            // The preview switch is written at once.
            QAction* preview = window.findChild<QToolBar*>(QStringLiteral("toolBar"))->actions().at(4);
            preview->trigger();
        }
        const QByteArray after = testSandbox().readFile(testSandbox().configFile());
        QVERIFY2(after.contains("foreign=" + kListBomb + "\n"), after.constData());
        QVERIFY(after.contains("window_size=" + kListBomb + "\n"));
        QVERIFY(after.contains("preview_enabled="));
    }
};

QTEST_MAIN(SettingsFileTest)
#include "test_settings_file.moc"
