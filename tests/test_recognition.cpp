// Which application owns the foreground window, and what the main window
// shows of it.
#include "apps/AppsFormat.h"
#include "apps/RecognitionRules.h"
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QSet>
#include <QTimer>
#include <QtTest>

#include <memory>
#include <vector>

struct RecognitionTag;
template <> struct MainWindowProbe<RecognitionTag> {
    static void recognize(MainWindow& w, bool allowUnknown) { w.recognizeApplication(allowUnknown); }
    static QString currentApp(MainWindow& w) { return w.currentApp; }
    static const std::string& title(MainWindow& w) { return w.foregroundTitle; }
    static const std::string& windowClass(MainWindow& w) { return w.foregroundClass; }
    static const std::string& executable(MainWindow& w) { return w.foregroundExecutable; }
    static QTimer* resizeTimer(MainWindow& w) { return w.resizeTimer; }
};
using Probe = MainWindowProbe<RecognitionTag>;

namespace {

constexpr platform::WindowHandle kTerminal = 0x600001;
constexpr platform::WindowHandle kFiles = 0x600002;
constexpr platform::WindowHandle kPhotoshop = 0x600003;
constexpr platform::WindowHandle kPhotoshopPalette = 0x600004;
constexpr platform::WindowHandle kLightroom = 0x600005;
constexpr platform::WindowHandle kFirefox = 0x600006;
constexpr platform::WindowHandle kRegionWindow = 0x600007;
constexpr platform::WindowHandle kHugin = 0x600008;
constexpr platform::WindowHandle kLockedProcess = 0x600009;

void script(platform::WindowHandle handle, const std::string& windowClass, const std::string& title,
    const std::string& executable)
{
    platform::memoryDesktop().windows[handle] = { { windowClass, title }, executable };
}

void bringToFront(platform::WindowHandle handle)
{
    platform::memoryDesktop().foregroundWindow = handle;
}

std::unique_ptr<MainWindow> startProgram(const QByteArray& config = QByteArray())
{
    testSandbox().writeConfig(config);
    return std::make_unique<MainWindow>(nullptr, false, 0);
}

QString appLabelText(MainWindow& w)
{
    return w.findChild<QLabel*>(QStringLiteral("appLabel"))->text();
}

} // namespace

class RecognitionTest : public QObject {
    Q_OBJECT

private slots:
    void init();

    void builtinRules();
    void userRules_data();
    void userRules();
    void narrowBuffersCutAtCharacterBoundaries();
    void executableFileNames();

    void unknownOnlyAtStart();
    void titleLabelAndRefitFollowTheName();
    void ownWindowChangesNothing();
    void regionWindowKeepsTheName();
    void builtinRulesComeBeforeUserRules();
    void unreadableExecutableDoesNotKeepThePreviousPath();
    void noForegroundWindowKeepsTheBuffers();
};

void RecognitionTest::init()
{
    platform::memoryDesktop().reset(1600, 900);
    script(kTerminal, "xterm.XTerm", "user@host: ~", "/usr/bin/xterm");
    script(kFiles, "org.gnome.Nautilus.Org.gnome.Nautilus", "Pictures", "/usr/bin/nautilus");
    script(kPhotoshop, "photoshop.exe.Wine", "Adobe Photoshop 2024 - IMG_0042.psd", "/usr/bin/wine64-preloader");
    script(kPhotoshopPalette, "photoshop.exe.Wine", "Layers", "/usr/bin/wine64-preloader");
    script(kLightroom, "lightroom.exe.Lightroom", "Library", "/usr/bin/wine64-preloader");
    script(kFirefox, "MozillaWindowClass", "Colour theory - Mozilla Firefox", "/usr/lib/firefox-esr/firefox-esr");
    script(kRegionWindow, "huelens.Huelens", "Select region to capture for application: Firefox", "/usr/bin/huelens");
    script(kHugin, "hugin.Hugin", "Hugin - Panorama Stitcher", "/usr/bin/hugin");
    bringToFront(kTerminal);
}

// Also: every name the rules give is a display name of the built-in table,
// under which the application's region is stored and loaded.
void RecognitionTest::builtinRules()
{
    struct Case {
        const char* windowClass;
        const char* title;
        const char* name;
    };
    const std::vector<Case> cases {
        { "MozillaWindowClass", "Page - Mozilla Firefox", "Firefox" },
        { "firefox", "Mozilla Firefox", "" }, // the class lacks "Mozilla" (and a class part)
        { "Chrome_WidgetWin_1", "Tab - Google Chrome", "Chrome" },
        { "Luminar AI", "Luminar AI - photo", "Luminar AI" },
        { "Luminar 4 main", "Luminar 4", "Luminar 4" },
        { "Luminar Neo", "Luminar Neo", "Luminar" },
        { "Luminar AI", "Luminar 4", "Luminar" },
        { "Lightroom", "Library", "Lightroom" }, // by class alone
        { "", "Adobe Lightroom Classic", "Lightroom" },
        { "illustrator", "", "Illustrator" },
        { "Illustrator", "", "" },
        { "AE_CApplication_24.0", "", "After Effects" },
        { "PSPMainFrame", "", "Corel Paintshop" },
        { "Wine", "Adobe Photoshop", "Photoshop" },
        { "photoshop", "photoshop", "" },
        { "resolve.Resolve", "", "DaVinci Resolve" },
        { "ON1", "", "" }, // a title rule
        { "", "ON1 Photo RAW 2024", "ON1" },
        { "", "DxO PureRAW 3", "DxO PureRAW" },
        { "", "DxO PhotoLab 7", "DxO PhotoLab" },
        { "", "Capture One 23", "Capture One" },
        { "Lightroom", "Photoshop", "Lightroom" },
        { "Mozilla", "Photoshop tips - Firefox", "Firefox" },
        { "xterm.XTerm", "user@host: ~", "" },
        // The Linux editors and browsers, by the class part of WM_CLASS.
        { "gimp.Gimp", "", "GIMP" },
        { "darktable.Darktable", "darktable", "darktable" },
        { "rawtherapee.Rawtherapee", "", "RawTherapee" },
        { "krita.krita", "", "Krita" },
        { "org.inkscape.Inkscape.Inkscape", "", "Inkscape" },
        { "digikam.digikam", "", "digiKam" },
        { "kdenlive.kdenlive", "", "Kdenlive" },
        { "shotcut.Shotcut", "", "Shotcut" },
        { "Blender.Blender", "", "Blender" },
        { "chromium.Chromium", "", "Chromium" },
    };
    QSet<QString> names;
    for (const Case& c : cases) {
        const char* found = builtinApplicationName(c.windowClass, c.title);
        QCOMPARE(QString::fromLatin1(found ? found : ""), QString::fromLatin1(c.name));
        if (found)
            names.insert(QString::fromLatin1(found));
    }
    const QList<QString> displayNames = builtinApplications().values();
    QCOMPARE(names, QSet<QString>(displayNames.begin(), displayNames.end()));
}

void RecognitionTest::userRules_data()
{
    QTest::addColumn<QString>("apps");
    QTest::addColumn<QByteArray>("windowClass");
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QByteArray>("executable");
    QTest::addColumn<QString>("name");

    const QByteArray cls("darktable.Darktable");
    const QByteArray title("IMG_0042.CR3 - darktable");
    const QByteArray exe("/usr/bin/darktable");
    QTest::newRow("class only, any title or path") << "Dt:darktable" << cls << QByteArray("x") << QByteArray() << "Dt";
    QTest::newRow("class in other letter case") << "Dt:DARKTABLE" << cls << title << exe << "";
    QTest::newRow("title only") << "Dt::IMG_0042" << cls << title << exe << "Dt";
    QTest::newRow("bare file name matches the full path")
        << "Dt:::darktable" << QByteArray() << QByteArray() << exe << "Dt";
    QTest::newRow("every non-empty field must hold") << "Dt:darktable:Lighttable" << cls << title << exe << "";
    QTest::newRow("first matching rule wins") << "A:nomatch\nB:darktable\nC:darktable" << cls << title << exe << "B";
    QTest::newRow("texts are UTF-8") << QString::fromUtf8("Éditeur::Café") << QByteArray("x")
                                     << QByteArray("Café — menu") << QByteArray() << QString::fromUtf8("Éditeur");
    QTest::newRow("blanks are part of the field") << "Dt: darktable" << cls << title << exe << "";
}

void RecognitionTest::userRules()
{
    QFETCH(QString, apps);
    QFETCH(QByteArray, windowClass);
    QFETCH(QByteArray, title);
    QFETCH(QByteArray, executable);
    QFETCH(QString, name);
    const QList<AppProfile> profiles = parseAppProfiles(apps);
    const AppProfile* found
        = matchingProfile(profiles, windowClass.toStdString(), title.toStdString(), executable.toStdString());
    QCOMPARE(found ? found->name : QString(), name);
}

void RecognitionTest::narrowBuffersCutAtCharacterBoundaries()
{
    std::string buffer = "left over from the previous window";
    copyNarrowText(std::string(1023, 'a') + "\xC3\xA9", kMaxTitleBytes, buffer);
    QCOMPARE(buffer, std::string(1023, 'a'));

    copyNarrowText(std::string(1022, 'a') + "\xC3\xA9", kMaxTitleBytes, buffer);
    QCOMPARE(buffer, std::string(1022, 'a'));

    copyNarrowText(std::string(1021, 'a') + "\xC3\xA9", kMaxTitleBytes, buffer);
    QCOMPARE(buffer, std::string(1021, 'a') + "\xC3\xA9");

    // A four-byte character (U+1F3A8) that would end one byte past the limit.
    copyNarrowText(std::string(2044, 'p') + "\xF0\x9F\x8E\xA8", kMaxExecutableBytes, buffer);
    QCOMPARE(buffer, std::string(2044, 'p'));

    copyNarrowText(std::string("abc\0def", 7), kMaxClassBytes, buffer);
    QCOMPARE(buffer, std::string("abc"));

    copyNarrowText(std::string(), kMaxClassBytes, buffer);
    QCOMPARE(buffer, std::string());
}

void RecognitionTest::executableFileNames()
{
    QCOMPARE(executableFileName("/usr/lib/firefox-esr/firefox-esr"), QStringLiteral("firefox-esr"));
    QCOMPARE(executableFileName("\\Device\\HarddiskVolume3\\Program Files\\Adobe\\Photoshop.exe"),
        QStringLiteral("Photoshop.exe"));
    QCOMPARE(executableFileName("C:\\Tools/mixed\\tool.exe"), QStringLiteral("tool.exe"));
    QCOMPARE(executableFileName("darktable"), QStringLiteral("darktable"));
    QCOMPARE(executableFileName(""), QString());
}

void RecognitionTest::unknownOnlyAtStart()
{
    auto w = startProgram();
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Unknown"));

    bringToFront(kPhotoshop);
    Probe::recognize(*w, false);
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Photoshop"));

    // The cycle keeps capturing the application last recognised.
    bringToFront(kFiles);
    Probe::recognize(*w, false);
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Photoshop"));
    QCOMPARE(Probe::title(*w), std::string("Pictures"));

    Probe::recognize(*w, true);
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Unknown"));
}

// The title, the label and the refit timer change with the name and only then.
void RecognitionTest::titleLabelAndRefitFollowTheName()
{
    bringToFront(kPhotoshop);
    auto w = startProgram();
    QCOMPARE(w->windowTitle(), QStringLiteral("Korvant Huelens 1.0: Photoshop"));
    QCOMPARE(appLabelText(*w), QStringLiteral("Photoshop"));
    QTimer* timer = Probe::resizeTimer(*w);
    QVERIFY(timer->isActive());
    QVERIFY(timer->isSingleShot());
    QCOMPARE(timer->interval(), 100);

    // Another window of the same application: nothing visible changes.
    timer->stop();
    w->setWindowTitle(QStringLiteral("marker"));
    bringToFront(kPhotoshopPalette);
    Probe::recognize(*w, false);
    Probe::recognize(*w, false);
    QVERIFY(!timer->isActive());
    QCOMPARE(w->windowTitle(), QStringLiteral("marker"));

    bringToFront(kFirefox);
    Probe::recognize(*w, false);
    QCOMPARE(w->windowTitle(), QStringLiteral("Korvant Huelens 1.0: Firefox"));
    QCOMPARE(appLabelText(*w), QStringLiteral("Firefox"));
    QVERIFY(timer->isActive());

    timer->stop();
    Probe::recognize(*w, false);
    QVERIFY(!timer->isActive());
}

// The constructor must not create the native window just to compare handles.
void RecognitionTest::ownWindowChangesNothing()
{
    bringToFront(kLightroom);
    auto w = startProgram();
    QCOMPARE(w->internalWinId(), WId(0));

    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    const auto own = static_cast<platform::WindowHandle>(w->winId());
    QVERIFY(own != 0);
    script(own, "huelens.Huelens", "Capture One", "/usr/bin/huelens");
    bringToFront(own);
    Probe::recognize(*w, true);

    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Lightroom"));
    QCOMPARE(Probe::windowClass(*w), std::string("lightroom.exe.Lightroom"));
    QCOMPARE(Probe::title(*w), std::string("Library"));
    QCOMPARE(Probe::executable(*w), std::string("/usr/bin/wine64-preloader"));
}

void RecognitionTest::regionWindowKeepsTheName()
{
    bringToFront(kFirefox);
    auto w = startProgram("[General]\napps=Mine:huelens\n");
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Firefox"));

    bringToFront(kRegionWindow);
    Probe::recognize(*w, true);
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Firefox"));
    QCOMPARE(Probe::title(*w), std::string("Select region to capture for application: Firefox"));
    QCOMPARE(Probe::windowClass(*w), std::string("huelens.Huelens"));
}

void RecognitionTest::builtinRulesComeBeforeUserRules()
{
    auto w = startProgram("[General]\napps=MyShop::Photoshop\\nHg:hugin\\nTerm:XTERM\n");

    bringToFront(kPhotoshop);
    Probe::recognize(*w, true);
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Photoshop"));

    bringToFront(kHugin);
    Probe::recognize(*w, true);
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Hg"));

    bringToFront(kTerminal);
    Probe::recognize(*w, true);
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Unknown"));
}

// Guards a wrong recognition: an executable path that could not be read
// left the previous window's path in the buffer, so a rule on the previous
// application's executable took the new window too.
void RecognitionTest::unreadableExecutableDoesNotKeepThePreviousPath()
{
    script(kLockedProcess, "root-tool.Root-tool", "Settings", "");
    bringToFront(kHugin);
    auto w = startProgram("[General]\napps=Hg:::/usr/bin/hugin\n");
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Hg"));

    bringToFront(kLockedProcess);
    Probe::recognize(*w, true);
    QCOMPARE(Probe::executable(*w), std::string());
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Unknown"));

    script(kLockedProcess, "root-tool.Root-tool", std::string(3000, 't'), "/" + std::string(3000, 'p'));
    Probe::recognize(*w, true);
    QCOMPARE(Probe::title(*w).size(), kMaxTitleBytes);
    QCOMPARE(Probe::executable(*w).size(), kMaxExecutableBytes);
}

void RecognitionTest::noForegroundWindowKeepsTheBuffers()
{
    bringToFront(kPhotoshop);
    auto w = startProgram();
    bringToFront(0);
    Probe::recognize(*w, true);
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("Photoshop"));
    QCOMPARE(Probe::windowClass(*w), std::string("photoshop.exe.Wine"));
}

QTEST_MAIN(RecognitionTest)
#include "test_recognition.moc"
