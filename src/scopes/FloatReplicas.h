#pragma once

#include <cstdint>
#include "scopes/ScopePath.h"

#include <QString>
#include <QStringList>

#include <opencv2/core.hpp>
#include <vector>

// The scopes smooth, stretch and scale float pictures with OpenCV's
// GaussianBlur, resize and normalize, and their bytes depend on every
// rounding of those calls. OpenCV's vector code and its scalar tails order
// the single-precision operations differently (fused multiply-adds or not,
// centre first or last), and which columns take which code depends on the
// processor and the picture's width. The fast paths redo the same operations
// in the same order, cell by cell, only where cells are not zero; which order
// each column takes is found once per width by running OpenCV itself on
// random numbers and keeping, per column, the one known order that gives
// every one of its bits. When no known order fits a column, the fast paths
// call OpenCV instead.
namespace scopes {

// How one pass of a symmetric 3- or 5-tap kernel forms a column's sum, with
// b the centre, p1 the sum of the two neighbours and p2 of the two beyond:
//   Form 0: k1 p1 first, then fused k0 b, then fused k2 p2
//   Form 1: k0 b first, then fused k1 p1, then fused k2 p2
//   Form 2: k0 b + k1 p1 + k2 p2, each product rounded, no fusing
enum class SumForm : std::uint8_t { NeighboursFirstFused = 0, CentreFirstFused = 1, Unfused = 2 };

// GaussianBlur(src, dst, Size(taps, taps), 1.0, 0, BORDER_DEFAULT) on CV_32F
// pictures `width` columns wide: a horizontal pass, then a vertical one.
struct SmoothingOrder {
    int taps = 0;
    int width = 0;
    float k[3] {}; // centre, next, outermost (0 for 3 taps)
    std::vector<SumForm> across; // per column, the horizontal pass
    std::vector<SumForm> down; // per column, the vertical pass
    SumForm mainAcross = SumForm::Unfused; // the form of most columns
    SumForm mainDown = SumForm::Unfused;
    std::vector<int> oddAcross; // columns whose form is not the main one
    std::vector<int> oddDown;
    bool known = false; // false: some column fits no known form; use OpenCV
};

// Found on first use for each (taps, width, height), on random pictures of
// that size, and kept; safe from any thread.
const SmoothingOrder& gaussianOrder(int taps, int width, int height);

// One pass of the kernel at one column, the form given: v[0 .. taps-1] are
// the taps' inputs from one side to the other.
float smoothedValue(const SmoothingOrder& order, SumForm form, const float* v);

// One row of the horizontal pass for columns x0 .. x0 + count - 1:
// in[i] is the value at column x0 - taps / 2 + i (borders already reflected).
void smoothAcross(const SmoothingOrder& order, const float* in, float* out, int x0, int count);

// smoothAcross of a whole row with the 3- and the 5-tap kernel at once:
// in[i] is the value at column i - 2.
void smoothAcrossBoth(
    const SmoothingOrder& order3, const SmoothingOrder& order5, const float* in, float* out3, float* out5, int width);

// One row of the vertical pass for columns x0 .. x0 + count - 1: rows[k][i]
// is the horizontal pass at row y - taps / 2 + k, column x0 + i.
void smoothDown(const SmoothingOrder& order, const float* const* rows, float* out, int x0, int count);

int reflect101(int i, int n);

// resize(src, dst, Size(width, toRows), 0, 0, INTER_LINEAR) of a CV_32F
// picture `fromRows` x width keeps every column and mixes two rows per
// output row: dst = s0 b0 + s1 b1, products rounded, then added. Whether
// this OpenCV does exactly that for this shape is found on first use.
struct RowBlend {
    int from0 = 0;
    int from1 = 0;
    float b0 = 0;
    float b1 = 0;
};
const std::vector<RowBlend>* linearRowBlends(int width, int fromRows, int toRows);

// normalize(src, dst, 0, 1, NORM_MINMAX) of a CV_32F picture whose smallest
// value is 0 multiplies every value by (float)(1 / largest), rounded once,
// or by 0 when the largest is not above DBL_EPSILON. Checked once against
// OpenCV; false means call OpenCV.
bool normalizeScalesOnly();
float normalizeScale(float largest);

// What convertTo(CV_32F, 1/255) makes of each byte value (R, G, B of a
// frame), or null when this OpenCV gives a byte different values in
// different places of a picture (vector code and scalar tails disagree).
const float* byteUnits();

// While set, the smoothing orders found for new sizes fit no column: those
// sizes take OpenCV's calls. For tests.
void upsetSmoothingCheckForTests(bool upset);

// Why a size took the plain path although the processor runs a vector path
// (a check of the fast arithmetic against OpenCV failed), for the debug log:
// noted once per size, taken by the next caller.
void noteFallback(const QString& text);
QStringList takeFallbackNotes();

// Whether the path in use (scopePath()) runs the 256-bit vector code, and
// the 512-bit code.
bool wideVectors();
bool widestVectors();

} // namespace scopes
