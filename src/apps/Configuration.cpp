#include "shell/MainWindow.h"

// Placeholder until this subsystem lands.

void MainWindow::parseApps(const QString&)
{
}

void MainWindow::loadRegions()
{
}

void MainWindow::storeCaptureTarget(int, const platform::Rect&)
{
}

