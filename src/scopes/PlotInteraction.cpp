#include "shell/MainWindow.h"

// Placeholder until this subsystem lands.

void MainWindow::updateHarmonySwatches()
{
}

void MainWindow::plotClicked()
{
}

void MainWindow::plotReleased()
{
}

void MainWindow::plotMoved()
{
}

void MainWindow::saturationClicked()
{
}

void MainWindow::saturationReset()
{
}

void MainWindow::saturationReleased()
{
}

void MainWindow::saturationMoved()
{
}

void MainWindow::lightnessClicked()
{
}

void MainWindow::lightnessReset()
{
}

void MainWindow::lightnessReleased()
{
}

void MainWindow::lightnessMoved()
{
}

