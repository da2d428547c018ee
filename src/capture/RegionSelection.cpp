#include "shell/MainWindow.h"

#include "capture/QSelectRegionWindow.h"

#include <QLabel>
#include <QTimer>

void MainWindow::selectRegion()
{
    if (!screenService)
        return;
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
