// Readings with the monitor's profile undone: the conversion against the
// colour engine's own, the profiles it refuses, and the program reading the
// converted frame while the preview keeps the screen's bytes.
#include "apps/AppsFormat.h"
#include "apps/SettingsFile.h"
#include "colour/ProfileTransform.h"
#include "colour/ReadingsProfile.h"
#include "platform/memory/MemoryDesktop.h"
#include "scopes/StillScope.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolBar>
#include <QtTest>

#include <lcms2.h>
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <memory>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

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
// cmsFLAGS_NOOPTIMIZE in `flags`: its whole pipeline, without its shortcuts.
cv::Mat engineConversion(
    const std::vector<std::uint8_t>& icc, const cv::Mat& frame, bool fromSrgb = false, cmsUInt32Number flags = 0)
{
    cmsHPROFILE monitor = cmsOpenProfileFromMem(icc.data(), cmsUInt32Number(icc.size()));
    cmsHPROFILE srgb = cmsCreate_sRGBProfile();
    flags |= cmsFLAGS_COPY_ALPHA;
    cmsHTRANSFORM t = fromSrgb
        ? cmsCreateTransform(srgb, TYPE_BGRA_8, monitor, TYPE_BGRA_8, INTENT_RELATIVE_COLORIMETRIC, flags)
        : cmsCreateTransform(monitor, TYPE_BGRA_8, srgb, TYPE_BGRA_8, INTENT_RELATIVE_COLORIMETRIC, flags);
    cv::Mat out(frame.size(), CV_8UC4);
    cmsDoTransform(t, frame.data, out.data, cmsUInt32Number(frame.total()));
    cmsDeleteTransform(t);
    cmsCloseProfile(monitor);
    cmsCloseProfile(srgb);
    return out;
}

// `levels` levels of each channel from 0 to 255 (16: every 17th, 52: every
// 5th), every combination, alpha 255.
cv::Mat colourCube(int levels = 16)
{
    const int step = 255 / (levels - 1);
    cv::Mat cube(levels * levels, levels, CV_8UC4);
    for (int b = 0; b < levels; ++b)
        for (int g = 0; g < levels; ++g)
            for (int r = 0; r < levels; ++r)
                cube.at<cv::Vec4b>(b * levels + g, r)
                    = cv::Vec4b(uchar(b * step), uchar(g * step), uchar(r * step), 255);
    return cube;
}

// sRGB's colorants, adapted to D50 as profiles store them.
const cmsCIEXYZ kSrgbRed { 0.4361, 0.2225, 0.0139 };
const cmsCIEXYZ kSrgbGreen { 0.3851, 0.7169, 0.0971 };
const cmsCIEXYZ kSrgbBlue { 0.1431, 0.0606, 0.7141 };

// A matrix-shaper monitor profile of the given red, green and blue
// colorants (XYZ), with tone curves of gamma 2.2.
std::vector<std::uint8_t> matrixShaperProfile(const std::array<cmsCIEXYZ, 3>& colorants)
{
    cmsHPROFILE p = cmsCreateProfilePlaceholder(nullptr);
    cmsSetProfileVersion(p, 4.3);
    cmsSetDeviceClass(p, cmsSigDisplayClass);
    cmsSetColorSpace(p, cmsSigRgbData);
    cmsSetPCS(p, cmsSigXYZData);
    cmsWriteTag(p, cmsSigRedColorantTag, &colorants[0]);
    cmsWriteTag(p, cmsSigGreenColorantTag, &colorants[1]);
    cmsWriteTag(p, cmsSigBlueColorantTag, &colorants[2]);
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    for (const cmsTagSignature tag : { cmsSigRedTRCTag, cmsSigGreenTRCTag, cmsSigBlueTRCTag })
        cmsWriteTag(p, tag, gamma);
    cmsFreeToneCurve(gamma);
    cmsWriteTag(p, cmsSigMediaWhitePointTag, cmsD50_XYZ());
    return saved(p);
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

// Bytes this process has read through read() and its kin so far (rchar of
// /proc/self/io): what a read of a file cost, whatever the code did.
qint64 bytesReadSoFar()
{
    std::ifstream io("/proc/self/io");
    std::string key;
    qint64 value = -1;
    while (io >> key >> value)
        if (key == "rchar:")
            return value;
    qFatal("no rchar in /proc/self/io");
}

// Holds this process to its present address space and `more` bytes while
// it lives, so that a read without end fails an allocation instead of taking
// the machine's memory. AddressSanitizer reserves terabytes of address
// space: under it the byte counts alone tell.
class AddressSpaceLimit {
public:
    explicit AddressSpaceLimit(qint64 more)
    {
#if !defined(__SANITIZE_ADDRESS__)
        std::ifstream status("/proc/self/status");
        std::string key;
        while (status >> key)
            if (key == "VmSize:") {
                qint64 kilobytes = 0;
                status >> kilobytes;
                getrlimit(RLIMIT_AS, &before);
                struct rlimit limited = before;
                limited.rlim_cur = rlim_t(kilobytes * 1024 + more);
                active = setrlimit(RLIMIT_AS, &limited) == 0;
                break;
            }
#else
        (void)more;
#endif
    }
    ~AddressSpaceLimit()
    {
        if (active)
            setrlimit(RLIMIT_AS, &before);
    }
    AddressSpaceLimit(const AddressSpaceLimit&) = delete;
    AddressSpaceLimit& operator=(const AddressSpaceLimit&) = delete;

private:
    struct rlimit before = {};
    bool active = false;
};

// Ends a wait on a FIFO that must never happen. Once `patience` has passed
// since it was last fed, it opens the FIFO for writing (so that a blocked
// open goes on), writes a byte and closes it (so that a blocked read ends),
// and says so in fired(); it goes on doing so until it is stopped.
class FifoWatchdog {
public:
    FifoWatchdog(const QString& fifo, std::chrono::milliseconds patience)
        : fifo(QFile::encodeName(fifo))
        , patience(patience)
        , deadline(std::chrono::steady_clock::now() + patience)
        , thread([this] { watch(); })
    {
    }
    ~FifoWatchdog() { stop(); }
    void feed()
    {
        const std::lock_guard<std::mutex> lock(mutex);
        deadline = std::chrono::steady_clock::now() + patience;
    }
    void stop()
    {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            stopped = true;
        }
        wake.notify_all();
        if (thread.joinable())
            thread.join();
    }
    bool fired() const { return hasFired; }

private:
    void watch()
    {
        std::unique_lock<std::mutex> lock(mutex);
        while (!stopped) {
            if (std::chrono::steady_clock::now() < deadline) {
                wake.wait_until(lock, deadline);
                continue;
            }
            const int writer = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0) {
                hasFired = true;
                (void)!::write(writer, "x", 1);
                ::close(writer);
            }
            wake.wait_for(lock, std::chrono::milliseconds(50));
        }
    }

    const QByteArray fifo;
    const std::chrono::milliseconds patience;
    std::mutex mutex;
    std::condition_variable wake;
    std::chrono::steady_clock::time_point deadline;
    bool stopped = false;
    std::atomic<bool> hasFired { false };
    std::thread thread;
};

// Where the colour on the screen lands in the picture: red or green.
bool redReadsGreen(const scopes::ReadingsProfile& readings)
{
    const auto bgr = readings.conversion().convert(0, 0, 255);
    return readings.active() && bgr[1] > 200 && bgr[2] < 60;
}

void writeBytes(const QString& path, const std::vector<std::uint8_t>& bytes, int flags = O_TRUNC)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | flags, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    ::close(fd);
}

void setModified(const QString& path, const struct timespec& when)
{
    const struct timespec times[2] = { when, when };
    QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, 0), 0);
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
            QVERIFY2(transform.usesTables(), name);
            cv::Mat ours;
            transform.apply(cube, ours);
            QVERIFY2(largestDifference(ours, engineConversion(icc, cube)) <= 1, name);
        }
    }

    // A matrix-shaper with primaries near the format's largest values
    // (colorants of 32767) overflowed the tables' 32-bit sums: 125,535 of
    // 140,608 colours came out up to 255 levels off. Such a profile goes
    // through the colour engine; one with large primaries the sums still
    // hold stays on the tables. Both give the engine's colours, taken from
    // its whole pipeline: its own 8-bit shortcut for matrix-shapers works in
    // 1.14 fixed point and wraps from rows that add up to about 8 (255 levels
    // off for every case here).
    void primariesBeyondTheTables()
    {
        const auto diagonal = [](double v) {
            return std::array<cmsCIEXYZ, 3> { { { v, 0.2225, 0.0139 }, { 0.3851, v, 0.0971 }, { 0.1431, 0.0606, v } } };
        };
        const cmsCIEXYZ most { 32767, 32767, 32767 };
        const cmsCIEXYZ least { -32768, -32768, -32768 };
        const struct {
            const char* name;
            std::array<cmsCIEXYZ, 3> colorants;
            bool tables;
        } cases[] = {
            { "colorants of 1000 on the diagonal", diagonal(1000), true },
            { "colorants of 32767 on the diagonal", diagonal(32767), false },
            { "every colorant 32767", { most, most, most }, false },
            { "a red of -32768", { least, kSrgbGreen, kSrgbBlue }, false },
        };
        const cv::Mat cube = colourCube(52);
        for (const auto& c : cases) {
            const std::vector<std::uint8_t> icc = matrixShaperProfile(c.colorants);
            scopes::ProfileTransform transform;
            QVERIFY2(transform.load(icc), c.name);
            cv::Mat ours;
            transform.apply(cube, ours);
            const int off = largestDifference(ours, engineConversion(icc, cube, false, cmsFLAGS_NOOPTIMIZE));
            QVERIFY2(off <= (c.tables ? 1 : 0), qPrintable(QStringLiteral("%1: %2 levels off").arg(c.name).arg(off)));
            QVERIFY2(transform.usesTables() == c.tables, c.name);
        }
    }

    // A profile of tables goes through the colour engine itself.
    void tableProfilesGoThroughTheEngine()
    {
        const std::vector<std::uint8_t> icc = tableProfile();
        scopes::ProfileTransform transform;
        QVERIFY2(transform.load(icc), transform.problem().c_str());
        QVERIFY(!transform.usesTables());
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
        std::ofstream(dir.filePath(QStringLiteral("frames.raw")).toStdString(), std::ios::binary).write(frame.ptr<char>(), frame.total() * 4);
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

    // readings_profile_file named /proc/self/pagemap, a "regular" file that
    // says it is empty and gives without end, took the window to 6.3 GB and
    // most of a core, read again every second. Nothing at the path may make
    // the window wait or read more than the limit and a byte now, a refused
    // file is not read again until it changes, and the dialog says why.
    void profileFilesThatAreNoProfiles()
    {
        QTemporaryDir dir;
        const QString folder = dir.filePath(QStringLiteral("folder"));
        const QString fifo = dir.filePath(QStringLiteral("fifo"));
        const QString huge = dir.filePath(QStringLiteral("huge.icc"));
        QVERIFY(QDir().mkdir(folder));
        QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QFile hugeFile(huge);
        // Sparse: a file that says it is a byte over the limit, on no disk space.
        QVERIFY(hugeFile.open(QIODevice::WriteOnly) && hugeFile.resize(qint64(platform::kLargestProfile) + 1));
        hugeFile.close();
        const qint64 limit = qint64(platform::kLargestProfile);
        const qint64 slack = 64 * 1024; // reading /proc/self/io, and what else the process reads meanwhile
        const struct {
            QString path;
            const char* says;
            qint64 firstRead;
        } cases[] = {
            { folder, "is not a file", 0 },
            { fifo, "is not a file", 0 },
            { QStringLiteral("/dev/zero"), "is not a file", 0 },
            { huge, "is larger than 64 MiB", 0 },
            { QStringLiteral("/proc/self/pagemap"), "is larger than 64 MiB", limit + 1 },
            { dir.filePath(QStringLiteral("missing.icc")), "is not there", 0 },
        };
        FifoWatchdog watchdog(fifo, std::chrono::seconds(10));
        const AddressSpaceLimit memory(512 * 1024 * 1024);
        for (const auto& c : cases) {
            scopes::ReadingsProfile readings(platform::memoryDesktop());
            readings.configure(true, c.path);
            const auto now = scopes::ReadingsProfile::Clock::now();
            const qint64 before = bytesReadSoFar();
            readings.refresh(0, now);
            const qint64 first = bytesReadSoFar() - before;
            for (int i = 1; i <= 3; ++i)
                readings.refresh(0, now + i * scopes::ReadingsProfile::kRecheck);
            const qint64 again = bytesReadSoFar() - before - first;
            QVERIFY2(!watchdog.fired(), qPrintable(c.path));
            QVERIFY(!readings.active());
            QVERIFY2(readings.status().contains(QLatin1String(c.says)) && readings.status().contains(c.path)
                    && readings.status().endsWith(QLatin1String("Readings are the screen values.")),
                qPrintable(readings.status()));
            QVERIFY2(first <= c.firstRead + slack, qPrintable(QStringLiteral("%1: %2 bytes").arg(c.path).arg(first)));
            QVERIFY2(again <= slack, qPrintable(QStringLiteral("%1: %2 bytes again").arg(c.path).arg(again)));
        }

        // The file refused for its size is read at once when it changes.
        scopes::ReadingsProfile readings(platform::memoryDesktop());
        readings.configure(true, huge);
        const auto now = scopes::ReadingsProfile::Clock::now();
        readings.refresh(0, now);
        QVERIFY(!readings.active());
        writeBytes(huge, fileBytes(kSwapped));
        readings.refresh(0, now + scopes::ReadingsProfile::kRecheck);
        QVERIFY(redReadsGreen(readings));
    }

    // A profile file swapped for a FIFO while in use blocked the window
    // within 7 to 21 s: the path was looked at, then opened, and a FIFO put
    // there in between made the open wait for a writer. Here a link flips
    // between a profile and a FIFO as fast as it can while the window reads
    // it again and again; no read may wait.
    void aProfileFileSwappedForAFifo()
    {
        QTemporaryDir dir;
        const QByteArray profile = QFile::encodeName(dir.filePath(QStringLiteral("swapped.icc")));
        const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("fifo")));
        const QByteArray link = QFile::encodeName(dir.filePath(QStringLiteral("monitor.icc")));
        const QByteArray next = QFile::encodeName(dir.filePath(QStringLiteral("next")));
        QVERIFY(QFile::copy(kSwapped, QFile::decodeName(profile)));
        QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
        QCOMPARE(::symlink(profile.constData(), link.constData()), 0);
        std::atomic<bool> flipping { true };
        std::thread flipper([&] {
            while (flipping) {
                for (const QByteArray& target : { fifo, profile }) {
                    ::unlink(next.constData());
                    if (::symlink(target.constData(), next.constData()) == 0)
                        ::rename(next.constData(), link.constData());
                }
            }
        });
        FifoWatchdog watchdog(QFile::decodeName(fifo), std::chrono::seconds(5));
        scopes::ReadingsProfile readings(platform::memoryDesktop());
        readings.configure(true, QFile::decodeName(link));
        const auto now = scopes::ReadingsProfile::Clock::now();
        int seen[2] = { 0, 0 }; // refused, in use
        QElapsedTimer running;
        running.start();
        for (int i = 0; running.elapsed() < 3000 && !watchdog.fired(); ++i) {
            readings.refresh(0, now + i * scopes::ReadingsProfile::kRecheck);
            watchdog.feed();
            ++seen[readings.active() ? 1 : 0];
        }
        flipping = false;
        flipper.join();
        watchdog.stop();
        QVERIFY2(!watchdog.fired(), "a read of the profile file waited for a writer on the FIFO");
        const QString counts = QStringLiteral("%1 refused, %2 read").arg(seen[0]).arg(seen[1]);
        QVERIFY2(seen[0] > 0 && seen[1] > 0, qPrintable(counts));
    }

    // A profile file replaced by another of the same size and modification
    // time kept the old readings: only the size and the time (to the
    // millisecond) were compared. The second profile comes by a rename, then
    // the first one back by a rewrite in place, each with the old time set
    // again; the readings follow both.
    void aProfileReplacedKeepingItsSizeAndTime()
    {
        // Red on the screen is red in the picture, and green.
        const std::vector<std::uint8_t> plain = matrixShaperProfile({ kSrgbRed, kSrgbGreen, kSrgbBlue });
        const std::vector<std::uint8_t> swapped = matrixShaperProfile({ kSrgbGreen, kSrgbRed, kSrgbBlue });
        QCOMPARE(plain.size(), swapped.size());
        QVERIFY(plain != swapped);
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("monitor.icc"));
        const QString next = dir.filePath(QStringLiteral("next.icc"));
        const struct timespec calibrated = { 1700000000, 123456789 };
        writeBytes(file, plain);
        setModified(file, calibrated);
        scopes::ReadingsProfile readings(platform::memoryDesktop());
        readings.configure(true, file);
        auto now = scopes::ReadingsProfile::Clock::now();
        readings.refresh(0, now);
        QVERIFY(readings.active());
        QVERIFY(!redReadsGreen(readings));

        // The status change time is kept in the kernel's clock ticks (a few
        // milliseconds): the replacements come in later ticks, as any do
        // that follow a read once a second.
        QTest::qSleep(20);
        writeBytes(next, swapped);
        setModified(next, calibrated);
        QCOMPARE(::rename(QFile::encodeName(next).constData(), QFile::encodeName(file).constData()), 0);
        readings.refresh(0, now += scopes::ReadingsProfile::kRecheck);
        QVERIFY2(redReadsGreen(readings), "a rename onto the file");

        QTest::qSleep(20);
        writeBytes(file, plain, 0);
        setModified(file, calibrated);
        readings.refresh(0, now += scopes::ReadingsProfile::kRecheck);
        QVERIFY2(!redReadsGreen(readings), "a rewrite in place");
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
