#include "shell/MainWindow.h"

// Placeholder until this subsystem lands.

void MainWindow::selectRegion()
{
}

void MainWindow::rectSelected()
{
}

