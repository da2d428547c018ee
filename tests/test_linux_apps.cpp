// Recognition of the editors and browsers of a Linux desktop, by the class
// and title texts that the programs really give their windows. Each text
// below was read with `xprop WM_CLASS _NET_WM_NAME` from the Debian 12
// package named beside it, running on Xvfb; Google Chrome and DaVinci
// Resolve are not Debian packages, and their texts are the ones their own
// desktop files and users document (StartupWMClass "Google-chrome" and
// "resolve").
#include "apps/AppsFormat.h"
#include "apps/RecognitionRules.h"
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QSet>
#include <QtTest>

#include <memory>

struct LinuxAppsTag;
template <> struct MainWindowProbe<LinuxAppsTag> {
    static QString currentApp(MainWindow& w) { return w.currentApp; }
    static const cv::Mat& frame(MainWindow& w) { return w.frameImage; }
    static void recognize(MainWindow& w) { w.recognizeApplication(false); }
};
using Probe = MainWindowProbe<LinuxAppsTag>;

namespace {

QString builtinName(const QByteArray& windowClass, const QByteArray& title)
{
    const char* name = builtinApplicationName(windowClass.toStdString(), title.toStdString());
    return name ? QString::fromLatin1(name) : QString();
}

} // namespace

class LinuxAppsTest : public QObject {
    Q_OBJECT

private slots:
    void recordedWindows_data();
    void recordedWindows();
    void lookAlikesAreNotTaken_data();
    void lookAlikesAreNotTaken();
    void windowsRulesComeFirst();
    void everyNameHasAnId();
    void regionIsStoredAndRestored();
};

void LinuxAppsTest::recordedWindows_data()
{
    QTest::addColumn<QByteArray>("windowClass");
    QTest::addColumn<QByteArray>("title");
    QTest::addColumn<QString>("name");

    // gimp 2.10.34-1+deb12u10, started as "gimp" and as "gimp-2.10" (the
    // menu entry): the instance and class follow the name it was started by.
    const QByteArray gimpImageTitle("[baboon] (imported)-1.0 (RGB color 8-bit gamma integer, GIMP built-in sRGB, 1 "
                                    "layer) 512x512 \u2013 GIMP");
    QTest::newRow("GIMP image window") << QByteArray("gimp.Gimp") << gimpImageTitle << "GIMP";
    QTest::newRow("GIMP from the menu") << QByteArray("gimp-2.10.Gimp-2.10") << gimpImageTitle << "GIMP";
    QTest::newRow("GIMP splash") << QByteArray("gimp-2.10.Gimp-2.10") << QByteArray("GIMP Startup") << "GIMP";
    // darktable 4.2.1-4: the same title in the lighttable and the darkroom.
    QTest::newRow("darktable") << QByteArray("darktable.Darktable") << QByteArray("darktable") << "darktable";
    // rawtherapee 5.9-1+b1
    QTest::newRow("RawTherapee") << QByteArray("rawtherapee.Rawtherapee") << QByteArray("RawTherapee 5.9")
                                 << "RawTherapee";
    // krita 1:5.1.5+dfsg-2+deb12u1: the splash, then the document window.
    QTest::newRow("Krita splash") << QByteArray("krita.krita") << QByteArray("Krita") << "Krita";
    QTest::newRow("Krita document") << QByteArray("krita.krita") << QByteArray("baboon.jpg (1.0 MiB)  \u2014 Krita")
                                    << "Krita";
    // inkscape 1.2.2-2+deb12u1: the welcome dialog and the drawing window.
    QTest::newRow("Inkscape welcome") << QByteArray("org.inkscape.Inkscape.Inkscape")
                                      << QByteArray("Inkscape 1.2.2 (b0a8486541, 2022-12-01)") << "Inkscape";
    QTest::newRow("Inkscape drawing") << QByteArray("org.inkscape.Inkscape.Inkscape") << QByteArray("d.svg - Inkscape")
                                      << "Inkscape";
    // digikam 4:7.9.0-1+b2: the first-run assistant and the main window are
    // both titled "digiKam"; its dialogs name it after a dash.
    QTest::newRow("digiKam") << QByteArray("digikam.digikam") << QByteArray("digiKam") << "digiKam";
    QTest::newRow("digiKam dialog") << QByteArray("digikam.digikam")
                                    << QByteArray("Download required files \u2014 digiKam") << "digiKam";
    // kdenlive 22.12.3-2+deb12u2
    QTest::newRow("Kdenlive") << QByteArray("kdenlive.kdenlive")
                              << QByteArray("Untitled / HD 1080p 25 fps \u2014 Kdenlive") << "Kdenlive";
    // shotcut 22.12.21+ds-2
    QTest::newRow("Shotcut") << QByteArray("shotcut.Shotcut") << QByteArray("Untitled - Shotcut") << "Shotcut";
    // blender 3.4.1+dfsg-2+b1
    QTest::newRow("Blender") << QByteArray("Blender.Blender") << QByteArray("Blender") << "Blender";
    // firefox-esr 153.8.0esr-1~deb12u1: the class has no "Mozilla", so the
    // Windows rule misses it and the Linux rule takes it.
    QTest::newRow("Firefox ESR start page")
        << QByteArray("Navigator.firefox-esr") << QByteArray("Mozilla Firefox") << "Firefox";
    QTest::newRow("Firefox ESR picture") << QByteArray(
        "Navigator.firefox-esr") << QByteArray("baboon.jpg (JPEG Image, 512 \u00d7 512 pixels) \u2014 Mozilla Firefox")
                                         << "Firefox";
    // chromium 156.0.8078.129-1~deb12u1
    QTest::newRow("Chromium") << QByteArray("chromium.Chromium") << QByteArray("baboon.jpg (512\u00d7512) - Chromium")
                              << "Chromium";
    // Not Debian packages: the documented class texts.
    QTest::newRow("Google Chrome") << QByteArray("google-chrome.Google-chrome") << QByteArray("New Tab - Google Chrome")
                                   << "Chrome";
    QTest::newRow("DaVinci Resolve dialog")
        << QByteArray("resolve.resolve") << QByteArray("Message") << "DaVinci Resolve";
}

void LinuxAppsTest::recordedWindows()
{
    QFETCH(QByteArray, windowClass);
    QFETCH(QByteArray, title);
    QFETCH(QString, name);
    QCOMPARE(builtinName(windowClass, title), name);
}

void LinuxAppsTest::lookAlikesAreNotTaken_data()
{
    QTest::addColumn<QByteArray>("windowClass");
    QTest::addColumn<QByteArray>("title");

    // Titles that name an editor are not the editor.
    QTest::newRow("terminal") << QByteArray("xterm.XTerm") << QByteArray("darktable notes");
    QTest::newRow("text editor") << QByteArray("gedit.Gedit") << QByteArray("gimp krita inkscape blender.txt");
    QTest::newRow("file manager") << QByteArray("org.gnome.Nautilus.Org.gnome.Nautilus")
                                  << QByteArray("Kdenlive projects");
    // The class texts are case-sensitive bytes, like every built-in rule.
    QTest::newRow("other letter case") << QByteArray("GIMP.GIMP") << QByteArray("x");
    // Without the dot the class part could be any word that ends so.
    QTest::newRow("no class part") << QByteArray("Gimp") << QByteArray("x");
    QTest::newRow("no window texts") << QByteArray() << QByteArray();
}

void LinuxAppsTest::lookAlikesAreNotTaken()
{
    QFETCH(QByteArray, windowClass);
    QFETCH(QByteArray, title);
    QCOMPARE(builtinName(windowClass, title), QString());
}

// The Windows rules keep their order and meaning: they are tested first.
void LinuxAppsTest::windowsRulesComeFirst()
{
    // Rule 10 takes any title with "Photoshop", also a Linux browser's.
    QCOMPARE(
        builtinName("Navigator.firefox-esr", "Photoshop tips \u2014 Mozilla Firefox"), QStringLiteral("Photoshop"));
    QCOMPARE(builtinName("gimp.Gimp", "[Lightroom export] (imported)-1.0 \u2013 GIMP"), QStringLiteral("Lightroom"));
    // Rule 11 takes Resolve's main window by its title, the Linux rule its other windows.
    QCOMPARE(builtinName("resolve.resolve", "DaVinci Resolve - Untitled Project"), QStringLiteral("DaVinci Resolve"));
    // A Windows Firefox still needs both texts of rule 1.
    QCOMPARE(builtinName("MozillaWindowClass", "Page - Mozilla Firefox"), QStringLiteral("Firefox"));
}

// Each built-in name is a display name of the built-in table, under which its
// region is loaded; the ids are lower case and unique.
void LinuxAppsTest::everyNameHasAnId()
{
    const QMap<QString, QString> apps = builtinApplications();
    const QList<QString> names = apps.values();
    const QSet<QString> displayNames(names.begin(), names.end());
    QCOMPARE(displayNames.size(), apps.size());
    const QStringList linuxNames { "GIMP", "darktable", "RawTherapee", "Krita", "Inkscape", "digiKam", "Kdenlive",
        "Shotcut", "Blender", "DaVinci Resolve", "Firefox", "Chrome", "Chromium" };
    for (const QString& name : linuxNames)
        QVERIFY2(displayNames.contains(name), qPrintable(name));
    for (auto it = apps.cbegin(); it != apps.cend(); ++it)
        QCOMPARE(it.key(), it.key().toLower());
    QCOMPARE(apps.value(QStringLiteral("gimp")), QStringLiteral("GIMP"));
    QCOMPARE(apps.value(QStringLiteral("chromium")), QStringLiteral("Chromium"));
    QCOMPARE(apps.size(), 25);
}

// A region stored for a Linux editor comes back at the next start and is the
// one captured while the editor is in front.
void LinuxAppsTest::regionIsStoredAndRestored()
{
    platform::MemoryDesktop& desktop = platform::memoryDesktop();
    desktop.reset(1600, 900, cv::Scalar(0, 0, 0));
    desktop.screen(cv::Rect(800, 100, 400, 300)).setTo(cv::Scalar(0, 200, 0, 255)); // B, G, R, A
    desktop.windows[0x700001]
        = { { "gimp-2.10.Gimp-2.10", "[IMG_0042] (imported)-1.0 \u2013 GIMP" }, "/usr/bin/gimp-2.10" };
    desktop.windows[0x700002] = { { "xterm.XTerm", "shell" }, "/usr/bin/xterm" };
    desktop.foregroundWindow = 0x700001;

    testSandbox().writeConfig("[General]\nGIMP=0|800|100|1200|400\n");
    auto w = std::make_unique<MainWindow>(nullptr, false, 0);
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("GIMP"));
    QCOMPARE(w->windowTitle(), QStringLiteral("Korvant Huelens 1.0: GIMP"));
    w->updateScreen();
    const cv::Mat& frame = Probe::frame(*w);
    QCOMPARE(frame.cols, 400);
    QCOMPARE(frame.rows, 300);
    QCOMPARE(frame.at<cv::Vec4b>(0, 0), cv::Vec4b(0, 200, 0, 255));
    QCOMPARE(frame.at<cv::Vec4b>(299, 399), cv::Vec4b(0, 200, 0, 255));

    // An unrecognised window in front keeps GIMP's region.
    desktop.foregroundWindow = 0x700002;
    w->updateScreen();
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("GIMP"));
    QCOMPARE(Probe::frame(*w).at<cv::Vec4b>(150, 200), cv::Vec4b(0, 200, 0, 255));
}

QTEST_MAIN(LinuxAppsTest)
#include "test_linux_apps.moc"
