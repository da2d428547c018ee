// The window's keyboard shortcuts, pressed as a person presses them: every
// toolbar action and the two features without a button (the colour search and
// the screen sample) are reachable from the keyboard, the toolbar keeps its
// buttons, and the help page and the README list every key.
#include "capture/QClickLabel.h"
#include "capture/QSelectRegionWindow.h"
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QTimer>
#include <QToolBar>
#include <QUrl>
#include <QtTest>

#include <memory>

struct ShortcutsTag;
template <> struct MainWindowProbe<ShortcutsTag> {
    static QAction* startAction(MainWindow& w) { return w.startAction; }
    static QTimer* updateTimer(MainWindow& w) { return w.updateTimer; }
    static bool alwaysOnTop(MainWindow& w) { return w.alwaysOnTop; }
    static int displayMode(MainWindow& w) { return w.displayMode; }
    static bool previewHidden(MainWindow& w) { return w.previewHidden; }
    static int dominantHueCount(MainWindow& w) { return w.dominantHueCount; }
    static const cv::Mat& scopeImage(MainWindow& w) { return w.scopeImage; }
    static QMainWindow* settingsWindow(MainWindow& w) { return w.settingsWindow.data(); }
    static QSelectRegionWindow* regionWindow(MainWindow& w) { return w.regionWindow.data(); }
};
using Probe = MainWindowProbe<ShortcutsTag>;

// Receives what the window asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

namespace {

std::unique_ptr<MainWindow> activeWindow(const QByteArray& config = QByteArray(), int skip = 0)
{
    testSandbox().writeConfig(config);
    auto w = std::make_unique<MainWindow>(nullptr, false, skip);
    w->show();
    QApplication::setActiveWindow(w.get());
    if (!QTest::qWaitForWindowActive(w.get()))
        return nullptr;
    return w;
}

// A key pressed while the window is in front; with no widget of the window
// taking keys, the key goes to the window itself.
void press(QWidget& window, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(&window, key, modifiers);
    QCoreApplication::processEvents();
}

QStringList toolBarTexts(MainWindow& w)
{
    QStringList texts;
    for (QAction* action : w.findChild<QToolBar*>(QStringLiteral("toolBar"))->actions())
        texts << (action->text().isEmpty() ? QStringLiteral("<widget>") : action->text());
    return texts;
}

QClickLabel* samplePicture()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == QLatin1String("sampleLabel") && widget->isVisible())
            return qobject_cast<QClickLabel*>(widget);
    return nullptr;
}

QString readSourceFile(const QString& relativePath)
{
    QFile file(QFINDTESTDATA(QStringLiteral("../") + relativePath));
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class ShortcutsTest : public QObject {
    Q_OBJECT

private slots:
    void init() { platform::memoryDesktop().reset(320, 180, cv::Scalar(0, 0, 255)); } // red

    void toolBarKeepsItsButtons();
    void toolBarActionsFromTheKeyboard();
    void windowsOpenFromTheKeyboard();
    void helpKeyWorksWhenTheHelpButtonIsHidden();
    void colourSearchShowsItsLinesAtOnce();
    void sampleEndsWithEscapeOrAClick();
    void everyKeyIsDocumented();
    // Last: after the application was asked to quit, no event loop runs again.
    void exitKeyQuits();
};

void ShortcutsTest::toolBarKeepsItsButtons()
{
    auto w = activeWindow();
    QVERIFY(w);
    QCOMPARE(toolBarTexts(*w),
        QStringList({ "Start capturing...", "Select region", "Always on top", "Display: Vectorscope, Waveform, Parade",
            "Hide preview", "Settings", "Help", "<widget>", "<widget>", "Exit" }));
    const QList<QAction*> keys = w->actions();
    QCOMPARE(keys.size(), 10);
    for (QAction* key : keys) {
        QVERIFY2(!key->shortcut().isEmpty(), qPrintable(key->objectName()));
        QCOMPARE(key->shortcutContext(), Qt::WindowShortcut);
        QVERIFY(key->associatedWidgets().size() == 1); // the window, never the toolbar
    }
}

void ShortcutsTest::toolBarActionsFromTheKeyboard()
{
    auto w = activeWindow();
    QVERIFY(w);

    press(*w, Qt::Key_Space);
    QCOMPARE(Probe::startAction(*w)->text(), QStringLiteral("Stop capturing"));
    QVERIFY(Probe::updateTimer(*w)->isActive());
    press(*w, Qt::Key_Space);
    QCOMPARE(Probe::startAction(*w)->text(), QStringLiteral("Start capturing..."));
    QVERIFY(!Probe::updateTimer(*w)->isActive());

    press(*w, Qt::Key_D);
    QCOMPARE(Probe::displayMode(*w), 1);
    QVERIFY(w->findChild<QLabel*>(QStringLiteral("infoLabel"))->text().endsWith(QLatin1String("Waveform")));
    press(*w, Qt::Key_D);
    press(*w, Qt::Key_D);
    QCOMPARE(Probe::displayMode(*w), 0);

    press(*w, Qt::Key_P);
    QVERIFY(Probe::previewHidden(*w));
    QVERIFY(testSandbox().readFile(testSandbox().configFile()).contains("preview_enabled=false"));
    press(*w, Qt::Key_P);
    QVERIFY(!Probe::previewHidden(*w));

    press(*w, Qt::Key_T);
    QVERIFY(Probe::alwaysOnTop(*w));
    QVERIFY(w->windowFlags() & Qt::WindowStaysOnTopHint);
    // Changing the flags hides and shows the window; it must take keys again.
    QApplication::setActiveWindow(w.get());
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    press(*w, Qt::Key_T);
    QVERIFY(!Probe::alwaysOnTop(*w));
    QVERIFY(!(w->windowFlags() & Qt::WindowStaysOnTopHint));
}

void ShortcutsTest::windowsOpenFromTheKeyboard()
{
    auto w = activeWindow();
    QVERIFY(w);

    press(*w, Qt::Key_R);
    QSelectRegionWindow* region = Probe::regionWindow(*w);
    QVERIFY(region);
    QVERIFY(region->isVisible());
    region->close();
    QApplication::setActiveWindow(w.get());
    QVERIFY(QTest::qWaitForWindowActive(w.get()));

    press(*w, Qt::Key_Comma, Qt::ControlModifier);
    QMainWindow* settings = Probe::settingsWindow(*w);
    QVERIFY(settings);
    QCOMPARE(settings->windowTitle(), QStringLiteral("Huelens Settings"));
    settings->close();
}

// The toolbar's Help button is hidden below a window size of 200; a hidden
// action takes no keys, which is why the keys sit on actions of their own.
void ShortcutsTest::helpKeyWorksWhenTheHelpButtonIsHidden()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
    auto w = activeWindow("[General]\nwindow_size=150\n");
    QVERIFY(w);
    press(*w, Qt::Key_F1);
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(catcher.opened.size(), 1);
    QVERIFY(catcher.opened.first().isLocalFile());
    QVERIFY(catcher.opened.first().toLocalFile().endsWith(QLatin1String("/help.html")));
}

// The search alone leaves its lines for the next refresh; the key refreshes,
// so the lines show at once while capturing is off.
void ShortcutsTest::colourSearchShowsItsLinesAtOnce()
{
    auto w = activeWindow();
    QVERIFY(w);
    w->updateScreen();
    const cv::Mat before = Probe::scopeImage(*w).clone();
    QCOMPARE(Probe::dominantHueCount(*w), 0);

    press(*w, Qt::Key_F);
    QCOMPARE(Probe::dominantHueCount(*w), 4);
    // A red capture: four lines from the centre (200, 200) towards red,
    // which is plotted straight up. Half-way up, the line has changed the
    // picture.
    const cv::Mat& after = Probe::scopeImage(*w);
    QCOMPARE(after.size(), before.size());
    QVERIFY(after.at<cv::Vec3b>(140, 200) != before.at<cv::Vec3b>(140, 200));
    QVERIFY(after.at<cv::Vec3b>(260, 200) == before.at<cv::Vec3b>(260, 200));
}

// Sampling replaces the window by a picture of the first monitor; without a
// way back the tool window stayed hidden for good.
void ShortcutsTest::sampleEndsWithEscapeOrAClick()
{
    platform::MemoryDesktop& desktop = platform::memoryDesktop();
    desktop.reset(320, 180, cv::Scalar(10, 20, 30)); // B, G, R
    desktop.screen(cv::Rect(100, 50, 10, 10)).setTo(cv::Scalar(0x56, 0x34, 0x12, 255));
    auto w = activeWindow();
    QVERIFY(w);

    press(*w, Qt::Key_S);
    QVERIFY(w->isHidden());
    QClickLabel* picture = samplePicture();
    QVERIFY(picture);
    QVERIFY(QTest::qWaitForWindowActive(picture));
    QTest::keyClick(picture, Qt::Key_Escape);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!samplePicture());
    QVERIFY(w->isVisible());
    QGuiApplication::clipboard()->setText(QStringLiteral("untouched"));

    // A left click copies the colour under the pointer and ends the sampling.
    QApplication::setActiveWindow(w.get());
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    press(*w, Qt::Key_S);
    picture = samplePicture();
    QVERIFY(picture);
    QTest::mouseClick(picture, Qt::LeftButton, Qt::NoModifier, QPoint(105, 55));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("#123456"));
    QVERIFY(!samplePicture());
    QVERIFY(w->isVisible());

    // Any other button only brings the window back.
    QApplication::setActiveWindow(w.get());
    QVERIFY(QTest::qWaitForWindowActive(w.get()));
    press(*w, Qt::Key_S);
    QTest::mouseClick(samplePicture(), Qt::RightButton, Qt::NoModifier, QPoint(5, 5));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("#123456"));
    QVERIFY(w->isVisible());
}

// Each key appears in the help page's and in the README's list of keys, as
// written on the keyboard: "Ctrl+," and "F1", "Space" and single letters.
void ShortcutsTest::everyKeyIsDocumented()
{
    auto w = activeWindow();
    QVERIFY(w);
    const QString help = readSourceFile(QStringLiteral("resources/help.html"));
    const QString readme = readSourceFile(QStringLiteral("README.md"));
    QVERIFY(!help.isEmpty());
    QVERIFY(!readme.isEmpty());
    QVERIFY(help.contains(QLatin1String("<kbd>Esc</kbd>")));
    QVERIFY(readme.contains(QLatin1String("`Esc`")));
    for (QAction* key : w->actions()) {
        const QString text = key->shortcut().toString(QKeySequence::PortableText);
        QVERIFY2(help.contains(QStringLiteral("<kbd>%1</kbd>").arg(text.toHtmlEscaped())), qPrintable(text));
        QVERIFY2(readme.contains(QStringLiteral("`%1`").arg(text)), qPrintable(text));
    }
}

void ShortcutsTest::exitKeyQuits()
{
    auto w = activeWindow();
    QVERIFY(w);
    // Quitting ends every running event loop with code 0. The guard only
    // keeps a key that does nothing from hanging the test.
    QEventLoop loop;
    QTimer::singleShot(0, w.get(), [&w] { QTest::keyClick(w.get(), Qt::Key_Q, Qt::ControlModifier); });
    QTimer::singleShot(60000, &loop, [&loop] { loop.exit(1); });
    QCOMPARE(loop.exec(), 0);
}

QTEST_MAIN(ShortcutsTest)
#include "test_shortcuts.moc"
