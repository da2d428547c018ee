// The "apps" rules, capture records, what config.ini keeps across a restart,
// and the settings dialog driven through its widgets.
#include "apps/AppsFormat.h"
#include "apps/SettingsFile.h"
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimer>
#include <QToolBar>
#include <QtTest>

#include <memory>

struct ConfigurationTag;
template <> struct MainWindowProbe<ConfigurationTag> {
    static QString currentApp(MainWindow& w) { return w.currentApp; }
    static const cv::Mat& frame(MainWindow& w) { return w.frameImage; }
    static void store(MainWindow& w, int monitor, const platform::Rect& rect) { w.storeCaptureTarget(monitor, rect); }
    static QString target(MainWindow& w, const QString& name)
    {
        return w.appRegions.contains(name) ? formatCaptureRecord(w.appAdapters.value(name), w.appRegions.value(name))
                                           : QString();
    }
    static double scopeRadius(MainWindow& w) { return w.scopeRadius; }
    static QTimer* resizeTimer(MainWindow& w) { return w.resizeTimer; }
    static QTimer* appInfoTimer(MainWindow& w) { return w.appInfoTimer; }
    static int profileCount(MainWindow& w) { return w.appProfiles.size(); }
};
using Probe = MainWindowProbe<ConfigurationTag>;

namespace {

constexpr platform::WindowHandle kTerminal = 0x500001, kResolve = 0x500002, kPhotoshop = 0x500003, kGimp = 0x500004,
                                 kRuleWindow = 0x500006, kFirefox = 0x500007, kHugin = 0x500008, kDialog = 0x500009,
                                 kWineApp = 0x50000a;

// The file's bytes: QSettings objects on one path share what is not yet written.
QString storedOnDisk(const QString& key)
{
    return readSettingsText(testSandbox().readFile(testSandbox().configFile())).value(key).toString();
}

// One capture cycle: the frame's size, and whether every pixel is pure red.
QString capture(MainWindow& w)
{
    w.updateScreen();
    const cv::Mat& frame = Probe::frame(w);
    const double n = static_cast<double>(frame.total());
    const bool red = n > 0 && cv::sum(frame) == cv::Scalar(0, 0, 255 * n, 255 * n);
    return QStringLiteral("%1x%2 %3").arg(frame.cols).arg(frame.rows).arg(red ? "red" : "not red");
}

class ConfigurationTest : public QObject {
    Q_OBJECT

    std::unique_ptr<MainWindow> program; // the settings dialog's owner

    void startProgram(const QByteArray& config = QByteArray())
    {
        testSandbox().writeConfig(config);
        program = std::make_unique<MainWindow>(nullptr, false, 0);
        program->show();
        QVERIFY(QTest::qWaitForWindowExposed(program.get()));
    }
    template <typename T> T* find(const char* name) { return program->findChild<T*>(QLatin1String(name)); }
    QString label(const char* name) { return find<QLabel>(name)->text(); }
    void press(const char* button) { QTest::mousePress(find<QPushButton>(button), Qt::LeftButton); }
    void openDialog()
    {
        auto* toolBar = find<QToolBar>("toolBar");
        for (QAction* action : toolBar->actions())
            if (action->text() == QLatin1String("Settings"))
                QTest::mouseClick(toolBar->widgetForAction(action), Qt::LeftButton);
        QVERIFY(find<QMainWindow>("settingsWindow"));
    }
    void waitUntilClosed()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QTRY_VERIFY(!find<QMainWindow>("settingsWindow"));
    }

private slots:
    // Monitor 0 black; monitor 1, 800 x 600 right of it, red.
    void init()
    {
        platform::MemoryDesktop& d = platform::memoryDesktop();
        d.reset(2400, 900);
        d.monitorTable = { { 0, 0, 1600, 900 }, { 1600, 0, 2400, 600 } };
        d.screen(cv::Rect(1600, 0, 800, 600)).setTo(cv::Scalar(0, 0, 255, 255));
        d.windows[kTerminal] = { { "xterm.XTerm", "user@host: ~" }, "/usr/bin/xterm" };
        d.windows[kResolve] = { { "resolve.resolve", "DaVinci Resolve - Project 1" }, "/opt/resolve/bin/resolve" };
        d.windows[kPhotoshop] = { { "photoshop.exe.Wine", "Adobe Photoshop 2024" }, "/usr/bin/wine64-preloader" };
        d.windows[kGimp] = { { "gimp-2.10.Gimp-2.10", "[IMG_0042] (imported)-1.0 \u2013 GIMP" }, "/usr/bin/gimp-2.10" };
        d.windows[kRuleWindow] = { { "someclass.Someclass", "A tool" }, "/usr/bin/sometool" };
        d.windows[kFirefox]
            = { { "MozillaWindowClass", "Colour theory - Mozilla Firefox" }, "/usr/lib/firefox-esr/firefox-esr" };
        d.windows[kHugin] = { { "hugin.Hugin", "IMG_0042.pto - hugin" }, "/usr/bin/hugin" };
        d.windows[kDialog] = { { "huelens.Huelens", "Huelens Settings" }, "/usr/bin/huelens" };
        d.windows[kWineApp] = { { "editor.exe.Wine", "Editor" }, "C:\\Program Files\\Editor\\editor.exe" };
        d.foregroundWindow = kTerminal;
    }
    void cleanup() { program.reset(); }

    // Each line "name:class[:title[:executable]]"; fields keep their blanks.
    void appsText()
    {
        const std::pair<const char*, const char*> cases[] = {
            // Lines with no name or nothing to match give no rule.
            { "Darktable:\nDarktable:::\n:darktable:Darktable:darktable", "" },
            { "Darktable:darktable::darktable", "[Darktable|darktable||darktable]" },
            { " My App : cls : a title : tool ", "[ My App | cls | a title | tool ]" },
            { "Gimp:gimp:GIMP:gimp:extra:more", "[Gimp|gimp|GIMP|gimp]" },
            { "B:b\n\nA::a\n:x\nC:::c", "[B|b||] [A||a|] [C|||c]" },
            { "Dt:darktable\nDt::lighttable", "[Dt|darktable||] [Dt||lighttable|]" }, // names repeat
        };
        for (const auto& [text, expected] : cases) {
            QStringList parts;
            for (const AppProfile& p : parseAppProfiles(QString::fromUtf8(text)))
                parts << QStringLiteral("[%1|%2|%3|%4]").arg(p.name, p.windowClass, p.windowTitle, p.executable);
            QCOMPARE(parts.join(QLatin1Char(' ')), QString::fromUtf8(expected));
        }
    }

    // A record that does not parse leaves the values untouched (here 7).
    void captureRecords()
    {
        const std::pair<const char*, const char*> cases[] = {
            { "1|100|50|900|650", "1|100|50|900|650" },
            { "x|10|abc|30|", "0|10|0|30|0" }, // not numbers read as 0
            // Guards the pointer arithmetic: held to the 2^20 pixels the capture
            // accepts, a top of -2^31 or -2e9 no longer overflows once the pointer's
            // distance from it is taken or scaled. The adapter is the capture's to check.
            { "0|-2147483648|0|0|2147483647", "0|-1048576|0|0|1048576" },
            { "-5|0|-2000000000|1|100", "-5|0|-1048576|1|100" },
            // Guards against undefined overflow when converting damaged numbers.
            { "99999999999|2147483648|0|10|-99999999999", "0|0|0|10|0" },
            { "1|2|3|4", "7|7|7|7|7" },
            { "1|2|3|4|5|6", "7|7|7|7|7" },
        };
        for (const auto& [record, expected] : cases) {
            int adapter = 7;
            CaptureRect rect { 7, 7, 7, 7 };
            const bool parsed = qstrcmp(expected, "7|7|7|7|7") != 0;
            QCOMPARE(parseCaptureRecord(QString::fromLatin1(record), adapter, rect), parsed);
            QCOMPARE(formatCaptureRecord(adapter, rect), QString::fromLatin1(expected));
        }
    }

    // What a start reads and captures, and that a region chosen is written at
    // once, keeps the keys the program does not use, and comes back next start.
    void targetsSurviveRestart()
    {
        const std::tuple<platform::WindowHandle, const char*, QString, const char*, const char*> cases[] = {
            // Guards a lost region: records were read only under the built-in id
            // but written under the display name.
            { kResolve, "resolve=1|10|20|30|40\n", "DaVinci Resolve", "1|10|20|30|40", "400x400 red" },
            // A negative left means the whole monitor: 600 * 400 / 800 rows.
            { kPhotoshop, "photoshop=3|9|9|9|9\nPhotoshop=1|-5|100|300|200\n", "Photoshop", "1|-5|100|300|200",
                "400x300 red" },
            // A damaged record means the whole monitor 0: 900 * 400 / 1600 rows.
            { kGimp, "GIMP=1|2|3|4\n", "GIMP", "0|-1|-1|-1|-1", "400x225 not red" },
            // Guards a lost region: one written under "Unknown" was never read back.
            { kTerminal, "Unknown=1|5|6|7|8\n", "Unknown", "1|5|6|7|8", "400x400 red" },
        };
        for (const auto& [window, config, name, before, frame] : cases) {
            testSandbox().writeConfig(
                QByteArray("[General]\nfavourite_colour=teal\n") + config + "[plugins]\nenabled=true\n");
            platform::memoryDesktop().foregroundWindow = window;
            {
                MainWindow w(nullptr, false, 0);
                QCOMPARE(Probe::currentApp(w), name);
                QCOMPARE(Probe::target(w, name), QLatin1String(before));
                QCOMPARE(capture(w), QLatin1String(frame));
                Probe::store(w, 1, { 100, 100, 300, 200 });
                QCOMPARE(capture(w), QStringLiteral("400x200 red"));
                QCOMPARE(storedOnDisk(name), QStringLiteral("1|100|100|300|200"));
                QCOMPARE(storedOnDisk(QStringLiteral("favourite_colour")), QStringLiteral("teal"));
                QCOMPARE(storedOnDisk(QStringLiteral("plugins/enabled")), QStringLiteral("true"));
            }
            MainWindow w(nullptr, false, 0);
            QCOMPARE(Probe::target(w, name), QStringLiteral("1|100|100|300|200"));
            QCOMPARE(capture(w), QStringLiteral("400x200 red"));
        }
    }

    // Guards lost settings: a region chosen for a rule named "apps" (or
    // "apps/", "/window_size", ... which the settings file spells "apps",
    // "window_size") overwrote the rules themselves. It keeps its region for
    // the run only, and the file keeps exactly the keys it had.
    void ruleNamedLikeASettingCannotOverwriteIt()
    {
        const QByteArray stored = "window_size=300\npreview_enabled=false\n";
        for (const char* name :
            { "apps", "apps/", "/apps", "//window_size//", "/preview_enabled", "screencast_token/", "/" }) {
            testSandbox().writeConfig("[General]\napps=" + QByteArray(name) + ":someclass\n" + stored);
            platform::memoryDesktop().foregroundWindow = kRuleWindow;
            MainWindow w(nullptr, false, 0);
            QCOMPARE(Probe::currentApp(w), QLatin1String(name));
            Probe::store(w, 0, { 1, 2, 3, 4 });
            QCOMPARE(Probe::target(w, QLatin1String(name)), QStringLiteral("0|1|2|3|4"));
            QCOMPARE(testSandbox().readFile(testSandbox().configFile()),
                "[General]\napps=" + QByteArray(name) + ":someclass\n" + stored);
        }
    }

    // Guards settings lost without a word: a write that cannot be made (here
    // config.ini.lock is a folder) is said once over the plot, why goes to
    // the debug log, and the next write that can be made hides it again.
    void unsavedSettingsAreSaid()
    {
        testSandbox().writeConfig("[General]\nwindow_size=300\n");
        const QString lock = testSandbox().configFile() + QStringLiteral(".lock");
        const QString log = testSandbox().workingDir() + QStringLiteral("/log.txt");
        QFile::remove(log);
        QVERIFY(QDir().mkdir(lock));
        MainWindow w(nullptr, true, 0);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QVERIFY(!w.findChild<QLabel*>(QStringLiteral("settingsNotice")));
        w.showPreviewTrigger();
        w.showPreviewTrigger();
        Probe::store(w, 0, { 1, 2, 3, 4 });
        QCOMPARE(w.findChildren<QLabel*>(QStringLiteral("settingsNotice")).size(), 1);
        QVERIFY(w.findChild<QLabel*>(QStringLiteral("settingsNotice"))->isVisible());
        QCOMPARE(testSandbox().readFile(testSandbox().configFile()), QByteArray("[General]\nwindow_size=300\n"));
        QCOMPARE(testSandbox().readFile(log).count("settings not saved: config.ini.lock is not a lock file\n"), 3);

        QVERIFY(QDir().rmdir(lock));
        w.showPreviewTrigger();
        QVERIFY(!w.findChild<QLabel*>(QStringLiteral("settingsNotice"))->isVisible());
        QCOMPARE(storedOnDisk(QStringLiteral("preview_enabled")), QStringLiteral("false"));
        QCOMPARE(storedOnDisk(QStringLiteral("Unknown")), QStringLiteral("0|1|2|3|4"));
    }

    void settingsOkSavesAndApplies()
    {
        platform::memoryDesktop().foregroundWindow = kFirefox;
        startProgram("[General]\nwindow_size=320\napps=\"Bad:\\n<b>Gimp</b>:gimp\"\n");
        openDialog();
        auto* size = find<QSpinBox>("windowSizeSpin");
        auto* apps = find<QTextEdit>("appsEdit");
        QCOMPARE(size->value(), 320);
        // Lines that give no rule are shown as stored, so the user can mend them.
        QCOMPARE(apps->toPlainText(), QStringLiteral("Bad:\n<b>Gimp</b>:gimp"));
        size->selectAll();
        QTest::keyClicks(size, QStringLiteral("300"));
        QTest::keyClick(apps, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClick(apps, Qt::Key_Return);
        QTest::keyClicks(apps, QStringLiteral("Hg:hugin"));

        // The refresh that OK runs still uses the old rules.
        platform::memoryDesktop().foregroundWindow = kHugin;
        Probe::resizeTimer(*program)->stop();
        press("okButton"); // the press alone applies; no release follows
        QCOMPARE(storedOnDisk(QStringLiteral("window_size")), QStringLiteral("300"));
        QCOMPARE(storedOnDisk(QStringLiteral("apps")), QStringLiteral("Bad:\n<b>Gimp</b>:gimp\nHg:hugin"));
        QCOMPARE(program->width(), 300);
        QCOMPARE(Probe::scopeRadius(*program), 112.5); // (300 / 2) * 0.75
        QVERIFY(Probe::resizeTimer(*program)->isActive());
        QCOMPARE(Probe::currentApp(*program), QStringLiteral("Firefox"));
        QCOMPARE(Probe::profileCount(*program), 2);
        waitUntilClosed();
        program->updateScreen(); // the next recognition
        QCOMPARE(Probe::currentApp(*program), QStringLiteral("Hg"));
    }

    // The labels: empty until the first tick, then the window in front, kept
    // while the dialog or the main window is in front.
    void settingsLabelsThenCancel()
    {
        platform::memoryDesktop().foregroundWindow = kFirefox;
        startProgram();
        openDialog();
        for (const char* name : { "classLabel", "titleLabel", "executableLabel" })
            QCOMPARE(label(name), QString());
        QCOMPARE(Probe::appInfoTimer(*program)->interval(), 500);
        QTRY_COMPARE(label("classLabel"), QStringLiteral("MozillaWindowClass"));
        QCOMPARE(label("titleLabel"), QStringLiteral("Colour theory - Mozilla Firefox"));
        QCOMPARE(label("executableLabel"), QStringLiteral("firefox-esr"));

        platform::memoryDesktop().foregroundWindow = kWineApp;
        QTRY_COMPARE(label("executableLabel"), QStringLiteral("editor.exe"));
        QCOMPARE(label("classLabel"), QStringLiteral("editor.exe.Wine"));

        const auto own = static_cast<platform::WindowHandle>(program->winId());
        platform::memoryDesktop().windows[own] = { { "huelens.Huelens", "Korvant Huelens 1.0: Unknown" }, "" };
        for (platform::WindowHandle front : { kHugin, kDialog, own }) {
            platform::memoryDesktop().foregroundWindow = front;
            program->updateApplicationData();
            QCOMPARE(label("classLabel"), QStringLiteral("hugin.Hugin"));
            QCOMPARE(label("titleLabel"), QStringLiteral("IMG_0042.pto - hugin"));
            QCOMPARE(label("executableLabel"), QStringLiteral("hugin"));
        }

        // Cancel saves nothing. Guards a use after free: the dialog deletes its
        // labels when it closes, and a tick may still arrive.
        auto* size = find<QSpinBox>("windowSizeSpin");
        size->selectAll();
        QTest::keyClicks(size, QStringLiteral("250"));
        QTest::keyClicks(find<QTextEdit>("appsEdit"), QStringLiteral("Hg:hugin"));
        press("cancelButton");
        program->updateApplicationData();
        waitUntilClosed();
        QVERIFY(!Probe::appInfoTimer(*program));
        program->updateApplicationData();
        QCOMPARE(storedOnDisk(QStringLiteral("window_size")), QString());
        QCOMPARE(storedOnDisk(QStringLiteral("apps")), QString());
        QCOMPARE(program->width(), 400);
        QCOMPARE(Probe::profileCount(*program), 0);
    }

    // Text from outside the program is shown as it is, never read as markup
    // (which would also load what an <img> names): a window's class, title
    // and executable in the dialog, a rule's name over the scope, and the
    // desktop's message (which may carry a D-Bus error's text) in the info line.
    void outsideTextShownAsItIs()
    {
        const QString markup = QStringLiteral("<img src=\"/nonexistent.png\"><b>Bold</b> &amp; <i>co</i>");
        const std::string bytes = markup.toStdString();
        platform::MemoryDesktop& d = platform::memoryDesktop();
        d.windows[kRuleWindow] = { { bytes, bytes }, "/usr/bin/" + bytes };
        d.foregroundWindow = kRuleWindow;
        d.access.granted = false;
        d.access.message = "The screen-sharing portal failed: <b>denied</b>";
        startProgram("[General]\napps=<b>Rule</b>:<img\n");
        // As plain text the whole markup takes room; as rich text only "Bold & co".
        const auto shownWhole = [](QLabel* label) {
            return label->sizeHint().width() >= label->fontMetrics().horizontalAdvance(label->text());
        };
        QCOMPARE(Probe::currentApp(*program), QStringLiteral("<b>Rule</b>"));
        QVERIFY(shownWhole(find<QLabel>("appLabel")));
        QVERIFY(QMetaObject::invokeMethod(program.get(), "startOrStop")); // asks the desktop
        QVERIFY(d.accessChanged);
        d.accessChanged(); // which answers
        QCOMPARE(label("infoLabel"), QString::fromStdString(d.access.message));
        // The info line wraps a long message, so its width says nothing.
        QCOMPARE(find<QLabel>("infoLabel")->textFormat(), Qt::PlainText);

        openDialog();
        QTRY_COMPARE(label("titleLabel"), markup);
        for (const char* name : { "classLabel", "titleLabel", "executableLabel" })
            QVERIFY2(shownWhole(find<QLabel>(name)), name);
        press("cancelButton");
        waitUntilClosed();
    }

    // A desktop that does not tell which window is in front: the class line
    // says why instead of staying empty, and nothing of a window is shown.
    void settingsLabelsWhereTheDesktopHidesWindows()
    {
        platform::MemoryDesktop& d = platform::memoryDesktop();
        d.foregroundWindow = kFirefox;
        d.problemText = "This desktop does not tell other programs which window is in front.";
        startProgram();
        openDialog();
        QTRY_COMPARE(label("classLabel"), QString::fromStdString(d.problemText));
        QVERIFY(find<QLabel>("classLabel")->wordWrap()); // the dialog keeps its width
        QCOMPARE(label("titleLabel"), QString());
        QCOMPARE(label("executableLabel"), QString());
        press("cancelButton");
        waitUntilClosed();
    }
};

} // namespace

QTEST_MAIN(ConfigurationTest)
#include "test_configuration.moc"
