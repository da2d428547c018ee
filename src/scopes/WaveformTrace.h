#pragma once

#include <array>
#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

#include "scopes/FloatReplicas.h"

// The Waveform's and the Parade's picture of one frame with the very bytes of
// the plain arithmetic (reference::waveformPicture), at a fraction of its
// cost:
//
// - A channel byte's level depends on the byte alone: a table made with
//   OpenCV's own conversion. Levels count pixels in whole numbers, which
//   single precision holds exactly, so counting in integers changes nothing.
//   A frame that differs from the last one in a few rows is counted by
//   taking those rows' old pixels off their levels and adding the new ones.
// - Stretching the 128 levels to the picture's height, normalising, the two
//   smoothings and the sums repeat OpenCV's single-precision operations in
//   OpenCV's order (FloatReplicas.h), row by row, in a few rows of scratch
//   rather than whole pictures; where this OpenCV does something else the
//   plain calls take over.
// - The last step, trunc(min(1, v) x 255) in double precision, is done
//   exactly in single precision with the rounding error of the product.
//
// The frame is B, G, R, A; the picture R, G, B.
namespace scopes {

class WaveformRenderer {
public:
    // scope := Waveform (parade false) or Parade of `frameBgra` for a window
    // `windowSize` wide: windowSize columns, waveformHeight(windowSize) rows.
    // With `leftOut`, the picture of the pixels not left out (see renderWaveform).
    void render(const cv::Mat& frameBgra, int windowSize, bool parade, cv::Mat& scope,
        const std::vector<std::uint32_t>* leftOut = nullptr);

    // Whether the last picture took the plain calls (this OpenCV does
    // something the fast path does not repeat).
    bool usedPlainPath() const { return lastPlain; }

    // Every picture-sized buffer, to check that none is made anew once the sizes are stable.
    std::vector<const void*> buffers() const;

private:
    bool renderFast(const cv::Mat& frameBgra, int windowSize, bool parade, cv::Mat& scope,
        const std::vector<std::uint32_t>* leftOut);
    void countLevels(const cv::Mat& frameBgra, int width);
    // The counts brought from the counted frame to this one through the rows
    // that differ, when few enough; false leaves them to be counted afresh.
    bool countChangedRows(const cv::Mat& frameBgra);
    // Each byte value's level row, as an offset into a channel's counts.
    void levelOffsets(int* offset) const;
    // The largest value of a channel's stretched trace, and whether it has a 0.
    float stretchedLargest(const std::uint16_t* count, size_t stride, int width, const std::vector<RowBlend>& blends,
        float* scratch, bool& someZero);

    // Per channel (blue, green, red): 128 level rows of countStride cells, in
    // `counts` from the first cache line on (levelCounts).
    static constexpr int kLineBytes = 64;
    static constexpr int kCellsPerLine = kLineBytes / 2;
    std::vector<std::uint16_t> counts[3];
    std::uint16_t* levelCounts[3] {};
    int countStride = 0;
    std::vector<int> columnOf; // frame column -> trace column
    // The frame the counts hold, for rows, columns and trace width `countedFor`.
    cv::Mat countedFrame;
    std::array<int, 3> countedFor {};
    bool countsHeld = false;
    std::vector<int> changedRows;
    std::vector<float> rows; // scratch rows of the stretched, smoothed traces
    std::array<cv::Mat, 3> planes; // the picture's bytes, one plane per channel
    std::array<int, 3> planesLayout {}; // their rows, columns and whether a Parade
    std::array<cv::Mat, 3> shiftedTraces; // whole traces without an empty cell, normalised by OpenCV
    bool lastPlain = false;

    // The plain way.
    cv::Mat plainRgbBytes, plainRgbFloat, plainBlur3, plainBlur5;
    std::array<cv::Mat, 3> plainCounts, plainTraces;
};

// The picture bytes of one trace row, trunc(min(1, v) x 255) with
// v = gain ((2 t + 1.5 b3) + b5), by the vector code (n >= 8): for tests.
void traceBytes(const float* t, const float* b3, const float* b5, float gain, uchar* out, int n);

// One row of picture bytes: both vertical passes of the trace row `t` (the
// horizontal passes' rows around it in rows3[0 .. 2] and rows5[0 .. 4], in
// each column's form), then the bytes as traceBytes makes them (n >= 8).
void smoothedTraceBytes(const SmoothingOrder& order3, const SmoothingOrder& order5, const float* const* rows3,
    const float* const* rows5, const float* t, float gain, uchar* out, int n);

} // namespace scopes
