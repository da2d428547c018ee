// The tool window on the in-memory desktop: its settings, buttons, keys and log.
#include "capture/QClickLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QClipboard>
#include <QDesktopServices>
#include <QLabel>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QtTest>

#include <memory>

struct ShellTag;
template <> struct MainWindowProbe<ShellTag> {
    static double scopeRadius(MainWindow& w) { return w.scopeRadius; }
    static int sliderLength(MainWindow& w) { return w.sliderLength; }
    static bool hasScreenService(MainWindow& w) { return w.screenService != nullptr; }
    static QTimer* updateTimer(MainWindow& w) { return w.updateTimer; }
    static int displayMode(MainWindow& w) { return w.displayMode; }
    static int dominantHueCount(MainWindow& w) { return w.dominantHueCount; }
    static const cv::Mat& scopeImage(MainWindow& w) { return w.scopeImage; }
    static QMainWindow* settingsWindow(MainWindow& w) { return w.settingsWindow.data(); }
    static QSelectRegionWindow* regionWindow(MainWindow& w) { return w.regionWindow.data(); }
};
using Probe = MainWindowProbe<ShellTag>;

class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

namespace {

// A line of config.ini's [General] and the window it gives: the scope radius
// is (size / 2) * 0.75 with the halving in integers, the sliders size / 2 - 15.
struct Shape {
    const char* settings;
    int size, barHeight, iconSize;
    bool helpShown;
    double radius;
    int slider;
    bool preview;
};

auto makeWindow(bool debug = false, int skip = 0)
{
    return std::make_unique<MainWindow>(nullptr, debug, skip);
}

bool activate(QWidget& w)
{
    w.show();
    QApplication::setActiveWindow(&w);
    return QTest::qWaitForWindowActive(&w);
}

QStringList logLines()
{
    const QString text = QString::fromUtf8(testSandbox().readFile(QStringLiteral("log.txt")));
    return text.isEmpty() ? QStringList() : text.chopped(1).split(QLatin1Char('\n'));
}

void press(QWidget& window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(&window, key, modifiers);
    QCoreApplication::processEvents();
}

QClickLabel* samplePicture()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("sampleLabel") && widget->isVisible())
            return qobject_cast<QClickLabel*>(widget);
    return nullptr;
}

} // namespace

Q_DECLARE_METATYPE(Shape)

class MainWindowTest : public QObject {
    Q_OBJECT

    static QAction* tool(MainWindow& w, int index) { return w.findChild<QToolBar*>()->actions().at(index); }
    template <class T = QLabel> static T* child(MainWindow& w, const char* name)
    {
        return w.findChild<T*>(QLatin1String(name));
    }
    static QString infoText(MainWindow& w) { return child(w, "infoLabel")->text(); }

private slots:
    void init()
    {
        QFile::remove(testSandbox().configFile());
        QFile::remove(QStringLiteral("log.txt"));
        platform::memoryDesktop().reset(320, 180, cv::Scalar(0, 0, 255)); // red
    }

    void settingsShapeTheWindow_data()
    {
        QTest::addColumn<Shape>("shape");
        const Shape shapes[] = {
            { "", 400, 24, 16, true, 150.0, 185, true },
            { "window_size=0", 400, 24, 16, true, 150.0, 185, true },
            { "window_size=100", 150, 18, 14, false, 56.25, 60, true },
            { "window_size=149", 150, 18, 14, false, 56.25, 60, true },
            { "window_size=151", 151, 18, 14, false, 56.25, 60, true },
            { "window_size=199", 199, 18, 14, false, 74.25, 84, true },
            { "window_size=200", 200, 24, 16, true, 75.0, 85, true },
            { "window_size=601", 600, 24, 16, true, 225.0, 285, true },
            { "window_size=-5", 150, 18, 14, false, 56.25, 60, true },
            { "window_size=large", 400, 24, 16, true, 150.0, 185, true },
            { "preview_enabled=false", 400, 24, 16, true, 150.0, 185, false },
        };
        for (const Shape& shape : shapes)
            QTest::newRow(*shape.settings ? shape.settings : "no file") << shape;
    }

    void settingsShapeTheWindow()
    {
        QFETCH(Shape, shape);
        if (*shape.settings)
            testSandbox().writeConfig(QByteArray("[General]\n") + shape.settings + "\n");
        auto w = makeWindow();
        QVERIFY(QFileInfo(testSandbox().configFile()).dir().exists()); // the folder is made at start
        QCOMPARE(w->width(), shape.size);
        QCOMPARE(w->findChild<QToolBar*>()->height(), shape.barHeight);
        QCOMPARE(w->findChild<QToolBar*>()->iconSize(), QSize(shape.iconSize, shape.iconSize));
        QCOMPARE(tool(*w, 7)->isVisible(), shape.helpShown);
        QCOMPARE(Probe::scopeRadius(*w), shape.radius);
        QCOMPARE(Probe::sliderLength(*w), shape.slider);
        QCOMPARE(!child(*w, "previewLabel")->isHidden(), shape.preview);
        QCOMPARE(tool(*w, 5)->text(), shape.preview ? QStringLiteral("Hide preview") : QStringLiteral("Show preview"));
        if (shape.size == 151) { // odd: 151 * 0.5 = 75.5; lightness at 151 - 60 - 10
            QCOMPARE(child(*w, "previewLabel")->minimumHeight(), 75);
            QCOMPARE(child<QClickLabel>(*w, "lightnessSlider")->geometry(), QRect(81, 136, 60, 10));
            QCOMPARE(child<QClickLabel>(*w, "saturationSlider")->geometry(), QRect(10, 136, 60, 10));
        }
    }

    void buttonsAndKeysDriveTheActions_data()
    {
        QTest::addColumn<bool>("byKey");
        QTest::newRow("toolbar") << false;
        QTest::newRow("keys") << true;
    }

    // At size 150, where the Help button is hidden: a hidden action takes no
    // keys, which is why the keys sit on actions of their own.
    void buttonsAndKeysDriveTheActions()
    {
        QFETCH(bool, byKey);
        testSandbox().writeConfig("[General]\nwindow_size=150\n");
        auto w = makeWindow();
        QVERIFY(activate(*w));
        const auto act = [&](int button, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
            byKey ? press(*w, key, modifiers) : tool(*w, button)->trigger();
        };

        act(0, Qt::Key_Space);
        QCOMPARE(tool(*w, 0)->text(), QStringLiteral("Stop capturing"));
        QTimer* timer = Probe::updateTimer(*w);
        QCOMPARE(timer->interval(), 40);
        const int copies = platform::memoryDesktop().copyCount;
        QTRY_VERIFY(platform::memoryDesktop().copyCount > copies + 1);
        act(0, Qt::Key_Space);
        QCOMPARE(tool(*w, 0)->text(), QStringLiteral("Start capturing..."));
        QVERIFY(!timer->isActive());
        QCOMPARE(child(*w, "previewLabel")->minimumSize(), QSize(10, 0));

        QStringList names; // while stopped, each click refreshes once
        for (int i = 0; i < 3; ++i) {
            act(3, Qt::Key_D);
            names << infoText(*w).section(QLatin1Char(' '), 2);
        }
        QCOMPARE(names, (QStringList { "Waveform", "Parade", "Vectorscope" }));

        act(5, Qt::Key_P); // on disk at once
        QVERIFY(child(*w, "previewLabel")->isHidden());
        QVERIFY(testSandbox().readFile(testSandbox().configFile()).contains("preview_enabled=false\n"));
        act(5, Qt::Key_P);
        QCOMPARE(tool(*w, 5)->text(), QStringLiteral("Hide preview"));

        act(2, Qt::Key_T); // only the stay-on-top hint changes, and the window stays up
        QCOMPARE(int(w->windowFlags()), 0x901 | Qt::WindowStaysOnTopHint);
        QCOMPARE(tool(*w, 2)->text(), QStringLiteral("Disable always on top"));
        QVERIFY(activate(*w)); // changing the flags hides and shows the window
        act(2, Qt::Key_T);
        QCOMPARE(int(w->windowFlags()), 0x901);
        QVERIFY(w->isVisible());

        act(1, Qt::Key_R);
        QVERIFY(Probe::regionWindow(*w) && Probe::regionWindow(*w)->isVisible());
        Probe::regionWindow(*w)->close();
        QVERIFY(activate(*w));
        act(6, Qt::Key_Comma, Qt::ControlModifier);
        QCOMPARE(Probe::settingsWindow(*w)->windowTitle(), QStringLiteral("Huelens Settings"));
        Probe::settingsWindow(*w)->close();

        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        QVERIFY(activate(*w));
        act(7, Qt::Key_F1);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.opened.size(), 1);
        QVERIFY(catcher.opened.first().toLocalFile().endsWith(QLatin1String("/help.html")));
    }

    // The search alone leaves its lines for the next refresh; the key refreshes.
    void colourSearchShowsItsLinesAtOnce()
    {
        auto w = makeWindow();
        QVERIFY(activate(*w));
        w->updateScreen();
        const cv::Mat before = Probe::scopeImage(*w).clone();
        QCOMPARE(Probe::dominantHueCount(*w), 0);
        press(*w, Qt::Key_F);
        QCOMPARE(Probe::dominantHueCount(*w), 4);
        // Red is plotted straight up from the centre (200, 200): the lines
        // cross (200, 140), and nothing changes below the centre.
        const cv::Mat& after = Probe::scopeImage(*w);
        QVERIFY(after.at<cv::Vec3b>(140, 200) != before.at<cv::Vec3b>(140, 200));
        QVERIFY(after.at<cv::Vec3b>(260, 200) == before.at<cv::Vec3b>(260, 200));
    }

    // Sampling replaces the window by a picture of the first monitor; without
    // a way back the tool window stayed hidden for good.
    void sampleEndsWithEscapeOrAClick()
    {
        platform::memoryDesktop().screen(cv::Rect(100, 50, 10, 10)).setTo(cv::Scalar(0x56, 0x34, 0x12, 255));
        auto w = makeWindow();
        const auto sample = [&] {
            QVERIFY(activate(*w));
            press(*w, Qt::Key_S);
            QVERIFY(w->isHidden() && samplePicture());
        };
        const auto ended = [&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return !samplePicture() && w->isVisible();
        };
        sample();
        QVERIFY(QTest::qWaitForWindowActive(samplePicture()));
        QTest::keyClick(samplePicture(), Qt::Key_Escape);
        QVERIFY(ended());
        QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));
        sample(); // a left click copies the colour under the pointer
        QTest::mouseClick(samplePicture(), Qt::LeftButton, Qt::NoModifier, QPoint(105, 55));
        QVERIFY(ended());
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("#123456"));
        sample(); // any other button only brings the window back
        QTest::mouseClick(samplePicture(), Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
        QVERIFY(ended());
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("#123456"));
        // Closed by the window manager (Alt+F4): the picture was the last
        // window shown, and closing it ended the whole program.
        QSignalSpy lastClosed(qApp, &QGuiApplication::lastWindowClosed);
        sample();
        samplePicture()->windowHandle()->close();
        QVERIFY(ended());
        QCOMPARE(lastClosed.count(), 0);
    }

    // With -skipus no picture is taken; the window used to hide anyway and
    // nothing could bring it back.
    void sampleWithSkippedCaptureKeepsTheWindow()
    {
        for (int skip : { 1, 2 }) {
            auto w = makeWindow(false, skip);
            QVERIFY(activate(*w));
            press(*w, Qt::Key_S);
            QVERIFY(w->isVisible());
            QVERIFY(!samplePicture());
        }
    }

    // As written on the keyboard: "Ctrl+,", "F1", "Space", single letters.
    // The keys sit on actions of the window itself, so the toolbar keeps its buttons.
    void everyKeyIsDocumentedAndOnTheWindow()
    {
        auto w = makeWindow();
        auto* handle = child<QClickLabel>(*w, "moveHandle");
        QCOMPARE(handle->toolTip(), QStringLiteral("Move window"));
        QVERIFY(!handle->pixmap(Qt::ReturnByValue).isNull()); // the compiled-in copy when images/ is not beside us
        QCOMPARE(w->actions().size(), 13);
        const QString help = QString::fromUtf8(testSandbox().readFile(QStringLiteral(HUELENS_SOURCE_DIR "/resources/help.html")));
        const QString readme = QString::fromUtf8(testSandbox().readFile(QStringLiteral(HUELENS_SOURCE_DIR "/README.md")));
        QVERIFY(help.contains(QLatin1String("<kbd>Esc</kbd>")) && readme.contains(QLatin1String("`Esc`")));
        for (QAction* key : w->actions()) { // on the window, never the toolbar, and only while it is in front
            QVERIFY(key->shortcutContext() == Qt::WindowShortcut
                && key->associatedWidgets() == QList<QWidget*> { w.get() });
            const QString text = key->shortcut().toString(QKeySequence::PortableText);
            QVERIFY2(help.contains(QStringLiteral("<kbd>%1</kbd>").arg(text.toHtmlEscaped())), qPrintable(text));
            QVERIFY2(readme.contains(QStringLiteral("`%1`").arg(text)), qPrintable(text));
        }
    }

    // -skipus=1 skips every refresh; -skipus=2 makes no screen service at all.
    void skippedRefreshes()
    {
        auto skipOne = makeWindow(true, 1);
        QVERIFY(Probe::hasScreenService(*skipOne));
        const QStringList before = logLines();
        skipOne->updateScreen();
        QCOMPARE(logLines(), before);
        QCOMPARE(infoText(*skipOne), QString());

        auto skipTwo = makeWindow(false, 2);
        QVERIFY(!Probe::hasScreenService(*skipTwo));
        const int copies = platform::memoryDesktop().copyCount;
        tool(*skipTwo, 3)->trigger();
        skipTwo->selectRegion();
        QCOMPARE(platform::memoryDesktop().copyCount, copies);
        QCOMPARE(Probe::displayMode(*skipTwo), 1);
        QVERIFY(!Probe::regionWindow(*skipTwo));
    }

    // A refresh's log, and the byte sum that tells a changed screen.
    void refreshLog()
    {
        auto w = makeWindow(true);
        QFile::remove(QStringLiteral("log.txt"));
        w->updateScreen();
        const QStringList lines = logLines(); // the drawing's own lines come between "sum changed" and the end
        QCOMPARE(lines.mid(0, 17),
            (QStringList { "UPD screen", "UPD screen A", "UPD screen B", "adapter selected", "scrsvc scr A",
                "scrsvc scr B", "scrsvc scr C", "scrsvc scr D", "scrsvc scr E", "scrsvc scr F", "scrsvc scr G",
                "scrsvc scr H", "scrsvc scr I", "scrsvc scr J", "scr ok", "cursor ok", "sum changed" }));
        QCOMPARE(lines.mid(lines.size() - 2), (QStringList { "scr pix set", "scr end" }));
        QFile::remove(QStringLiteral("log.txt"));
        w->updateScreen();
        QVERIFY(!logLines().contains(QStringLiteral("sum changed")));
        platform::memoryDesktop().screen(cv::Rect(0, 0, 100, 100)).setTo(cv::Scalar(0, 0, 0, 255));
        w->updateScreen();
        QVERIFY(logLines().contains(QStringLiteral("sum changed")));
    }

    void enteringRefreshesOnceAndTheHandleMovesTheWindow()
    {
        auto w = makeWindow();
        const int copies = platform::memoryDesktop().copyCount;
        QEvent enter(QEvent::Enter);
        QApplication::sendEvent(w.get(), &enter);
        QCOMPARE(platform::memoryDesktop().copyCount, copies + 1);
        QVERIFY(infoText(*w).endsWith(QStringLiteral(" ms Vectorscope")));

        w->move(100, 100);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        const QPoint start = w->pos();
        auto* handle = child<QClickLabel>(*w, "moveHandle");
        const auto sendAt = [handle](QEvent::Type type, QPoint at, QPoint global, Qt::MouseButtons held) {
            QMouseEvent event(type, at, global, type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                Qt::NoModifier);
            QApplication::sendEvent(handle, &event);
        };
        const auto send = [&](QEvent::Type type, QPoint at, Qt::MouseButtons held) {
            sendAt(type, at, handle->mapToGlobal(at), held);
        };
        send(QEvent::MouseButtonPress, QPoint(5, 5), Qt::LeftButton);
        send(QEvent::MouseMove, QPoint(35, 15), Qt::LeftButton);
        send(QEvent::MouseButtonRelease, QPoint(5, 5), Qt::NoButton);
        QCOMPARE(w->pos(), start + QPoint(30, 10));
        send(QEvent::MouseMove, QPoint(50, 50), Qt::NoButton);
        QCOMPARE(w->pos(), start + QPoint(30, 10));

        // A fast drag: 30 moves of (4, 2) arrive before the window manager has
        // applied any of them, so each is measured on the handle from where the
        // window stood at the press. The window went (1860, 930) for a pointer
        // that went (120, 60).
        const QPoint pressed = handle->mapToGlobal(QPoint(5, 5));
        sendAt(QEvent::MouseButtonPress, QPoint(5, 5), pressed, Qt::LeftButton);
        for (int k = 1; k <= 30; ++k)
            sendAt(QEvent::MouseMove, QPoint(5 + 4 * k, 5 + 2 * k), pressed + QPoint(4 * k, 2 * k), Qt::LeftButton);
        sendAt(QEvent::MouseButtonRelease, QPoint(125, 65), pressed + QPoint(120, 60), Qt::NoButton);
        QCOMPARE(w->pos(), start + QPoint(150, 70));
    }

    // Last: once the application was asked to quit, no event loop runs again.
    void exitKeyQuits()
    {
        auto w = makeWindow();
        QVERIFY(activate(*w));
        QEventLoop loop; // quitting ends it with 0; the guard only keeps a dead key from hanging the test
        QTimer::singleShot(0, w.get(), [&w] { QTest::keyClick(w.get(), Qt::Key_Q, Qt::ControlModifier); });
        QTimer::singleShot(60000, &loop, [&loop] { loop.exit(1); });
        QCOMPARE(loop.exec(), 0);
    }
};

QTEST_MAIN(MainWindowTest)
#include "test_main_window.moc"
