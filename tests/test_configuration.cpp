// The "apps" rules text, capture records, and what config.ini keeps across a
// restart of the program.
#include "apps/AppsFormat.h"
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QSettings>
#include <QtTest>

#include <memory>
#include <utility>
#include <vector>

struct ConfigurationTag;
template <> struct MainWindowProbe<ConfigurationTag> {
    static const QMap<QString, std::array<int, 4>>& regions(MainWindow& w) { return w.appRegions; }
    static const QMap<QString, int>& adapters(MainWindow& w) { return w.appAdapters; }
    static const QList<AppProfile>& profiles(MainWindow& w) { return w.appProfiles; }
    static QString currentApp(MainWindow& w) { return w.currentApp; }
    static int windowSize(MainWindow& w) { return w.windowSize; }
    static const cv::Mat& frame(MainWindow& w) { return w.frameImage; }
    static void store(MainWindow& w, int monitor, const platform::Rect& rect) { w.storeCaptureTarget(monitor, rect); }
};
using Probe = MainWindowProbe<ConfigurationTag>;

Q_DECLARE_METATYPE(CaptureRect)

namespace {

constexpr platform::WindowHandle kTerminal = 0x500001;
constexpr platform::WindowHandle kResolve = 0x500002;
constexpr platform::WindowHandle kPhotoshop = 0x500003;
constexpr platform::WindowHandle kRuleWindow = 0x500004;

const CaptureRect kWholeMonitor { -1, -1, -1, -1 };

QString describe(const QList<AppProfile>& profiles)
{
    QStringList parts;
    for (const AppProfile& p : profiles)
        parts << QStringLiteral("[%1|%2|%3|%4]").arg(p.name, p.windowClass, p.windowTitle, p.executable);
    return parts.join(QLatin1Char(' '));
}

std::unique_ptr<MainWindow> startProgram()
{
    return std::make_unique<MainWindow>(nullptr, false, 0);
}

QVariant storedOnDisk(const QString& key)
{
    QSettings disk(testSandbox().configFile(), QSettings::IniFormat);
    return disk.value(key);
}

// Share of the frame's pixels that are pure red (frame bytes B, G, R, A).
double redShare(const cv::Mat& frame)
{
    int red = 0;
    for (int y = 0; y < frame.rows; ++y)
        for (int x = 0; x < frame.cols; ++x) {
            const cv::Vec4b& p = frame.at<cv::Vec4b>(y, x);
            if (p[0] == 0 && p[1] == 0 && p[2] == 255)
                ++red;
        }
    return static_cast<double>(red) / static_cast<double>(frame.total());
}

} // namespace

class ConfigurationTest : public QObject {
    Q_OBJECT

private slots:
    void init();

    void appsText();
    void captureRecord_data();
    void captureRecord();

    void freshInstallation();
    void builtinRecordUnderDisplayNameOrId();
    void builtinRegionSurvivesRestart();
    void unknownRegionSurvivesRestart();
    void profileRecordsKeepTheirBlanks();
    void damagedRecordsKeepTheDefault();
    void negativeLeftCapturesTheWholeStoredMonitor();
    void foreignKeysSurviveAndWritesReachTheDisk();
    void ruleNamedLikeASettingCannotOverwriteIt();
};

void ConfigurationTest::init()
{
    testSandbox().writeConfig(QByteArray());
    platform::MemoryDesktop& d = platform::memoryDesktop();
    d.reset(1600, 900);
    d.windows[kTerminal] = { { "xterm.XTerm", "user@host: ~" }, "/usr/bin/xterm" };
    d.windows[kResolve] = { { "resolve.resolve", "DaVinci Resolve - Project 1" }, "/opt/resolve/bin/resolve" };
    d.windows[kPhotoshop] = { { "photoshop.exe.Wine", "Adobe Photoshop 2024" }, "/usr/bin/wine64-preloader" };
    d.windows[kRuleWindow] = { { "someclass.Someclass", "A tool" }, "/usr/bin/sometool" };
    d.foregroundWindow = kTerminal;
}

void ConfigurationTest::appsText()
{
    const std::vector<std::pair<const char*, const char*>> cases {
        { "", "" },
        { "Darktable", "" },
        { "Darktable:", "" }, // a name and one ":" match nothing
        { "Darktable:::", "" },
        { ":darktable:Darktable:darktable", "" }, // empty name
        { "Darktable::lighttable", "[Darktable||lighttable|]" },
        { "Darktable:darktable::darktable", "[Darktable|darktable||darktable]" },
        { " My App : cls : a title : tool ", "[ My App | cls | a title | tool ]" },
        { "Gimp:gimp:GIMP:gimp:extra:more", "[Gimp|gimp|GIMP|gimp]" },
        { "B:b\n\nA::a\n:x\nC:::c", "[B|b||] [A||a|] [C|||c]" },
        { "Dt:darktable\nDt::lighttable", "[Dt|darktable||] [Dt||lighttable|]" },
    };
    for (const auto& [text, profiles] : cases)
        QCOMPARE(describe(parseAppProfiles(QString::fromUtf8(text))), QString::fromUtf8(profiles));
}

void ConfigurationTest::captureRecord_data()
{
    QTest::addColumn<QString>("record");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<int>("adapter");
    QTest::addColumn<CaptureRect>("rect");

    // Outputs start at 7 so that "untouched" is visible.
    const CaptureRect untouched { 7, 7, 7, 7 };
    QTest::newRow("five fields") << "1|100|50|900|650" << true << 1 << CaptureRect { 100, 50, 900, 650 };
    QTest::newRow("default record") << "0|-1|-1|-1|-1" << true << 0 << kWholeMonitor;
    QTest::newRow("not numbers read as 0") << "x|10|abc|30|" << true << 0 << CaptureRect { 10, 0, 30, 0 };
    QTest::newRow("trailing garbage is not a number")
        << "2|10px|20|30|40" << true << 2 << CaptureRect { 0, 20, 30, 40 };
    QTest::newRow("32-bit limits kept") << "0|-2147483648|0|0|2147483647" << true << 0
                                        << CaptureRect { -2147483648, 0, 0, 2147483647 };
    // Guards against undefined overflow when converting damaged numbers.
    QTest::newRow("overflowing numbers read as 0")
        << "99999999999|2147483648|0|10|-99999999999" << true << 0 << CaptureRect { 0, 0, 10, 0 };
    QTest::newRow("four fields") << "1|2|3|4" << false << 7 << untouched;
    QTest::newRow("six fields") << "1|2|3|4|5|6" << false << 7 << untouched;
    QTest::newRow("other separator") << "1,2,3,4,5" << false << 7 << untouched;
}

void ConfigurationTest::captureRecord()
{
    QFETCH(QString, record);
    QFETCH(bool, parsed);
    QFETCH(int, adapter);
    QFETCH(CaptureRect, rect);

    int gotAdapter = 7;
    CaptureRect gotRect { 7, 7, 7, 7 };
    QCOMPARE(parseCaptureRecord(record, gotAdapter, gotRect), parsed);
    QCOMPARE(gotAdapter, adapter);
    QCOMPARE(gotRect, rect);
}

void ConfigurationTest::freshInstallation()
{
    QFile::remove(testSandbox().configFile());
    auto w = startProgram();

    QCOMPARE(Probe::windowSize(*w), 400);
    QVERIFY(Probe::profiles(*w).isEmpty());
    const QMap<QString, QString> builtins = builtinApplications();
    QCOMPARE(builtins.size(), 25);
    for (const QString& name : builtins) {
        QCOMPARE(Probe::regions(*w).value(name, { 0, 0, 0, 0 }), kWholeMonitor);
        QCOMPARE(Probe::adapters(*w).value(name, -1), 0);
    }
    QCOMPARE(Probe::regions(*w).value(QStringLiteral("unknown")), kWholeMonitor);
}

// Guards a lost region: records were read only under the built-in id while
// the region selection writes them under the display name.
void ConfigurationTest::builtinRecordUnderDisplayNameOrId()
{
    testSandbox().writeConfig("[General]\n"
                              "resolve=1|10|20|30|40\n"
                              "photoshop=3|9|9|9|9\n"
                              "Photoshop=2|1|2|3|4\n"
                              "Capture%20One=1|5|6|7|8\n");
    auto w = startProgram();

    QCOMPARE(Probe::regions(*w).value(QStringLiteral("DaVinci Resolve")), (CaptureRect { 10, 20, 30, 40 }));
    QCOMPARE(Probe::adapters(*w).value(QStringLiteral("DaVinci Resolve")), 1);
    QCOMPARE(Probe::regions(*w).value(QStringLiteral("Photoshop")), (CaptureRect { 1, 2, 3, 4 }));
    QCOMPARE(Probe::adapters(*w).value(QStringLiteral("Photoshop")), 2);
    QCOMPARE(Probe::regions(*w).value(QStringLiteral("Capture One")), (CaptureRect { 5, 6, 7, 8 }));
    QVERIFY(!Probe::regions(*w).contains(QStringLiteral("resolve")));
}

// Guards a lost region: a region chosen for a built-in application was gone
// at the next start.
void ConfigurationTest::builtinRegionSurvivesRestart()
{
    testSandbox().writeConfig("[General]\nresolve=0|1|1|2|2\n");
    platform::memoryDesktop().foregroundWindow = kResolve;
    {
        auto w = startProgram();
        QCOMPARE(Probe::currentApp(*w), QStringLiteral("DaVinci Resolve"));
        Probe::store(*w, 1, { 5, 6, 105, 106 });
        QCOMPARE(storedOnDisk(QStringLiteral("DaVinci Resolve")).toString(), QStringLiteral("1|5|6|105|106"));
    }
    auto w = startProgram();
    QCOMPARE(Probe::regions(*w).value(QStringLiteral("DaVinci Resolve")), (CaptureRect { 5, 6, 105, 106 }));
    QCOMPARE(Probe::adapters(*w).value(QStringLiteral("DaVinci Resolve")), 1);
}

// Guards a lost region: a region chosen while nothing was recognised was
// written under "Unknown" and never read back.
void ConfigurationTest::unknownRegionSurvivesRestart()
{
    platform::MemoryDesktop& d = platform::memoryDesktop();
    d.screen(cv::Rect(100, 100, 200, 100)).setTo(cv::Scalar(0, 0, 255, 255));
    {
        auto w = startProgram();
        QCOMPARE(Probe::currentApp(*w), QStringLiteral("Unknown"));
        Probe::store(*w, 0, { 100, 100, 300, 200 });
        QCOMPARE(storedOnDisk(QStringLiteral("Unknown")).toString(), QStringLiteral("0|100|100|300|200"));
    }
    auto w = startProgram();
    QCOMPARE(Probe::regions(*w).value(QStringLiteral("Unknown")), (CaptureRect { 100, 100, 300, 200 }));

    w->updateScreen();
    const cv::Mat& frame = Probe::frame(*w);
    QCOMPARE(frame.cols, 400);
    QCOMPARE(frame.rows, 200);
    QCOMPARE(redShare(frame), 1.0);
}

void ConfigurationTest::profileRecordsKeepTheirBlanks()
{
    testSandbox().writeConfig("[General]\n"
                              "apps=\" Spaced : cls \\nDt:darktable\\nDt::lighttable\\nGone\"\n"
                              "%20Spaced%20=1|5|5|50|50\n"
                              "Spaced=0|1|1|2|2\n"
                              "Dt=1|1|2|3|4\n"
                              "Deleted=1|9|9|90|90\n");
    auto w = startProgram();

    QCOMPARE(Probe::profiles(*w).size(), 3);
    QCOMPARE(Probe::regions(*w).value(QStringLiteral(" Spaced ")), (CaptureRect { 5, 5, 50, 50 }));
    QCOMPARE(Probe::adapters(*w).value(QStringLiteral(" Spaced ")), 1);
    QCOMPARE(Probe::regions(*w).value(QStringLiteral("Dt")), (CaptureRect { 1, 2, 3, 4 }));
    QVERIFY(!Probe::regions(*w).contains(QStringLiteral("Spaced")));
    QVERIFY(!Probe::regions(*w).contains(QStringLiteral("Deleted")));

    platform::memoryDesktop().foregroundWindow = kRuleWindow;
    platform::memoryDesktop().windows[kRuleWindow].texts.windowClass = " cls ";
    {
        auto again = startProgram();
        Probe::store(*again, 0, { 10, 10, 20, 20 });
        QCOMPARE(Probe::currentApp(*again), QStringLiteral(" Spaced "));
    }
    QCOMPARE(storedOnDisk(QStringLiteral(" Spaced ")).toString(), QStringLiteral("0|10|10|20|20"));
    QCOMPARE(storedOnDisk(QStringLiteral("Spaced")).toString(), QStringLiteral("0|1|1|2|2"));
}

void ConfigurationTest::damagedRecordsKeepTheDefault()
{
    testSandbox().writeConfig("[General]\n"
                              "Photoshop=1|2|3|4\n"
                              "Firefox=1|2|3|4|5|6\n"
                              "Chrome=x|10|abc|30|40\n"
                              "Lightroom=0|99999999999|0|10|10\n"
                              "Illustrator=\n"
                              "window_size=abc\n");
    auto w = startProgram();

    QCOMPARE(Probe::regions(*w).value(QStringLiteral("Photoshop")), kWholeMonitor);
    QCOMPARE(Probe::adapters(*w).value(QStringLiteral("Photoshop")), 0);
    QCOMPARE(Probe::regions(*w).value(QStringLiteral("Firefox")), kWholeMonitor);
    QCOMPARE(Probe::adapters(*w).value(QStringLiteral("Firefox")), 0);
    QCOMPARE(Probe::regions(*w).value(QStringLiteral("Chrome")), (CaptureRect { 10, 0, 30, 40 }));
    QCOMPARE(Probe::regions(*w).value(QStringLiteral("Lightroom")), (CaptureRect { 0, 0, 10, 10 }));
    QCOMPARE(Probe::regions(*w).value(QStringLiteral("Illustrator")), kWholeMonitor);
    QCOMPARE(Probe::windowSize(*w), 400);
}

void ConfigurationTest::negativeLeftCapturesTheWholeStoredMonitor()
{
    // Monitor 0 black, monitor 1 (800 x 600, right of it) red.
    platform::MemoryDesktop& d = platform::memoryDesktop();
    d.reset(2400, 900);
    d.monitorTable = { { 0, 0, 1600, 900 }, { 1600, 0, 2400, 600 } };
    d.screen(cv::Rect(1600, 0, 800, 600)).setTo(cv::Scalar(0, 0, 255, 255));
    d.windows[kPhotoshop] = { { "photoshop.exe.Wine", "Adobe Photoshop 2024" }, "" };
    d.foregroundWindow = kPhotoshop;
    testSandbox().writeConfig("[General]\nPhotoshop=1|-5|100|300|200\n");
    auto w = startProgram();

    w->updateScreen();
    const cv::Mat& frame = Probe::frame(*w);
    QCOMPARE(frame.cols, 400);
    QCOMPARE(frame.rows, 300); // 600 * 400 / 800
    QCOMPARE(redShare(frame), 1.0);
}

void ConfigurationTest::foreignKeysSurviveAndWritesReachTheDisk()
{
    testSandbox().writeConfig("[General]\n"
                              "favourite_colour=teal\n"
                              "Photoshop=0|1|1|2|2\n"
                              "[plugins]\n"
                              "enabled=true\n");
    platform::memoryDesktop().foregroundWindow = kPhotoshop;
    auto w = startProgram();
    // Read back while the program still runs: only a sync puts it there.
    Probe::store(*w, 1, { 0, 0, 640, 480 });

    QCOMPARE(storedOnDisk(QStringLiteral("Photoshop")).toString(), QStringLiteral("1|0|0|640|480"));
    QCOMPARE(storedOnDisk(QStringLiteral("favourite_colour")).toString(), QStringLiteral("teal"));
    QCOMPARE(storedOnDisk(QStringLiteral("plugins/enabled")).toString(), QStringLiteral("true"));
    QCOMPARE(Probe::regions(*w).value(QStringLiteral("Photoshop")), (CaptureRect { 0, 0, 640, 480 }));
    QCOMPARE(Probe::adapters(*w).value(QStringLiteral("Photoshop")), 1);
}

// Guards lost settings: a region chosen for a rule named "apps" overwrote the
// rules themselves.
void ConfigurationTest::ruleNamedLikeASettingCannotOverwriteIt()
{
    testSandbox().writeConfig("[General]\napps=apps:someclass\nwindow_size=300\n");
    platform::memoryDesktop().foregroundWindow = kRuleWindow;
    auto w = startProgram();
    QCOMPARE(Probe::currentApp(*w), QStringLiteral("apps"));
    QCOMPARE(Probe::regions(*w).value(QStringLiteral("apps")), kWholeMonitor);

    Probe::store(*w, 0, { 1, 2, 3, 4 });
    QCOMPARE(Probe::regions(*w).value(QStringLiteral("apps")), (CaptureRect { 1, 2, 3, 4 }));
    QCOMPARE(storedOnDisk(QStringLiteral("apps")).toString(), QStringLiteral("apps:someclass"));
    QCOMPARE(storedOnDisk(QStringLiteral("window_size")).toInt(), 300);
}

QTEST_MAIN(ConfigurationTest)
#include "test_configuration.moc"
