#include "shell/MainWindow.h"

// Placeholder until this subsystem lands.

void MainWindow::recognizeApplication(bool)
{
}

void MainWindow::readExecutablePath(platform::WindowHandle)
{
}

