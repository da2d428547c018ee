#pragma once

#include "scopes/WaveformTrace.h"

#include <array>
#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

// The Waveform's and the Parade's image arithmetic, free of any widget.
// Frames are 8-bit B, G, R, A; scope pictures 8-bit R, G, B. Level counts are
// float matrices of kLevels rows (row 0 the brightest level 127, row 127 the
// darkest 0) and one column per picture column (Waveform) or panel column
// (Parade).
namespace scopes {

class FramePaint;

constexpr int kLevels = 128;

enum Channel { Blue = 0, Green = 1, Red = 2 };
using ChannelMats = std::array<cv::Mat, 3>; // indexed by Channel

// Rows of the Waveform and Parade pictures for a window `windowSize` wide.
int waveformHeight(int windowSize);

// Columns of one channel's trace: a third of the width in the Parade.
int traceWidth(int windowSize, bool parade);

// frameBgra -> rgbBytes (R, G, B) -> rgbFloat (R, G, B in [0, 1]), buffers kept.
void frameToRgbFloat(const cv::Mat& frameBgra, cv::Mat& rgbBytes, cv::Mat& rgbFloat);

// The level (0 .. 127) a channel value in [0, 1] is counted on: anything
// above 0 reaches at least level 1.
int levelOf(float value);

// Sets each of `counts` to kLevels x width zeros (keeping buffers) and counts
// every pixel of `rgbFloat` on its level, per channel, in column
// trunc(frame column * width / frame columns).
void accumulateLevels(const cv::Mat& rgbFloat, int width, ChannelMats& counts);

// Share of the cells holding pixels, the five brightest levels left out;
// sparse captures get more gain.
float traceDensity(const cv::Mat& counts);
float traceGain(float density);

// Display intensities of one channel at cols x rows: stretched, normalised,
// softened and amplified by the trace's density. Values may exceed 1.
// `blur3` and `blur5` are scratch; every output keeps its buffer.
void enhanceTrace(const cv::Mat& counts, int cols, int rows, cv::Mat& trace, cv::Mat& blur3, cv::Mat& blur5);

// Picture bytes from traces, trunc(min(1, value) x 255), written into a
// black `scope` that already has the picture's size.
void composeWaveform(const ChannelMats& traces, cv::Mat& scope);
// Blue, green and red panels side by side; the 0 to 2 columns the three
// panels leave over on the right stay black.
void composeParade(const ChannelMats& traces, cv::Mat& scope);

// Ten faint rows: black turns grey (50, 50, 50), bright traces pass.
void applyGraticule(cv::Mat& scope);

// Paints opaque red every frame pixel within 10 scope columns of the pointer
// (hoverX, hoverY on the picture of scopeCols x scopeRows) whose brightness
// (Waveform) or pointed channel (Parade) lies within 10 of the pointer's
// height. Nothing while hoverX is negative.
void highlightMatchingLevels(
    cv::Mat& frameBgra, int scopeCols, int scopeRows, double hoverX, double hoverY, bool parade);
// The same with the levels read from `readings` (the frame the scope drew,
// of the same size) and the red painted on `preview`; with `paint`, keeping
// what the painted pixels held so that it can be put back (`preview` is then
// continuous).
void highlightMatchingLevels(const cv::Mat& readings, cv::Mat& preview, int scopeCols, int scopeRows, double hoverX,
    double hoverY, bool parade, FramePaint* paint = nullptr);

// The whole picture of one frame, every buffer reused.
struct WaveformBuffers {
    WaveformRenderer renderer;
};
// With `leftOut` (per frame column, how many of its pixels are left out of
// the scope; those pixels are black in the frame), the pictures of the
// other pixels alone: the left-out ones are taken back out of the darkest
// level, so that they count nowhere.
void renderWaveform(const cv::Mat& frameBgra, int windowSize, bool parade, WaveformBuffers& buffers, cv::Mat& scope,
    const std::vector<std::uint32_t>* leftOut = nullptr);
void renderWaveform(const cv::Mat& frameBgra, int windowSize, bool parade, cv::Mat& rgbBytes, cv::Mat& rgbFloat,
    ChannelMats& counts, ChannelMats& traces, cv::Mat& blur3, cv::Mat& blur5, cv::Mat& scope,
    const std::vector<std::uint32_t>* leftOut = nullptr);

// Plain versions written for clarity, allocating freely; the fast versions
// above are held to them.
namespace reference {
cv::Mat enhanceTrace(cv::Mat channel, int cols, int rows);
cv::Mat waveformPicture(const cv::Mat& frameBgra, int windowSize, bool parade);
} // namespace reference

} // namespace scopes
