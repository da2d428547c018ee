#include "shell/MainWindow.h"

// Placeholder until this subsystem lands.

void MainWindow::settingsTrigger()
{
}

void MainWindow::updateApplicationData()
{
}

void MainWindow::useSettings()
{
}

void MainWindow::cancelSettings()
{
}

