#include "shell/MainWindow.h"

#include "capture/QClickLabel.h"
#include "shell/HelpPage.h"
#include "shell/Images.h"

#include <QAction>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QLabel>
#include <QSettings>
#include <QTimer>
#include <QUrl>

#include <algorithm>

void MainWindow::startOrStop()
{
    cycleMayHaveChanged();
    if (capturing) {
        startAction->setIcon(imageIcon(QStringLiteral("images/start.png")));
        startAction->setText(QStringLiteral("Start capturing..."));
        updateTimer->stop();
        previewLabel->setMinimumSize(10, 0);
        capturing = false;
        desktop.releaseCapture();
    } else {
        startAction->setIcon(imageIcon(QStringLiteral("images/stop.png")));
        startAction->setText(QStringLiteral("Stop capturing"));
        updateTimer->start(40);
        capturing = true;
        if (!captureGranted)
            requestCapture();
    }
}

void MainWindow::displayTrigger()
{
    displayMode = displayMode + 1;
    if (displayMode >= 3)
        displayMode = 0;
    showReferenceAction(); // each mode has its own

    const bool scopeControlsVisible = displayMode == 0;
    if (!scopeControlsVisible || colorsShown) {
        for (QClickLabel* swatch : colorSwatches)
            swatch->setVisible(scopeControlsVisible);
        saturationSlider->setVisible(scopeControlsVisible);
        lightnessSlider->setVisible(scopeControlsVisible);
    }

    updateScreen();

    lastPlotHeight = scopeImage.rows;
    plotLabel->setMinimumSize(windowSize, lastPlotHeight);
    setMinimumSize(windowSize, lastPlotHeight);
    fitToContents();
    resizeTimer->start(100);
}

void MainWindow::alwaysOnTopTrigger()
{
    if (alwaysOnTop) {
        alwaysOnTopAction->setIcon(imageIcon(QStringLiteral("images/always_on_top.png")));
        alwaysOnTopAction->setText(QStringLiteral("Always on top"));
        setWindowFlags(windowFlags() & ~Qt::WindowStaysOnTopHint);
        show();
        alwaysOnTop = false;
    } else {
        alwaysOnTopAction->setIcon(imageIcon(QStringLiteral("images/disable_always_on_top.png")));
        alwaysOnTopAction->setText(QStringLiteral("Disable always on top"));
        setWindowFlags(windowFlags() | Qt::WindowStaysOnTopHint);
        show();
        alwaysOnTop = true;
    }
}

void MainWindow::showPreviewTrigger()
{
    if (previewHidden) {
        previewAction->setIcon(imageIcon(QStringLiteral("images/disable_preview.png")));
        previewAction->setText(QStringLiteral("Hide preview"));
        previewLabel->show();
        showExposureLegend();
        fitToContents();
        resizeTimer->start(100);
        previewHidden = false;
        settings->setValue(QStringLiteral("preview_enabled"), true);
    } else {
        previewAction->setIcon(imageIcon(QStringLiteral("images/preview.png")));
        previewAction->setText(QStringLiteral("Show preview"));
        previewLabel->hide();
        showExposureLegend();
        fitToContents();
        resizeTimer->start(100);
        previewHidden = true;
        settings->setValue(QStringLiteral("preview_enabled"), false);
    }
    settings->sync();
}

// The page lies beside the executable, or in the installed data folder. A
// file URL is built from the local path: gluing "file:///" to an absolute
// Linux directory would give four slashes.
void MainWindow::helpTrigger()
{
    const QString page = helpPagePath(QCoreApplication::applicationDirPath());
    QDesktopServices::openUrl(QUrl::fromLocalFile(page));
}

void MainWindow::exitApp()
{
    QCoreApplication::quit();
}

void MainWindow::dragWindowStarted()
{
    dragOrigin = moveHandle->mousePos;
    dragPointerStart = moveHandle->globalPos;
    dragWindowStart = pos();
    dragging = true;
}

// The window goes where the pointer's motion since the press takes it. The
// pointer's position on the handle cannot be used: it is measured from where
// the window stood when the event was made, and until the window manager has
// applied the previous move that is an old place, so the same motion counted
// once for every move still under way and the window overshot.
void MainWindow::dragWindowMove()
{
    if (dragging)
        move(dragWindowStart + (moveHandle->globalPos - dragPointerStart));
}

void MainWindow::dragWindowEnded()
{
    dragging = false;
}

void MainWindow::adjustWindowSize()
{
    toolBarSpacer->adjustSize();
    toolBarSpacer->show();
    fitToContents();
}

void MainWindow::fitToContents()
{
    QMainWindow::adjustSize();
    const int contentsHeight = std::max(sizeHint().height(), minimumSizeHint().height());
    if (height() < contentsHeight)
        resize(width(), contentsHeight);
}

void MainWindow::enterEvent(QEvent*)
{
    log("E event");
    recognizeApplication(false);
    log("E app detected");
    updateScreen();
    log("E scr updated");
}
