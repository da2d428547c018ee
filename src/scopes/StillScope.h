#pragma once

#include <opencv2/core.hpp>

// Scope pictures of single images, for the command-line renderer and for
// checking that a still picture matches what the live window shows.
namespace scopes {

constexpr int kMinWindowSize = 150;
constexpr int kMaxWindowSize = 600;

// An 8-bit B, G, R (or grey, or B, G, R, A) image turned into the captured
// frame form (B, G, R, fourth byte 255) and scaled to `width` columns by
// nearest neighbour, keeping the aspect ratio; never fewer than 1 row.
cv::Mat frameFromImage(const cv::Mat& image, int width);

// The picture the window shows for `frameBgra` when it is a new frame and
// nothing is pointed at or picked: displayMode 0 the wheel, the plot and the
// skin-tone line; 1 the Waveform; 2 the Parade. R, G, B.
cv::Mat renderStillScope(const cv::Mat& frameBgra, int displayMode, int windowSize);

} // namespace scopes
