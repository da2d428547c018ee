#include "shell/MainWindow.h"

// Placeholder until this subsystem lands.

void MainWindow::drawVectorscope(bool, int, int)
{
}

void MainWindow::generateBackground(int width, int height, double)
{
    backgroundImage = cv::Mat::zeros(height, width, CV_8UC3);
}

void MainWindow::hsvToRgb(double, double, double, double& r, double& g, double& b)
{
    r = g = b = 0;
}

