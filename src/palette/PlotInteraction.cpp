#include "shell/MainWindow.h"

#include "capture/QClickLabel.h"
#include "palette/Harmony.h"

#include <QLabel>

#include <opencv2/imgproc.hpp>

#include <algorithm>
#include <cmath>

namespace {

// Harmony lines reach a little beyond the full-saturation circle; 1.1 is a
// single-precision factor (1.100000023841858).
constexpr float kLineReach = 1.1f;

// Line colours, R, G, B like the scope picture.
const cv::Scalar kBaseLine(255, 255, 0);
const cv::Scalar kComplementLine(150, 150, 25);
const cv::Scalar kSpreadBelowLine(0, 255, 0);
const cv::Scalar kSpreadAboveLine(50, 150, 50);

// Shows a control value: the bar is trunc(length * value) wide (single
// precision) and the text carries the value rounded to two decimals.
void showControlValue(float value, int sliderLength, QLabel* bar, QLabel* text, const QString& prefix)
{
    bar->setFixedWidth(static_cast<int>(static_cast<float>(sliderLength) * value));
    const float rounded = std::round(value * 100.0f) / 100.0f;
    text->setText(prefix + QString::number(rounded, 'g', 6));
}

float controlValueAt(const QClickLabel* slider, int sliderLength)
{
    const float value = static_cast<float>(slider->mousePos.x()) / static_cast<float>(sliderLength);
    return std::clamp(value, 0.0f, 1.0f);
}

} // namespace

void MainWindow::updateHarmonySwatches()
{
    const int half = windowSize / 2;
    const double reach = scopeRadius * static_cast<double>(kLineReach);
    const double s = selectedHue;
    const double d = hueSpread;
    const cv::Point centre(half, half);
    // Before the first analysis there is no picture to draw on; the swatches still follow the picks.
    const bool canDraw = !scopeImage.empty() && drawHarmonyLines;
    auto drawLine = [&](const cv::Point& end, const cv::Scalar& colour) {
        if (canDraw) {
            cv::line(scopeImage, centre, end, colour, 1, cv::LINE_AA);
            overlaySpans.addLine(centre, end);
        }
    };

    if (s < 0) {
        for (QClickLabel* swatch : colorSwatches)
            swatch->hide();
        saturationSlider->hide();
        lightnessSlider->hide();
        colorsShown = false;
        return;
    }

    const cv::Point base = harmony::harmonyEndPoint(half, s, reach);
    drawLine(base, kBaseLine);
    colorsShown = true;
    showSwatch(0, harmony::wrapTurn(s + 0.5), base);

    const cv::Point complement = harmony::harmonyEndPoint(half, s, reach, -1);
    drawLine(complement, kComplementLine);
    showSwatch(1, s, complement);

    if (d > -1000.0) {
        const cv::Point below = harmony::harmonyEndPoint(half, s - d, reach);
        drawLine(below, kSpreadBelowLine);
        showSwatch(2, harmony::wrapTurn(s - d + 0.5), below);

        const cv::Point above = harmony::harmonyEndPoint(half, s + d, reach);
        drawLine(above, kSpreadAboveLine);
        showSwatch(3, harmony::wrapTurn(s + d + 0.5), above);
    } else {
        colorSwatches[2]->hide();
        colorSwatches[3]->hide();
    }
    saturationSlider->show();
    lightnessSlider->show();
}

void MainWindow::showSwatch(int index, double hue, const cv::Point& endPoint)
{
    const harmony::Rgb colour = harmony::hslColor(hue, saturation, lightness);
    QClickLabel* swatch = colorSwatches[index];
    // Called every cycle: a style sheet set again, even the same, is parsed and applied anew.
    const QString sheet = QStringLiteral("QLabel{background-color:rgb(%1,%2,%3);border-radius:%4;"
                                         "border:1px solid #CCC;}QLabel:hover{border:3px solid #FFFFFF;}")
                              .arg(colour.r)
                              .arg(colour.g)
                              .arg(colour.b)
                              .arg(swatchSize / 2);
    if (swatch->styleSheet() != sheet)
        swatch->setStyleSheet(sheet);
    swatch->move(endPoint.x - swatchSize / 2, endPoint.y - swatchSize / 2);
    swatch->show();
    const QString tip = harmony::colorCode(colour) + QStringLiteral(" (click to copy)");
    if (swatch->toolTip() != tip)
        swatch->setToolTip(tip);
}

void MainWindow::plotClicked()
{
    const int half = windowSize / 2;
    const int x = plotLabel->mousePos.x();
    const int y = plotLabel->mousePos.y();
    const int button = plotLabel->mouseButton;
    const double dx = half - x;
    const double dy = half - y;
    const double turn = harmony::turnFromPoint(half, x, y);
    const double distance = std::sqrt(dx * dx + dy * dy);

    // A press outside the circle is ignored; a drag that began inside keeps working outside.
    if (distance < scopeRadius || plotDragging) {
        if (button == 1 || plotDragButton == 1) {
            selectedHue = turn;
        } else if (button == 2 || plotDragButton == 2) {
            if (selectedHue >= 0)
                hueSpread = selectedHue - turn;
        } else {
            selectedHue = -1.0;
            hueSpread = -1000.0;
        }
        if (!plotDragging) {
            plotDragButton = button;
            plotDragging = true;
        }
    }

    // While capturing, the next tick shows the change.
    if (!capturing)
        updateScreen();
}

void MainWindow::plotReleased()
{
    plotDragging = false;
    plotDragButton = 0;
}

void MainWindow::plotMoved()
{
    const int half = windowSize / 2;
    const int x = plotLabel->mousePos.x();
    const int y = plotLabel->mousePos.y();
    const double dx = half - x;
    const double dy = half - y;
    hoverSaturation = std::sqrt(dx * dx + dy * dy) / scopeRadius;
    hoverHue = static_cast<float>(harmony::turnFromPoint(half, x, y));
    hoverX = x;
    hoverY = y;

    // mouseButton is 0 after a move, so the button that started the drag decides.
    if (plotDragging)
        plotClicked();
}

void MainWindow::saturationClicked()
{
    saturation = controlValueAt(saturationSlider, sliderLength);
    saturationDragging = true;
    showControlValue(saturation, sliderLength, saturationBar, saturationText, QStringLiteral(" S: "));
    updateScreen();
}

// No refresh: the press before a double click has already refreshed.
void MainWindow::saturationReset()
{
    saturation = 0.75f;
    showControlValue(saturation, sliderLength, saturationBar, saturationText, QStringLiteral(" S: "));
}

void MainWindow::saturationReleased()
{
    saturationDragging = false;
}

void MainWindow::saturationMoved()
{
    if (saturationDragging)
        saturationClicked();
}

void MainWindow::lightnessClicked()
{
    lightness = controlValueAt(lightnessSlider, sliderLength);
    lightnessDragging = true;
    showControlValue(lightness, sliderLength, lightnessBar, lightnessText, QStringLiteral(" L: "));
    updateScreen();
}

void MainWindow::lightnessReset()
{
    lightness = 0.5f;
    showControlValue(lightness, sliderLength, lightnessBar, lightnessText, QStringLiteral(" L: "));
}

void MainWindow::lightnessReleased()
{
    lightnessDragging = false;
}

void MainWindow::lightnessMoved()
{
    if (lightnessDragging)
        lightnessClicked();
}
