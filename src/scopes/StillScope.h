#pragma once

#include "scopes/VectorscopeMath.h"
#include "scopes/WaveformMath.h"

#include <opencv2/core.hpp>

// Scope pictures of single images and of streams of frames, for the
// command-line renderer, the benchmarks and for checking that a still picture
// matches what the live window shows.
namespace scopes {

constexpr int kMinWindowSize = 150;
constexpr int kMaxWindowSize = 600;

// A capture is never more than this many times as high as it is wide.
constexpr int kMaxFrameAspect = 4;

// An 8-bit B, G, R (or grey, or B, G, R, A) image turned into the captured
// frame form (B, G, R, fourth byte 255) and scaled to `width` columns by
// nearest neighbour, keeping the aspect ratio; never fewer than 1 row, and
// never more than kMaxFrameAspect x width rows (a taller image is squeezed,
// as a taller capture is).
cv::Mat frameFromImage(const cv::Mat& image, int width);

// The picture the window shows for a new frame when nothing is pointed at or
// picked: displayMode 0 the wheel, the plot and the skin-tone line; 1 the
// Waveform; 2 the Parade. R, G, B. Every buffer is kept from one frame to
// the next, as the window keeps its own, so a stream of frames costs what
// the window pays for each new capture.
class FrameScope {
public:
    // `zoom` (1, 2 or 4) magnifies the vectorscope.
    FrameScope(int displayMode, int windowSize, int zoom = 1);

    // `frameBgra` is a captured frame (B, G, R, A); the result stays valid
    // until the next call.
    const cv::Mat& render(const cv::Mat& frameBgra);

private:
    int displayMode;
    int windowSize;
    double radius;
    int zoom;
    cv::Mat wheel;
    VectorscopePlotter vectorscopePlotter;
    WaveformBuffers waveformBuffers;
    cv::Mat scope;
};

// One frame through a fresh FrameScope.
cv::Mat renderStillScope(const cv::Mat& frameBgra, int displayMode, int windowSize, int zoom = 1);

} // namespace scopes
