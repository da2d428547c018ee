// Readings with the monitor's profile undone: the conversion against the
// colour engine's own, the profiles it refuses, and the program reading the
// converted frame while the preview keeps the screen's bytes.
#include "apps/AppsFormat.h"
#include "apps/SettingsFile.h"
#include "platform/memory/MemoryDesktop.h"
#include "scopes/ProfileTransform.h"
#include "scopes/ReadingsProfile.h"
#include "scopes/StillScope.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolBar>
#include <QtTest>

#include <lcms2.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <fstream>
#include <memory>

struct ReadingsTag;
template <> struct MainWindowProbe<ReadingsTag> {
    static const cv::Mat& preview(MainWindow& w) { return w.frameImage; }
    static const cv::Mat& readings(MainWindow& w) { return w.scopeFrame(); }
    static unsigned sample(MainWindow& w, unsigned argb) { return w.readingOfPixel(argb, 0); }
    static const cv::Mat& scope(MainWindow& w) { return w.scopeImage; }
    static void pointAt(MainWindow& w, int displayMode, double x, double y)
    {
        w.displayMode = displayMode;
        w.hoverX = x;
        w.hoverY = y;
    }
};
using Probe = MainWindowProbe<ReadingsTag>;

namespace {

const QString kIcc = QStringLiteral("/usr/share/color/icc/");
const QString kSwapped = kIcc + QStringLiteral("colord/SwappedRedAndGreen.icc");
const QString kAdobe = kIcc + QStringLiteral("compatibleWithAdobeRGB1998.icc");

std::vector<std::uint8_t> fileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing profile %s (install-deps.sh installs it)", qPrintable(path));
    const QByteArray data = file.readAll();
    return { data.cbegin(), data.cend() };
}

std::vector<std::uint8_t> saved(cmsHPROFILE profile)
{
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<std::uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    return bytes;
}

// A CMYK printer profile with nothing in it but its header.
std::vector<std::uint8_t> cmykProfile()
{
    cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
    cmsSetDeviceClass(p, cmsSigOutputClass);
    cmsSetColorSpace(p, cmsSigCmykData);
    cmsSetPCS(p, cmsSigLabData);
    return saved(p);
}

std::vector<std::uint8_t> greyProfile()
{
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsHPROFILE p = cmsCreateGrayProfile(cmsD50_xyY(), gamma);
    cmsFreeToneCurve(gamma);
    return saved(p);
}

// An RGB monitor profile made of a table (no matrix): sRGB with red and
// green swapped, sampled on a 9-point grid into Lab (version 2 encoding).
int sampleSwappedSrgb(const cmsUInt16Number in[], cmsUInt16Number out[], void* toLab)
{
    const cmsUInt16Number swapped[3] = { in[1], in[0], in[2] };
    cmsDoTransform(static_cast<cmsHTRANSFORM>(toLab), swapped, out, 1);
    return TRUE;
}

std::vector<std::uint8_t> tableProfile()
{
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHPROFILE lab = cmsCreateLab4Profile(nullptr);
    cmsHTRANSFORM toLab = cmsCreateTransform(srgb, TYPE_RGB_16, lab, TYPE_LabV2_16, INTENT_RELATIVE_COLORIMETRIC, 0);
    cmsPipeline* lut = cmsPipelineAlloc(nullptr, 3, 3);
    cmsStage* grid = cmsStageAllocCLut16bit(nullptr, 9, 3, 3, nullptr);
    cmsStageSampleCLut16bit(grid, sampleSwappedSrgb, toLab, 0);
    cmsPipelineInsertStage(lut, cmsAT_BEGIN, grid);
    cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(p, 2.1);
    cmsSetDeviceClass(p, cmsSigDisplayClass);
    cmsSetColorSpace(p, cmsSigRgbData);
    cmsSetPCS(p, cmsSigLabData);
    cmsWriteTag(p, cmsSigAToB0Tag, lut);
    cmsWriteTag(p, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    cmsPipelineFree(lut);
    cmsDeleteTransform(toLab);
    cmsCloseProfile(lab);
    cmsCloseProfile(srgb);
    return saved(p);
}

// Colour engine, 8 bits in and out: what the table must reproduce.
cv::Mat engineConversion(const std::vector<std::uint8_t>& icc, const cv::Mat& frame, bool fromSrgb = false)
{
    cmsHPROFILE monitor = cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    cmsHTRANSFORM t = fromSrgb ? cmsCreateTransform(srgb, TYPE_BGRA_8, monitor, TYPE_BGRA_8, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_COPY_ALPHA)
                               : cmsCreateTransform(monitor, TYPE_BGRA_8, srgb, TYPE_BGRA_8, INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_COPY_ALPHA);
    cv::Mat out(frame.size(), CV_8UC4);
    cmsDoTransform(t, frame.data, out.data, cmsUInt32Number(frame.total()));
    cmsDeleteTransform(t);
    cmsCloseProfile(monitor);
    cmsCloseProfile(srgb);
    return out;
}

// Every 17th level of each channel: 16 x 16 x 16 colours, alpha 255.
cv::Mat colourCube()
{
    cv::Mat cube(16 * 16, 16, CV_8UC4);
    for (int b = 0; b < 16; ++b)
        for (int g = 0; g < 16; ++g)
            for (int r = 0; r < 16; ++r)
                cube.at<cv::Vec4b>(b * 16 + g, r) = cv::Vec4b(uchar(b * 17), uchar(g * 17), uchar(r * 17), 255);
    return cube;
}

int largestDifference(const cv::Mat& a, const cv::Mat& b)
{
    double most = 0;
    const cv::Mat difference = (a - b) + (b - a); // bytes saturate at 0
    cv::minMaxLoc(difference.reshape(1), nullptr, &most);
    return int(most);
}

double saturation(const cv::Vec4b& bgr)
{
    const int high = std::max({ bgr[0], bgr[1], bgr[2] });
    const int low = std::min({ bgr[0], bgr[1], bgr[2] });
    return high == 0 ? 0.0 : double(high - low) / high;
}

class ReadingsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<MainWindow> program;

    void startProgram(const QByteArray& config)
    {
        testSandbox().writeConfig(config);
        program = std::make_unique<MainWindow>(nullptr, false, 0);
    }

private slots:
    void init()
    {
        platform::MemoryDesktop& d = platform::memoryDesktop();
        d.reset(1600, 900, cv::Scalar(0, 0, 255)); // red
        d.profiles.clear();
    }
    void cleanup() { program.reset(); }

    // The tables give the colour engine's own answer, to one level, for
    // matrix-shaper monitors of every width of gamut.
    void tablesMatchTheColourEngine()
    {
        const cv::Mat cube = colourCube();
        for (const char* name : { "compatibleWithAdobeRGB1998.icc", "colord/ProPhotoRGB.icc", "colord/WideGamutRGB.icc",
                 "colord/Rec709.icc", "colord/SwappedRedAndGreen.icc", "colord/Gamma5000K.icc", "colord/sRGB.icc" }) {
            const std::vector<std::uint8_t> icc = fileBytes(kIcc + QLatin1String(name));
            scopes::ProfileTransform transform;
            QVERIFY2(transform.load(icc), name);
            QVERIFY2(transform.matrixShaper(), name);
            cv::Mat ours;
            transform.apply(cube, ours);
            QVERIFY2(largestDifference(ours, engineConversion(icc, cube)) <= 1, name);
        }
    }

    // A profile of tables goes through the colour engine itself.
    void tableProfilesGoThroughTheEngine()
    {
        const std::vector<std::uint8_t> icc = tableProfile();
        scopes::ProfileTransform transform;
        QVERIFY2(transform.load(icc), transform.problem().c_str());
        QVERIFY(!transform.matrixShaper());
        const cv::Mat cube = colourCube();
        cv::Mat ours;
        transform.apply(cube, ours);
        QCOMPARE(largestDifference(ours, engineConversion(icc, cube)), 0);
        const auto green = transform.convert(0, 0, 255);
        QVERIFY2(green[1] >= 250 && green[0] <= 5 && green[2] <= 5, "red on the screen is green in the picture");
    }

    // What the editor converted for the monitor comes back: on a monitor
    // that swaps red and green the screen's red is the picture's green; sRGB colours shown on a wide-gamut monitor come back to within a
    // level or two, the saturated green with its full saturation.
    void undoesTheMonitor()
    {
        scopes::ProfileTransform swapped;
        QVERIFY(swapped.load(fileBytes(kSwapped)));
        const auto green = swapped.convert(0, 0, 255);
        QVERIFY2(green[1] >= 254 && green[0] <= 1 && green[2] <= 1, "red on the screen is green in the picture");

        const std::vector<std::uint8_t> adobe = fileBytes(kAdobe);
        const cv::Mat picture = colourCube();
        const cv::Mat screen = engineConversion(adobe, picture, true);
        scopes::ProfileTransform undo;
        QVERIFY(undo.load(adobe));
        cv::Mat readings;
        undo.apply(screen, readings);
        // The screen holds 8 bits in the monitor's space: a channel near 0 in a
        // saturated colour lies where sRGB's toe is steep, and comes back a
        // few levels off (sRGB 17 read as 12); the screen values are up to
        // 90 levels off.
        QVERIFY(largestDifference(screen, picture) > 80);
        QVERIFY(largestDifference(readings, picture) <= 5);

        const cv::Vec4b pureGreen(0, 255, 0, 255);
        const cv::Mat greenPicture(1, 1, CV_8UC4, cv::Scalar(pureGreen));
        const cv::Vec4b onScreen = engineConversion(adobe, greenPicture, true).at<cv::Vec4b>(0, 0);
        cv::Mat back;
        undo.apply(cv::Mat(1, 1, CV_8UC4, cv::Scalar(onScreen)), back);
        QVERIFY(saturation(onScreen) < 0.85);
        QVERIFY(saturation(back.at<cv::Vec4b>(0, 0)) > 0.99);
    }

    // Nothing usable: an empty transform that says why and leaves the bytes alone.
    void refusesWhatIsNoMonitorProfile()
    {
        std::vector<std::uint8_t> truncated = fileBytes(kAdobe);
        truncated.resize(300);
        std::vector<std::uint8_t> garbage(4000, 0x41);
        const std::pair<std::vector<std::uint8_t>, const char*> cases[] = {
            { {}, "no profile" },
            { garbage, "not an ICC profile" },
            { truncated, "" },
            { greyProfile(), "a grey profile" },
            { cmykProfile(), "a CMYK profile" },
            { saved(cmsCreateLab4Profile(nullptr)), "an abstract profile" },
            { saved(cmsCreateInkLimitingDeviceLink(cmsSigCmykData, 300)), "a device link" },
        };
        const cv::Mat cube = colourCube();
        for (const auto& [bytes, why] : cases) {
            scopes::ProfileTransform transform;
            QVERIFY(transform.load(fileBytes(kSwapped)));
            QVERIFY(!transform.load(bytes));
            QVERIFY(transform.empty());
            QVERIFY2(!transform.problem().empty() && transform.problem().find(why) != std::string::npos,
                transform.problem().c_str());
            cv::Mat out;
            transform.apply(cube, out);
            QCOMPARE(largestDifference(out, cube), 0);
        }
    }

    // The scopes read the undone frame, the preview the screen's bytes; off,
    // both are the screen's, and the colour sample follows the same rule.
    void scopesReadTheUndoneFrame()
    {
        platform::memoryDesktop().profiles[0] = fileBytes(kSwapped);
        startProgram("[General]\nreadings=undo_monitor_profile\n");
        program->updateScreen();
        const cv::Vec4b preview = Probe::preview(*program).at<cv::Vec4b>(10, 10);
        const cv::Vec4b reading = Probe::readings(*program).at<cv::Vec4b>(10, 10);
        QCOMPARE(preview, cv::Vec4b(0, 0, 255, 255));
        QVERIFY(reading[1] >= 254 && reading[2] <= 1);
        const unsigned sampled = Probe::sample(*program, 0xFFFF0000u);
        QVERIFY2((sampled & 0xFF00FFFFu) == 0xFF00FF00u && ((sampled >> 16) & 0xFF) <= 1, qPrintable(QString::number(sampled, 16)));

        for (const char* config : { "", "[General]\nreadings=screen\n", "[General]\nreadings=yes\n" }) {
            startProgram(config);
            program->updateScreen();
            QCOMPARE(Probe::readings(*program).data, Probe::preview(*program).data);
            QCOMPARE(Probe::sample(*program, 0xFFFF0000u), 0xFFFF0000u);
        }
    }

    // Pointing at the Parade's green panel at the readings' green level marks
    // the pixels in the preview: the levels are the readings', the marks go
    // on the screen's bytes.
    void paradeHighlightReadsTheReadings()
    {
        platform::memoryDesktop().screen.setTo(cv::Scalar(20, 30, 230, 255));
        platform::memoryDesktop().profiles[0] = fileBytes(kSwapped);
        for (const bool undo : { true, false }) {
            startProgram(undo ? "[General]\nreadings=undo_monitor_profile\n" : "");
            Probe::pointAt(*program, 2, -1, -1);
            program->updateScreen();
            const int cols = Probe::scope(*program).cols, rows = Probe::scope(*program).rows;
            Probe::pointAt(*program, 2, cols / 3 + cols / 6, rows - 230.0 * rows / 255);
            program->updateScreen();
            cv::Mat marked;
            cv::inRange(Probe::preview(*program), cv::Scalar(0, 0, 255, 255), cv::Scalar(0, 0, 255, 255), marked);
            QCOMPARE(cv::countNonZero(marked) > 0, undo);
            cv::Mat screenBytes;
            cv::inRange(Probe::preview(*program), cv::Scalar(20, 30, 230, 255), cv::Scalar(20, 30, 230, 255), screenBytes);
            QCOMPARE(cv::countNonZero(marked) + cv::countNonZero(screenBytes), int(Probe::preview(*program).total()));
        }
    }

    // A profile that changes, turns bad or goes away while capturing is
    // noticed within a second or so; the readings fall back to the screen's.
    void followsTheProfileWhileCapturing()
    {
        platform::MemoryDesktop& d = platform::memoryDesktop();
        d.profiles[0] = fileBytes(kSwapped);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("monitor.icc"));
        startProgram("[General]\nreadings=undo_monitor_profile\n");
        auto readingIsGreen = [&] {
            program->updateScreen();
            return Probe::readings(*program).at<cv::Vec4b>(0, 0)[1] > 250;
        };
        QVERIFY(readingIsGreen());
        d.profiles[0] = cmykProfile();
        QTRY_VERIFY_WITH_TIMEOUT(!readingIsGreen(), 5000);
        d.profiles[0] = fileBytes(kSwapped);
        QTRY_VERIFY_WITH_TIMEOUT(readingIsGreen(), 5000);

        // A file the user chose wins over what the desktop publishes.
        d.profiles[0].clear();
        QFile::copy(kSwapped, file);
        startProgram("[General]\nreadings=undo_monitor_profile\nreadings_profile_file=" + file.toUtf8() + "\n");
        QVERIFY(readingIsGreen());
        QFile::remove(file);
        QTRY_VERIFY_WITH_TIMEOUT(!readingIsGreen(), 5000);
        QCOMPARE(Probe::readings(*program).at<cv::Vec4b>(0, 0), cv::Vec4b(0, 0, 255, 255));
    }

    // The desktop is asked about once a second, not every cycle.
    void readsThePublishedProfileSeldom()
    {
        platform::MemoryDesktop& d = platform::memoryDesktop();
        d.profiles[0] = fileBytes(kSwapped);
        startProgram("[General]\nreadings=undo_monitor_profile\n");
        d.profileReads = 0;
        for (int i = 0; i < 20; ++i)
            program->updateScreen();
        QVERIFY(d.profileReads <= 1);
        startProgram("");
        d.profileReads = 0;
        for (int i = 0; i < 20; ++i)
            program->updateScreen();
        QCOMPARE(d.profileReads, 0);
    }

    // huelens-render --profile draws the scope of the undone image, and
    // refuses what it cannot undo with one line.
    void renderer()
    {
        QTemporaryDir dir;
        const cv::Mat red(90, 160, CV_8UC3, cv::Scalar(30, 20, 230));
        QVERIFY(cv::imwrite(dir.filePath(QStringLiteral("red.png")).toStdString(), red));
        cv::Mat frame = scopes::frameFromImage(red, 200);
        std::ofstream(dir.filePath(QStringLiteral("frames.raw")).toStdString()).write(frame.ptr<char>(), frame.total() * 4);
        auto run = [&](const QString& arguments, QByteArray* error = nullptr) {
            QProcess process;
            process.setWorkingDirectory(dir.path());
            process.start(QStringLiteral(HUELENS_RENDER), arguments.split(QLatin1Char(' ')));
            process.waitForFinished(120000);
            if (error)
                *error = process.readAllStandardError();
            return process.exitCode();
        };
        scopes::ProfileTransform swapped;
        QVERIFY(swapped.load(fileBytes(kSwapped)));
        cv::Mat undone;
        swapped.apply(frame, undone);
        const cv::Mat expected = scopes::renderStillScope(undone, 0, 200);
        for (const QString& arguments : { QStringLiteral("vectorscope 200 red.png scope.png --profile ") + kSwapped,
                 QStringLiteral("--profile ") + kSwapped + QStringLiteral(" --raw %1 vectorscope 200 frames.raw scope.png").arg(frame.rows) }) {
            QByteArray error;
            QVERIFY2(run(arguments, &error) == 0, error.constData());
            cv::Mat written = cv::imread(dir.filePath(QStringLiteral("scope.png")).toStdString(), cv::IMREAD_COLOR);
            cv::cvtColor(written, written, cv::COLOR_BGR2RGB);
            QCOMPARE(cv::norm(written, expected, cv::NORM_INF), 0.0);
            QVERIFY(cv::norm(written, scopes::renderStillScope(frame, 0, 200), cv::NORM_INF) > 0);
        }

        const std::pair<QString, int> refused[] = {
            { QStringLiteral("--profile ") + kIcc + QStringLiteral("Gray.icc vectorscope 200 red.png out.png"), 1 },
            { QStringLiteral("--profile nowhere.icc vectorscope 200 red.png out.png"), 1 },
            { QStringLiteral("--profile red.png vectorscope 200 red.png out.png"), 1 },
            { QStringLiteral("vectorscope 200 red.png out.png --profile"), 2 },
        };
        for (const auto& [arguments, status] : refused) {
            QByteArray error;
            QCOMPARE(run(arguments, &error), status);
            QVERIFY2(error.startsWith("huelens-render: ") && error.count('\n') == 1, error.constData());
            QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("out.png"))));
        }
    }

    // The dialog says which profile the captured monitor uses and stores the choice.
    void settingsDialog()
    {
        platform::memoryDesktop().profiles[0] = fileBytes(kAdobe);
        startProgram("");
        program->show();
        QVERIFY(QTest::qWaitForWindowExposed(program.get()));
        auto* toolBar = program->findChild<QToolBar*>(QStringLiteral("toolBar"));
        for (QAction* action : toolBar->actions())
            if (action->text() == QLatin1String("Settings"))
                QTest::mouseClick(toolBar->widgetForAction(action), Qt::LeftButton);
        auto* status = program->findChild<QLabel*>(QStringLiteral("profileStatusLabel"));
        QVERIFY(status);
        QVERIFY2(status->text().contains(QLatin1String("Profile of monitor 1: \"Compatible with Adobe RGB (1998)\"")),
            qPrintable(status->text()));
        QVERIFY(status->text().contains(QLatin1String("screen values")));
        program->findChild<QComboBox*>(QStringLiteral("readingsCombo"))->setCurrentIndex(1);
        program->findChild<QLineEdit*>(QStringLiteral("profileFileEdit"))->setText(QStringLiteral("/nowhere/x.icc"));
        QTest::mousePress(program->findChild<QPushButton*>(QStringLiteral("okButton")), Qt::LeftButton);
        const QSettings::SettingsMap stored = readSettingsText(testSandbox().readFile(testSandbox().configFile()));
        QCOMPARE(stored.value(QStringLiteral("readings")).toString(), QStringLiteral("undo_monitor_profile"));
        QCOMPARE(stored.value(QStringLiteral("readings_profile_file")).toString(), QStringLiteral("/nowhere/x.icc"));
        // The file cannot be read: the screen values, and an application
        // named like the keys cannot overwrite them.
        QCOMPARE(Probe::readings(*program).at<cv::Vec4b>(0, 0), cv::Vec4b(0, 0, 255, 255));
        QVERIFY(isReservedSettingsKey(QStringLiteral("readings")));
        QVERIFY(isReservedSettingsKey(QStringLiteral("readings_profile_file")));
    }
};

} // namespace

QTEST_MAIN(ReadingsTest)
#include "test_readings.moc"
