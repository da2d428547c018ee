// Under openbox: the real program following a rule typed into config.ini,
// and darktable recognised with its region kept from one start to the next.

#include "x11/EndToEnd.h"

#include "capture/QSelectLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "capture/RegionMath.h"
#include "platform/Desktop.h"
#include "shell/MainWindow.h"

#include <opencv2/imgcodecs.hpp>

struct OpenboxTag;
template <> struct MainWindowProbe<OpenboxTag> {
    static QString currentApp(MainWindow& w) { return w.currentApp; }
    static const cv::Mat& frame(MainWindow& w) { return w.frameImage; }
    static QSelectRegionWindow* regionWindow(MainWindow& w) { return w.regionWindow.data(); }
};
using Probe = MainWindowProbe<OpenboxTag>;
using e2e::ForeignWindow;

static bool activate(unsigned long id)
{
    e2e::xdotool({ "windowactivate", "--sync", QString::number(id) });
    return QTest::qWaitFor([id] { return e2e::xdotool({ "getactivewindow" }).toULong() == id; });
}

class OpenboxTest : public QObject {
    Q_OBJECT

    QTemporaryDir sandbox;
    QProcess openbox;

private slots:
    void initTestCase()
    {
        openbox.start("openbox", { "--sm-disable" });
        QVERIFY(QTest::qWaitFor([] {
            return e2e::run({ "xprop", "-root", "_NET_SUPPORTING_WM_CHECK" }).contains(QLatin1String("window id"));
        }));
    }
    void cleanupTestCase() { e2e::stop(openbox); }

    // config.ini holds one line typed by hand, no section header.
    void followsTheWindowOfARuleTypedIntoConfig()
    {
        ForeignWindow editor("myeditor", "Editor", "holiday picture", QColor(0xa0a020u), QPoint(0, 0));
        ForeignWindow photoshop("ps", "PhotoshopThing", "Untitled-1", QColor(0xd04020u), QPoint(500, 0));
        QVERIFY(editor.waitUntilMapped() && photoshop.waitUntilMapped());

        QVERIFY(activate(editor.id));
        e2e::Program program(sandbox.path(), "apps=MyEditor:myeditor\n");
        QVERIFY(program.waitForWindow());
        QCOMPARE(program.title(), QStringLiteral("Korvant Huelens 1.0: MyEditor"));
        program.click(12, 12); // start capturing: the cycle runs by itself
        QTRY_VERIFY(program.cyclesLogged() > 5);

        QVERIFY(activate(photoshop.id));
        QTRY_COMPARE(program.title(), QStringLiteral("Korvant Huelens 1.0: Photoshop"));
        QVERIFY(activate(editor.id));
        QTRY_COMPARE(program.title(), QStringLiteral("Korvant Huelens 1.0: MyEditor"));
    }

    // A still screen rests: the running program stops cycling until the
    // screen, the window in front or its own window changes, and each of
    // them wakes it at once.
    void aRestingProgramWakesForEachChange()
    {
        ForeignWindow editor("myeditor", "Editor", "still picture", QColor(0x20a0a0u), QPoint(0, 0));
        QVERIFY(editor.waitUntilMapped());
        QVERIFY(activate(editor.id));
        QTemporaryDir folder;
        e2e::Program program(folder.path(), "apps=MyEditor:myeditor\n");
        QVERIFY(program.waitForWindow());
        program.click(12, 12);
        const auto log = [&] { return testSandbox().readFile(program.log); };
        const auto rests = [&] { return log().count("UPD rest\n"); };
        const auto wakes = [&] { return log().count("UPD wake\n"); };
        QTRY_VERIFY_WITH_TIMEOUT(rests() >= 1, 10000);
        // The pointer off the toolbar, whose tool-tip would wake the cycle
        // when it shows, onto the captured monitor: its motion wakes it too.
        int woken = wakes();
        program.xdotool({ "mousemove", "800", "450" });
        QTRY_VERIFY_WITH_TIMEOUT(wakes() > woken, 20000);
        // At rest nothing runs.
        QTRY_VERIFY_WITH_TIMEOUT(rests() > wakes(), 20000);
        int cycles = program.cyclesLogged();
        QTest::qWait(500);
        QCOMPARE(program.cyclesLogged(), cycles);

        // Another program draws over the captured monitor.
        woken = wakes();
        ForeignWindow viewer("viewer", "Viewer", "new picture", QColor(0xc03070u), QPoint(300, 200));
        QVERIFY(viewer.waitUntilMapped());
        QTRY_VERIFY_WITH_TIMEOUT(wakes() > woken, 20000);

        // Another window in front.
        QVERIFY(activate(viewer.id));
        QTRY_VERIFY_WITH_TIMEOUT(rests() > wakes(), 20000);
        woken = wakes();
        QVERIFY(activate(editor.id));
        QTRY_VERIFY_WITH_TIMEOUT(wakes() > woken, 20000);

        // A key in the program's own window.
        QVERIFY(activate(program.id.toULong()));
        QTRY_VERIFY_WITH_TIMEOUT(rests() > wakes(), 20000);
        woken = wakes();
        program.xdotool({ "key", "z" });
        QTRY_VERIFY_WITH_TIMEOUT(wakes() > woken, 20000);
        QCOMPARE(program.process.state(), QProcess::Running);
    }

    // The region window's picture is the screen as it was before the window
    // appeared: it never holds the window's own frame or an empty window. (A
    // race: while the window was shown, hidden and the screen read at once,
    // this caught it in about one run of two; test_region_window holds the order.)
    void regionPictureNeverHoldsTheRegionWindow()
    {
        ForeignWindow viewer("viewer", "Viewer", "picture", QColor(0x3070c0u), QPoint(0, 0));
        QVERIFY(viewer.waitUntilMapped());
        QVERIFY(activate(viewer.id));
        testSandbox().writeConfig(QByteArray());
        MainWindow w(nullptr, false, 0);
        w.move(1000, 300);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        for (int attempt = 0; attempt < 10; ++attempt) {
            QTest::qWait(300);
            cv::Mat screen(900, 1600, CV_8UC4);
            platform::desktop().copy({ 0, 0, 1600, 900 }, 1600, 900, screen.data);
            scaleScreenshotForDisplay(screen);
            w.selectRegion();
            QSelectRegionWindow* window = Probe::regionWindow(w);
            QVERIFY(window);
            QImage shown = window->findChild<QSelectLabel*>()->pixmap(Qt::ReturnByValue).toImage();
            shown = shown.convertToFormat(QImage::Format_ARGB32);
            const cv::Mat picture(shown.height(), shown.width(), CV_8UC4, shown.bits(), shown.bytesPerLine());
            QCOMPARE(picture.size(), screen.size());
            QVERIFY2(cv::norm(picture, screen, cv::NORM_INF) == 0.0, qPrintable(QString::number(attempt)));
            window->close();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        }
    }

    void darktableIsRecognisedAndKeepsItsRegion()
    {
        if (QStandardPaths::findExecutable("darktable").isEmpty())
            QSKIP("darktable is not installed (scripts/install-deps.sh installs it)");
        // A photograph for the darkroom: red on the left, blue on the right.
        cv::Mat photo(300, 400, CV_8UC3, cv::Scalar(0, 0, 220)); // B, G, R
        photo(cv::Rect(200, 0, 200, 300)).setTo(cv::Scalar(220, 0, 0));
        QVERIFY(cv::imwrite(sandbox.filePath("photo.png").toStdString(), photo));
        QProcess darktable;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", sandbox.filePath("home"));
        darktable.setProcessEnvironment(env);
        darktable.setProcessChannelMode(QProcess::MergedChannels);
        darktable.start("darktable",
            { "--configdir", sandbox.filePath("config"), "--cachedir", sandbox.filePath("cache"), "--library",
                ":memory:", "--disable-opencl", sandbox.filePath("photo.png") });
        // The first start builds darktable's caches; give it time.
        const unsigned long editor = e2e::waitForWindow({ "--class", "^Darktable$" }, 180000);
        QVERIFY2(editor, darktable.readAll().constData());
        QVERIFY(activate(editor));

        testSandbox().writeConfig(QByteArray());
        {
            MainWindow w(nullptr, false, 0);
            QCOMPARE(w.windowTitle(), QStringLiteral("Korvant Huelens 1.0: darktable"));
            w.selectRegion();
            QVERIFY(Probe::regionWindow(w));
            auto* label = Probe::regionWindow(w)->findChild<QSelectLabel*>();
            // Shown at 0.75: a drag over (75, 75)-(375, 225) selects screen (100, 100)-(500, 300).
            QTest::mousePress(label, Qt::LeftButton, Qt::NoModifier, QPoint(75, 75));
            QTest::mouseMove(label, QPoint(375, 225));
            QTest::mouseRelease(label, Qt::LeftButton, Qt::NoModifier, QPoint(375, 225));
        }
        QCOMPARE(e2e::valueOnDisk("darktable"), QStringLiteral("0|100|100|500|300"));

        QVERIFY(activate(editor));
        MainWindow again(nullptr, false, 0);
        QCOMPARE(Probe::currentApp(again), QStringLiteral("darktable"));
        // That rectangle as the screen holds it (darktable may still be drawing).
        cv::Mat screen(200, 400, CV_8UC4);
        QTRY_VERIFY_WITH_TIMEOUT(
            (again.updateScreen(), platform::desktop().copy({ 100, 100, 500, 300 }, 400, 200, screen.data),
                Probe::frame(again).size() == screen.size()
                    && cv::norm(Probe::frame(again), screen, cv::NORM_INF) == 0.0),
            60000);
        QCOMPARE(e2e::uniformColour(Probe::frame(again)), QStringLiteral("not uniform"));
        e2e::stop(darktable);
    }
};

QTEST_MAIN(OpenboxTest)
#include "test_openbox.moc"
