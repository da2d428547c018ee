// GCC 12's own AVX-512 headers trip these warnings (GCC bug 105593).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#include "scopes/WaveformTrace.h"

#include "scopes/FloatReplicas.h"
#include "scopes/WaveformMath.h"

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

namespace scopes {

namespace {

#define HUELENS_WIDEST "avx512f,avx512bw,avx512dq,avx512vl,avx2,fma"
#define HUELENS_WIDE_INTERLEAVE "avx2,fma"

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

// trunc(min(1, v) x 255) for v >= 0, as the plain composition forms it in
// double precision. For every float m in [0, 1], m x 255 rounded to single
// precision has the whole part of the exact product (no product lies just
// below a whole number that it rounds up onto; checked once over all
// 1,065,353,217 of them), so the vector paths take the product in single
// precision.
uchar pictureByteOf(float v)
{
    return static_cast<uchar>(static_cast<int>(std::min(1.0, static_cast<double>(v)) * 255));
}

// One row of the stretched trace: rows from0 and from1 of the counts mixed
// as OpenCV's linear resize mixes them (products rounded, then added).
void stretchedRowNarrow(const std::uint16_t* c0, const std::uint16_t* c1, const RowBlend& b, float* out, int n)
{
    for (int x = 0; x < n; ++x)
        out[x] = static_cast<float>(c0[x]) * b.b0 + static_cast<float>(c1[x]) * b.b1;
}

// The same, then times `scale` (normalize's one rounded product) unless
// scale is 0; the last vector overlaps the one before when n is not a
// multiple of its width: recomputing a cell gives the same bits.
__attribute__((target("avx2,fma"))) void stretchedRowWide(
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

__attribute__((target(HUELENS_WIDEST))) void stretchedRowWidest(
    const std::uint16_t* c0, const std::uint16_t* c1, const RowBlend& b, float scale, float* out, int n)
{
    const __m512 b0 = _mm512_set1_ps(b.b0);
    const __m512 b1 = _mm512_set1_ps(b.b1);
    const __m512 s = _mm512_set1_ps(scale);
    for (int x = 0;; x += 16) {
        x = std::min(x, n - 16);
        const __m512 s0
            = _mm512_cvtepi32_ps(_mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c0 + x))));
        const __m512 s1
            = _mm512_cvtepi32_ps(_mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c1 + x))));
        const __m512 v = _mm512_add_ps(_mm512_mul_ps(s0, b0), _mm512_mul_ps(s1, b1));
        _mm512_storeu_ps(out + x, scale != 0.0f ? _mm512_mul_ps(v, s) : v);
        if (x == n - 16)
            return;
    }
}

// out = the stretched row, times `scale` (normalize) unless that is 0.
void stretchedRow(const std::uint16_t* c0, const std::uint16_t* c1, const RowBlend& b, float scale, float* out, int n)
{
    if (widestVectors() && n >= 16) {
        stretchedRowWidest(c0, c1, b, scale, out, n);
    } else if (wideVectors() && n >= 8) {
        stretchedRowWide(c0, c1, b, scale, out, n);
    } else {
        stretchedRowNarrow(c0, c1, b, out, n);
        if (scale != 0.0f)
            for (int x = 0; x < n; ++x)
                out[x] = out[x] * scale;
    }
}

// The largest value of a row, and whether it holds a 0.
void largestAndZeroNarrow(const float* row, int n, float& largest, bool& someZero)
{
    for (int x = 0; x < n; ++x) {
        largest = std::max(largest, row[x]);
        someZero |= row[x] == 0.0f;
    }
}

__attribute__((target("avx2,fma"))) void largestAndZeroWide(const float* row, int n, float& largest, bool& someZero)
{
    __m256 high = _mm256_set1_ps(largest);
    __m256 zeros = _mm256_setzero_ps();
    int x = 0;
    for (; x + 8 <= n; x += 8) {
        const __m256 v = _mm256_loadu_ps(row + x);
        high = _mm256_max_ps(high, v);
        zeros = _mm256_or_ps(zeros, _mm256_cmp_ps(v, _mm256_setzero_ps(), _CMP_EQ_OQ));
    }
    alignas(32) float lanes[8];
    _mm256_store_ps(lanes, high);
    for (float v : lanes)
        largest = std::max(largest, v);
    someZero |= _mm256_movemask_ps(zeros) != 0;
    largestAndZeroNarrow(row + x, n - x, largest, someZero);
}

void largestAndZero(const float* row, int n, float& largest, bool& someZero)
{
    if (wideVectors())
        largestAndZeroWide(row, n, largest, someZero);
    else
        largestAndZeroNarrow(row, n, largest, someZero);
}

__attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma"))) void stretchedLargestWidest(
    const std::uint16_t* c0, const std::uint16_t* c1, const RowBlend& b, int n, float* scratch, float& largest,
    bool& someZero)
{
    const __m512 b0 = _mm512_set1_ps(b.b0);
    const __m512 b1 = _mm512_set1_ps(b.b1);
    __m512 high = _mm512_set1_ps(largest);
    __mmask16 zeros = 0;
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m512 s0
            = _mm512_cvtepi32_ps(_mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c0 + x))));
        const __m512 s1
            = _mm512_cvtepi32_ps(_mm512_cvtepu16_epi32(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(c1 + x))));
        const __m512 v = _mm512_add_ps(_mm512_mul_ps(s0, b0), _mm512_mul_ps(s1, b1));
        high = _mm512_max_ps(high, v);
        zeros |= _mm512_cmp_ps_mask(v, _mm512_setzero_ps(), _CMP_EQ_OQ);
    }
    largest = std::max(largest, _mm512_reduce_max_ps(high));
    someZero |= zeros != 0;
    stretchedRow(c0 + x, c1 + x, b, 0.0f, scratch, n - x);
    largestAndZero(scratch, n - x, largest, someZero);
}

// The largest value of the stretched trace row and whether it holds a 0.
void stretchedLargestRow(const std::uint16_t* c0, const std::uint16_t* c1, const RowBlend& b, int n, float* scratch,
    float& largest, bool& someZero)
{
    if (widestVectors()) {
        stretchedLargestWidest(c0, c1, b, n, scratch, largest, someZero);
        return;
    }
    stretchedRow(c0, c1, b, 0.0f, scratch, n);
    largestAndZero(scratch, n, largest, someZero);
}

// The largest count of a level row, and whether some cell of it is 0.
void rowPeakNarrow(const std::uint16_t* row, int n, std::uint16_t& peak, bool& someZero)
{
    for (int x = 0; x < n; ++x) {
        peak = std::max(peak, row[x]);
        someZero |= row[x] == 0;
    }
}

__attribute__((target(HUELENS_WIDEST))) void rowPeakWidest(
    const std::uint16_t* row, int n, std::uint16_t& peak, bool& someZero)
{
    __m512i high = _mm512_setzero_si512();
    __mmask32 zeros = 0;
    int x = 0;
    for (; x + 32 <= n; x += 32) {
        const __m512i v = _mm512_loadu_si512(row + x);
        high = _mm512_max_epu16(high, v);
        zeros |= _mm512_testn_epi16_mask(v, v);
    }
    alignas(64) std::uint16_t lanes[32];
    _mm512_store_si512(lanes, high);
    for (const std::uint16_t v : lanes)
        peak = std::max(peak, v);
    someZero |= zeros != 0;
    rowPeakNarrow(row + x, n - x, peak, someZero);
}

__attribute__((target("avx2,fma"))) void rowPeakWide(const std::uint16_t* row, int n, std::uint16_t& peak, bool& someZero)
{
    __m256i high = _mm256_setzero_si256();
    __m256i zeros = _mm256_setzero_si256();
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(row + x));
        high = _mm256_max_epu16(high, v);
        zeros = _mm256_or_si256(zeros, _mm256_cmpeq_epi16(v, _mm256_setzero_si256()));
    }
    alignas(32) std::uint16_t lanes[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(lanes), high);
    for (const std::uint16_t v : lanes)
        peak = std::max(peak, v);
    someZero |= !_mm256_testz_si256(zeros, zeros);
    rowPeakNarrow(row + x, n - x, peak, someZero);
}

void rowPeak(const std::uint16_t* row, int n, std::uint16_t& peak, bool& someZero)
{
    peak = 0;
    someZero = false;
    if (widestVectors())
        rowPeakWidest(row, n, peak, someZero);
    else if (wideVectors())
        rowPeakWide(row, n, peak, someZero);
    else
        rowPeakNarrow(row, n, peak, someZero);
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
// plain path's convertTo and add calls do, then the picture byte.
void combineNarrow(const float* t, const float* b3, const float* b5, float gain, uchar* out, int n)
{
    for (int x = 0; x < n; ++x) {
        const float sum = (t[x] * 2.0f + b3[x] * 1.5f) + b5[x];
        out[x] = pictureByteOf(sum * gain);
    }
}

__attribute__((target("avx2,fma"))) void combineWide(
    const float* t, const float* b3, const float* b5, float gain, uchar* out, int n)
{
    const __m256 two = _mm256_set1_ps(2.0f);
    const __m256 oneHalf = _mm256_set1_ps(1.5f);
    const __m256 g = _mm256_set1_ps(gain);
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 v255 = _mm256_set1_ps(255.0f);
    const __m256i lowBytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8, 12,
        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i joinLanes = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    for (int x = 0;; x += 8) {
        x = std::min(x, n - 8);
        const __m256 sum = _mm256_add_ps(
            _mm256_add_ps(_mm256_mul_ps(_mm256_loadu_ps(t + x), two), _mm256_mul_ps(_mm256_loadu_ps(b3 + x), oneHalf)),
            _mm256_loadu_ps(b5 + x));
        const __m256 m = _mm256_min_ps(_mm256_mul_ps(sum, g), one);
        // The whole part of m x 255 in single precision is the exact one (see pictureByteOf).
        const __m256i packed = _mm256_permutevar8x32_epi32(
            _mm256_shuffle_epi8(_mm256_cvttps_epi32(_mm256_mul_ps(m, v255)), lowBytes), joinLanes);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + x), _mm256_castsi256_si128(packed));
        if (x == n - 8)
            return;
    }
}

__attribute__((target(HUELENS_WIDEST))) void combineWidest(
    const float* t, const float* b3, const float* b5, float gain, uchar* out, int n)
{
    const __m512 two = _mm512_set1_ps(2.0f);
    const __m512 oneHalf = _mm512_set1_ps(1.5f);
    const __m512 g = _mm512_set1_ps(gain);
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512 v255 = _mm512_set1_ps(255.0f);
    for (int x = 0;; x += 16) {
        x = std::min(x, n - 16);
        const __m512 sum = _mm512_add_ps(
            _mm512_add_ps(_mm512_mul_ps(_mm512_loadu_ps(t + x), two), _mm512_mul_ps(_mm512_loadu_ps(b3 + x), oneHalf)),
            _mm512_loadu_ps(b5 + x));
        const __m512 m = _mm512_min_ps(_mm512_mul_ps(sum, g), one);
        _mm_storeu_si128(
            reinterpret_cast<__m128i*>(out + x), _mm512_cvtepi32_epi8(_mm512_cvttps_epi32(_mm512_mul_ps(m, v255))));
        if (x == n - 16)
            return;
    }
}

void combine(const float* t, const float* b3, const float* b5, float gain, uchar* out, int n)
{
    if (widestVectors() && n >= 16)
        combineWidest(t, b3, b5, gain, out, n);
    else if (wideVectors() && n >= 8)
        combineWide(t, b3, b5, gain, out, n);
    else
        combineNarrow(t, b3, b5, gain, out, n);
}

// R, G, B pixels from three byte rows (null: zeros).
void interleaveNarrow(const uchar* r, const uchar* g, const uchar* b, uchar* out, int n)
{
    for (int x = 0; x < n; ++x, out += 3) {
        out[0] = r ? r[x] : 0;
        out[1] = g ? g[x] : 0;
        out[2] = b ? b[x] : 0;
    }
}

__attribute__((target(HUELENS_WIDE_INTERLEAVE))) void interleaveWide(
    const uchar* r, const uchar* g, const uchar* b, uchar* out, int n)
{
    // Where byte i of each of three output blocks of 16 comes from, per plane (-1: another plane).
    static const auto masks = [] {
        std::array<std::array<std::array<signed char, 16>, 3>, 3> m {};
        for (int block = 0; block < 3; ++block)
            for (int i = 0; i < 16; ++i) {
                const int at = block * 16 + i;
                for (int plane = 0; plane < 3; ++plane)
                    m[block][plane][i] = static_cast<signed char>(at % 3 == plane ? at / 3 : -1);
            }
        return m;
    }();
    const __m128i zero = _mm_setzero_si128();
    for (int x = 0;; x += 16) {
        x = std::min(x, n - 16);
        const __m128i planes[3] = { r ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(r + x)) : zero,
            g ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(g + x)) : zero,
            b ? _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + x)) : zero };
        for (int block = 0; block < 3; ++block) {
            __m128i bytes16 = zero;
            for (int plane = 0; plane < 3; ++plane)
                bytes16 = _mm_or_si128(bytes16,
                    _mm_shuffle_epi8(
                        planes[plane], _mm_loadu_si128(reinterpret_cast<const __m128i*>(masks[block][plane].data()))));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x * 3 + block * 16), bytes16);
        }
        if (x == n - 16)
            return;
    }
}

bool byteShuffles()
{
    static const bool supported = widestVectors() && __builtin_cpu_supports("avx512vbmi");
    return supported;
}

// interleaveWide for 64 pixels at a time, with byte permutes across whole
// registers; the rest of the row as interleaveWide does it.
__attribute__((target(HUELENS_WIDEST ",avx512vbmi"))) int interleaveWidest(
    const uchar* r, const uchar* g, const uchar* b, uchar* out, int n)
{
    // For each of the three blocks of 64 output bytes: where red and green
    // bytes come from (green's indices have bit 6 set), and where blue's do.
    static const auto tables = [] {
        struct Tables {
            alignas(64) std::uint8_t redGreen[3][64];
            alignas(64) std::uint8_t blue[3][64];
            std::uint64_t blueMask[3];
        } t {};
        for (int block = 0; block < 3; ++block)
            for (int i = 0; i < 64; ++i) {
                const int at = block * 64 + i;
                const int plane = at % 3;
                const auto pixel = static_cast<std::uint8_t>(at / 3);
                t.redGreen[block][i] = plane == 1 ? static_cast<std::uint8_t>(64 + pixel) : pixel;
                t.blue[block][i] = pixel;
                if (plane == 2)
                    t.blueMask[block] |= std::uint64_t(1) << i;
            }
        return t;
    }();
    const __m512i zero = _mm512_setzero_si512();
    int x = 0;
    for (; x + 64 <= n; x += 64) {
        const __m512i red = r ? _mm512_loadu_si512(r + x) : zero;
        const __m512i green = g ? _mm512_loadu_si512(g + x) : zero;
        const __m512i blue = b ? _mm512_loadu_si512(b + x) : zero;
        for (int block = 0; block < 3; ++block) {
            const __m512i rg = _mm512_permutex2var_epi8(red, _mm512_load_si512(tables.redGreen[block]), green);
            _mm512_storeu_si512(out + x * 3 + block * 64,
                _mm512_mask_permutexvar_epi8(rg, tables.blueMask[block], _mm512_load_si512(tables.blue[block]), blue));
        }
    }
    return x;
}

void interleave(const uchar* r, const uchar* g, const uchar* b, uchar* out, int n)
{
    int x = byteShuffles() ? interleaveWidest(r, g, b, out, n) : 0;
    if (x == n)
        return;
    // The rest, overlapping pixels done before when that makes a whole vector.
    if (wideVectors() && n >= 16) {
        x = std::min(x, n - 16);
        interleaveWide(r ? r + x : nullptr, g ? g + x : nullptr, b ? b + x : nullptr, out + x * 3, n - x);
    } else {
        interleaveNarrow(r ? r + x : nullptr, g ? g + x : nullptr, b ? b + x : nullptr, out + x * 3, n - x);
    }
}

} // namespace

void traceBytes(const float* t, const float* b3, const float* b5, float gain, uchar* out, int n, int vectorWidth)
{
    if (vectorWidth >= 16 && widestVectors() && n >= 16)
        combineWidest(t, b3, b5, gain, out, n);
    else if (vectorWidth >= 8 && wideVectors() && n >= 8)
        combineWide(t, b3, b5, gain, out, n);
    else
        combineNarrow(t, b3, b5, gain, out, n);
}

std::vector<const void*> WaveformRenderer::buffers() const
{
    std::vector<const void*> b { columnOf.data(), rows.data(), bytes.data(), plainRgbBytes.data, plainRgbFloat.data,
        plainBlur3.data, plainBlur5.data };
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

void WaveformRenderer::render(const cv::Mat& frameBgra, int windowSize, bool parade, cv::Mat& scope)
{
    CV_Assert(frameBgra.type() == CV_8UC4);
    lastPlain = !renderFast(frameBgra, windowSize, parade, scope);
    if (lastPlain)
        renderWaveform(frameBgra, windowSize, parade, plainRgbBytes, plainRgbFloat, plainCounts, plainTraces,
            plainBlur3, plainBlur5, scope);
}

void WaveformRenderer::countLevels(const cv::Mat& frameBgra, int width)
{
    const LevelTable& t = levelTable();
    const int cols = frameBgra.cols;
    // The plain accumulation's column: trunc(c x sx) in single precision.
    columnOf.resize(static_cast<size_t>(cols));
    const float sx = static_cast<float>(width) / static_cast<float>(cols);
    for (int c = 0; c < cols; ++c)
        columnOf[c] = std::min(static_cast<int>(static_cast<float>(c) * sx), width - 1);

    std::uint16_t* blue = levelCounts[Blue];
    std::uint16_t* green = levelCounts[Green];
    std::uint16_t* red = levelCounts[Red];
    int offset[256]; // a byte value's accumulator row, as an offset
    for (int v = 0; v < 256; ++v)
        offset[v] = t.row[v] * countStride;
    // Down strips of frame columns whose cells lie in one cache line per level
    // and channel: 384 lines, all of them in the first-level cache.
    for (int c0 = 0; c0 < cols;) {
        const int block = columnOf[c0] / kCellsPerLine;
        int c1 = c0 + 1;
        while (c1 < cols && columnOf[c1] / kCellsPerLine == block)
            ++c1;
        for (int y = 0; y < frameBgra.rows; ++y) {
            const uchar* pixel = frameBgra.ptr<uchar>(y) + c0 * 4;
            for (int c = c0; c < c1; ++c, pixel += 4) {
                const int x = columnOf[c];
                ++blue[offset[pixel[0]] + x];
                ++green[offset[pixel[1]] + x];
                ++red[offset[pixel[2]] + x];
            }
        }
        c0 = c1;
    }
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

bool WaveformRenderer::renderFast(const cv::Mat& frameBgra, int windowSize, bool parade, cv::Mat& scope)
{
    const int height = waveformHeight(windowSize);
    const int width = traceWidth(windowSize, parade);
    // Counts are 16 bits wide: no cell may count more pixels than that.
    const long pixelsPerColumn
        = static_cast<long>(frameBgra.rows) * ((frameBgra.cols + width - 1) / std::max(1, width) + 1);
    if (scopePath() == ScopePath::Plain || !levelTable().usable || width < 5 || height < 5 || frameBgra.cols <= 0 || frameBgra.total() >= kExactFloatCounts
        || pixelsPerColumn > 65535 || !normalizeScalesOnly())
        return false;
    const std::vector<RowBlend>* blends = linearRowBlends(width, kLevels, height);
    const SmoothingOrder& order3 = gaussianOrder(3, width);
    const SmoothingOrder& order5 = gaussianOrder(5, width);
    if (!blends || !order3.known || !order5.known)
        return false;

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

    // Per channel: the gain from the density, then the largest value of the
    // stretched trace, which normalize divides by; its smallest must be 0.
    std::array<float, 3> gains {}, scales {};
    std::array<bool, 3> shifted {};
    // Scratch: rings of five rows (a normalised row with two reflected cells
    // on each side, its horizontal 3- and 5-tap passes) and both smoothed rows.
    const size_t w = static_cast<size_t>(width);
    const size_t line = w + 4;
    rows.resize(5 * line + 10 * w + 2 * w);
    float* normalised = rows.data();
    float* across3 = normalised + 5 * line;
    float* across5 = across3 + 5 * w;
    float* b3 = across5 + 5 * w;
    float* b5 = b3 + w;
    const std::uint32_t pixels = static_cast<std::uint32_t>(frameBgra.total());
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

    bytes.resize(3 * static_cast<size_t>(height) * width);
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
            smoothAcross(order3, row + 1, across3 + static_cast<size_t>(j % 5) * w, 0, width);
            smoothAcross(order5, row, across5 + static_cast<size_t>(j % 5) * w, 0, width);
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
            smoothDown(order3, in3, b3, 0, width);
            smoothDown(order5, in5, b5, 0, width);
            combine(normalised + static_cast<size_t>(dy % 5) * line + 2, b3, b5, gains[ch],
                &bytes[(static_cast<size_t>(ch) * height + dy) * width], width);
        }
    }

    scope.create(height, windowSize, CV_8UC3);
    for (int dy = 0; dy < height; ++dy) {
        uchar* pixel = scope.ptr<uchar>(dy);
        const uchar* blue = &bytes[(static_cast<size_t>(Blue) * height + dy) * width];
        const uchar* green = &bytes[(static_cast<size_t>(Green) * height + dy) * width];
        const uchar* red = &bytes[(static_cast<size_t>(Red) * height + dy) * width];
        if (parade) {
            // Blue, green and red panels; the columns they leave over stay black.
            interleave(nullptr, nullptr, blue, pixel, width);
            interleave(nullptr, green, nullptr, pixel + width * 3, width);
            interleave(red, nullptr, nullptr, pixel + 2 * width * 3, width);
            std::fill(pixel + 3 * width * 3, pixel + windowSize * 3, uchar(0));
        } else {
            interleave(red, green, blue, pixel, width);
        }
    }
    applyGraticule(scope);
    return true;
}

} // namespace scopes
