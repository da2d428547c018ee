#include "shell/MainWindow.h"

#include "capture/QSelectRegionWindow.h"
#include "capture/ScreenService.h"
#include "shell/Log.h"

#include <QLabel>
#include <QSettings>
#include <QTimer>

void MainWindow::selectRegion()
{
    if (!screenService)
        return;
    // The screenshot comes from the shared screen: ask first, open when granted.
    if (!captureGranted) {
        regionAfterGrant = true;
        requestCapture();
        return;
    }
    // Only one region window at a time: a result always comes from the window
    // regionWindow names, and an earlier one is released with its screenshot.
    if (regionWindow)
        regionWindow->close();
    regionWindow = new QSelectRegionWindow(currentApp, screenService, this);
    connect(regionWindow.data(), &QSelectRegionWindow::rectSelected, this, &MainWindow::rectSelected);
}

void MainWindow::rectSelected()
{
    // The window deletes itself once it has closed.
    if (!regionWindow || regionWindow->monitorIndex < 0)
        return;
    const QRect selection = regionWindow->selection;
    const int monitorIndex = regionWindow->monitorIndex;

    recognizeApplication(false);
    storeCaptureTarget(
        monitorIndex, platform::Rect { selection.left(), selection.top(), selection.right(), selection.bottom() });

    previewLabel->setMinimumSize(10, 0);
    updateScreen();
    resize(10, 10);
    fitToContents();
    resizeTimer->setSingleShot(true);
    resizeTimer->start(100);
}

// The restore token the desktop's screen-sharing portal gave lets the next
// start share the screen without asking again.
void MainWindow::requestCapture()
{
    const std::string token = settings->value(QStringLiteral("screencast_token")).toString().toStdString();
    desktop.requestCapture(token, [this] { captureAccessChanged(); });
}

void MainWindow::captureAccessChanged()
{
    cycleMayHaveChanged();
    const platform::CaptureAccess access = desktop.captureAccess();
    const QString token = QString::fromStdString(access.token);
    if (!token.isEmpty() && settings->value(QStringLiteral("screencast_token")).toString() != token) {
        settings->setValue(QStringLiteral("screencast_token"), token);
        settings->sync();
    }
    const bool wasGranted = captureGranted;
    captureGranted = access.granted;
    captureProblem = QString::fromStdString(access.message);
    if (debugMode && !captureProblem.isEmpty())
        writeLog(QStringLiteral("capture: ") + captureProblem);
    if (screenService)
        screenService->refreshMonitors();
    showInfo(captureProblem);

    if (!access.granted && !access.asking) {
        // Sharing ended or was refused: capturing stops, and Start asks again.
        regionAfterGrant = false;
        if (capturing)
            startOrStop();
        return;
    }
    if (access.granted && !wasGranted) {
        if (regionAfterGrant) {
            regionAfterGrant = false;
            selectRegion();
        } else {
            updateScreen();
        }
    }
}
