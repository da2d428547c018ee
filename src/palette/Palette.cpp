#include "shell/MainWindow.h"

// Placeholder until this subsystem lands.

void MainWindow::findColors()
{
}

void MainWindow::copyColor0()
{
}

void MainWindow::copyColor1()
{
}

void MainWindow::copyColor2()
{
}

void MainWindow::copyColor3()
{
}

void MainWindow::startSampleColor()
{
}

