#include "shell/MainWindow.h"

#include "capture/QClickLabel.h"
#include "capture/ScreenService.h"
#include "scopes/FrameSum.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

const char* modeName(int displayMode)
{
    switch (displayMode) {
    case 1:
        return "Waveform";
    case 2:
        return "Parade";
    default:
        return "Vectorscope";
    }
}

// Two continuous pictures of the same size and type with the same bytes.
bool sameBytes(const cv::Mat& a, const cv::Mat& b)
{
    return a.size() == b.size() && a.type() == b.type() && a.isContinuous() && b.isContinuous()
        && std::memcmp(a.data, b.data, a.total() * a.elemSize()) == 0;
}

// A pointer coordinate on the frame: its distance from the captured
// rectangle's edge times the scale, truncated. A position this far off the
// frame is as good as any further one, and keeps the conversion defined.
int framePosition(int pointer, int edge, float scale)
{
    constexpr float kFarOff = 1 << 24;
    const float position = static_cast<float>(static_cast<long long>(pointer) - edge) * scale;
    return static_cast<int>(std::clamp(position, -kFarOff, kFarOff));
}

} // namespace

void MainWindow::updateScreen()
{
    if (skipUpdateScreen > 0)
        return;
    log("UPD screen");
    log("UPD screen A");
    // Until the desktop lets us read the screen there is nothing to analyse.
    if (!captureGranted) {
        infoLabel->setText(captureProblem);
        return;
    }
    const auto start = std::chrono::steady_clock::now();

    recognizeApplication(false);
    log("UPD screen B");

    const QString targetName = appRegions.contains(currentApp) ? currentApp : QStringLiteral("unknown");
    const std::array<int, 4> region = appRegions.value(targetName);
    const int monitorIndex = appAdapters.value(targetName);
    const platform::Rect rect{region[0], region[1], region[2], region[3]};
    const bool useRect = rect.left >= 0;
    log("adapter selected");

    float scale = 0.0f;
    platform::Rect captured;
    screenService->captureScreen(&captureImage, monitorIndex, useRect ? &rect : nullptr, windowSize, &scale, &captured);
    log("scr ok");

    // The deep copy and the change test's byte sum in one pass over the bytes.
    const quint32 sum = scopes::copyFrameAndSum(captureImage, frameImage);
    const bool readingsChanged = convertReadings(monitorIndex, sum != frameSum);

    // Measured from the rectangle the capture read, in desktop pixels: the
    // monitor's own origin counts, and so does what the capture made of a
    // record it could not use as stored (empty or inverted: the whole
    // monitor; its monitor gone: the first one). A pointer the desktop cannot
    // locate points at nothing: off the frame.
    const bool pointerKnown = desktop.pointerKnown();
    const platform::Point pointer = desktop.pointer();
    const int cursorX = pointerKnown ? framePosition(pointer.x, captured.left, scale) : -1;
    const int cursorY = pointerKnown ? framePosition(pointer.y, captured.top, scale) : -1;
    log("cursor ok");

    bool frameChanged = false;
    if (sum != frameSum) {
        log("sum changed");
        frameSum = sum;
        frameChanged = true;
    }
    if (readingsChanged)
        frameChanged = true;

    if (displayMode == 0)
        drawVectorscope(frameChanged, cursorX, cursorY);
    else
        drawWaveform(frameChanged, cursorX, cursorY, displayMode == 2);

    if (!sameBytes(scopeImage, shownScope)) {
        plotLabel->setPixmap(QPixmap::fromImage(QImage(scopeImage.data, scopeImage.cols, scopeImage.rows,
                                                       static_cast<int>(scopeImage.cols * 3), QImage::Format_RGB888)));
        scopeImage.copyTo(shownScope);
    }
    if (!sameBytes(frameImage, shownFrame)) {
        previewLabel->setPixmap(QPixmap::fromImage(QImage(frameImage.data, frameImage.cols, frameImage.rows,
                                                          static_cast<int>(frameImage.cols * 4), QImage::Format_ARGB32)));
        frameImage.copyTo(shownFrame);
    }

    if (scopeImage.rows != lastPlotHeight) {
        lastPlotHeight = scopeImage.rows;
        plotLabel->setMinimumSize(windowSize, lastPlotHeight);
        setMinimumSize(windowSize, lastPlotHeight);
        fitToContents();
    }
    log("scr pix set");

    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
    const long long milliseconds = elapsed.count() / 1000000;
    // A magnified vectorscope says so: "12 ms 2× Vectorscope".
    const QString zoomText = displayMode == 0 && vectorscopeZoom != 1
        ? QString::number(vectorscopeZoom) + QChar(0x00D7) + QLatin1Char(' ')
        : QString();
    if (captureProblem.isEmpty())
        infoLabel->setText(
            QString::number(milliseconds) + QStringLiteral(" ms ") + zoomText + QLatin1String(modeName(displayMode)));
    else
        infoLabel->setText(captureProblem);
    log("scr end");
}
