// config.ini as untrusted input, and Qt's own INI reader and ours agreeing on
// everything the program stores.
#include "apps/SettingsFile.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolBar>
#include <QtTest>

#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

// The folders this process syncs while `recordFolderSyncs` is set: the
// store's fsync calls come here, and go on to the kernel.
namespace {
bool recordFolderSyncs = false;
QStringList syncedFolders;
} // namespace

extern "C" int fsync(int fd)
{
    struct stat status;
    if (recordFolderSyncs && ::fstat(fd, &status) == 0 && S_ISDIR(status.st_mode)) {
        char target[4096];
        const ssize_t n
            = ::readlink(QByteArray("/proc/self/fd/" + QByteArray::number(fd)).constData(), target, sizeof target);
        if (n > 0)
            syncedFolders.append(QFile::decodeName(QByteArray(target, int(n))));
    }
    return int(::syscall(SYS_fsync, fd));
}

namespace {

// A list header claiming 0x7fffffff strings.
const QByteArray kListBomb = R"(@Variant(\0\0\0\v\x7f\xff\xff\xff))";

// Lists compare as lists, everything else as text.
bool sameValue(const QVariant& value, const QVariant& expected)
{
    return expected.userType() == QMetaType::QStringList ? value.toStringList() == expected.toStringList()
                                                         : value.toString() == expected.toString();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), qint64(bytes.size()));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class SettingsFileTest : public QObject {
    Q_OBJECT
private slots:
    // Guards the start-up crash: Qt's INI reader decoded this value through
    // QDataStream and threw bad_alloc at every start. Typed values are never
    // decoded; they and the keys the program does not use are written back.
    void hostileFileIsReadAndKept()
    {
        const QByteArray kept[] = { "foreign=" + kListBomb, "mixed=a, " + kListBomb, "window_size=" + kListBomb,
            "[other]\nx=" + kListBomb };
        testSandbox().writeConfig("[General]\napps=" + kListBomb + "\nPhotoshop=" + kListBomb + "\n" + kept[0] + "\n"
            + kept[1] + "\n" + kept[2] + "\n" + kept[3] + "\n");
        {
            MainWindow window(nullptr, false, 0);
            QCOMPARE(window.width(), 400);
            // The preview switch is written at once.
            for (QAction* action : window.findChild<QToolBar*>(QStringLiteral("toolBar"))->actions())
                if (action->text() == QLatin1String("Hide preview"))
                    action->trigger();
        }
        const QByteArray after = testSandbox().readFile(testSandbox().configFile());
        QVERIFY2(after.contains("preview_enabled="), after.constData());
        for (const QByteArray& line : kept)
            QVERIFY2(after.contains(line + "\n"), after.constData());
    }

    // What we write, Qt reads the same, and the other way round.
    void agreesWithQtsIniFormat()
    {
        const QVariantMap values {
            { "apps", "Gimp:gimp::\n Dark table :darktable:\t:/usr/bin/darktable\n\n" },
            { "window_size", 350 },
            { "preview_enabled", false },
            { QStringLiteral("Caf\u00e9 \u6f22\u5b57 \U0001F3A8"), QStringLiteral("\u00e9\u6f22\U0001F3A8 x4") },
            { "semi;comma,equals=quote\"back\\slash", "a;b,c=d\"e\\f" },
            { "blanks", "  both ends\t" },
            { "at sign", "@Variant(not really)" },
            { "controls", QStringLiteral("\u00010a\u001f\u007fF\r\n\v\f\a\b") },
            { "empty", QString() },
            { "group/inner key", "in a section" },
            { "General/odd", "section named General" },
            { "list", QStringList { "a", " b ", "@c" } },
            { "empty list", QStringList() },
        };
        QTemporaryDir dir;
        const QString ours = dir.filePath(QStringLiteral("ours.ini"));
        const QString theirs = dir.filePath(QStringLiteral("theirs.ini"));
        {
            std::unique_ptr<SettingsFile> settings(openSettingsFile(ours));
            QSettings qt(theirs, QSettings::IniFormat);
            for (auto it = values.cbegin(); it != values.cend(); ++it) {
                settings->setValue(it.key(), it.value());
                qt.setValue(it.key(), it.value());
            }
        }
        // Qt reads a copy: QSettings objects on one path share what was read.
        QVERIFY(QFile::copy(ours, dir.filePath(QStringLiteral("copy.ini"))));
        const QSettings qtReads(dir.filePath(QStringLiteral("copy.ini")), QSettings::IniFormat);
        const QSettings::SettingsMap weRead = readSettingsText(testSandbox().readFile(theirs));
        QCOMPARE(qtReads.allKeys().size(), values.size());
        QCOMPARE(weRead.size(), values.size());
        for (auto it = values.cbegin(); it != values.cend(); ++it) {
            QVERIFY2(sameValue(qtReads.value(it.key()), it.value()), qPrintable(it.key()));
            QVERIFY2(sameValue(weRead.value(it.key()), it.value()), qPrintable(it.key()));
        }
    }

    // Hand-written and damaged files read as Qt reads them, and repeated saves
    // never drift or swallow a neighbouring key.
    void handWrittenText_data()
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
        // Guards rules lost from hand-written files: the indented key after a
        // comment was read with its blanks, and a comment ran past a lone
        // carriage return; values after a byte-order mark are UTF-8.
        QTest::newRow("indented line after a comment")
            << QByteArray("[General]\n; my rules\n    apps=MyEditor:myeditor\n");
        QTest::newRow("indented line after a trailing comment")
            << QByteArray("[General]\nwindow_size=300 ; note\n\t apps=MyEditor:myeditor\n");
        QTest::newRow("comments ended by carriage returns") << QByteArray("a=1\r; c\rb=2\r;d\r  c=3\r");
        QTest::newRow("byte-order mark") << QByteArray(
            "\xef\xbb\xbf[General]\napps=Caf\xc3\xa9:x\nCaf\xc3\xa9=\"\xc3\xa9\\x41\", \xc3\xa9\xff\n");
        QTest::newRow("binary") << QByteArray("\x01\x02=\xff\xfe\x00\x80\n\x7f=\x1b[31m\n", 16);
        QTest::newRow("empty list item") << QByteArray("l=,,\n");
        // Qt writes text holding a NUL character as "@String(...)".
        QTest::newRow("text with a NUL") << QByteArray("k=@String(\\0a)\nl=x, @String(b\\0)\n");
        QTest::newRow("section General and %General") << QByteArray("[GENERAL]\nk=1\n[%GENERAL]\nk=2\n");
        QTest::newRow("quoted tab at the end") << QByteArray("t=\"x\\t\"\nu=1\n");
        QTest::newRow("empty section name") << QByteArray("[]\nk=1\n[/]\nj=2\n[a//b]\nc/=3\n");
        QTest::newRow("unterminated quote at the end") << QByteArray("a=1\nb=@Variant(\"abc");
        QTest::newRow("backslash at the end") << QByteArray("b=@Rect(1 2 3 4)\\");
        // Guards a key read from the wrong section: one key spelled in two
        // sections took the value read last in the file, where QSettings reads
        // [General] first and then the other sections in the order of their names.
        QTest::newRow("one key in two sections") << QByteArray("[a]\nb=2\n[General]\na\\b=1\n");
        QTest::newRow("sections in name order") << QByteArray("[a%2Fb]\nc=1\n[a]\nb\\c=2\n[z]\nk=1\n[Z]\nk=2\n");
        // Guards values moved to another key by a save: QSettings reads the
        // digits of "%XX" and "%UXXXX" as QByteArray::toInt(16) does (blanks,
        // a sign, "0x"); we kept such escapes as text, and wrote them as "%25".
        static const char loose[] = "%+a=1\n%U0x41=2\n% a=3\n%-1=4\n%U+fff=5\n%a =6\n%4 =7\n%U 0x4=8\n[% 41]\nk=9\n"
                                    "[%U-001]\nk=10\n%a\0=11\n%\0a=12\n%U0X4g=13\n";
        QTest::newRow("loose escapes in keys") << QByteArray(loose, sizeof loose - 1);
        // Guards text read as empty: a rectangle, size or point with another
        // number of arguments than it takes is text to QSettings.
        QTest::newRow("typed forms with the wrong argument count")
            << QByteArray("r=@Rect()\ns=@Size(1)\np=@Point(1 2 3)\nq=@Rect(1  2 3)\nt=@Rect(1)2 3 4)\nu=@Size(1 2)\n"
                          "v=x, @Size(1)\nw=@Point(1,2,3)\nx=@Point()\ny=@Size(1 2 )\n");
        QTest::newRow("a section twice") << QByteArray("[a]\nk=1\n[b]\nk=2\n[a]\nk=3\n");
    }

    void handWrittenText()
    {
        QFETCH(QByteArray, text);
        const QSettings::SettingsMap ours = readSettingsText(text);
        const QByteArray once = writeSettingsText(ours);
        QCOMPARE(writeSettingsText(readSettingsText(once)), once);
        QCOMPARE(readSettingsText(once).keys(), ours.keys());
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("hand.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) == text.size());
        file.close();
        const QSettings qt(file.fileName(), QSettings::IniFormat);
        QCOMPARE(QStringList(ours.keys()), qt.allKeys());
        for (const QString& key : qt.allKeys()) {
            if (!key.isEmpty() && key == normalisedSettingsKey(key)) // else no call reaches it
                QVERIFY2(sameValue(ours.value(key), qt.value(key)), qPrintable(key));
        }
    }

    // Guards rules replaced by a line no QSettings call reads: "apps" after a
    // "[]" header is the key "/apps", but it was read as "apps", won over the
    // real one and was saved in its place. Such a line is read as QSettings
    // reads it, reached by no key, and kept where a save leaves it unreached.
    void keysNoCallReachesNeitherWinNorVanish_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("real"); // null: no such key
        QTest::addColumn<QString>("unreached");
        QTest::newRow("after []") << QByteArray("apps=Gimp:gimp\n[]\napps=Evil:evil\n") << "apps"
                                  << "Gimp:gimp"
                                  << "/apps";
        QTest::newRow("after [") << QByteArray("apps=Gimp:gimp\n[\napps=Evil:evil\n") << "apps"
                                 << "Gimp:gimp"
                                 << "/apps";
        QTest::newRow("backslash first") << QByteArray("window_size=300\n\\window_size=150\n") << "window_size"
                                         << "300"
                                         << "/window_size";
        QTest::newRow("%2F first") << QByteArray("window_size=300\n%2Fwindow_size=150\n") << "window_size"
                                   << "300"
                                   << "/window_size";
        QTest::newRow("after [/]") << QByteArray("[/]\napps=Evil:evil\n[General]\napps=Gimp:gimp\n") << "apps"
                                   << "Gimp:gimp"
                                   << "//apps";
        QTest::newRow("after [%2F]") << QByteArray("[%2F]\napps=Evil:evil\n[General]\napps=Gimp:gimp\n") << "apps"
                                     << "Gimp:gimp"
                                     << "//apps";
        QTest::newRow("doubled slash") << QByteArray("[a]\nb=1\n\\b=2\n") << "a/b"
                                       << "1"
                                       << "a//b";
        QTest::newRow("trailing slash") << QByteArray("a%2F=1\n") << "a" << QString() << "a/";
        QTest::newRow("no name") << QByteArray("=1\n") << "x" << QString() << "";
        QTest::newRow("no real key") << QByteArray("[]\napps=Evil:evil\n") << "apps" << QString() << "/apps";
    }

    void keysNoCallReachesNeitherWinNorVanish()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, key);
        QFETCH(QString, real);
        QFETCH(QString, unreached);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.ini"));
        writeFile(path, text);
        QVERIFY(QFile::copy(path, dir.filePath(QStringLiteral("original.ini"))));
        const QSettings before(dir.filePath(QStringLiteral("original.ini")), QSettings::IniFormat);
        {
            SettingsFile settings(path);
            QCOMPARE(settings.value(key).toString(), real);
            QCOMPARE(settings.contains(key), !real.isNull());
            QCOMPARE(settings.allKeys(), before.allKeys());
            settings.setValue(QStringLiteral("preview_enabled"), false);
            QVERIFY(settings.sync());
        }
        QVERIFY(QFile::copy(path, dir.filePath(QStringLiteral("saved.ini"))));
        const QSettings after(dir.filePath(QStringLiteral("saved.ini")), QSettings::IniFormat);
        QCOMPARE(after.value(key).toString(), real);
        QCOMPARE(after.contains(key), !real.isNull());
        QStringList keys = before.allKeys();
        keys.append(QStringLiteral("preview_enabled"));
        keys.sort();
        QCOMPARE(after.allKeys(), keys);
        // The line itself, with its value.
        const QSettings::SettingsMap saved = readSettingsText(readFile(path));
        QCOMPARE(saved.value(unreached), readSettingsText(text).value(unreached));
        QVERIFY(saved.contains(unreached));
    }

    // Qt keeps the mark in the first key when no section header comes
    // first, so a rule list saved by a Windows editor was lost; we do not.
    void byteOrderMarkBeforeTheFirstKey()
    {
        const QSettings::SettingsMap map = readSettingsText("\xef\xbb\xbf" "apps=Caf\xc3\xa9:x\n");
        QCOMPARE(map.keys(), QStringList { "apps" });
        QCOMPARE(map.value("apps").toString(), QStringLiteral("Caf\u00e9:x"));
    }

    // Guards a hang (a FIFO at the path blocked every read and write) and a
    // lost file (one of 2 GiB read as empty, then replaced by a few keys).
    // Whether there at start or put there while running, such a path is
    // never opened in a way that can block and never written; the settings
    // live in memory, and are saved once a regular file is back.
    void somethingOtherThanAFileIsLeftAlone_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("atStart");
        for (const char* kind : { "fifo", "folder", "2 GiB file" }) {
            QTest::newRow(qPrintable(QStringLiteral("%1 at start").arg(kind))) << QString(kind) << true;
            QTest::newRow(qPrintable(QStringLiteral("%1 while running").arg(kind))) << QString(kind) << false;
        }
    }

    void somethingOtherThanAFileIsLeftAlone()
    {
        QFETCH(QString, kind);
        QFETCH(bool, atStart);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.ini"));
        const auto putThere = [&] {
            QFile::remove(path);
            if (kind == "fifo") {
                QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
            } else if (kind == "folder") {
                QVERIFY(QDir().mkpath(path + QStringLiteral("/inside")));
            } else {
                writeFile(path, "[General]\nwindow_size=300\n");
                QVERIFY(QFile(path).resize(qint64(2) << 30)); // sparse
            }
        };
        const auto untouched = [&] {
            const QFileInfo info(path);
            if (kind == "fifo")
                return info.exists() && !info.isFile() && !info.isDir();
            if (kind == "folder")
                return QFileInfo(path + QStringLiteral("/inside")).isDir();
            QFile file(path);
            return info.size() == (qint64(2) << 30) && file.open(QIODevice::ReadOnly)
                && file.read(26) == "[General]\nwindow_size=300\n";
        };

        if (atStart)
            putThere();
        else
            writeFile(path, "[General]\nwindow_size=350\n");
        SettingsFile settings(path);
        QSignalSpy failed(&settings, &SettingsFile::saveFailed);
        if (!atStart) {
            putThere();
            QVERIFY(settings.sync()); // nothing to write; what is there is not read
        }
        QCOMPARE(settings.value(QStringLiteral("window_size"), 400).toInt(), atStart ? 400 : 350);
        settings.setValue(QStringLiteral("window_size"), 250);
        QVERIFY(!settings.sync());
        QCOMPARE(settings.value(QStringLiteral("window_size")).toInt(), 250);
        QCOMPARE(failed.count(), 1);
        QVERIFY2(untouched(), qPrintable(kind));
        QVERIFY(!settings.saveError().isEmpty());
        if (atStart)
            return; // never written in this run
        QVERIFY(QFileInfo(path).isDir() ? QDir(path).removeRecursively() : QFile::remove(path));
        writeFile(path, "[General]\nother=1\n");
        QVERIFY(settings.sync());
        QCOMPARE(readFile(path), QByteArray("[General]\nother=1\nwindow_size=250\n"));
        QVERIFY(settings.saveError().isEmpty());
    }

    // Guards a hang: with config.ini.lock a folder, a FIFO or a dangling link,
    // the first save waited for the lock for good. A lock that is not a file,
    // or one held too long, skips the write; the next one tries again.
    void lockThatCannotBeTaken_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char* kind : { "folder", "fifo", "dangling link", "held" })
            QTest::newRow(kind) << QString(kind);
    }

    void lockThatCannotBeTaken()
    {
        QFETCH(QString, kind);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.ini"));
        const QString lockPath = path + QStringLiteral(".lock");
        const QByteArray stored = "[General]\nwindow_size=350\n";
        writeFile(path, stored);
        SettingsFile settings(path);
        std::unique_ptr<QLockFile> holder;
        if (kind == "folder")
            QVERIFY(QDir().mkdir(lockPath));
        else if (kind == "fifo")
            QCOMPARE(::mkfifo(QFile::encodeName(lockPath).constData(), 0600), 0);
        else if (kind == "dangling link")
            QVERIFY(QFile::link(dir.filePath(QStringLiteral("nowhere")), lockPath));
        else {
            holder = std::make_unique<QLockFile>(lockPath);
            QVERIFY(holder->lock());
        }
        settings.setValue(QStringLiteral("window_size"), 250);
        QVERIFY(!settings.sync()); // a regression never returns
        QCOMPARE(readFile(path), stored);
        QCOMPARE(settings.value(QStringLiteral("window_size")).toInt(), 250);
        QVERIFY(QFileInfo(lockPath).isSymLink() || QFileInfo(lockPath).exists());

        if (holder)
            holder->unlock();
        else
            QVERIFY(QFileInfo(lockPath).isDir() ? QDir().rmdir(lockPath) : QFile::remove(lockPath));
        QVERIFY(settings.sync());
        QCOMPARE(readFile(path), QByteArray("[General]\nwindow_size=250\n"));
    }

    // Guards settings lost between two running instances: a store noticed
    // another's write only by the file's size and modification time, so a
    // write of the same size within the same clock tick was missed, and the
    // next save wrote the old value back over it (960 of 1,000 alternating
    // saves on tmpfs, whose clock is coarse next to such writes). Each save
    // keeps what the other wrote, and each store reads it.
    void twoInstancesKeepEachOthersWrites()
    {
        QTemporaryDir dir(QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm/huelens-XXXXXX")
                                                                    : QDir::tempPath() + "/huelens-XXXXXX");
        QVERIFY(dir.isValid());
        const QString path = dir.filePath(QStringLiteral("config.ini"));
        SettingsFile one(path), other(path);
        int lost = 0;
        for (int i = 1000; i < 2000; ++i) {
            const QString value = QString::number(i);
            one.setValue(QStringLiteral("one"), value);
            QVERIFY(one.sync());
            other.setValue(QStringLiteral("other"), value);
            QVERIFY(other.sync());
            const QSettings::SettingsMap onDisk = readSettingsText(readFile(path));
            lost += onDisk.value(QStringLiteral("one")) != value || onDisk.value(QStringLiteral("other")) != value
                || other.value(QStringLiteral("one")) != value;
            QVERIFY(one.sync()); // nothing to write: reads what the other wrote
            lost += one.value(QStringLiteral("other")) != value;
        }
        QCOMPARE(lost, 0);
    }

    // Guards a rename that a power cut could undo: with config.ini a
    // symbolic link, the new file is renamed beside the link's target, but
    // the folder synced after it was the link's own.
    void folderOfTheRenameIsSynced()
    {
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("real")) && QDir(dir.path()).mkpath(QStringLiteral("links")));
        const QString target = dir.filePath(QStringLiteral("real/config.ini"));
        const QString link = dir.filePath(QStringLiteral("links/config.ini"));
        writeFile(target, "[General]\nwindow_size=300\n");
        QVERIFY(QFile::link(target, link));
        SettingsFile settings(link);
        settings.setValue(QStringLiteral("window_size"), 250);
        syncedFolders.clear();
        recordFolderSyncs = true;
        const bool saved = settings.sync();
        recordFolderSyncs = false;
        QVERIFY(saved);
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readFile(target), QByteArray("[General]\nwindow_size=250\n"));
        QCOMPARE(syncedFolders, QStringList { QFileInfo(dir.filePath(QStringLiteral("real"))).canonicalFilePath() });
    }

    // Guards a wiped config.ini: a write that failed (a full disk) still
    // replaced the file with what had been written, often nothing. Here the
    // file size limit fails the write part-way, as a full disk does.
    void failedWriteKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("config.ini"));
        const QByteArray stored = "[General]\nwindow_size=300\nPhotoshop=0|1|2|3|4\nlong=" + QByteArray(8000, 'x') + "\n";
        writeFile(path, stored);
        SettingsFile settings(path);
        QSignalSpy failed(&settings, &SettingsFile::saveFailed);
        QSignalSpy recovered(&settings, &SettingsFile::saveRecovered);
        settings.setValue(QStringLiteral("apps"), QString(4000, QLatin1Char('a')) + QStringLiteral(":a"));

        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit oldLimit {};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &oldLimit), 0);
        rlimit limit = oldLimit;
        limit.rlim_cur = 4096;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        const bool saved = settings.sync();
        ::setrlimit(RLIMIT_FSIZE, &oldLimit);
        std::signal(SIGXFSZ, oldHandler);

        QVERIFY(!saved);
        QCOMPARE(readFile(path), stored);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList { "config.ini" });
        QCOMPARE(failed.count(), 1);
        QVERIFY2(settings.saveError().contains(QLatin1String("config.ini")), qPrintable(settings.saveError()));
        QCOMPARE(settings.value(QStringLiteral("apps")).toString().size(), 4002);

        QVERIFY(settings.sync());
        QCOMPARE(recovered.count(), 1);
        const QSettings::SettingsMap now = readSettingsText(readFile(path));
        QCOMPARE(now.value(QStringLiteral("apps")).toString().size(), 4002);
        QCOMPARE(now.value(QStringLiteral("Photoshop")).toString(), QStringLiteral("0|1|2|3|4"));
    }

    // The same on a real full disk: a 64 KiB tmpfs with one page free.
    void fullDiskKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QByteArray mountPoint = QFile::encodeName(dir.path());
        if (::mount("tmpfs", mountPoint.constData(), "tmpfs", 0, "size=64k") != 0)
            QSKIP(qPrintable(QStringLiteral("mounting a small tmpfs needs root (%1); "
                                            "the failed write is still tested by failedWriteKeepsTheOldFile")
                                 .arg(qt_error_string(errno))));
        struct Unmount {
            QByteArray path;
            ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
        } unmount { mountPoint };

        const QString path = dir.filePath(QStringLiteral("config.ini"));
        const QByteArray stored = "[General]\nwindow_size=300\nlong=" + QByteArray(8000, 'x') + "\n";
        writeFile(path, stored);
        writeFile(dir.filePath(QStringLiteral("filler")), QByteArray(13 * 4096, 'f')); // one page left
        SettingsFile settings(path);
        settings.setValue(QStringLiteral("apps"), QString(6000, QLatin1Char('a')) + QStringLiteral(":a"));
        QVERIFY(!settings.sync());
        QCOMPARE(readFile(path), stored);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System),
            (QStringList { "config.ini", "filler" }));

        QVERIFY(QFile::remove(dir.filePath(QStringLiteral("filler"))));
        QVERIFY(settings.sync());
        QCOMPARE(readSettingsText(readFile(path)).value(QStringLiteral("apps")).toString().size(), 6002);
    }
};

QTEST_MAIN(SettingsFileTest)
#include "test_settings_file.moc"
