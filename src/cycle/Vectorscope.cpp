#include "shell/MainWindow.h"

#include "scopes/FloatReplicas.h"
#include "scopes/VectorscopeMath.h"
#include "shell/Log.h"

#include <QAction>

// The costly part (accumulation, smoothing, brightening) runs only for a
// frame the vectorscope has not analysed yet; the overlays are redrawn on
// the cached plot (where the last ones lay brought back from the cache
// first) whenever the plot or what they show changed, so they follow the
// pointer and the picks without recomputing it.
void MainWindow::drawVectorscope(bool frameChanged, int cursorX, int cursorY)
{
    // Besides a changed frame: the cycle's change flag does not see frames
    // that changed while another mode was shown, a window's first plot finds
    // no cache, a new window size needs a plot of the new size,
    // and a colour image made for a frame of another size must be made anew.
    const bool recompute = frameChanged || !vectorscopeCurrent || vectorscopeFrame != frameCount || scopeCache.empty()
        || scopeCache.size() != backgroundImage.size() || vectorscopePlotter.frame().size() != scopeFrame().size()
        || (!colorImageStale && colorImage.size() != scopeFrame().size());

    if (recompute) {
        colorImageStale = true;
        highlightCurrent = false;
        log("ch A");
        // The plot has the wheel's size, which is windowSize square. The cache
        // is the plotter's own picture, which nothing else paints on.
        vectorscopePlotter.count(scopeFrame(), backgroundImage.cols, scopeRadius, vectorscopeZoom,
            leavingOutOwnWindows() ? ownWindowArea.pixels() : 0);
        // A size whose fast arithmetic failed its check against OpenCV, once.
        for (const QString& note : scopes::takeFallbackNotes())
            if (debugMode)
                writeLog(note);
        log("ch B");
        scopeCache = vectorscopePlotter.draw(backgroundImage);
        log("ch C");
        vectorscopeFrame = frameCount;
        vectorscopeCurrent = true;
    }

    log("scr A");
    log("scr M changed");
    // Last cycle's picture less its overlays, with what the plotter changed:
    // the cached plot, from a copy of only those parts when it can.
    const int rows = scopeCache.rows, cols = scopeCache.cols;
    const bool holdsThisPlot = scopeImageHoldsPlot && scopeImage.data == plotImageData
        && plotCacheData == scopeCache.data && scopeImage.size() == scopeCache.size()
        && scopeImage.type() == scopeCache.type() && overlaySpans.rows() == rows && overlaySpans.cols() == cols;
    OverlayInputs overlays { cursorX, cursorY,
        std::vector<float>(dominantHues.begin(), dominantHues.begin() + std::max(0, dominantHueCount)), selectedHue,
        hueSpread };
    const bool pictureAsShown = holdsThisPlot && !recompute && overlays == overlaysDrawnFrom;
    if (pictureAsShown) {
        scopeChanged.none(rows, cols);
    } else if (!holdsThisPlot) {
        scopeCache.copyTo(scopeImage);
        scopeChanged.all(rows, cols);
    } else {
        scopeChanged.none(rows, cols);
        if (recompute) {
            const auto& plotted = vectorscopePlotter.changedSpans();
            for (int y = 0; y < rows && y < static_cast<int>(plotted.size()); ++y)
                scopeChanged.add(y, plotted[static_cast<size_t>(y)].x0, plotted[static_cast<size_t>(y)].x1);
        }
        scopeChanged.add(overlaySpans);
        scopes::copySpans(scopeCache, scopeImage, scopeChanged);
    }
    scopeImageHoldsPlot = true;
    plotImageData = scopeImage.data;
    plotCacheData = scopeCache.data;
    if (!pictureAsShown) {
        overlaySpans.none(rows, cols);
        drawPointerMarker(cursorX, cursorY);
    }
    log("scr M changed A");

    if (!pictureAsShown && dominantHueCount > 0)
        scopes::drawDominantHueLines(scopeImage, dominantHues, dominantHueCount, scopeRadius, &overlaySpans);
    log("scr M changed B");

    drawHarmonyLines = !pictureAsShown;
    updateHarmonySwatches();
    drawHarmonyLines = true;
    log("scr M changed C");

    // Which preview pixels the highlight paints depends on the colour image
    // and the pointed direction only; the frame is refilled every cycle.
    if (hoverSaturation >= 0) {
        const cv::Mat& hsv = analysedColorImage();
        if (!highlightCurrent || highlightHue != hoverHue || highlightSaturation != hoverSaturation) {
            scopes::matchingHuePixels(hsv, hoverHue, hoverSaturation, highlightedPixels, vectorscopeZoom);
            highlightCurrent = true;
            highlightHue = hoverHue;
            highlightSaturation = hoverSaturation;
        }
        // A colour image of another size than the frame is not walked past its end.
        if (hsv.size() == frameImage.size())
            scopes::paintHighlight(frameImage, highlightedPixels, &framePaint);
    }
    log("scr M changed D");

    if (!pictureAsShown) {
        scopes::drawSkinToneLine(scopeImage, scopeRadius, &overlaySpans);
        scopeChanged.add(overlaySpans);
        overlaysDrawnFrom = std::move(overlays);
    }
    log("scr M changed E");
    if (referenceHeld())
        drawHeldReference();
}

// The pointed pixel's hue and saturation, read from the colour image when it
// is made, else worked out for that pixel alone: the same numbers.
void MainWindow::drawPointerMarker(int cursorX, int cursorY)
{
    const cv::Mat& analysedFrame = vectorscopePlotter.frame();
    if (cursorX >= 0 && cursorY >= 0 && cursorX < analysedFrame.cols && cursorY < analysedFrame.rows) {
        const cv::Vec3f hsv = colorImageStale ? vectorscopePlotter.hsvOfPixel(analysedFrame, cursorX, cursorY)
                                              : colorImage.at<cv::Vec3f>(cursorY, cursorX);
        scopes::drawPointerMarkerFor(scopeImage, hsv[0], hsv[1], scopeRadius, vectorscopeZoom, &overlaySpans);
    }
}

const cv::Mat& MainWindow::analysedColorImage()
{
    if (colorImageStale) {
        scopes::frameToHsv(vectorscopePlotter.frame(), scopeRgbBytes, scopeRgbFloat, colorImage);
        colorImageStale = false;
    }
    return colorImage;
}

void MainWindow::generateBackground(int width, int height, double radius)
{
    scopes::renderColorWheel(backgroundImage, width, height, radius, vectorscopeZoom);
    // The cached plot lies on the old wheel.
    vectorscopeCurrent = false;
    vectorscopePlotter.forgetPicture();
}

void MainWindow::hsvToRgb(double h, double s, double v, double& r, double& g, double& b)
{
    scopes::hsvToRgb(h, s, v, r, g, b);
}

// Dominant-hue lines, harmony lines and the skin-tone line are directions,
// which the scale leaves where they are; the plot, the wheel, the pointer
// marker and the hover highlight follow it.
void MainWindow::zoomTrigger()
{
    vectorscopeZoom = scopes::nextZoom(vectorscopeZoom);
    settings->setValue(QStringLiteral("vectorscope_zoom"), vectorscopeZoom);
    settings->sync();
    showZoom();
    generateBackground(windowSize, windowSize, scopeRadius);
    highlightCurrent = false;
    // While capturing, the next tick shows the change.
    if (!capturing)
        updateScreen();
}

void MainWindow::showZoom()
{
    const QString scale = QString::number(vectorscopeZoom) + QChar(0x00D7);
    zoomAction->setText(scale);
    zoomAction->setToolTip(
        QStringLiteral("Vectorscope scale: ") + scale + QStringLiteral(" (Z: 1\u00D7, 2\u00D7, 4\u00D7)"));
}
