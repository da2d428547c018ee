// GCC 12's own AVX-512 headers trip these warnings (GCC bug 105593).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#include "scopes/VectorscopePlot.h"

#include "scopes/ChangedSpans.h"
#include "scopes/FloatReplicas.h"
#include "scopes/VectorLanes.h"
#include "scopes/VectorscopeMath.h"

#include <opencv2/imgproc.hpp>

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cfloat>
#include <climits>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>

namespace scopes {

namespace {


// Placement. OpenCV's hue and saturation and the fast ones below each lie
// within a few units in the last place of the exact quotients. Over all 2^24
// colours on the largest plot (radius 225) the fast position and the exact
// one differ by less than 8e-5 of a cell. A position farther than
// kPlacementMargin (three times that) from the middle between two cells is
// rounded the same way by both; a closer one is placed the exact way.
constexpr float kPlacementMargin = 2.5e-4f;
// OpenCV adds FLT_EPSILON to the 0..1 values; in byte units that is 255 times as much.
constexpr float kEpsilonBytes = 255.0f * FLT_EPSILON;
constexpr float kSin120 = 0.86602540378443864676f;
// sin(q pi / 3) and cos(q pi / 3) for |q| <= 1, fitted to the largest error
// (below 7e-8 with these single-precision coefficients).
constexpr float kSin1 = 1.047197461e+00f, kSin3 = -1.913948655e-01f, kSin5 = 1.048760582e-02f,
                kSin7 = -2.647661313e-04f;
constexpr float kCos2 = -5.483112931e-01f, kCos4 = 5.010722205e-02f, kCos6 = -1.830697991e-03f,
                kCos8 = 3.479063889e-05f;

// Brightening. The fast power is within 3e-7 (relative) of powf's and the
// byte's value within 1e-4 of the exact one; bytes whose value lies closer
// than kLiftMargin to a whole number, and cells whose lift factor is too
// close to 1, go the exact way. A cell below kNegligibleCell lifts no byte
// by as much as 0.41, so it leaves the wheel as it is.
constexpr float kLiftMargin = 3e-4f;
constexpr float kWhiteMargin = 1e-5f;
constexpr float kNegligibleCell = 5e-11f;
// From here on 2 c^0.3 exceeds 1 + kWhiteMargin by far more than the power's
// error: the cell is white whatever the wheel.
constexpr float kWhiteCell = 0.09925f;

// A saturation whose fast magnified value reaches this is plotted on the rim
// whatever its last bits: the fast saturation lies within a few units in the
// last place of OpenCV's, far less than this above 1.
constexpr float kSurelyOnRim = 1.0001f;

// Every pixel whose largest byte is above this counts (value above 0.1).
constexpr int kAlwaysCountedAbove = 25;

struct ColourTables {
    bool usable = false;
    float unit[256] {}; // what convertTo makes of each byte, wherever it sits
    // A pixel counts when max - min > countLimit[max] (bytes): its value and
    // saturation as OpenCV computes them pass the counting thresholds.
    int countLimit[256] {};
};

ColourTables makeColourTables()
{
    ColourTables t;
    const float* units = byteUnits();
    if (!units)
        return t;
    std::copy(units, units + 256, t.unit);

    // Saturation and value depend on max and min only. Row `max`, column
    // `min`: the pixel (R max, G min, B min), in vector code and in scalar code.
    cv::Mat rgb(256, 256, CV_32FC3);
    for (int mx = 0; mx < 256; ++mx)
        for (int mn = 0; mn < 256; ++mn)
            rgb.at<cv::Vec3f>(mx, mn) = cv::Vec3f(t.unit[mx], t.unit[std::min(mn, mx)], t.unit[std::min(mn, mx)]);
    cv::Mat hsvWide, hsvNarrow;
    cv::cvtColor(rgb, hsvWide, cv::COLOR_RGB2HSV);
    cv::cvtColor(rgb.reshape(3, 256 * 256 / 2), hsvNarrow, cv::COLOR_RGB2HSV);
    hsvNarrow = hsvNarrow.reshape(3, 256);
    for (int mx = 0; mx < 256; ++mx) {
        int limit = 255;
        bool seenCounted = false;
        for (int d = 0; d <= mx; ++d) {
            const cv::Vec3f wide = hsvWide.at<cv::Vec3f>(mx, mx - d);
            const cv::Vec3f narrow = hsvNarrow.at<cv::Vec3f>(mx, mx - d);
            if (wide[1] != narrow[1] || wide[2] != narrow[2])
                return t;
            const bool counted = countsOnScope(wide[1], wide[2]);
            if (counted && !seenCounted) {
                limit = d - 1;
                seenCounted = true;
            } else if (!counted && seenCounted) {
                return t; // not a threshold: leave it to the plain way
            }
        }
        t.countLimit[mx] = limit;
        if (mx > kAlwaysCountedAbove && limit != -1)
            return t;
    }
    t.usable = true;
    return t;
}

const ColourTables& colourTables()
{
    static const ColourTables tables = makeColourTables();
    return tables;
}

// Tests make the fast placement wrong by this factor on the radius.
std::atomic<float> placementNudge { 1.0f };

struct Placement {
    Placement(int size, double radius, int zoom)
        : size(size)
        , half(size / 2)
        , zoom(static_cast<float>(zoom))
        // A magnified plot magnifies the placement's error as well, but on
        // its rim, where saturations past 1 / zoom are drawn: there only the
        // hue's error moves a pixel, as at full saturation on a plot at 1x.
        , nearestLimit(0.5f - kPlacementMargin * static_cast<float>(zoom))
        , rimLimit(0.5f - kPlacementMargin)
        , radius(static_cast<float>(radius) * placementNudge.load(std::memory_order_relaxed))
        , radiusCos120(-0.5f * this->radius)
        , radiusSin120(kSin120 * this->radius)
        // Full saturation is `radius` from the centre: with a cell to spare,
        // every pixel lands inside the plot.
        , alwaysInside(half - static_cast<int>(std::ceil(radius)) - 2 >= 0
              && half + static_cast<int>(std::ceil(radius)) + 2 < size)
    {
    }
    int size;
    int half;
    float zoom; // saturations plotted at min(1, zoom x saturation)
    float nearestLimit; // a position this close to a whole number of cells is sure
    float rimLimit; // the same for a pixel surely on the magnified rim
    float radius;
    float radiusCos120, radiusSin120; // the sector turns, scaled to the plot
    bool alwaysInside;
};

// The kernels, once per set of vector lanes.
HUELENS_BEGIN_AVX2
namespace avx2 {
using Lanes = Lanes8;
#include "scopes/VectorscopeKernels.inc"
} // namespace avx2
HUELENS_END_TARGET

HUELENS_BEGIN_AVX512
namespace avx512 {
using Lanes = Lanes16;
#include "scopes/VectorscopeKernels.inc"
} // namespace avx512
HUELENS_END_TARGET

// The 512-bit copies measured some 30 % off a new frame's vectorscope
// (placement), 12 % (brightening) and 15 % (cell values) against the
// 256-bit ones, where the processor has them.
void countRows(const cv::Mat& frame, int y0, int y1, const Placement& p, const int* countLimit, std::uint32_t* counts,
    int* places, std::vector<int>& exact)
{
    if (widestVectors())
        avx512::countRows(frame, y0, y1, p, countLimit, counts, places, exact);
    else
        avx2::countRows(frame, y0, y1, p, countLimit, counts, places, exact);
}

int lift(const float* sums, float scale, const uchar* wheelRow, uchar* rgb, int n)
{
    return widestVectors() ? avx512::lift(sums, scale, wheelRow, rgb, n) : avx2::lift(sums, scale, wheelRow, rgb, n);
}

void cellValues(const std::uint32_t* counts, const float* weights, float* out, int n)
{
    if (widestVectors())
        avx512::cellValues(counts, weights, out, n);
    else
        avx2::cellValues(counts, weights, out, n);
}

// sum[i] = cells[i] + sum[i] (the order cv::add uses); the largest of them.
__attribute__((target("avx2,fma"))) float addAndFindLargest(const float* cells, float* sum, int n)
{
    __m256 largest = _mm256_setzero_ps();
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256 s = _mm256_add_ps(_mm256_loadu_ps(cells + i), _mm256_loadu_ps(sum + i));
        _mm256_storeu_ps(sum + i, s);
        largest = _mm256_max_ps(largest, s);
    }
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, largest);
    float result = *std::max_element(lanes, lanes + 8);
    for (; i < n; ++i) {
        sum[i] = cells[i] + sum[i];
        result = std::max(result, sum[i]);
    }
    return result;
}

// The largest of v[0 .. n-1] and `largest`.
__attribute__((target("avx2,fma"))) float largestOf(const float* v, int n, float largest)
{
    __m256 most = _mm256_set1_ps(largest);
    int i = 0;
    for (; i + 8 <= n; i += 8)
        most = _mm256_max_ps(most, _mm256_loadu_ps(v + i));
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, most);
    float result = *std::max_element(lanes, lanes + 8);
    for (; i < n; ++i)
        result = std::max(result, v[i]);
    return result;
}

} // namespace

int exactLift(float cell, int wheel)
{
    // brightenScope's arithmetic: a single-precision power, the rest in double.
    const float a = 2.0f * std::pow(cell, 0.3f);
    const double k = std::max(0.0, 1.0 - static_cast<double>(a));
    return static_cast<uchar>(static_cast<int>(255.0 - (255 - wheel) * k));
}

void placeColours(const std::uint32_t* pixels, int n, int size, double radius, int* cells, ScopePath path, int zoom)
{
    const Placement p(size, radius, zoom);
    const int* limit = colourTables().countLimit;
    if (path == ScopePath::Avx512 && widestVectors())
        avx512::placeRow(pixels, n, p, limit, cells);
    else
        avx2::placeRow(pixels, n, p, limit, cells);
}

namespace {

// Random colours, a quarter of them dark (around the counting thresholds),
// in rows as wide as the frame, so that each takes the code OpenCV runs at
// its column.
cv::Mat checkColours(int cols)
{
    constexpr int kColours = 512;
    cv::RNG rng(0xc0105u);
    cv::Mat frame((kColours + cols - 1) / cols, cols, CV_8UC4);
    rng.fill(frame, cv::RNG::UNIFORM, 0, 256);
    frame.forEach<cv::Vec4b>([](cv::Vec4b& p, const int* at) {
        if ((at[0] * 7 + at[1]) % 4 == 0)
            p = cv::Vec4b(p[0] % 32, p[1] % 32, p[2] % 32, 255);
        p[3] = 255;
    });
    return frame;
}

// Whether the fast placement puts every colour where OpenCV's conversion
// and plotPoint put it, hue, saturation and counting alike; colours that it
// leaves to the exact way pass.
bool placementAgrees(int size, double radius, int zoom, int cols, ScopePath path)
{
    const cv::Mat frame = checkColours(cols);
    cv::Mat rgbBytes, rgbFloat, hsv;
    frameToHsv(frame, rgbBytes, rgbFloat, hsv);
    std::vector<int> cells(frame.total());
    placeColours(frame.ptr<std::uint32_t>(), static_cast<int>(frame.total()), size, radius, cells.data(), path, zoom);
    const int half = size / 2;
    for (size_t i = 0; i < cells.size(); ++i) {
        const cv::Vec3f c = hsv.at<cv::Vec3f>(static_cast<int>(i / cols), static_cast<int>(i % cols));
        const cv::Point pt = plotPoint(half, c[0] * kDegreesToRadians, plottedSaturation(c[1], zoom) * radius);
        const bool inside = pt.x >= 0 && pt.y >= 0 && pt.x < size && pt.y < size;
        const int exact = countsOnScope(c[1], c[2]) && inside ? pt.y * size + pt.x : -1;
        if (cells[i] != -2 && cells[i] != exact)
            return false;
    }
    return true;
}

std::mutex checksLock;
std::map<std::tuple<int, double, int, int, ScopePath>, bool> checks;

// placementAgrees, once per plot, zoom, frame width and path; a failure is logged.
bool placementChecked(int size, double radius, int zoom, int cols)
{
    // The kernel that counts the frame.
    const ScopePath path = widestVectors() ? ScopePath::Avx512 : ScopePath::Avx2;
    const std::lock_guard<std::mutex> hold(checksLock);
    const auto key = std::make_tuple(size, radius, zoom, cols, path);
    auto it = checks.find(key);
    if (it == checks.end()) {
        it = checks.emplace(key, placementAgrees(size, radius, zoom, cols, path)).first;
        if (!it->second)
            noteFallback(
                QStringLiteral("scope plain path: vectorscope %1 at %2x for %3 columns places colours unlike OpenCV")
                    .arg(size)
                    .arg(zoom)
                    .arg(cols));
    }
    return it->second;
}

} // namespace

void nudgePlacementForTests(float factor)
{
    const std::lock_guard<std::mutex> hold(checksLock);
    placementNudge.store(factor, std::memory_order_relaxed);
    checks.clear();
}

int liftRow(const float* cells, const uchar* wheel, uchar* out, int n, ScopePath path)
{
    if (path == ScopePath::Avx512 && widestVectors())
        return avx512::lift(cells, 1.0f, wheel, out, n);
    return avx2::lift(cells, 1.0f, wheel, out, n);
}

cv::Vec3f VectorscopePlotter::hsvOfPixel(const cv::Mat& frameBgra, int x, int y)
{
    // OpenCV's own conversion of the pixel's row: whatever code OpenCV runs
    // at which column of a row, the pixel takes the same as in the frame.
    frameToHsv(frameBgra.row(y), rowRgbBytes, rowRgbFloat, rowHsv);
    return rowHsv.at<cv::Vec3f>(0, x);
}

namespace {

// The first and the last column of row[x0 .. x1] with a count; empty when none.
__attribute__((target("avx2,fma"))) VectorscopePlotter::Span countedColumns(const std::uint32_t* row, int x0, int x1)
{
    // Most of a row is empty: eight columns per test.
    while (x0 + 7 <= x1 && _mm256_testz_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x0)),
               _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x0))))
        x0 += 8;
    while (x1 - 7 >= x0 && _mm256_testz_si256(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x1 - 7)),
               _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x1 - 7))))
        x1 -= 8;
    while (x0 <= x1 && row[x0] == 0)
        ++x0;
    while (x1 >= x0 && row[x1] == 0)
        --x1;
    return { x0, x1 };
}

VectorscopePlotter::Span hull(VectorscopePlotter::Span a, VectorscopePlotter::Span b)
{
    return { std::min(a.x0, b.x0), std::max(a.x1, b.x1) };
}

constexpr VectorscopePlotter::Span kNoColumns { INT_MAX, INT_MIN };

} // namespace

cv::Mat VectorscopePlotter::plot(
    const cv::Mat& frameBgra, const cv::Mat& wheel, double radius, const cv::Rect& paintedOver, int zoom)
{
    count(frameBgra, wheel.cols, radius, zoom);
    return draw(wheel, paintedOver);
}

void VectorscopePlotter::count(const cv::Mat& frameBgra, int size, double radius, int zoom, std::uint32_t leftOut)
{
    CV_Assert(frameBgra.type() == CV_8UC4 && size > 0);
    plotSize = size;
    framePixels = static_cast<std::uint32_t>(frameBgra.total()) - std::min<std::uint32_t>(leftOut, frameBgra.total());
    lastPlain = scopePath() == ScopePath::Plain || size < 3 || !colourTables().usable || !normalizeScalesOnly()
        || !gaussianOrder(3, size, size).known || !placementChecked(size, radius, zoom, frameBgra.cols);
    if (lastPlain) {
        // An OpenCV whose arithmetic the fast path does not know: the plain way.
        countsHeld = false;
        pictureOfCounts = false;
        frameBgra.copyTo(countedFrame);
        frameToHsv(frameBgra, plainRgbBytes, plainRgbFloat, plainHsv);
        accumulateHsv(plainHsv, size, radius, pixelWeight(static_cast<int>(framePixels)), plainCells, zoom);
        return;
    }
    const CountedFor key { size, radius, zoom,
        static_cast<float>(radius) * placementNudge.load(std::memory_order_relaxed), scopePath(), frameBgra.rows,
        frameBgra.cols };
    if (countsHeld && key == countedFor && countChangedRows(frameBgra, size, radius, zoom))
        return;
    countedFor = key;
    countWholeFrame(frameBgra, size, radius, zoom);
}

void VectorscopePlotter::countWholeFrame(const cv::Mat& frameBgra, int size, double radius, int zoom)
{
    // One entry more than cells: where pixels that land nowhere are counted.
    if (counts.size() != static_cast<size_t>(size) * size + 1 || countedSpans.size() != static_cast<size_t>(size)) {
        counts.assign(static_cast<size_t>(size) * size + 1, 0);
        countedSpans.assign(static_cast<size_t>(size), kNoColumns);
    }
    for (int y = 0; y < size; ++y) {
        Span& s = countedSpans[static_cast<size_t>(y)];
        if (s.x0 <= s.x1)
            std::fill(
                &counts[static_cast<size_t>(y) * size + s.x0], &counts[static_cast<size_t>(y) * size + s.x1] + 1, 0u);
    }
    // Every pixel lands within the full-saturation circle, a cell to spare.
    const int half = size / 2, reach = static_cast<int>(std::ceil(radius)) + 1;
    touched = Area { std::max(0, half - reach), std::max(0, half - reach), std::min(size - 1, half + reach),
        std::min(size - 1, half + reach) };
    const Placement p(size, radius, zoom);
    framePlaces.resize(frameBgra.total());
    exactPixelsFound.clear();
    countRows(frameBgra, 0, frameBgra.rows, p, colourTables().countLimit, counts.data(), framePlaces.data(),
        exactPixelsFound);
    resolveExactly(frameBgra, size, radius, zoom);
    counts.back() = 0; // the pixels that landed nowhere
    std::fill(countedSpans.begin(), countedSpans.end(), kNoColumns);
    for (int y = touched.y0; y <= touched.y1; ++y)
        countedSpans[static_cast<size_t>(y)]
            = countedColumns(&counts[static_cast<size_t>(y) * size], touched.x0, touched.x1);
    frameBgra.copyTo(countedFrame);
    countsHeld = true;
    pictureOfCounts = false;
    movedCells.clear();
}

// The rows that differ from the counted frame, when few enough that
// counting them again is the cheaper way: their old pixels leave their
// cells and the new ones join theirs.
bool VectorscopePlotter::countChangedRows(const cv::Mat& frameBgra, int size, double radius, int zoom)
{
    const int cols = frameBgra.cols;
    const size_t rowBytes = static_cast<size_t>(cols) * 4;
    if (!fewRowsDiffer(frameBgra, countedFrame, changedRows))
        return false;
    const int nowhere = size * size;
    const Placement p(size, radius, zoom);
    placesBefore.resize(changedRows.size() * cols);
    exactPixelsFound.clear();
    for (size_t i = 0; i < changedRows.size(); ++i) {
        const int y = changedRows[i];
        const int* places = &framePlaces[static_cast<size_t>(y) * cols];
        std::copy(places, places + cols, &placesBefore[i * cols]);
        for (int x = 0; x < cols; ++x)
            --counts[static_cast<size_t>(places[x])];
        countRows(
            frameBgra, y, y + 1, p, colourTables().countLimit, counts.data(), framePlaces.data(), exactPixelsFound);
    }
    resolveExactly(frameBgra, size, radius, zoom);
    counts.back() = 0;
    for (size_t i = 0; i < changedRows.size(); ++i) {
        const int y = changedRows[i];
        const int* before = &placesBefore[i * cols];
        const int* now = &framePlaces[static_cast<size_t>(y) * cols];
        for (int x = 0; x < cols; ++x) {
            if (before[x] == now[x])
                continue;
            if (before[x] != nowhere)
                movedCells.push_back(before[x]);
            if (now[x] != nowhere) {
                movedCells.push_back(now[x]);
                Span& s = countedSpans[static_cast<size_t>(now[x] / size)];
                s = hull(s, Span { now[x] % size, now[x] % size });
            }
        }
        std::memcpy(countedFrame.ptr(y), frameBgra.ptr(y), rowBytes);
    }
    return true;
}

cv::Mat VectorscopePlotter::draw(const cv::Mat& wheel, const cv::Rect& paintedOver)
{
    CV_Assert(wheel.type() == CV_8UC3 && wheel.rows == plotSize && wheel.cols == plotSize);
    const int size = plotSize;
    const Area region = plotRegion();
    // Past some number of moved cells, smoothing the whole plot is cheaper.
    const size_t regionCells = static_cast<size_t>(region.x1 - region.x0 + 1) * (region.y1 - region.y0 + 1);
    // Another number of pixels weighs every cell anew.
    if (!lastPlain && pictureOfCounts && pictureWheel == wheel.data && picture.size() == wheel.size()
        && movedCells.size() * 8 <= regionCells && weightsFor == pixelWeight(static_cast<int>(framePixels))) {
        drawMovedCells(wheel, paintedOver);
        return picture;
    }
    pictureOfCounts = false;
    startPicture(wheel, paintedOver);
    if (lastPlain) {
        drawPlainly(wheel);
        return picture;
    }
    // Weights for as many pixels as the frame has: a cell never counts more.
    prepareWeights(pixelWeight(static_cast<int>(framePixels)), static_cast<std::uint32_t>(countedFrame.total()));
    // normalize's smallest value is 0 unless every cell of the plot is lit,
    // which a plot cannot be (its corners lie beyond full saturation); should
    // it ever be, the plain smoothing takes over from the same cells.
    const bool plotHasEmptyCells = region.x0 > 0 || region.y0 > 0 || region.x1 < size - 1 || region.y1 < size - 1;
    if (!plotHasEmptyCells) {
        plainCells.create(size, size, CV_32FC1);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x)
                plainCells.at<float>(y, x) = weights[counts[static_cast<size_t>(y) * size + x]];
        std::fill(counts.begin(), counts.end(), 0u);
        std::fill(countedSpans.begin(), countedSpans.end(), kNoColumns);
        countsHeld = false;
        lastPlain = true;
        drawPlainly(wheel);
        return picture;
    }
    findRowSpans(region);
    drawnLargest = smoothCountedCells(region, size);
    drawnScale = normalizeScale(drawnLargest);
    liftSpans(region, drawnScale, wheel);
    // What went back to the wheel (in `changed` since startPicture) and what was lifted now.
    for (size_t y = 0; y < changed.size(); ++y)
        changed[y] = hull(changed[y], pictureSpans[y]);
    pictureOfCounts = true;
    movedCells.clear();
    return picture;
}

// Smoothing spreads a cell onto its eight neighbours.
VectorscopePlotter::Area VectorscopePlotter::plotRegion() const
{
    return Area { std::max(0, touched.x0 - 1), std::max(0, touched.y0 - 1), std::min(plotSize - 1, touched.x1 + 1),
        std::min(plotSize - 1, touched.y1 + 1) };
}

// The picture of the last counts brought up to date with the cells whose
// count changed since: their sums and their neighbours' are found again,
// the same arithmetic cell by cell, and brightened again; every lit cell is,
// when the largest sum and so the scale changed.
void VectorscopePlotter::drawMovedCells(const cv::Mat& wheel, const cv::Rect& paintedOver)
{
    const int size = plotSize;
    const Area region = plotRegion();
    const int width = region.x1 - region.x0 + 1;
    redoSpans.assign(static_cast<size_t>(size), kNoColumns);
    for (const int cell : movedCells) {
        const int x = cell % size, y = cell / size;
        for (int row = std::max(region.y0, y - 1); row <= std::min(region.y1, y + 1); ++row)
            redoSpans[static_cast<size_t>(row)] = hull(
                redoSpans[static_cast<size_t>(row)], Span { std::max(region.x0, x - 1), std::min(region.x1, x + 1) });
    }
    movedCells.clear();

    // Within its row's lit span a sum is kept; outside it, it is 0.
    float largest = drawnLargest;
    bool largestMayHaveShrunk = false;
    for (int y = region.y0; y <= region.y1; ++y) {
        const Span redo = redoSpans[static_cast<size_t>(y)];
        if (redo.x0 > redo.x1)
            continue;
        Span& lit = litSpans[static_cast<size_t>(y - region.y0)];
        float* sum = &sums[static_cast<size_t>(y - region.y0) * width] - region.x0; // indexed by column
        if (lit.x0 > lit.x1) {
            lit = redo;
        } else {
            std::fill(sum + redo.x0, sum + std::max(redo.x0, lit.x0), 0.0f);
            std::fill(sum + std::min(redo.x1, lit.x1) + 1, sum + redo.x1 + 1, 0.0f);
            lit = hull(lit, redo);
        }
        const int n = redo.x1 - redo.x0 + 1;
        redoSums.resize(static_cast<size_t>(n));
        smoothAgain(y, redo, redoSums.data());
        for (int i = 0; i < n; ++i) {
            float& kept = sum[redo.x0 + i];
            largestMayHaveShrunk = largestMayHaveShrunk || (kept == drawnLargest && redoSums[i] < kept);
            largest = std::max(largest, redoSums[i]);
            kept = redoSums[i];
        }
    }
    if (largestMayHaveShrunk) {
        largest = 0.0f;
        for (int y = region.y0; y <= region.y1; ++y) {
            const Span lit = litSpans[static_cast<size_t>(y - region.y0)];
            if (lit.x0 <= lit.x1)
                largest = largestOf(&sums[static_cast<size_t>(y - region.y0) * width + (lit.x0 - region.x0)],
                    lit.x1 - lit.x0 + 1, largest);
        }
    }
    const float scale = normalizeScale(largest);
    const bool rescaled = scale != drawnScale;
    drawnLargest = largest;
    drawnScale = scale;

    // What callers painted goes back to the wheel, and is brightened again where lit.
    const cv::Rect painted = paintedOver & cv::Rect(0, 0, size, size);
    if (!painted.empty())
        wheel(painted).copyTo(picture(painted));
    changed.assign(static_cast<size_t>(size), kNoColumns);
    for (int y = 0; y < size; ++y) {
        const bool inPainted = y >= painted.y && y < painted.y + painted.height;
        if (inPainted)
            changed[static_cast<size_t>(y)] = Span { painted.x, painted.x + painted.width - 1 };
        if (y < region.y0 || y > region.y1)
            continue;
        const Span lit = litSpans[static_cast<size_t>(y - region.y0)];
        pictureSpans[static_cast<size_t>(y)] = lit;
        Span again = rescaled ? lit : redoSpans[static_cast<size_t>(y)];
        if (inPainted && !rescaled) {
            const Span paintedLit { std::max(lit.x0, painted.x), std::min(lit.x1, painted.x + painted.width - 1) };
            if (paintedLit.x0 <= paintedLit.x1)
                again = hull(again, paintedLit);
        }
        if (again.x0 > again.x1)
            continue;
        lift(&sums[static_cast<size_t>(y - region.y0) * width + (again.x0 - region.x0)], scale,
            wheel.ptr<uchar>(y) + again.x0 * 3, picture.ptr<uchar>(y) + again.x0 * 3, again.x1 - again.x0 + 1);
        changed[static_cast<size_t>(y)] = hull(changed[static_cast<size_t>(y)], again);
    }
}

// The sums (cell + smoothed cell) of row y over `columns`, from the counts,
// as smoothCountedCells finds them.
void VectorscopePlotter::smoothAgain(int y, Span columns, float* out)
{
    const int size = plotSize;
    const SmoothingOrder& order = gaussianOrder(3, size, size);
    const int n = columns.x1 - columns.x0 + 1;
    redoLine.resize(static_cast<size_t>(3) * (n + 2));
    redoAcross.resize(static_cast<size_t>(3) * n);
    const float* across[3];
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t* count = &counts[static_cast<size_t>(reflect101(y - 1 + k, size)) * size];
        float* line = &redoLine[static_cast<size_t>(k) * (n + 2)];
        for (int i = 0; i < n + 2; ++i)
            line[i] = weights[count[reflect101(columns.x0 - 1 + i, size)]];
        smoothAcross(order, line, &redoAcross[static_cast<size_t>(k) * n], columns.x0, n);
        across[k] = &redoAcross[static_cast<size_t>(k) * n];
    }
    smoothDown(order, across, out, columns.x0, n);
    const float* cells = &redoLine[static_cast<size_t>(n + 2) + 1];
    for (int i = 0; i < n; ++i)
        out[i] = cells[i] + out[i];
}

void VectorscopePlotter::forgetPicture()
{
    pictureWheel = nullptr;
}

void VectorscopePlotter::startPicture(const cv::Mat& wheel, const cv::Rect& paintedOver)
{
    const int size = wheel.cols;
    if (pictureWheel != wheel.data || picture.size() != wheel.size()) {
        wheel.copyTo(picture);
        pictureWheel = wheel.data;
        pictureSpans.assign(static_cast<size_t>(size), kNoColumns);
        changed.assign(static_cast<size_t>(size), Span { 0, size - 1 });
        return;
    }
    // The rest of the picture is the wheel already, but for the cells the
    // previous plot lifted (put back while lifting) and what callers painted.
    changed = pictureSpans;
    const cv::Rect painted = paintedOver & cv::Rect(0, 0, size, size);
    if (!painted.empty()) {
        wheel(painted).copyTo(picture(painted));
        for (int y = painted.y; y < painted.y + painted.height; ++y)
            changed[static_cast<size_t>(y)]
                = hull(changed[static_cast<size_t>(y)], Span { painted.x, painted.x + painted.width - 1 });
    }
}

void VectorscopePlotter::drawPlainly(const cv::Mat& wheel)
{
    wheel.copyTo(picture);
    smoothCells(plainCells, plainBlurred);
    brightenScope(picture, plainCells);
    pictureSpans.assign(static_cast<size_t>(wheel.rows), Span { 0, wheel.cols - 1 });
    changed = pictureSpans;
}

void VectorscopePlotter::resolveExactly(const cv::Mat& frameBgra, int size, double radius, int zoom)
{
    if (exactPixelsFound.empty())
        return;
    if (++exactStamp == 0) {
        for (ExactPlace& e : exactPlaces)
            e.stamp = 0;
        exactStamp = 1;
    }
    // OpenCV's own conversion of the pixels, each in its own column of a row
    // as wide as the frame's: the same code at the same place of a row as in
    // the frame, whatever OpenCV runs where. A colour that follows itself
    // down a column takes the same there, so it is converted once (a test
    // pattern's bars of pure colours send tens of thousands of pixels this
    // way); other colours of one column take rows of their own.
    const int cols = frameBgra.cols;
    exactRowOf.assign(static_cast<size_t>(cols), 0);
    lastExactSlot.assign(static_cast<size_t>(cols), -1);
    exactSlots.clear();
    exactSlotOf.resize(exactPixelsFound.size());
    // The pixels are listed row by row: their rows are walked, not divided out.
    int y = 0;
    for (size_t i = 0; i < exactPixelsFound.size(); ++i) {
        const int index = exactPixelsFound[i];
        if (index < y * cols || index >= (y + 1) * cols)
            y = index / cols;
        const int x = index - y * cols;
        const std::uint32_t colour = frameBgra.ptr<std::uint32_t>(y)[x] & 0xffffffu;
        int& last = lastExactSlot[static_cast<size_t>(x)];
        if (last < 0 || exactSlots[static_cast<size_t>(last)].colour != colour) {
            last = static_cast<int>(exactSlots.size());
            exactSlots.push_back(ExactSlot { x, exactRowOf[static_cast<size_t>(x)]++, colour, 0 });
        }
        exactSlotOf[i] = last;
    }
    const ColourTables& t = colourTables();
    // Views of buffers that only grow: a number of rows that changes from
    // frame to frame allocates nothing.
    const int rows = *std::max_element(exactRowOf.begin(), exactRowOf.end());
    if (exactRgbRows.rows < rows || exactRgbRows.cols != cols) {
        exactRgbRows.create(std::max(rows, 2 * exactRgbRows.rows), cols, CV_32FC3);
        exactHsvRows.create(exactRgbRows.size(), CV_32FC3);
    }
    exactRgb = exactRgbRows.rowRange(0, rows);
    exactHsv = exactHsvRows.rowRange(0, rows);
    exactRgb.setTo(cv::Scalar::all(0));
    for (const ExactSlot& s : exactSlots)
        exactRgb.at<cv::Vec3f>(s.row, s.x)
            = cv::Vec3f(t.unit[(s.colour >> 16) & 0xff], t.unit[(s.colour >> 8) & 0xff], t.unit[s.colour & 0xff]);
    cv::cvtColor(exactRgb, exactHsv, cv::COLOR_RGB2HSV);

    // Many colours share a place: on a magnified rim whose radius is an odd
    // number of pixels, every colour of a hue near a multiple of 30 degrees
    // lies half a cell from two cells, and their hues take a few values.
    // Each hue and distance is placed once per call.
    const int half = size / 2;
    for (ExactSlot& s : exactSlots) {
        const cv::Vec3f hsv = exactHsv.at<cv::Vec3f>(s.row, s.x);
        const double distance = plottedSaturation(hsv[1], zoom) * radius;
        std::uint32_t hueBits;
        std::uint64_t distanceBits;
        std::memcpy(&hueBits, &hsv[0], sizeof hueBits);
        std::memcpy(&distanceBits, &distance, sizeof distanceBits);
        ExactPlace& e = exactPlaces[(hueBits * 0x9e3779b1u ^ static_cast<std::uint32_t>(distanceBits >> 32)
                                        ^ static_cast<std::uint32_t>(distanceBits))
            % exactPlaces.size()];
        if (e.stamp != exactStamp || e.hueBits != hueBits || e.distanceBits != distanceBits) {
            const cv::Point pt = plotPoint(half, hsv[0] * kDegreesToRadians, distance);
            const bool inside = pt.x >= 0 && pt.y >= 0 && pt.x < size && pt.y < size;
            e = ExactPlace { hueBits, distanceBits, inside ? pt.y * size + pt.x : size * size, exactStamp };
        }
        s.cell = e.cell;
    }
    // Counted a run of one cell at a time: in a flat area every increment
    // of that cell would wait for the one before.
    int runCell = exactSlots[static_cast<size_t>(exactSlotOf[0])].cell;
    std::uint32_t run = 0;
    for (size_t i = 0; i < exactPixelsFound.size(); ++i) {
        const int cell = exactSlots[static_cast<size_t>(exactSlotOf[i])].cell;
        framePlaces[static_cast<size_t>(exactPixelsFound[i])] = cell;
        if (cell != runCell) {
            counts[static_cast<size_t>(runCell)] += run;
            runCell = cell;
            run = 0;
        }
        ++run;
    }
    counts[static_cast<size_t>(runCell)] += run;
}

void VectorscopePlotter::prepareWeights(float weight, std::uint32_t pixels)
{
    // Made once per frame size: for every count a cell can reach, and at
    // least as many as a vector's lanes. Each pixel adds the weight in
    // double precision and the cell keeps a float.
    if (weight == weightsFor && weights.size() > pixels)
        return;
    weights.resize(std::max<size_t>(static_cast<size_t>(pixels) + 1, 16));
    weights[0] = 0.0f;
    for (size_t k = 1; k < weights.size(); ++k)
        weights[k] = static_cast<float>(static_cast<double>(weights[k - 1]) + static_cast<double>(weight));
    weightsFor = weight;
}

void VectorscopePlotter::findRowSpans(const Area& region)
{
    // lit[i]: the columns that smoothing lights in region row i: the counted
    // ones of its row and the rows beside it, widened by one.
    const int rows = region.y1 - region.y0 + 1;
    litSpans.assign(static_cast<size_t>(rows), kNoColumns);
    const auto counted
        = [&](int y) { return y >= 0 && y < plotSize ? countedSpans[static_cast<size_t>(y)] : kNoColumns; };
    for (int i = 0; i < rows; ++i) {
        const int y = region.y0 + i;
        const Span s = hull(hull(counted(y - 1), counted(y)), counted(y + 1));
        if (s.x0 <= s.x1)
            litSpans[static_cast<size_t>(i)] = { std::max(region.x0, s.x0 - 1), std::min(region.x1, s.x1 + 1) };
    }
}

float VectorscopePlotter::smoothCountedCells(const Area& region, int size)
{
    const SmoothingOrder& order = gaussianOrder(3, size, size);
    const int width = region.x1 - region.x0 + 1;
    const int stride = width + 2; // one column of margin on each side
    const int rows = region.y1 - region.y0 + 1;
    cellRows.resize(static_cast<size_t>(rows) * stride);
    acrossRows.resize(static_cast<size_t>(rows) * width);
    sums.resize(static_cast<size_t>(rows) * width);
    if (zeroRow.size() < static_cast<size_t>(stride))
        zeroRow.assign(static_cast<size_t>(stride), 0.0f);
    const auto span = [&](const std::vector<Span>& spans, int i) {
        return i >= 0 && i < rows ? spans[static_cast<size_t>(i)] : kNoColumns;
    };
    const auto counted = [&](int y) {
        const Span s = y >= 0 && y < size ? countedSpans[static_cast<size_t>(y)] : kNoColumns;
        return s.x0 <= s.x1;
    };

    // Rows with counted cells: their values and the horizontal pass, over
    // every column that the vertical pass of this row or its neighbours reads.
    for (int y = touched.y0; y <= touched.y1; ++y) {
        const int i = y - region.y0;
        if (!counted(y))
            continue;
        const Span read = hull(hull(span(litSpans, i - 1), span(litSpans, i)), span(litSpans, i + 1));
        const int n = read.x1 - read.x0 + 1;
        float* cells = &cellRows[static_cast<size_t>(i) * stride + (read.x0 - region.x0)];
        const std::uint32_t* count = &counts[static_cast<size_t>(y) * size];
        cellValues(count + read.x0, weights.data(), cells + 1, n);
        cells[0] = weights[count[reflect101(read.x0 - 1, size)]];
        cells[n + 1] = weights[count[reflect101(read.x1 + 1, size)]];
        smoothAcross(order, cells, &acrossRows[static_cast<size_t>(i) * width + (read.x0 - region.x0)], read.x0, n);
    }

    // The vertical pass and the cells' own values over the lit columns;
    // rows without counted cells are 0.
    const auto across = [&](int y, int x) {
        return counted(y) ? &acrossRows[static_cast<size_t>(y - region.y0) * width + (x - region.x0)] : zeroRow.data();
    };
    float largest = 0.0f;
    for (int y = region.y0; y <= region.y1; ++y) {
        const Span lit = litSpans[static_cast<size_t>(y - region.y0)];
        if (lit.x0 > lit.x1)
            continue;
        const int n = lit.x1 - lit.x0 + 1;
        const float* rows3[3]
            = { across(reflect101(y - 1, size), lit.x0), across(y, lit.x0), across(reflect101(y + 1, size), lit.x0) };
        float* sum = &sums[static_cast<size_t>(y - region.y0) * width + (lit.x0 - region.x0)];
        smoothDown(order, rows3, sum, lit.x0, n);
        const float* cells = counted(y)
            ? &cellRows[static_cast<size_t>(y - region.y0) * stride + (lit.x0 - region.x0) + 1]
            : zeroRow.data();
        largest = std::max(largest, addAndFindLargest(cells, sum, n));
    }
    return largest;
}

void VectorscopePlotter::liftSpans(const Area& region, float scale, const cv::Mat& wheel)
{
    const int size = wheel.cols;
    const int width = region.x1 - region.x0 + 1;
    for (int y = 0; y < size; ++y) {
        const uchar* from = wheel.ptr<uchar>(y);
        uchar* to = picture.ptr<uchar>(y);
        const Span lit = y >= region.y0 && y <= region.y1 ? litSpans[static_cast<size_t>(y - region.y0)] : kNoColumns;
        // The cells the previous plot lifted and this one does not go back to the wheel.
        Span& before = pictureSpans[static_cast<size_t>(y)];
        if (before.x0 <= before.x1) {
            const int leftEnd = std::min(before.x1, lit.x0 - 1);
            if (leftEnd >= before.x0)
                std::memcpy(to + before.x0 * 3, from + before.x0 * 3, static_cast<size_t>(leftEnd - before.x0 + 1) * 3);
            const int rightStart = std::max(before.x0, lit.x1 + 1);
            if (lit.x0 <= lit.x1 && rightStart <= before.x1)
                std::memcpy(
                    to + rightStart * 3, from + rightStart * 3, static_cast<size_t>(before.x1 - rightStart + 1) * 3);
        }
        before = lit;
        if (lit.x0 > lit.x1)
            continue;
        const float* cells = &sums[static_cast<size_t>(y - region.y0) * width + (lit.x0 - region.x0)];
        const int n = lit.x1 - lit.x0 + 1;
        lift(cells, scale, from + lit.x0 * 3, to + lit.x0 * 3, n);
    }
}

} // namespace scopes
