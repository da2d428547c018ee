#include "scopes/StillScope.h"

#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace scopes {

cv::Mat frameFromImage(const cv::Mat& image, int width)
{
    CV_Assert(image.depth() == CV_8U && !image.empty() && width > 0);
    cv::Mat bgra;
    switch (image.channels()) {
    case 1:
        cv::cvtColor(image, bgra, cv::COLOR_GRAY2BGRA);
        break;
    case 3:
        cv::cvtColor(image, bgra, cv::COLOR_BGR2BGRA);
        break;
    default: {
        // Alpha is dropped: a capture of the screen is always opaque.
        cv::Mat bgr;
        cv::cvtColor(image, bgr, cv::COLOR_BGRA2BGR);
        cv::cvtColor(bgr, bgra, cv::COLOR_BGR2BGRA);
        break;
    }
    }
    const float scale = static_cast<float>(width) / static_cast<float>(bgra.cols);
    const float rows = std::min(static_cast<float>(bgra.rows) * scale, static_cast<float>(kMaxFrameAspect * width));
    const int height = std::max(1, static_cast<int>(rows));
    cv::Mat frame;
    cv::resize(bgra, frame, cv::Size(width, height), 0, 0, cv::INTER_NEAREST);
    return frame;
}

FrameScope::FrameScope(int displayMode, int windowSize, int zoom)
    : displayMode(displayMode)
    , windowSize(windowSize)
    , radius((windowSize / 2) * 0.75)
    , zoom(validZoom(zoom))
{
    if (displayMode != 1 && displayMode != 2)
        renderColorWheel(wheel, windowSize, windowSize, radius, this->zoom);
}

const cv::Mat& FrameScope::render(const cv::Mat& frameBgra)
{
    if (displayMode == 1 || displayMode == 2) {
        renderWaveform(frameBgra, windowSize, displayMode == 2, waveformBuffers, scope);
        return scope;
    }
    // The plotter's own picture: the line drawn on it last time goes back to the wheel.
    scope = vectorscopePlotter.plot(frameBgra, wheel, radius, skinToneLineArea(windowSize, radius), zoom);
    drawSkinToneLine(scope, radius);
    return scope;
}

cv::Mat renderStillScope(const cv::Mat& frameBgra, int displayMode, int windowSize, int zoom)
{
    FrameScope still(displayMode, windowSize, zoom);
    return still.render(frameBgra).clone();
}

} // namespace scopes
