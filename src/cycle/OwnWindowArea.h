#pragma once

#include "platform/Desktop.h"

#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

// The part of a captured frame that shows the program's own windows. A tool
// that captures the screen around it also captures itself, and its colour
// wheel, swatches and preview would feed its own scopes: those pixels are
// left out of every scope and of the colour search (they count nowhere, and
// the number of pixels a scope divides by is that of the others), and the
// preview shows them darkened.
//
// Frames are B, G, R, A.
namespace scopes {

class OwnWindowArea {
public:
    // A frame of `cols` x `rows` pixels that shows `captured` (desktop
    // pixels) scaled to that size; `windows` in desktop pixels. A frame pixel
    // stands for the part of the desktop its share of the scaling covers,
    // and is left out when any of that part lies under a window: so also the
    // pixel a window only partly covers, whichever desktop pixel the scaling
    // picked for it. Returns whether the area differs from the one before
    // (another place, or another frame size while there is an area).
    bool place(const platform::Rect& captured, int cols, int rows, const std::vector<platform::Rect>& windows);

    bool empty() const { return count == 0; }
    // How many frame pixels are left out.
    std::uint32_t pixels() const { return count; }
    bool contains(int x, int y) const;
    // The left-out rectangles in frame pixels (they may overlap).
    const std::vector<cv::Rect>& rects() const { return frameRects; }

    // What the scopes read: `frame` with every left-out pixel black
    // (B = G = R = 0, the fourth byte kept), into `out` (buffer kept). A
    // black pixel counts nowhere on the vectorscope and gives no hue to the
    // colour search; the Waveform and Parade take the left-out pixels back
    // out of their darkest level (leftOutInColumn).
    void blackenInto(const cv::Mat& frame, cv::Mat& out) const;
    // Per frame column: how many of its pixels are left out.
    const std::vector<std::uint32_t>& leftOutInColumn() const { return columnCounts; }

    // Calls fn(y, x0, x1) for each run [x0, x1) of left-out columns of each
    // row y, top down, the rectangles' overlaps merged.
    template <typename Fn> void forEachRun(Fn fn) const
    {
        for (int y = firstRow; y < endRow; ++y)
            forEachRun(y, [&](int x0, int x1) { fn(y, x0, x1); });
    }

private:
    // Calls fn(x0, x1) for each run [x0, x1) of left-out columns of row y,
    // in order, the rectangles' overlaps merged.
    template <typename Fn> void forEachRun(int y, Fn fn) const;

    std::vector<cv::Rect> frameRects, previousRects;
    cv::Size frameSize;
    int firstRow = 0, endRow = 0; // the rows with left-out pixels
    std::uint32_t count = 0;
    std::vector<std::uint32_t> columnCounts;
    mutable std::vector<cv::Vec2i> runs; // scratch of forEachRun
};

// The preview's darkening of the area: each left-out pixel of the frame
// becomes the captured pixel at a quarter of its brightness, and what it
// covered is kept, so that the cycle takes it off again before comparing
// the next capture with the frame.
class FrameShade {
public:
    // `frame` and `captured` of the area's frame size, B, G, R, A.
    void paint(const OwnWindowArea& area, const cv::Mat& captured, cv::Mat& frame);
    // Puts back what the shade covered, and forgets it; returns the rows it
    // covered (empty when none). A frame that is no longer the one painted
    // on is left as it is, and all its rows count.
    cv::Range undo(cv::Mat& frame);
    // The rows shaded since the last undo (empty when none).
    cv::Range rows() const { return runs.empty() ? cv::Range(0, 0) : cv::Range(firstRow, lastRow + 1); }

private:
    struct Run {
        int y, x0, x1;
    };
    std::vector<Run> runs;
    std::vector<std::uint32_t> kept; // the covered pixels, run after run
    const uchar* paintedOn = nullptr;
    cv::Size paintedSize;
    int firstRow = 0, lastRow = 0;
};

// The frame pixels [first, end) along one axis whose share of `sourceLength`
// desktop pixels scaled to `outLength` meets the desktop pixels [from, to)
// (relative to the capture's edge). Empty (first == end) when none does.
cv::Vec2i coveredRange(long long from, long long to, int sourceLength, int outLength);

} // namespace scopes
