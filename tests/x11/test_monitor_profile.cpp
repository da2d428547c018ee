// The monitor profiles a colour daemon publishes on the root window
// (_ICC_PROFILE, _ICC_PROFILE_n), read by the X11 back-end and followed by
// the running program, on with-xvfb.sh's Xvfb.
#include "colour/ProfileTransform.h"
#include "platform/x11/X11Desktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QtTest>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <memory>

struct MonitorProfileTag;
template <> struct MainWindowProbe<MonitorProfileTag> {
    static const cv::Mat& preview(MainWindow& w) { return w.frameImage; }
    static const cv::Mat& readings(MainWindow& w) { return w.scopeFrame(); }
};
using Probe = MainWindowProbe<MonitorProfileTag>;

namespace {

std::vector<std::uint8_t> fileBytes(const char* path)
{
    QFile file(QString::fromLatin1(path));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing profile %s (install-deps.sh installs it)", path);
    const QByteArray data = file.readAll();
    return { data.cbegin(), data.cend() };
}

const char* const kSwapped = "/usr/share/color/icc/colord/SwappedRedAndGreen.icc";
const char* const kAdobe = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";

class TestMonitorProfile : public QObject {
    Q_OBJECT

    Display* display = nullptr;
    Window cover = None;

    Atom atom(const char* name) { return XInternAtom(display, name, False); }
    void publish(const char* name, const std::vector<std::uint8_t>& bytes)
    {
        XChangeProperty(display, DefaultRootWindow(display), atom(name), XA_CARDINAL, 8, PropModeReplace,
            bytes.data(), int(bytes.size()));
        XSync(display, False);
    }
    void withdraw(const char* name)
    {
        XDeleteProperty(display, DefaultRootWindow(display), atom(name));
        XSync(display, False);
    }

private slots:
    void initTestCase()
    {
        display = XOpenDisplay(nullptr);
        QVERIFY(display);
    }
    void cleanupTestCase()
    {
        for (const char* name : { "_ICC_PROFILE", "_ICC_PROFILE_1" })
            withdraw(name);
        XCloseDisplay(display);
    }

    void publishedProfiles()
    {
        platform::X11Desktop desktop;
        const std::vector<std::uint8_t> swapped = fileBytes(kSwapped);
        const std::vector<std::uint8_t> adobe = fileBytes(kAdobe);
        withdraw("_ICC_PROFILE");
        withdraw("_ICC_PROFILE_1");
        QVERIFY(desktop.monitorProfile(0).empty());

        publish("_ICC_PROFILE", swapped);
        publish("_ICC_PROFILE_1", adobe);
        QVERIFY(desktop.monitorProfile(0) == swapped);
        QVERIFY(desktop.monitorProfile(1) == adobe);
        QVERIFY(desktop.monitorProfile(2).empty());
        QVERIFY(desktop.monitorProfile(-1).empty());

        // Not the convention's bytes: something that reads as no profile, not nothing.
        const long numbers[] = { 1, 2, 3 };
        XChangeProperty(display, DefaultRootWindow(display), atom("_ICC_PROFILE_1"), XA_INTEGER, 32, PropModeReplace,
            reinterpret_cast<const unsigned char*>(numbers), 3);
        XSync(display, False);
        scopes::ProfileTransform transform;
        QVERIFY(!transform.load(desktop.monitorProfile(1)));
        QCOMPARE(QString::fromStdString(transform.problem()), QStringLiteral("not an ICC profile"));
    }

    // Any client may set a root property of any size. One larger than any
    // profile was fetched every second, 64 MiB of it, to be refused every
    // second; now its length is asked first, and what the window gets is the
    // one byte that reads as no profile.
    void aPropertyLargerThanAnyProfile()
    {
        const std::vector<std::uint8_t> chunk(4 << 20, 0x41);
        XChangeProperty(display, DefaultRootWindow(display), atom("_ICC_PROFILE_1"), XA_CARDINAL, 8, PropModeReplace,
            chunk.data(), 1);
        for (std::size_t sent = 1; sent <= platform::kLargestProfile; sent += chunk.size())
            XChangeProperty(display, DefaultRootWindow(display), atom("_ICC_PROFILE_1"), XA_CARDINAL, 8, PropModeAppend,
                chunk.data(), int(chunk.size()));
        XSync(display, False);

        platform::X11Desktop desktop;
        const std::vector<std::uint8_t> bytes = desktop.monitorProfile(1);
        QVERIFY2(bytes.size() <= 1, qPrintable(QStringLiteral("%1 bytes fetched").arg(bytes.size())));
        scopes::ProfileTransform transform;
        QVERIFY(!transform.load(bytes));
        QCOMPARE(QString::fromStdString(transform.problem()), QStringLiteral("not an ICC profile"));
        withdraw("_ICC_PROFILE_1");
    }

    // A red screen on a monitor published as swapping red and green reads
    // green; another profile set while capturing is taken up, and without
    // any the readings are the screen's bytes again.
    void runningProgramFollowsTheProperty()
    {
        XSetWindowAttributes attributes {};
        attributes.override_redirect = True;
        attributes.background_pixel = 0xE61E14; // R 230, G 30, B 20
        cover = XCreateWindow(display, DefaultRootWindow(display), 0, 0, 1600, 900, 0, CopyFromParent, InputOutput,
            CopyFromParent, CWOverrideRedirect | CWBackPixel, &attributes);
        XMapRaised(display, cover);
        XSync(display, False);
        QTest::qWait(200);

        publish("_ICC_PROFILE", fileBytes(kSwapped));
        testSandbox().writeConfig("[General]\nreadings=undo_monitor_profile\n");
        MainWindow program(nullptr, false, 0);
        auto reading = [&] {
            program.updateScreen();
            return Probe::readings(program).at<cv::Vec4b>(50, 50);
        };
        QTRY_VERIFY(reading()[1] > 200);
        QCOMPARE(Probe::preview(program).at<cv::Vec4b>(50, 50), cv::Vec4b(20, 30, 230, 255));

        publish("_ICC_PROFILE", fileBytes(kAdobe));
        QTRY_VERIFY_WITH_TIMEOUT(reading()[2] > 240 && reading()[1] < 30, 5000);
        QVERIFY(reading() != cv::Vec4b(20, 30, 230, 255)); // wider than sRGB: more saturated

        withdraw("_ICC_PROFILE");
        QTRY_VERIFY_WITH_TIMEOUT(reading() == cv::Vec4b(20, 30, 230, 255), 5000);
        XDestroyWindow(display, cover);
        XSync(display, False);
    }
};

} // namespace

QTEST_MAIN(TestMonitorProfile)
#include "test_monitor_profile.moc"
