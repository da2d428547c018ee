// A desktop that lets the program read the screen only after asking its
// user (the screen-sharing portal of a Wayland session), scripted: what
// the window does while it asks, once it grants, when sharing ends, and
// where it cannot tell where the pointer is.
#include "capture/QSelectRegionWindow.h"
#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"
#include "support/TestSupport.h"

#include <QAction>
#include <QLabel>
#include <QToolButton>
#include <QtTest>

#include <memory>

struct CaptureAccessTag;
template <> struct MainWindowProbe<CaptureAccessTag> {
    static bool capturing(MainWindow& w) { return w.capturing; }
    static QString info(MainWindow& w) { return w.infoLabel->text(); }
    static QSelectRegionWindow* regionWindow(MainWindow& w) { return w.regionWindow.data(); }
    static const cv::Mat& scope(MainWindow& w) { return w.scopeImage; }
};
using Probe = MainWindowProbe<CaptureAccessTag>;

namespace {

platform::MemoryDesktop& desktop()
{
    return platform::memoryDesktop();
}

QString tokenOnDisk()
{
    for (const QByteArray& line : testSandbox().readFile(testSandbox().configFile()).split('\n'))
        if (line.startsWith("screencast_token="))
            return QString::fromUtf8(line.mid(17));
    return QStringLiteral("<absent>");
}

void tell(const platform::CaptureAccess& access)
{
    desktop().access = access;
    QVERIFY(desktop().accessChanged);
    desktop().accessChanged();
}

const platform::CaptureAccess kNotYet { false, false, "Press Start to share the screen.", "" };

} // namespace

class CaptureAccessTest : public QObject {
    Q_OBJECT
    std::unique_ptr<MainWindow> w;

private slots:
    void init()
    {
        desktop().reset(400, 300, cv::Scalar(0, 0, 255));
        desktop().access = kNotYet;
        testSandbox().writeConfig("[General]\nscreencast_token=granted-before\n");
        w = std::make_unique<MainWindow>(nullptr, false, 0);
    }
    void cleanup() { w.reset(); }

    // Start asks with the stored token; nothing is read while the desktop
    // asks, and the window says what it waits for. The grant's new token is
    // on disk at once, and the first picture follows without another Start.
    void startAsksAndTheGrantIsKept()
    {
        w->startOrStop();
        QCOMPARE(desktop().captureRequests, 1);
        QCOMPARE(desktop().requestedToken, std::string("granted-before"));
        tell({ false, true, "Asking for permission to share the screen...", "" });
        w->updateScreen();
        QCOMPARE(desktop().copyCount, 0);
        QCOMPARE(Probe::info(*w), QStringLiteral("Asking for permission to share the screen..."));

        tell({ true, false, "", "granted-now" });
        QCOMPARE(tokenOnDisk(), QStringLiteral("granted-now"));
        QCOMPARE(desktop().copyCount, 1);
        QVERIFY(Probe::info(*w).endsWith(QStringLiteral(" ms Vectorscope")));
        QVERIFY(Probe::capturing(*w));

        // Bad frames while sharing: their reason replaces the cycle time, capture goes on.
        tell({ true, false, "The screen stream sent a picture of an unexpected layout; it was skipped.", "" });
        w->updateScreen();
        QCOMPARE(Probe::info(*w),
            QStringLiteral("The screen stream sent a picture of an unexpected layout; it was skipped."));
        QVERIFY(Probe::capturing(*w));
        QCOMPARE(tokenOnDisk(), QStringLiteral("granted-now"));
    }

    // Sharing ends (revoked, the compositor went away, the user cancelled):
    // capture stops with the reason shown, and the next Start asks again.
    void endOfSharingStopsCapture()
    {
        w->startOrStop();
        tell({ true, false, "", "" });
        QVERIFY(Probe::capturing(*w));
        tell({ false, false, "Screen sharing was ended by the desktop. Press Start to share the screen again.", "" });
        QVERIFY(!Probe::capturing(*w));
        QCOMPARE(Probe::info(*w),
            QStringLiteral("Screen sharing was ended by the desktop. Press Start to share the screen again."));
        QCOMPARE(tokenOnDisk(), QStringLiteral("granted-before"));
        w->startOrStop();
        QCOMPARE(desktop().captureRequests, 2);
    }

    // "Select region" before any grant asks first, and opens its window
    // once the screen is shared, on the monitors the grant made known.
    void regionSelectionWaitsForTheGrant()
    {
        desktop().monitorTable.clear();
        w->selectRegion();
        QCOMPARE(desktop().captureRequests, 1);
        QVERIFY(!Probe::regionWindow(*w));
        desktop().monitorTable = { platform::Rect { 0, 0, 400, 300 } };
        tell({ true, false, "", "" });
        QVERIFY(Probe::regionWindow(*w));
        int monitorButtons = 0;
        for (const QToolButton* button : Probe::regionWindow(*w)->findChildren<QToolButton*>())
            monitorButtons += button->text().startsWith(QStringLiteral("Monitor #"));
        QCOMPARE(monitorButtons, 1);
    }

    // A pointer the desktop cannot locate draws no marker: the scope is the
    // one of a pointer off the frame, not of one at its last known place.
    void unknownPointerDrawsNoMarker()
    {
        desktop().access = {};
        w = std::make_unique<MainWindow>(nullptr, false, 0);
        desktop().pointerPosition = platform::Point { -50, -50 };
        w->updateScreen();
        const cv::Mat withoutPointer = Probe::scope(*w).clone();
        desktop().pointerPosition = platform::Point { 200, 150 };
        w->updateScreen();
        QVERIFY(cv::norm(Probe::scope(*w), withoutPointer, cv::NORM_INF) > 0); // the marker
        desktop().pointerIsKnown = false;
        w->updateScreen();
        QCOMPARE(cv::norm(Probe::scope(*w), withoutPointer, cv::NORM_INF), 0.0);
    }
};

QTEST_MAIN(CaptureAccessTest)
#include "test_capture_access.moc"
