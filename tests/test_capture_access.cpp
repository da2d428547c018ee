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
#include <QSpinBox>
#include <QToolButton>
#include <QtTest>

#include <memory>

struct CaptureAccessTag;
template <> struct MainWindowProbe<CaptureAccessTag> {
    static bool capturing(MainWindow& w) { return w.capturing; }
    static QString info(MainWindow& w) { return w.infoLabel->text(); }
    static QSelectRegionWindow* regionWindow(MainWindow& w) { return w.regionWindow.data(); }
    static const cv::Mat& scope(MainWindow& w) { return w.scopeImage; }
    static void settingsNotSaved(MainWindow& w) { w.settingsNotSaved(QStringLiteral("disk full")); }
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

    // Fault guarded: at window size 300 a longer message ran on one line
    // past the window's edge ("The screen stream ended. Press Start to share
    // th"), and the application's name was printed over it. Every message is
    // shown whole inside the window and clear of the name (and of the notice
    // of settings not saved), at the smallest sizes and beside a long rule
    // name too.
    void everyMessageIsReadWhole_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("rule");
        for (int size : { 150, 300, 400 }) {
            QTest::newRow(qPrintable(QStringLiteral("%1").arg(size))) << size << QString();
            QTest::newRow(qPrintable(QStringLiteral("%1, a long rule name").arg(size)))
                << size << QStringLiteral("Colour grading suite (second monitor)");
        }
    }

    void everyMessageIsReadWhole()
    {
        QFETCH(int, size);
        QFETCH(QString, rule);
        QByteArray config = "[General]\nwindow_size=" + QByteArray::number(size) + "\n";
        if (!rule.isEmpty()) {
            config += "apps=" + rule.toUtf8() + ":gradingsuite\n";
            desktop().windows[3] = { { "gradingsuite", "Timeline 1" }, "/opt/grading/bin/suite" };
            desktop().foregroundWindow = 3;
        }
        testSandbox().writeConfig(config);
        w = std::make_unique<MainWindow>(nullptr, false, 0);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        auto* info = w->findChild<QLabel*>(QStringLiteral("infoLabel"));
        auto* name = w->findChild<QLabel*>(QStringLiteral("appLabel"));
        QCOMPARE(name->text(), rule.isEmpty() ? QStringLiteral("Unknown") : rule);
        const auto textOf = [](const QLabel* label) { return label->contentsRect().translated(label->pos()); };
        const auto readWhole = [&](const QString& message) {
            QCoreApplication::processEvents();
            const QRect text = textOf(info);
            const QRect needed = info->fontMetrics().boundingRect(
                QRect(0, 0, text.width(), 10000), Qt::TextWordWrap | Qt::AlignLeft, message);
            const QLabel* noticeLabel = w->findChild<QLabel*>(QStringLiteral("settingsNotice"));
            const QRect notice = noticeLabel->geometry().translated(noticeLabel->parentWidget()->pos());
            return info->text() == message && info->parentWidget()->rect().contains(info->geometry())
                && needed.width() <= text.width() && needed.height() <= text.height() && !text.intersects(textOf(name))
                && !text.intersects(notice) && info->isVisible();
        };
        Probe::settingsNotSaved(*w); // its notice goes under the text
        w->fitToContents();
        const int height = w->height();
        w->startOrStop();
        for (const char* message : {
                 "PipeWire is not running, or it refused the connection: no screen picture can be read. Press "
                 "Start to share the screen again.",
                 "The screen-sharing portal refused to share the screen. Press Start to ask again.",
                 "The screen stream ended. Press Start to share the screen again.",
                 "The screen stream sent a picture smaller than its size says; it was skipped.",
                 "Press Start to share the screen.",
             }) {
            tell({ false, false, message, "" });
            QVERIFY2(readWhole(QString::fromUtf8(message)), message);
            w->fitToContents(); // an overlay: the window keeps its height
            QCOMPARE(w->height(), height);
        }
        // The same message, the window made smaller in the Settings dialog.
        if (size == 400) {
            const QString message = Probe::info(*w);
            w->settingsTrigger();
            w->findChild<QSpinBox*>(QStringLiteral("windowSizeSpin"))->setValue(150);
            w->useSettings();
            QVERIFY(readWhole(message));
        }
        // The cycle's report keeps its one line beside the name (it would jump
        // about as its time gains and loses a digit).
        w->startOrStop();
        tell({ true, false, "", "" });
        w->updateScreen();
        QVERIFY(Probe::info(*w).endsWith(QLatin1String(" ms Vectorscope")));
        QVERIFY(!info->wordWrap());
        QCOMPARE(info->size(), info->sizeHint());
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
