// The settings dialog, driven through its widgets, with config.ini read back
// from disk.
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QtTest>

#include <memory>

struct SettingsDialogTag;
template <> struct MainWindowProbe<SettingsDialogTag> {
    static void recognize(MainWindow& w) { w.recognizeApplication(false); }
    static QString currentApp(MainWindow& w) { return w.currentApp; }
    static int windowSize(MainWindow& w) { return w.windowSize; }
    static double scopeRadius(MainWindow& w) { return w.scopeRadius; }
    static const cv::Mat& background(MainWindow& w) { return w.backgroundImage; }
    static QWidget* toolBarSpacer(MainWindow& w) { return w.toolBarSpacer; }
    static QTimer* resizeTimer(MainWindow& w) { return w.resizeTimer; }
    static QTimer* appInfoTimer(MainWindow& w) { return w.appInfoTimer; }
    static int profileCount(MainWindow& w) { return w.appProfiles.size(); }
    static const std::string& title(MainWindow& w) { return w.foregroundTitle; }
};
using Probe = MainWindowProbe<SettingsDialogTag>;

namespace {

constexpr platform::WindowHandle kFirefox = 0x700001;
constexpr platform::WindowHandle kHugin = 0x700002;
constexpr platform::WindowHandle kDialog = 0x700003;
constexpr platform::WindowHandle kWineApp = 0x700004;

QVariant storedOnDisk(const QString& key)
{
    QSettings disk(testSandbox().configFile(), QSettings::IniFormat);
    return disk.value(key);
}

struct Dialog {
    QMainWindow* window = nullptr;
    QSpinBox* size = nullptr;
    QTextEdit* apps = nullptr;
    QLabel* windowClass = nullptr;
    QLabel* title = nullptr;
    QLabel* executable = nullptr;
    QPushButton* ok = nullptr;
    QPushButton* cancel = nullptr;
};

class SettingsDialogTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void opensWithTheStoredSettings();
    void okSavesAndApplies();
    void okWithoutChangesStillSavesAndApplies();
    void cancelAndCloseSaveNothing();
    void labelsShowTheWindowInFront();
    void labelsKeepTheirTextWhileTheDialogOrMainWindowIsInFront();
    void tickAfterCloseTouchesNoDeletedLabel();

private:
    void startProgram(const QByteArray& config = QByteArray());
    Dialog openDialog();
    void waitUntilClosed();

    std::unique_ptr<MainWindow> w;
};

void SettingsDialogTest::init()
{
    platform::MemoryDesktop& d = platform::memoryDesktop();
    d.reset(1600, 900);
    d.windows[kFirefox]
        = { { "MozillaWindowClass", "Colour theory - Mozilla Firefox" }, "/usr/lib/firefox-esr/firefox-esr" };
    d.windows[kHugin] = { { "hugin.Hugin", "IMG_0042.pto - hugin" }, "/usr/bin/hugin" };
    d.windows[kDialog] = { { "huelens.Huelens", "Huelens Settings" }, "/usr/bin/huelens" };
    d.windows[kWineApp] = { { "editor.exe.Wine", "Editor" }, "C:\\Program Files\\Editor\\editor.exe" };
    d.foregroundWindow = kFirefox;
}

void SettingsDialogTest::cleanup()
{
    w.reset();
}

void SettingsDialogTest::startProgram(const QByteArray& config)
{
    testSandbox().writeConfig(config);
    w = std::make_unique<MainWindow>(nullptr, false, 0);
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
}

// As the user does it: a click on the toolbar's settings button.
Dialog SettingsDialogTest::openDialog()
{
    auto* toolBar = w->findChild<QToolBar*>(QStringLiteral("toolBar"));
    QAction* settingsAction = nullptr;
    for (QAction* action : toolBar->actions())
        if (action->text() == QLatin1String("Settings"))
            settingsAction = action;
    if (!settingsAction)
        return {};
    QTest::mouseClick(toolBar->widgetForAction(settingsAction), Qt::LeftButton);

    Dialog dialog;
    dialog.window = w->findChild<QMainWindow*>(QStringLiteral("settingsWindow"));
    if (!dialog.window)
        return {};
    dialog.size = dialog.window->findChild<QSpinBox*>(QStringLiteral("windowSizeSpin"));
    dialog.apps = dialog.window->findChild<QTextEdit*>(QStringLiteral("appsEdit"));
    dialog.windowClass = dialog.window->findChild<QLabel*>(QStringLiteral("classLabel"));
    dialog.title = dialog.window->findChild<QLabel*>(QStringLiteral("titleLabel"));
    dialog.executable = dialog.window->findChild<QLabel*>(QStringLiteral("executableLabel"));
    dialog.ok = dialog.window->findChild<QPushButton*>(QStringLiteral("okButton"));
    dialog.cancel = dialog.window->findChild<QPushButton*>(QStringLiteral("cancelButton"));
    return dialog;
}

void SettingsDialogTest::waitUntilClosed()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QTRY_VERIFY(!w->findChild<QMainWindow*>(QStringLiteral("settingsWindow")));
}

void SettingsDialogTest::opensWithTheStoredSettings()
{
    startProgram("[General]\nwindow_size=320\napps=\"Bad:\\n<b>Gimp</b>:gimp\\nHg:hugin\"\n");
    const Dialog dialog = openDialog();
    QVERIFY(dialog.window && dialog.size && dialog.apps && dialog.ok && dialog.cancel);

    QCOMPARE(dialog.window->windowTitle(), QStringLiteral("Huelens Settings"));
    QCOMPARE(dialog.window->windowModality(), Qt::ApplicationModal);
    QVERIFY(dialog.window->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(dialog.window->width(), 600);
    QCOMPARE(dialog.size->value(), 320);
    QCOMPARE(dialog.size->minimum(), 150);
    QCOMPARE(dialog.size->maximum(), 600);
    // Lines that give no rule are shown as stored, so the user can mend them.
    QCOMPARE(dialog.apps->toPlainText(), QStringLiteral("Bad:\n<b>Gimp</b>:gimp\nHg:hugin"));
    QCOMPARE(Probe::profileCount(*w), 2);
}

void SettingsDialogTest::okSavesAndApplies()
{
    startProgram();
    const Dialog dialog = openDialog();
    QVERIFY(dialog.window);
    QCOMPARE(dialog.size->value(), 400);

    dialog.size->selectAll();
    QTest::keyClicks(dialog.size, QStringLiteral("300"));
    QTest::keyClick(dialog.apps, Qt::Key_End, Qt::ControlModifier);
    QTest::keyClicks(dialog.apps, QStringLiteral("Hg:hugin"));
    QTest::keyClick(dialog.apps, Qt::Key_Return);
    QTest::keyClicks(dialog.apps, QStringLiteral("Bad:"));

    // Hugin is in front while OK is pressed: the refresh that OK runs
    // still uses the old rules.
    platform::memoryDesktop().foregroundWindow = kHugin;
    Probe::resizeTimer(*w)->stop();
    // The press alone applies; no release follows.
    QTest::mousePress(dialog.ok, Qt::LeftButton);

    QCOMPARE(storedOnDisk(QStringLiteral("window_size")).toInt(), 300);
    QCOMPARE(storedOnDisk(QStringLiteral("apps")).toString(), QStringLiteral("Hg:hugin\nBad:"));
    QCOMPARE(Probe::windowSize(*w), 300);
    QCOMPARE(w->width(), 300);
    QCOMPARE(w->minimumWidth(), 300);
    QCOMPARE(Probe::scopeRadius(*w), 112.5); // (300 / 2) * 0.75
    QCOMPARE(Probe::background(*w).cols, 300);
    QCOMPARE(Probe::background(*w).rows, 300);
    QVERIFY(Probe::toolBarSpacer(*w)->isHidden());
    QVERIFY(Probe::resizeTimer(*w)->isActive());
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Firefox"));
    QCOMPARE(Probe::profileCount(*w), 1);
    QVERIFY(!dialog.window->isVisible());
    waitUntilClosed();

    Probe::recognize(*w);
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Hg"));
}

void SettingsDialogTest::okWithoutChangesStillSavesAndApplies()
{
    startProgram("[General]\napps=Hg:hugin\n");
    const Dialog dialog = openDialog();
    QVERIFY(dialog.window);
    Probe::resizeTimer(*w)->stop();
    QTest::mousePress(dialog.ok, Qt::LeftButton);

    QCOMPARE(storedOnDisk(QStringLiteral("window_size")).toInt(), 400);
    QCOMPARE(storedOnDisk(QStringLiteral("apps")).toString(), QStringLiteral("Hg:hugin"));
    QVERIFY(Probe::resizeTimer(*w)->isActive());
    QCOMPARE(Probe::profileCount(*w), 1);
    waitUntilClosed();
}

void SettingsDialogTest::cancelAndCloseSaveNothing()
{
    startProgram();
    Dialog dialog = openDialog();
    QVERIFY(dialog.window);
    dialog.size->selectAll();
    QTest::keyClicks(dialog.size, QStringLiteral("250"));
    QTest::keyClicks(dialog.apps, QStringLiteral("Hg:hugin"));
    QTest::mousePress(dialog.cancel, Qt::LeftButton);
    waitUntilClosed();

    dialog = openDialog();
    QVERIFY(dialog.window);
    QCOMPARE(dialog.size->value(), 400);
    QCOMPARE(dialog.apps->toPlainText(), QString());
    dialog.size->selectAll();
    QTest::keyClicks(dialog.size, QStringLiteral("250"));
    dialog.window->close(); // the title bar's close button
    waitUntilClosed();

    QVERIFY(!storedOnDisk(QStringLiteral("window_size")).isValid());
    QVERIFY(!storedOnDisk(QStringLiteral("apps")).isValid());
    QCOMPARE(Probe::windowSize(*w), 400);
    QCOMPARE(w->width(), 400);
    QCOMPARE(Probe::profileCount(*w), 0);
}

void SettingsDialogTest::labelsShowTheWindowInFront()
{
    startProgram();
    const Dialog dialog = openDialog();
    QVERIFY(dialog.windowClass && dialog.title && dialog.executable);

    // Empty until the timer's first tick, half a second after opening.
    QCOMPARE(dialog.windowClass->text(), QString());
    QCOMPARE(dialog.title->text(), QString());
    QCOMPARE(dialog.executable->text(), QString());
    QTimer* timer = Probe::appInfoTimer(*w);
    QVERIFY(timer && timer->isActive());
    QCOMPARE(timer->interval(), 500);
    QVERIFY(!timer->isSingleShot());

    QTRY_COMPARE(dialog.windowClass->text(), QStringLiteral("MozillaWindowClass"));
    QCOMPARE(dialog.title->text(), QStringLiteral("Colour theory - Mozilla Firefox"));
    QCOMPARE(dialog.executable->text(), QStringLiteral("firefox-esr"));

    platform::memoryDesktop().foregroundWindow = kWineApp;
    QTRY_COMPARE(dialog.executable->text(), QStringLiteral("editor.exe"));
    QCOMPARE(dialog.windowClass->text(), QStringLiteral("editor.exe.Wine"));
}

void SettingsDialogTest::labelsKeepTheirTextWhileTheDialogOrMainWindowIsInFront()
{
    platform::memoryDesktop().foregroundWindow = kHugin;
    startProgram();
    const Dialog dialog = openDialog();
    QVERIFY(dialog.windowClass);
    w->updateApplicationData();
    QCOMPARE(dialog.title->text(), QStringLiteral("IMG_0042.pto - hugin"));

    platform::memoryDesktop().foregroundWindow = kDialog;
    w->updateApplicationData();
    QCOMPARE(Probe::title(*w), std::string("Huelens Settings"));
    QCOMPARE(dialog.windowClass->text(), QStringLiteral("hugin.Hugin"));
    QCOMPARE(dialog.title->text(), QStringLiteral("IMG_0042.pto - hugin"));
    QCOMPARE(dialog.executable->text(), QStringLiteral("hugin"));

    const auto own = static_cast<platform::WindowHandle>(w->winId());
    platform::memoryDesktop().windows[own]
        = { { "huelens.Huelens", "Korvant Huelens 1.0: Unknown" }, "/usr/bin/huelens" };
    platform::memoryDesktop().foregroundWindow = own;
    w->updateApplicationData();
    QCOMPARE(Probe::title(*w), std::string("Huelens Settings"));
    QCOMPARE(dialog.windowClass->text(), QStringLiteral("hugin.Hugin"));
    QCOMPARE(dialog.executable->text(), QStringLiteral("hugin"));
}

// Guards a use after free: the dialog deletes its labels when it closes, and
// a tick may still arrive.
void SettingsDialogTest::tickAfterCloseTouchesNoDeletedLabel()
{
    startProgram();
    const Dialog dialog = openDialog();
    QVERIFY(dialog.window);
    QTest::mousePress(dialog.cancel, Qt::LeftButton);
    w->updateApplicationData();
    waitUntilClosed();
    QVERIFY(!Probe::appInfoTimer(*w));

    platform::memoryDesktop().foregroundWindow = kHugin;
    w->updateApplicationData();
    QCOMPARE(Probe::title(*w), std::string("IMG_0042.pto - hugin"));
}

} // namespace

QTEST_MAIN(SettingsDialogTest)
#include "test_settings_dialog.moc"
