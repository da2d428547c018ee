// GCC 12's own AVX-512 headers trip these warnings (GCC bug 105593).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#include "scopes/WaveformTrace.h"

#include "scopes/ChangedSpans.h"
#include "scopes/FloatReplicas.h"
#include "scopes/SmoothingSums.h"
#include "scopes/WaveformMath.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>

namespace scopes {

namespace {

// Every row is at least this wide on the fast path: a whole vector of
// counts, the last one of a row overlapping the one before.
constexpr int kShortestRow = 16;

// Sums of counts stay whole in single precision up to here.
constexpr std::uint32_t kExactFloatCounts = 1u << 24;

struct LevelTable {
    bool usable = false;
    int row[256] {}; // the accumulator row of each byte value: 127 - level
};

const LevelTable& levelTable()
{
    static const LevelTable table = [] {
        LevelTable t;
        const float* units = byteUnits();
        if (!units)
            return t;
        for (int v = 0; v < 256; ++v)
            t.row[v] = kLevels - 1 - levelOf(units[v]);
        t.usable = true;
        return t;
    }();
    return table;
}

// The picture byte trunc(min(1, v) x 255) for v >= 0, which the plain
// composition forms in double precision: for every float m in [0, 1], m x 255
// rounded to single precision has the whole part of the exact product (no
// product lies just below a whole number that it rounds up onto; checked once
// over all 1,065,353,217 of them), so the vector code takes the product in
// single precision.

// One row of the stretched trace: rows from0 and from1 of the counts mixed
// as OpenCV's linear resize mixes them (products rounded, then added),
// then times `scale` (normalize's one rounded product) unless scale is 0;
// the last vector overlaps the one before when n is not a multiple of its
// width: recomputing a cell gives the same bits.
__attribute__((target("avx2,fma"))) void stretchedRow(
    const std::uint16_t* c0, const std::uint16_t* c1, const RowBlend& b, float scale, float* out, int n)
{
    const __m256 b0 = _mm256_set1_ps(b.b0);
    const __m256 b1 = _mm256_set1_ps(b.b1);
    const __m256 s = _mm256_set1_ps(scale);
    for (int x = 0;; x += 8) {
        x = std::min(x, n - 8);
        const __m256 s0
            = _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c0 + x))));
        const __m256 s1
            = _mm256_cvtepi32_ps(_mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(c1 + x))));
        const __m256 v = _mm256_add_ps(_mm256_mul_ps(s0, b0), _mm256_mul_ps(s1, b1));
        _mm256_storeu_ps(out + x, scale != 0.0f ? _mm256_mul_ps(v, s) : v);
        if (x == n - 8)
            return;
    }
}

// The largest value of a row, and whether it holds a 0.
__attribute__((target("avx2,fma"))) void largestAndZero(const float* row, int n, float& largest, bool& someZero)
{
    __m256 high = _mm256_set1_ps(largest);
    __m256 zeros = _mm256_setzero_ps();
    for (int x = 0;; x += 8) {
        x = std::min(x, n - 8);
        const __m256 v = _mm256_loadu_ps(row + x);
        high = _mm256_max_ps(high, v);
        zeros = _mm256_or_ps(zeros, _mm256_cmp_ps(v, _mm256_setzero_ps(), _CMP_EQ_OQ));
        if (x == n - 8)
            break;
    }
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, high);
    largest = *std::max_element(lanes, lanes + 8);
    someZero |= _mm256_movemask_ps(zeros) != 0;
}

// The largest value of the stretched trace row and whether it holds a 0.
void stretchedLargestRow(const std::uint16_t* c0, const std::uint16_t* c1, const RowBlend& b, int n, float* scratch,
    float& largest, bool& someZero)
{
    stretchedRow(c0, c1, b, 0.0f, scratch, n);
    largestAndZero(scratch, n, largest, someZero);
}

// The largest count of a level row, and whether some cell of it is 0.
__attribute__((target("avx2,fma"))) void rowPeak(const std::uint16_t* row, int n, std::uint16_t& peak, bool& someZero)
{
    __m256i high = _mm256_setzero_si256();
    __m256i zeros = _mm256_setzero_si256();
    for (int x = 0;; x += 16) {
        x = std::min(x, n - 16);
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
        high = _mm256_max_epu16(high, v);
        zeros = _mm256_or_si256(zeros, _mm256_cmpeq_epi16(v, _mm256_setzero_si256()));
        if (x == n - 16)
            break;
    }
    alignas(32) std::uint16_t lanes[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), high);
    peak = *std::max_element(lanes, lanes + 16);
    someZero = !_mm256_testz_si256(zeros, zeros);
}

// Whether some column is 0 in both rows.
bool bothZeroSomewhere(const std::uint16_t* a, const std::uint16_t* b, int n)
{
    for (int x = 0; x < n; ++x)
        if ((a[x] | b[x]) == 0)
            return true;
    return false;
}

// v = gain ((2 t + 1.5 b3) + b5), each step one rounded operation as the
// plain path's convertTo and add calls do, then the picture byte
// trunc(min(1, v) x 255), for eight cells.
__attribute__((target("avx2,fma"), always_inline)) inline void traceBytes8(
    __m256 t, __m256 b3, __m256 b5, __m256 gain, uchar* out)
{
    const __m256i lowBytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8, 12,
        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i joinLanes = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256 sum = _mm256_add_ps(
        _mm256_add_ps(_mm256_mul_ps(t, _mm256_set1_ps(2.0f)), _mm256_mul_ps(b3, _mm256_set1_ps(1.5f))), b5);
    const __m256 m = _mm256_min_ps(_mm256_mul_ps(sum, gain), _mm256_set1_ps(1.0f));
    // The whole part of m x 255 in single precision is the exact one (see above).
    const __m256i packed = _mm256_permutevar8x32_epi32(
        _mm256_shuffle_epi8(_mm256_cvttps_epi32(_mm256_mul_ps(m, _mm256_set1_ps(255.0f))), lowBytes), joinLanes);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm256_castsi256_si128(packed));
}

uchar traceByte(float t, float b3, float b5, float gain)
{
    const float m = std::min(gain * ((2.0f * t + 1.5f * b3) + b5), 1.0f);
    return static_cast<uchar>(m * 255.0f);
}

// One row of picture bytes from the trace row `t` and the rows of both
// horizontal passes around it (rows3[0 .. 2], rows5[0 .. 4]): both vertical
// passes in their main forms and traceBytes8, without storing the passes.
template <SumForm Form3, SumForm Form5>
__attribute__((target("avx2,fma"))) void smoothDownToBytes8(const float* k3, const float* k5,
    const float* const* rows3, const float* const* rows5, const float* t, float gain, uchar* out, int n)
{
    const __m256 k30 = _mm256_set1_ps(k3[0]), k31 = _mm256_set1_ps(k3[1]);
    const __m256 k50 = _mm256_set1_ps(k5[0]), k51 = _mm256_set1_ps(k5[1]), k52 = _mm256_set1_ps(k5[2]);
    const __m256 g = _mm256_set1_ps(gain);
    // Local copies: the byte stores could otherwise change the row pointers, as far as the compiler knows.
    const float *u1 = rows3[0], *u2 = rows3[1], *u3 = rows3[2];
    const float *v1 = rows5[0], *v2 = rows5[1], *v3 = rows5[2], *v4 = rows5[3], *v5 = rows5[4];
    for (int x = 0;; x += 8) {
        x = std::min(x, n - 8);
        const __m256 p13 = _mm256_add_ps(_mm256_loadu_ps(u1 + x), _mm256_loadu_ps(u3 + x));
        const __m256 b3 = sum8<3, Form3>(k30, k31, k31, _mm256_loadu_ps(u2 + x), p13, p13);
        const __m256 p15 = _mm256_add_ps(_mm256_loadu_ps(v2 + x), _mm256_loadu_ps(v4 + x));
        const __m256 p25 = _mm256_add_ps(_mm256_loadu_ps(v1 + x), _mm256_loadu_ps(v5 + x));
        const __m256 b5 = sum8<5, Form5>(k50, k51, k52, _mm256_loadu_ps(v3 + x), p15, p25);
        traceBytes8(_mm256_loadu_ps(t + x), b3, b5, g, out + x);
        if (x == n - 8)
            return;
    }
}

} // namespace

// smoothDownToBytes8 for every column, the columns whose passes take
// another form than the main one done again one by one.
void smoothedTraceBytes(const SmoothingOrder& order3, const SmoothingOrder& order5, const float* const* rows3,
    const float* const* rows5, const float* t, float gain, uchar* out, int n)
{
    withForm(order3.mainDown, [&](auto f3) {
        withForm(order5.mainDown, [&](auto f5) {
            smoothDownToBytes8<decltype(f3)::value, decltype(f5)::value>(
                order3.k, order5.k, rows3, rows5, t, gain, out, n);
        });
    });
    const auto redo = [&](int x) {
        float v3[3], v5[5];
        for (int k = 0; k < 3; ++k)
            v3[k] = rows3[k][x];
        for (int k = 0; k < 5; ++k)
            v5[k] = rows5[k][x];
        out[x] = traceByte(t[x], smoothedValue(order3, order3.down[x], v3), smoothedValue(order5, order5.down[x], v5),
            gain);
    };
    for (int x : order3.oddDown)
        redo(x);
    for (int x : order5.oddDown)
        redo(x);
}

__attribute__((target("avx2,fma"))) void traceBytes(
    const float* t, const float* b3, const float* b5, float gain, uchar* out, int n)
{
    const __m256 g = _mm256_set1_ps(gain);
    for (int x = 0;; x += 8) {
        x = std::min(x, n - 8);
        traceBytes8(_mm256_loadu_ps(t + x), _mm256_loadu_ps(b3 + x), _mm256_loadu_ps(b5 + x), g, out + x);
        if (x == n - 8)
            return;
    }
}

std::vector<const void*> WaveformRenderer::buffers() const
{
    std::vector<const void*> b { columnOf.data(), rows.data(), countedFrame.data, plainRgbBytes.data,
        plainRgbFloat.data, plainBlur3.data, plainBlur5.data };
    for (const cv::Mat& m : planes)
        b.push_back(m.data);
    for (const auto& c : counts)
        b.push_back(c.data());
    for (const cv::Mat& m : plainCounts)
        b.push_back(m.data);
    for (const cv::Mat& m : plainTraces)
        b.push_back(m.data);
    for (const cv::Mat& m : shiftedTraces)
        b.push_back(m.data);
    return b;
}

void WaveformRenderer::render(
    const cv::Mat& frameBgra, int windowSize, bool parade, cv::Mat& scope, const std::vector<std::uint32_t>* leftOut)
{
    CV_Assert(frameBgra.type() == CV_8UC4);
    if (leftOut && static_cast<int>(leftOut->size()) != frameBgra.cols)
        leftOut = nullptr;
    lastPlain = !renderFast(frameBgra, windowSize, parade, scope, leftOut);
    if (lastPlain)
        renderWaveform(frameBgra, windowSize, parade, plainRgbBytes, plainRgbFloat, plainCounts, plainTraces,
            plainBlur3, plainBlur5, scope, leftOut);
}

void WaveformRenderer::levelOffsets(int* offset) const
{
    const LevelTable& t = levelTable();
    for (int v = 0; v < 256; ++v)
        offset[v] = t.row[v] * countStride;
}

void WaveformRenderer::countLevels(const cv::Mat& frameBgra, int width)
{
    const int cols = frameBgra.cols;
    // The plain accumulation's column: trunc(c x sx) in single precision.
    columnOf.resize(static_cast<size_t>(cols));
    const float sx = static_cast<float>(width) / static_cast<float>(cols);
    for (int c = 0; c < cols; ++c)
        columnOf[c] = std::min(static_cast<int>(static_cast<float>(c) * sx), width - 1);

    std::uint16_t* blue = levelCounts[Blue];
    std::uint16_t* green = levelCounts[Green];
    std::uint16_t* red = levelCounts[Red];
    int offset[256];
    levelOffsets(offset);
    // Down strips of frame columns whose cells lie in one cache line per level
    // and channel: 384 lines, all of them in the first-level cache.
    for (int c0 = 0; c0 < cols;) {
        const int block = columnOf[c0] / kCellsPerLine;
        int c1 = c0 + 1;
        while (c1 < cols && columnOf[c1] / kCellsPerLine == block)
            ++c1;
        // One load per pixel, its bytes taken apart in registers; a frame
        // as wide as the trace needs no column table.
        const auto countStrip = [&](auto sameWidth) {
            for (int y = 0; y < frameBgra.rows; ++y) {
                const std::uint32_t* pixel = frameBgra.ptr<std::uint32_t>(y);
                for (int c = c0; c < c1; ++c) {
                    const int x = decltype(sameWidth)::value ? c : columnOf[c];
                    const std::uint32_t p = pixel[c];
                    ++blue[offset[p & 0xff] + x];
                    ++green[offset[(p >> 8) & 0xff] + x];
                    ++red[offset[(p >> 16) & 0xff] + x];
                }
            }
        };
        if (cols == width)
            countStrip(std::true_type());
        else
            countStrip(std::false_type());
        c0 = c1;
    }
}

bool WaveformRenderer::countChangedRows(const cv::Mat& frameBgra)
{
    const int cols = frameBgra.cols;
    if (!fewRowsDiffer(frameBgra, countedFrame, changedRows))
        return false;
    std::uint16_t* blue = levelCounts[Blue];
    std::uint16_t* green = levelCounts[Green];
    std::uint16_t* red = levelCounts[Red];
    int offset[256];
    levelOffsets(offset);
    for (const int y : changedRows) {
        const std::uint32_t* now = frameBgra.ptr<std::uint32_t>(y);
        std::uint32_t* was = countedFrame.ptr<std::uint32_t>(y);
        for (int c = 0; c < cols; ++c) {
            if (now[c] == was[c])
                continue;
            const int x = columnOf[static_cast<size_t>(c)];
            --blue[offset[was[c] & 0xff] + x];
            --green[offset[(was[c] >> 8) & 0xff] + x];
            --red[offset[(was[c] >> 16) & 0xff] + x];
            ++blue[offset[now[c] & 0xff] + x];
            ++green[offset[(now[c] >> 8) & 0xff] + x];
            ++red[offset[(now[c] >> 16) & 0xff] + x];
            was[c] = now[c];
        }
    }
    return true;
}

float WaveformRenderer::stretchedLargest(const std::uint16_t* count, size_t stride, int width,
    const std::vector<RowBlend>& blends, float* scratch, bool& someZero)
{
    // A stretched cell mixes two counts with weights b0, b1 >= 0, each product
    // rounded, then added; rounding never decreases with its argument. So a
    // row is at most its level rows' peaks mixed the same way, and only rows
    // whose bound beats the largest value found so far need working out.
    std::array<std::uint16_t, kLevels> peak {};
    std::array<bool, kLevels> zeroIn {};
    for (int level = 0; level < kLevels; ++level)
        rowPeak(count + level * stride, width, peak[level], zeroIn[level]);
    const auto bound = [&](const RowBlend& b) {
        return static_cast<float>(peak[b.from0]) * b.b0 + static_cast<float>(peak[b.from1]) * b.b1;
    };
    size_t first = 0;
    for (size_t dy = 1; dy < blends.size(); ++dy)
        if (bound(blends[dy]) > bound(blends[first]))
            first = dy;
    float largest = 0.0f;
    bool unused = false;
    stretchedLargestRow(count + blends[first].from0 * stride, count + blends[first].from1 * stride, blends[first],
        width, scratch, largest, unused);
    for (const RowBlend& b : blends)
        if (bound(b) > largest)
            stretchedLargestRow(count + b.from0 * stride, count + b.from1 * stride, b, width, scratch, largest, unused);

    // A cell is 0 where every count it mixes with a weight above 0 is 0.
    someZero = false;
    std::pair<int, int> tested { -1, -1 };
    for (const RowBlend& b : blends) {
        if (someZero)
            break;
        if (b.b0 == 0.0f || b.b1 == 0.0f) {
            someZero = (b.b0 == 0.0f || zeroIn[b.from0]) && (b.b1 == 0.0f || zeroIn[b.from1]);
        } else if (std::make_pair(b.from0, b.from1) != tested) {
            tested = { b.from0, b.from1 };
            someZero = zeroIn[b.from0] && zeroIn[b.from1]
                && bothZeroSomewhere(count + b.from0 * stride, count + b.from1 * stride, width);
        }
    }
    return largest;
}

bool WaveformRenderer::renderFast(
    const cv::Mat& frameBgra, int windowSize, bool parade, cv::Mat& scope, const std::vector<std::uint32_t>* leftOut)
{
    const int height = waveformHeight(windowSize);
    const int width = traceWidth(windowSize, parade);
    // Counts are 16 bits wide: no cell may count more pixels than that.
    const long pixelsPerColumn
        = static_cast<long>(frameBgra.rows) * ((frameBgra.cols + width - 1) / std::max(1, width) + 1);
    if (scopePath() == ScopePath::Plain || !levelTable().usable || width < kShortestRow || height < 5 || frameBgra.cols <= 0 || frameBgra.total() >= kExactFloatCounts
        || pixelsPerColumn > 65535 || !normalizeScalesOnly())
        return false;
    const std::vector<RowBlend>* blends = linearRowBlends(width, kLevels, height);
    const SmoothingOrder& order3 = gaussianOrder(3, width, height);
    const SmoothingOrder& order5 = gaussianOrder(5, width, height);
    if (!blends || !order3.known || !order5.known)
        return false;

    // A frame that differs from the counted one in a few rows is counted by those rows.
    const std::array<int, 3> countKey { frameBgra.rows, frameBgra.cols, width };
    if (!countsHeld || countKey != countedFor || !countChangedRows(frameBgra)) {
        // Rows of whole cache lines, each channel's first on a line of its own.
        countStride = (width + kCellsPerLine - 1) / kCellsPerLine * kCellsPerLine;
        const size_t cells = static_cast<size_t>(kLevels) * countStride;
        for (int ch = 0; ch < 3; ++ch) {
            counts[ch].resize(cells + kCellsPerLine);
            const auto at = reinterpret_cast<std::uintptr_t>(counts[ch].data());
            levelCounts[ch] = counts[ch].data() + (kLineBytes - at % kLineBytes) % kLineBytes / sizeof(std::uint16_t);
            std::memset(levelCounts[ch], 0, cells * sizeof(std::uint16_t));
        }
        countLevels(frameBgra, width);
        frameBgra.copyTo(countedFrame);
        countedFor = countKey;
        countsHeld = true;
    }
    // Left-out pixels are black: counted on level 0 (the last row), from
    // where they go for this picture, and come back to the counts after it.
    const auto moveLeftOut = [&](int sign) {
        std::uint32_t moved = 0;
        if (leftOut)
            for (int c = 0; c < frameBgra.cols; ++c)
                if (const std::uint32_t n = (*leftOut)[static_cast<size_t>(c)]) {
                    moved += n;
                    for (std::uint16_t* count : levelCounts) {
                        std::uint16_t& darkest
                            = count[static_cast<size_t>(kLevels - 1) * countStride + columnOf[static_cast<size_t>(c)]];
                        darkest = static_cast<std::uint16_t>(darkest + sign * static_cast<int>(n));
                    }
                }
        return moved;
    };
    const std::uint32_t leftOutPixels = moveLeftOut(-1);

    // Per channel: the gain from the density, then the largest value of the
    // stretched trace, which normalize divides by; its smallest must be 0.
    std::array<float, 3> gains {}, scales {};
    std::array<bool, 3> shifted {};
    // Scratch: rings of five rows (a normalised row with two reflected cells
    // on each side, its horizontal 3- and 5-tap passes).
    const size_t w = static_cast<size_t>(width);
    const size_t line = w + 4;
    rows.resize(5 * line + 10 * w);
    float* normalised = rows.data();
    float* across3 = normalised + 5 * line;
    float* across5 = across3 + 5 * w;
    const std::uint32_t pixels = static_cast<std::uint32_t>(frameBgra.total()) - leftOutPixels;
    for (int ch = 0; ch < 3; ++ch) {
        const std::uint16_t* count = levelCounts[ch];
        const size_t stride = static_cast<size_t>(countStride);
        // The density sums the counts above 0.2 in rows 5 to 127: every pixel but those of rows 0 to 4.
        std::uint32_t brightest = 0;
        for (size_t i = 0; i < 5 * stride; ++i)
            brightest += count[i];
        gains[ch] = traceGain(static_cast<float>(pixels - brightest) / static_cast<float>(kLevels * width));
        bool someZero = false;
        const float largest = stretchedLargest(count, stride, width, *blends, normalised, someZero);
        scales[ch] = normalizeScale(largest);
        // A trace without an empty cell (every level of every column lit)
        // has a smallest value above 0, and normalize shifts it too, with an
        // operation order of its own: that trace is stretched whole and
        // normalised by OpenCV itself.
        shifted[ch] = !someZero;
        if (shifted[ch]) {
            cv::Mat& trace = shiftedTraces[ch];
            trace.create(height, width, CV_32FC1);
            for (int dy = 0; dy < height; ++dy) {
                const RowBlend& b = (*blends)[dy];
                stretchedRow(count + b.from0 * stride, count + b.from1 * stride, b, 0.0f, trace.ptr<float>(dy), width);
            }
            cv::normalize(trace, trace, 0, 1, cv::NORM_MINMAX);
        }
    }

    // One plane of picture bytes per channel, the picture's size. In the
    // Parade a channel writes its own panel only: the rest stays black from
    // the first picture of this size on.
    if (planesLayout != std::array<int, 3> { height, windowSize, parade }) {
        for (cv::Mat& plane : planes)
            plane = cv::Mat::zeros(height, windowSize, CV_8UC1);
        planesLayout = { height, windowSize, parade };
    }
    for (int ch = 0; ch < 3; ++ch) {
        const std::uint16_t* count = levelCounts[ch];
        const size_t stride = static_cast<size_t>(countStride);
        // Row j of the trace: stretched, normalised, its borders reflected,
        // then both horizontal passes; kept in the rings at j mod 5.
        const auto produce = [&](int j) {
            const RowBlend& b = (*blends)[j];
            float* row = normalised + static_cast<size_t>(j % 5) * line;
            // A scale of 0 (an empty trace) leaves the stretched zeros as they are.
            if (shifted[ch])
                std::memcpy(row + 2, shiftedTraces[ch].ptr<float>(j), w * sizeof(float));
            else
                stretchedRow(count + b.from0 * stride, count + b.from1 * stride, b, scales[ch], row + 2, width);
            for (int i = 1; i <= 2; ++i) {
                row[2 - i] = row[2 + reflect101(-i, width)];
                row[1 + width + i] = row[2 + reflect101(width - 1 + i, width)];
            }
            smoothAcrossBoth(order3, order5, row, across3 + static_cast<size_t>(j % 5) * w,
                across5 + static_cast<size_t>(j % 5) * w, width);
        };
        for (int j = 0; j < std::min(2, height); ++j)
            produce(j);
        for (int dy = 0; dy < height; ++dy) {
            if (dy + 2 < height)
                produce(dy + 2);
            const float* in3[3];
            const float* in5[5];
            for (int k = 0; k < 3; ++k)
                in3[k] = across3 + static_cast<size_t>(reflect101(dy - 1 + k, height) % 5) * w;
            for (int k = 0; k < 5; ++k)
                in5[k] = across5 + static_cast<size_t>(reflect101(dy - 2 + k, height) % 5) * w;
            // Blue, green and red panels from the left in the Parade: the channel's number.
            smoothedTraceBytes(order3, order5, in3, in5, normalised + static_cast<size_t>(dy % 5) * line + 2,
                gains[ch], planes[ch].ptr<uchar>(dy) + (parade ? ch * width : 0), width);
        }
    }

    moveLeftOut(1);

    const cv::Mat rgb[3] = { planes[Red], planes[Green], planes[Blue] };
    cv::merge(rgb, 3, scope);
    applyGraticule(scope);
    return true;
}

} // namespace scopes
