#pragma once

#include "scopes/ScopePath.h"

#include <array>
#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

// The vectorscope's plot of one frame, the costly part of a refresh, with the
// very bytes that the plain arithmetic (reference::vectorscopePlot) gives,
// at a fraction of its cost:
//
// - Which cell a pixel lands on is a function of its three bytes. Each pixel
//   is placed with fast single-precision arithmetic whose error is bounded
//   (well under 0.001 of a cell); when the unrounded position lies that close
//   to a rounding boundary, the pixel goes the exact way instead: OpenCV's own
//   colour conversion and the double-precision plotPoint. Which pixels count
//   is read from a table that OpenCV's conversion filled. When a plot size
//   and frame width are first used, a few hundred random colours placed
//   both ways must agree, or that size takes the plain arithmetic.
// - A cell's weight after k pixels is the same sequence of k double-precision
//   additions whatever the order of the pixels, so cells count pixels and a
//   table turns counts into weights.
// - The smoothing repeats OpenCV's own operation order (FloatReplicas.h) on
//   the cells near plotted ones only; all others are 0.
// - Brightening takes a fast power whose error is bounded; a byte whose value
//   lies too close to the next whole number for that bound goes the exact way.
// - A frame that differs from the last one in a few rows only (a brush
//   stroke, a moving pointer) is counted by those rows: their old pixels
//   leave their cells and the new ones join theirs. Only the cells whose
//   count changed and their neighbours are smoothed again; they alone are
//   brightened again unless the largest cell changed, which rescales all.
//
// The frame is B, G, R, A; the wheel and the scope picture R, G, B.
namespace scopes {

class VectorscopePlotter {
public:
    // The plot of `frameBgra` (any size) over `wheel`, whose cells lie
    // `radius` from the centre at full saturation. Buffers are kept between
    // calls.
    //
    // The picture is the plotter's own and stays valid until the next call;
    // callers may paint on it and say where at the next call (`paintedOver`),
    // so that only what changes is written: the cells lit by the previous plot
    // and the painted area go back to the wheel. The wheel is taken to be
    // unchanged while its data and size are; after changing its pixels in
    // place, call forgetPicture().
    //
    // At a `zoom` other than 1 saturations are plotted as accumulateHsv
    // plots them at that zoom.
    cv::Mat plot(
        const cv::Mat& frameBgra, const cv::Mat& wheel, double radius, const cv::Rect& paintedOver = {}, int zoom = 1);
    void forgetPicture();

    // The same in two steps: every pixel onto the cells of a plot `size`
    // square, then the smoothing and brightening over the wheel (size x size).
    // `leftOut` of the frame's pixels are left out of the plot: they are
    // black in the frame (they land nowhere), and the weight of a pixel is
    // that of a frame of the others alone.
    void count(const cv::Mat& frameBgra, int size, double radius, int zoom = 1, std::uint32_t leftOut = 0);
    cv::Mat draw(const cv::Mat& wheel, const cv::Rect& paintedOver = {});

    // The frame of the last count (B, G, R, A), kept until the next.
    const cv::Mat& frame() const { return countedFrame; }

    // The H, S, V that frameToHsv gives the pixel at (x, y) of a frame:
    // OpenCV converts pixels near the right end of a row with other code
    // than the rest, and the result depends on it.
    cv::Vec3f hsvOfPixel(const cv::Mat& frameBgra, int x, int y);

    // Whether the last plot took the plain arithmetic all the way (this
    // OpenCV does something the fast path does not know).
    bool usedPlainPath() const { return lastPlain; }

    struct Span {
        int x0, x1; // inclusive; empty when x0 > x1
    };

    // Per row of the picture: the columns the last draw() may have changed
    // (all of them when it started afresh), so that a copy of the picture
    // can follow it by these alone.
    const std::vector<Span>& changedSpans() const { return changed; }

private:
    struct Area {
        int x0, y0, x1, y1; // inclusive; empty when x0 > x1
    };

    // What the counts are of: another plot, path or frame size counts afresh.
    struct CountedFor {
        int size = 0;
        double radius = 0;
        int zoom = 0;
        float placementRadius = 0;
        ScopePath path = ScopePath::Plain;
        int rows = 0, cols = 0;
        bool operator==(const CountedFor& o) const
        {
            return size == o.size && radius == o.radius && zoom == o.zoom && placementRadius == o.placementRadius
                && path == o.path && rows == o.rows && cols == o.cols;
        }
    };

    void countWholeFrame(const cv::Mat& frameBgra, int size, double radius, int zoom);
    bool countChangedRows(const cv::Mat& frameBgra, int size, double radius, int zoom);
    void resolveExactly(const cv::Mat& frameBgra, int size, double radius, int zoom);
    void prepareWeights(float weight, std::uint32_t pixels);
    Area plotRegion() const;
    void startPicture(const cv::Mat& wheel, const cv::Rect& paintedOver);
    void drawPlainly(const cv::Mat& wheel);
    void findRowSpans(const Area& region);
    float smoothCountedCells(const Area& region, int size);
    void liftSpans(const Area& region, float scale, const cv::Mat& wheel);
    void drawMovedCells(const cv::Mat& wheel, const cv::Rect& paintedOver);
    void smoothAgain(int y, Span columns, float* out);

    // Per plot: pixel counts per cell, the pixels that go the exact way, the
    // smoothed cells of the plotted region.
    std::vector<std::uint32_t> counts;
    std::vector<int> exactPixelsFound;
    std::vector<int> exactRowOf; // per frame column: the pixels going the exact way there so far
    std::vector<float> weights; // weights[k]: a cell's value after k pixels
    float weightsFor = -1.0f;
    std::vector<Span> countedSpans; // per row of the plot: the columns that may hold counts
    std::vector<Span> litSpans; // per row of the region: the columns smoothing lights

    // The frame last counted, and where each of its pixels was counted
    // (size * size: nowhere), so that a frame changed in a few rows is
    // counted by those rows.
    cv::Mat countedFrame;
    std::vector<int> framePlaces;
    CountedFor countedFor;
    bool countsHeld = false;
    std::vector<int> changedRows, placesBefore;
    // Cells whose count changed since the picture was drawn; while
    // `pictureOfCounts`, the sums, lit spans and picture are those of the
    // counts before these changes, drawn with `drawnLargest` and `drawnScale`.
    std::vector<int> movedCells;
    bool pictureOfCounts = false;
    float drawnLargest = 0.0f, drawnScale = 0.0f;
    std::vector<Span> redoSpans; // per row of the plot: the cells smoothed again
    std::vector<float> redoLine, redoAcross, redoSums;
    std::vector<float> cellRows; // cell values of the region's rows, with a margin
    std::vector<float> acrossRows; // the horizontal pass of the smoothing
    std::vector<float> sums; // cells + smoothed cells over the region
    std::vector<float> zeroRow;
    cv::Mat exactRgb, exactHsv; // the pixels going the exact way, for OpenCV's conversion
    cv::Mat exactRgbRows, exactHsvRows; // what they are views of
    // Where the exact way put a hue and distance (their bits), this call
    // (`stamp`) or an earlier one.
    struct ExactPlace {
        std::uint32_t hueBits = 0;
        std::uint64_t distanceBits = 0;
        int cell = 0;
        std::uint32_t stamp = 0;
    };
    std::array<ExactPlace, 1024> exactPlaces {};
    // The colours going the exact way, each run of one colour down a frame
    // column converted once (a slot: its row there) and placed.
    struct ExactSlot {
        int x, row;
        std::uint32_t colour; // the pixel's B, G, R, A word without its A
        int cell;
    };
    std::vector<ExactSlot> exactSlots;
    std::vector<int> exactSlotOf; // per pixel of exactPixelsFound
    std::vector<int> lastExactSlot; // per frame column: the slot of its last such pixel
    std::uint32_t exactStamp = 0;
    cv::Mat rowRgbBytes, rowRgbFloat, rowHsv; // the row of hsvOfPixel
    cv::Mat picture; // R, G, B: the wheel with the last plot
    const uchar* pictureWheel = nullptr; // the wheel under it; null: start afresh
    std::vector<Span> pictureSpans; // per row of the picture: the lifted columns
    std::vector<Span> changed; // per row of the picture: what the last draw may have changed
    bool lastPlain = false;
    int plotSize = 0;
    std::uint32_t framePixels = 0;
    Area touched { 0, 0, -1, -1 }; // the cells the plot's pixels can reach

    // The plain way, for an OpenCV the fast path does not know.
    cv::Mat plainRgbBytes, plainRgbFloat, plainHsv, plainCells, plainBlurred;
};

// For tests, with the vector code of `path` (Avx2 or Avx512): where the fast
// path places pixels (B, G, R, A as 32-bit words) in a plot of `size` with
// full saturation at `radius`: the cell index (row * size + column), -1
// when the pixel is not counted or falls outside, -2 when it lies too close
// to a rounding boundary to be sure.
void placeColours(
    const std::uint32_t* pixels, int n, int size, double radius, int* cells, ScopePath path, int zoom = 1);

// The brightened wheel bytes (three per cell) under cells of normalised
// values `cells`, fast and guarded; returns how many bytes went the exact
// way. And one byte the exact way.
int liftRow(const float* cells, const uchar* wheel, uchar* out, int n, ScopePath path);
int exactLift(float cell, int wheel);

// Tests: scale the radius the fast placement works with by `factor`, as an
// OpenCV with other hue arithmetic would misplace colours, and check every
// size anew. The check when a size is first used must catch it.
void nudgePlacementForTests(float factor);

} // namespace scopes
