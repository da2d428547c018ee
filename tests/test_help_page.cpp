// Where the Help action finds its page: beside the program in the build
// folder, in share/huelens once installed, whichever folder it is started from.
#include "shell/HelpPage.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

bool touch(const QString& path)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write("<html></html>") > 0;
}

} // namespace

class HelpPageTest : public QObject {
    Q_OBJECT

private slots:
    void foundBesideOrInstalled();
};

void HelpPageTest::foundBesideOrInstalled()
{
    QTemporaryDir root;
    QVERIFY(root.isValid());
    const QString bin = root.filePath(QStringLiteral("prefix/bin"));
    QVERIFY(QDir().mkpath(bin));
    const QString beside = bin + QStringLiteral("/help.html");
    const QString installed = root.filePath(QStringLiteral("prefix/share/huelens/help.html"));

    // Nowhere: the page beside the program is asked for, and opening it
    // fails quietly, as it always has.
    QCOMPARE(helpPagePath(bin), beside);

    // Installed: bin/../share/huelens, written without the "..".
    QVERIFY(touch(installed));
    QCOMPARE(helpPagePath(bin), installed);

    // A page beside the program (a build folder) comes first.
    QVERIFY(touch(beside));
    QCOMPARE(helpPagePath(bin), beside);
}

QTEST_GUILESS_MAIN(HelpPageTest)
#include "test_help_page.moc"
