// Which application owns the foreground window (the built-in and the user's
// rules), and what the main window shows of it.
#include "apps/AppsFormat.h"
#include "apps/RecognitionRules.h"
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QSet>
#include <QTimer>
#include <QtTest>

struct RecognitionTag;
template <> struct MainWindowProbe<RecognitionTag> {
    static void recognize(MainWindow& w, bool allowUnknown) { w.recognizeApplication(allowUnknown); }
    static QString currentApp(MainWindow& w) { return w.currentApp; }
    static QTimer* resizeTimer(MainWindow& w) { return w.resizeTimer; }
};
using Probe = MainWindowProbe<RecognitionTag>;

class RecognitionTest : public QObject {
    Q_OBJECT
private slots:
    // Every name the rules give is a display name of the built-in table.
    void builtinRules()
    {
        const char* gimpImage = "[baboon] (imported)-1.0 (RGB color 8-bit gamma integer, GIMP built-in sRGB, 1 layer) "
                                "512x512 \u2013 GIMP";
        const std::tuple<const char*, const char*, const char*> cases[] = {
            // The Windows programs, tested first and in this order.
            { "MozillaWindowClass", "Page - Mozilla Firefox", "Firefox" },
            { "firefox", "Mozilla Firefox", "" }, // the class lacks "Mozilla" (and a class part)
            { "Chrome_WidgetWin_1", "Tab - Google Chrome", "Chrome" },
            { "Luminar AI", "Luminar AI - photo", "Luminar AI" },
            { "Luminar 4 main", "Luminar 4", "Luminar 4" },
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
            { "", "ON1 Photo RAW 2024", "ON1" },
            { "", "DxO PureRAW 3", "DxO PureRAW" },
            { "", "DxO PhotoLab 7", "DxO PhotoLab" },
            { "", "Capture One 23", "Capture One" },
            { "Lightroom", "Photoshop", "Lightroom" },
            { "Mozilla", "Photoshop tips - Firefox", "Firefox" },
            // Before the Linux rules: a Linux window titled with a Windows program is that program.
            { "Navigator.firefox-esr", "Photoshop tips \u2014 Mozilla Firefox", "Photoshop" },
            { "gimp.Gimp", "[Lightroom export] (imported)-1.0 \u2013 GIMP", "Lightroom" },

            // Linux editors, by the texts recorded with `xprop WM_CLASS _NET_WM_NAME`
            // from their Debian 12 packages on Xvfb (Chrome and Resolve: the
            // StartupWMClass their desktop files document). GIMP's class follows
            // the name it was started by.
            { "gimp.Gimp", gimpImage, "GIMP" },
            { "gimp-2.10.Gimp-2.10", gimpImage, "GIMP" },
            { "gimp-2.10.Gimp-2.10", "GIMP Startup", "GIMP" },
            { "darktable.Darktable", "darktable", "darktable" },
            { "rawtherapee.Rawtherapee", "RawTherapee 5.9", "RawTherapee" },
            { "krita.krita", "Krita", "Krita" },
            { "krita.krita", "baboon.jpg (1.0 MiB)  \u2014 Krita", "Krita" },
            { "org.inkscape.Inkscape.Inkscape", "Inkscape 1.2.2 (b0a8486541, 2022-12-01)", "Inkscape" },
            { "org.inkscape.Inkscape.Inkscape", "d.svg - Inkscape", "Inkscape" },
            { "digikam.digikam", "digiKam", "digiKam" },
            { "digikam.digikam", "Download required files \u2014 digiKam", "digiKam" },
            { "kdenlive.kdenlive", "Untitled / HD 1080p 25 fps \u2014 Kdenlive", "Kdenlive" },
            { "shotcut.Shotcut", "Untitled - Shotcut", "Shotcut" },
            { "Blender.Blender", "Blender", "Blender" },
            // The class lacks "Mozilla": the Linux rule takes it.
            { "Navigator.firefox-esr", "Mozilla Firefox", "Firefox" },
            { "Navigator.firefox-esr", "baboon.jpg (JPEG Image, 512 \u00d7 512 pixels) \u2014 Mozilla Firefox",
                "Firefox" },
            { "chromium.Chromium", "baboon.jpg (512\u00d7512) - Chromium", "Chromium" },
            { "google-chrome.Google-chrome", "New Tab - Google Chrome", "Chrome" },
            { "resolve.resolve", "Message", "DaVinci Resolve" },
            // Look-alikes: a title naming an editor, letter case, no dot before the class.
            { "xterm.XTerm", "darktable notes", "" },
            { "gedit.Gedit", "gimp krita inkscape blender.txt", "" },
            { "GIMP.GIMP", "x", "" },
            { "Gimp", "x", "" },
        };
        QSet<QString> names;
        for (const auto& [windowClass, title, name] : cases) {
            const char* found = builtinApplicationName(windowClass, title);
            const QString row = QString::fromUtf8(windowClass) + " | " + QString::fromUtf8(title) + " -> ";
            QCOMPARE(row + QLatin1String(found ? found : ""), row + QLatin1String(name));
            if (found)
                names.insert(QString::fromLatin1(found));
        }
        const QList<QString> displayNames = builtinApplications().values();
        QCOMPARE(names, QSet<QString>(displayNames.begin(), displayNames.end()));
    }

    void userRules()
    {
        const char* cls = "darktable.Darktable";
        const char* title = "IMG_0042.CR3 - darktable";
        const char* exe = "/usr/bin/darktable";
        const std::tuple<const char*, const char*, const char*, const char*, const char*> cases[] = {
            { "Dt:darktable", cls, "x", "", "Dt" }, // class only, any title or path
            { "Dt:DARKTABLE", cls, title, exe, "" }, // letter case counts
            { "Dt::IMG_0042", cls, title, exe, "Dt" },
            { "Dt:::darktable", "", "", exe, "Dt" }, // a bare file name matches the full path
            { "Dt:darktable:Lighttable", cls, title, exe, "" }, // every non-empty field must hold
            { "A:nomatch\nB:darktable\nC:darktable", cls, title, exe, "B" },
            { "\u00c9diteur::Caf\u00e9", "x", "Caf\u00e9 \u2014 menu", "", "\u00c9diteur" }, // UTF-8
        };
        for (const auto& [apps, windowClass, title, executable, name] : cases) {
            const QList<AppProfile> profiles = parseAppProfiles(QString::fromUtf8(apps));
            const AppProfile* found = matchingProfile(profiles, windowClass, title, executable);
            const QString row = QString::fromUtf8(apps) + " -> ";
            QCOMPARE(row + (found ? found->name : QString()), row + QString::fromUtf8(name));
        }
    }

    void narrowBuffersCutAtCharacterBoundaries()
    {
        const std::string e = "\xC3\xA9"; // U+00E9, two bytes; U+1F3A8 below has four
        const std::tuple<std::string, std::size_t, std::string> cases[] = {
            { std::string(1022, 'a') + e, kMaxTitleBytes, std::string(1022, 'a') },
            { std::string(1021, 'a') + e, kMaxTitleBytes, std::string(1021, 'a') + e },
            { std::string(2044, 'p') + "\xF0\x9F\x8E\xA8", kMaxExecutableBytes, std::string(2044, 'p') },
            { std::string("abc\0def", 7), kMaxClassBytes, "abc" },
        };
        for (const auto& [text, maxBytes, expected] : cases) {
            std::string buffer = "left over from the previous window";
            copyNarrowText(text, maxBytes, buffer);
            QCOMPARE(buffer, expected);
        }
    }

    // One program, one window after another in front. The window title, the
    // label and the refit timer change with the name, and only then.
    void followsTheWindowInFront()
    {
        platform::MemoryDesktop& d = platform::memoryDesktop();
        d.reset(1600, 900);
        constexpr platform::WindowHandle kTerminal = 0x600001, kPhotoshop = 0x600002, kPalette = 0x600003,
                                         kFirefox = 0x600004, kRegionWindow = 0x600005, kHugin = 0x600006,
                                         kLocked = 0x600007;
        d.windows[kTerminal] = { { "xterm.XTerm", "user@host: ~" }, "/usr/bin/xterm" };
        d.windows[kPhotoshop] = { { "photoshop.exe.Wine", "Adobe Photoshop 2024 - IMG_0042.psd" }, "/usr/bin/wine" };
        d.windows[kPalette] = { { "photoshop.exe.Wine", "Layers" }, "/usr/bin/wine" };
        d.windows[kFirefox] = { { "MozillaWindowClass", "Colour theory - Mozilla Firefox" }, "/usr/bin/firefox" };
        d.windows[kRegionWindow]
            = { { "huelens.Huelens", "Select region to capture for application: Firefox" }, "/usr/bin/huelens" };
        d.windows[kHugin] = { { "hugin.Hugin", "Hugin - Panorama Stitcher" }, "/usr/bin/hugin" };
        d.windows[kLocked] = { { "root-tool.Root-tool", "Settings" }, "" }; // a path that could not be read
        d.foregroundWindow = kTerminal;
        testSandbox().writeConfig(
            "[General]\napps=MyShop::Photoshop\\nHg:::/usr/bin/hugin\\nTerm:XTERM\\nMine:huelens\n");

        MainWindow w(nullptr, false, 0);
        // The constructor must not create the native window just to compare handles.
        QCOMPARE(w.internalWinId(), WId(0));
        QCOMPARE(Probe::currentApp(w), QStringLiteral("Unknown"));
        QTimer* timer = Probe::resizeTimer(w);
        QVERIFY(timer->isActive() && timer->isSingleShot() && timer->interval() == 100);
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        const auto own = static_cast<platform::WindowHandle>(w.winId());
        d.windows[own] = { { "huelens.Huelens", "Capture One" }, "/usr/bin/huelens" };

        const std::tuple<platform::WindowHandle, bool, const char*> steps[] = {
            { kPhotoshop, false, "Photoshop" }, // a built-in rule before the user's MyShop
            { kPalette, false, "Photoshop" }, // another window of the same application
            { kTerminal, false, "Photoshop" }, // the cycle keeps the application last recognised
            { kTerminal, true, "Unknown" }, // Term:XTERM differs in letter case
            { kHugin, true, "Hg" },
            // Guards a wrong recognition: an unreadable path left Hugin's path
            // in the buffer, so the rule on it took this window too.
            { kLocked, true, "Unknown" }, // not Hg
            { kFirefox, true, "Firefox" },
            { kRegionWindow, true, "Firefox" }, // our region window, though Mine:huelens takes it
            { 0, true, "Firefox" }, // no window in front: recognition goes on with what it read
            { own, true, "Firefox" }, // our own window is not read
        };
        QString previous = QStringLiteral("Unknown");
        for (const auto& [window, allowUnknown, name] : steps) {
            d.foregroundWindow = window;
            timer->stop();
            Probe::recognize(w, allowUnknown);
            const QString step = QString::number(window, 16) + QStringLiteral(" -> ");
            QCOMPARE(step + Probe::currentApp(w), step + QLatin1String(name));
            QCOMPARE(w.windowTitle(), QStringLiteral("Korvant Huelens 1.0: ") + QLatin1String(name));
            QCOMPARE(w.findChild<QLabel*>(QStringLiteral("appLabel"))->text(), QLatin1String(name));
            QCOMPARE(timer->isActive(), previous != QLatin1String(name));
            previous = QLatin1String(name);
        }
    }
};

QTEST_MAIN(RecognitionTest)
#include "test_recognition.moc"
