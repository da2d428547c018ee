#include "shell/MainWindow.h"

// Placeholder until this subsystem lands.

void MainWindow::drawWaveform(bool, int, int, bool)
{
}

