#include "shell/MainWindow.h"

#include "scopes/VectorscopeMath.h"

// The costly part (colour conversion, accumulation, smoothing, brightening)
// runs only for a frame the vectorscope has not analysed yet; the overlays are
// redrawn on a fresh copy of the cached plot on every call, so they follow
// the pointer and the picks without recomputing it.
void MainWindow::drawVectorscope(bool frameChanged, int cursorX, int cursorY)
{
    // Besides a changed frame: the cycle's change flag does not see frames
    // that changed while another mode was shown, a first frame whose byte sum
    // is 0 finds no cache, and a new window size needs a plot of the new size.
    const bool recompute = frameChanged || !vectorscopeCurrent || vectorscopeFrameSum != frameSum || scopeCache.empty()
        || scopeCache.size() != backgroundImage.size() || colorImage.size() != frameImage.size();

    if (recompute) {
        scopes::frameToHsv(frameImage, scopeRgbBytes, scopeRgbFloat, colorImage);
        backgroundImage.copyTo(scopeImage);
        const float weight = scopes::pixelWeight(frameImage.rows * frameImage.cols);
        log("ch A");
        // The plot has the wheel's size, which is windowSize square.
        scopes::accumulateHsv(colorImage, backgroundImage.cols, scopeRadius, weight, vectorscopeCells);
        log("ch B");
        scopes::smoothCells(vectorscopeCells, vectorscopeBlurred);
        scopes::brightenScope(scopeImage, vectorscopeCells);
        log("ch C");
        scopeImage.copyTo(scopeCache);
        vectorscopeFrameSum = frameSum;
        vectorscopeCurrent = true;
    }

    log("scr A");
    log("scr M changed");
    if (!recompute)
        scopeCache.copyTo(scopeImage);

    scopes::drawPointerMarker(scopeImage, colorImage, cursorX, cursorY, scopeRadius);
    log("scr M changed A");

    if (dominantHueCount > 0)
        scopes::drawDominantHueLines(scopeImage, dominantHues, dominantHueCount, scopeRadius);
    log("scr M changed B");

    updateHarmonySwatches();
    log("scr M changed C");

    if (hoverSaturation >= 0)
        scopes::highlightMatchingHues(frameImage, colorImage, hoverHue, hoverSaturation);
    log("scr M changed D");

    scopes::drawSkinToneLine(scopeImage, scopeRadius);
    log("scr M changed E");
}

void MainWindow::generateBackground(int width, int height, double radius)
{
    scopes::renderColorWheel(backgroundImage, width, height, radius);
    // The cached plot lies on the old wheel.
    vectorscopeCurrent = false;
}

void MainWindow::hsvToRgb(double h, double s, double v, double& r, double& g, double& b)
{
    scopes::hsvToRgb(h, s, v, r, g, b);
}
