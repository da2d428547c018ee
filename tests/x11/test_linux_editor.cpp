// A real Linux editor from Debian, darktable, on the test's private X server
// with openbox: Huelens recognises it by name, in the program as a user
// starts it and in the window built here, and keeps the region the user
// chooses for it from one start to the next.
#include "EndToEnd.h"

#include "capture/QSelectLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "platform/Desktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <opencv2/imgcodecs.hpp>

#include <memory>

struct LinuxEditorTag;
template <> struct MainWindowProbe<LinuxEditorTag> {
    static QString currentApp(MainWindow& w) { return w.currentApp; }
    static std::array<int, 4> region(MainWindow& w, const QString& name) { return w.appRegions.value(name); }
    static const cv::Mat& frame(MainWindow& w) { return w.frameImage; }
    static QSelectRegionWindow* regionWindow(MainWindow& w) { return w.regionWindow.data(); }
    static const std::string& windowClass(MainWindow& w) { return w.foregroundClass; }
};
using Probe = MainWindowProbe<LinuxEditorTag>;

class LinuxEditorTest : public QObject {
    Q_OBJECT

private:
    QTemporaryDir sandbox;
    e2e::WindowManager windowManager;
    QProcess darktable;
    unsigned long editorWindow = 0;

    bool activateEditor()
    {
        e2e::xdotool({ QStringLiteral("windowactivate"), QStringLiteral("--sync"), QString::number(editorWindow) });
        return e2e::waitFor(
            [this] { return e2e::xdotool({ QStringLiteral("getactivewindow") }).toULong() == editorWindow; });
    }

private slots:
    void initTestCase();
    void cleanupTestCase();

    void programNamesTheEditor();
    void regionChosenForTheEditorComesBack();
};

void LinuxEditorTest::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("darktable")).isEmpty())
        QSKIP("darktable is not installed (scripts/install-deps.sh installs it)");
    QVERIFY(sandbox.isValid());
    QVERIFY(windowManager.start());

    // A photograph for the darkroom: red on the left, blue on the right.
    cv::Mat photo(300, 400, CV_8UC3, cv::Scalar(0, 0, 220)); // B, G, R
    photo(cv::Rect(200, 0, 200, 300)).setTo(cv::Scalar(220, 0, 0));
    const QString photoPath = sandbox.filePath(QStringLiteral("photo.png"));
    QVERIFY(cv::imwrite(photoPath.toStdString(), photo));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), sandbox.filePath(QStringLiteral("home")));
    darktable.setProcessEnvironment(env);
    darktable.setProcessChannelMode(QProcess::MergedChannels);
    darktable.start(QStringLiteral("darktable"),
        { QStringLiteral("--configdir"), sandbox.filePath(QStringLiteral("config")), QStringLiteral("--cachedir"),
            sandbox.filePath(QStringLiteral("cache")), QStringLiteral("--library"), QStringLiteral(":memory:"),
            QStringLiteral("--disable-opencl"), photoPath });
    QVERIFY(darktable.waitForStarted(10000));

    // The first start of darktable builds its caches; give it time.
    QVERIFY2(e2e::waitFor(
                 [this] {
                     const QString found = e2e::xdotool({ QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                         QStringLiteral("--class"), QStringLiteral("^Darktable$") });
                     editorWindow = found.section(QLatin1Char('\n'), 0, 0).toULong();
                     return editorWindow != 0;
                 },
                 180000),
        darktable.readAll().constData());
    QVERIFY(activateEditor());
    const QString classText = e2e::run(
        { QStringLiteral("xprop"), QStringLiteral("-id"), QString::number(editorWindow), QStringLiteral("WM_CLASS") });
    QCOMPARE(classText, QStringLiteral("WM_CLASS(STRING) = \"darktable\", \"Darktable\""));
}

void LinuxEditorTest::cleanupTestCase()
{
    if (darktable.state() != QProcess::NotRunning) {
        darktable.terminate();
        if (!darktable.waitForFinished(10000)) {
            darktable.kill();
            darktable.waitForFinished(5000);
        }
    }
}

// The program, started as a user starts it while darktable is in front,
// names it in its title and in its application label.
void LinuxEditorTest::programNamesTheEditor()
{
    QVERIFY(activateEditor());
    const QString work = sandbox.filePath(QStringLiteral("work"));
    const QString data = sandbox.filePath(QStringLiteral("data"));
    QDir().mkpath(work);
    QDir().mkpath(data);
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), data);
    program.setProcessEnvironment(env);
    program.setWorkingDirectory(work);
    program.start(QStringLiteral(HUELENS_BINARY), QStringList());
    QVERIFY(program.waitForStarted());

    QString title;
    const bool shown = e2e::waitFor([&title] {
        const QString id = e2e::xdotool({ QStringLiteral("search"), QStringLiteral("--onlyvisible"),
            QStringLiteral("--name"), QStringLiteral("^Korvant Huelens 1\\.0: ") });
        if (id.isEmpty())
            return false;
        title = e2e::xdotool({ QStringLiteral("getwindowname"), id.section(QLatin1Char('\n'), 0, 0) });
        return true;
    });
    program.terminate();
    program.waitForFinished(5000);
    QVERIFY(shown);
    QCOMPARE(title, QStringLiteral("Korvant Huelens 1.0: darktable"));
}

// A region chosen while darktable is in front is stored under its name and
// is the one captured for it after the next start.
void LinuxEditorTest::regionChosenForTheEditorComesBack()
{
    QVERIFY(activateEditor());
    testSandbox().writeConfig(QByteArray());
    {
        MainWindow w(nullptr, false, 0);
        QCOMPARE(Probe::windowClass(w), std::string("darktable.Darktable"));
        QCOMPARE(Probe::currentApp(w), QStringLiteral("darktable"));

        w.selectRegion();
        QSelectRegionWindow* region = Probe::regionWindow(w);
        QVERIFY(region);
        auto* label = region->findChild<QSelectLabel*>();
        QVERIFY(label);
        // The 1600 x 900 screen is shown at 1200 x 675; a drag from (75, 75)
        // to (375, 225) selects screen pixels (100, 100) to (500, 300).
        QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(75, 75));
        QTest::mouseMove(label, QPoint(375, 225));
        QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(375, 225));
        QCOMPARE(Probe::currentApp(w), QStringLiteral("darktable"));
    }
    QCOMPARE(
        e2e::valueOnDisk(testSandbox().configFile(), QStringLiteral("darktable")), QStringLiteral("0|100|100|500|300"));

    QVERIFY(activateEditor());
    // darktable may still be drawing its darkroom; wait until that part of
    // the screen holds still.
    auto copyOfRegion = [] {
        cv::Mat pixels(200, 400, CV_8UC4);
        platform::desktop().copy(platform::Rect { 100, 100, 500, 300 }, 400, 200, pixels.data);
        return pixels;
    };
    cv::Mat screen = copyOfRegion();
    QVERIFY(e2e::waitFor(
        [&] {
            const cv::Mat next = copyOfRegion();
            const bool still = cv::norm(next, screen, cv::NORM_INF) == 0.0;
            screen = next;
            return still;
        },
        60000));

    MainWindow again(nullptr, false, 0);
    QCOMPARE(Probe::currentApp(again), QStringLiteral("darktable"));
    QCOMPARE(Probe::region(again, QStringLiteral("darktable")), (std::array<int, 4> { 100, 100, 500, 300 }));
    again.updateScreen();
    const cv::Mat& frame = Probe::frame(again);
    QCOMPARE(frame.cols, 400);
    QCOMPARE(frame.rows, 200);
    // The capture is that rectangle of darktable's window, pixel for pixel.
    QCOMPARE(cv::norm(frame, screen, cv::NORM_INF), 0.0);
    QVERIFY2(e2e::uniformColour(frame).startsWith(QLatin1String("not uniform")), "the capture shows no window");
}

QTEST_MAIN(LinuxEditorTest)
#include "test_linux_editor.moc"
