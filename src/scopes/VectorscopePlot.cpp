// GCC 12's own AVX-512 headers trip these warnings (GCC bug 105593).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#include "scopes/VectorscopePlot.h"

#include "scopes/FloatReplicas.h"
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
constexpr float kNearestLimit = 0.5f - kPlacementMargin;
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
    Placement(int size, double radius)
        : size(size)
        , half(size / 2)
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
    float radius;
    float radiusCos120, radiusSin120; // the sector turns, scaled to the plot
    bool alwaysInside;
};

// 1 / x to within 3e-7 (relative): the estimate of rcpps, refined once.
__attribute__((target("avx2,fma"), always_inline)) inline __m256 reciprocal(__m256 x)
{
    const __m256 r = _mm256_rcp_ps(x);
    return _mm256_mul_ps(r, _mm256_fnmadd_ps(x, r, _mm256_set1_ps(2.0f)));
}

// Where eight pixels land: OpenCV's RGB2HSV hue and saturation (hue = 60 num
// / d plus 0, 120 or 240 degrees by the largest channel, saturation d / max,
// both with FLT_EPSILON added to the divisor) and plotPoint's rounding of
// (sin, cos) x saturation x radius, in single precision with refined
// reciprocals and a polynomial sine; the error stays under 8e-5 of a cell.
// Returns the cell index, -1 (not counted or outside) or -2 (too close to a
// cell's edge to be sure); `placed` marks the lanes with a cell.
__attribute__((target("avx2,fma"), always_inline)) inline __m256i placeEight(
    __m256i v, const Placement& p, const int* countLimit, __m256i& placed)
{
    const __m256i low = _mm256_set1_epi32(0xff);
    const __m256 eps = _mm256_set1_ps(kEpsilonBytes);
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256i minusOne = _mm256_set1_epi32(-1);
    const __m256i b = _mm256_and_si256(v, low);
    const __m256i g = _mm256_and_si256(_mm256_srli_epi32(v, 8), low);
    const __m256i r = _mm256_and_si256(_mm256_srli_epi32(v, 16), low);
    const __m256i mx = _mm256_max_epi32(r, _mm256_max_epi32(g, b));
    const __m256i mn = _mm256_min_epi32(r, _mm256_min_epi32(g, b));
    const __m256i d = _mm256_sub_epi32(mx, mn);
    // Pixels above 10 % always count; only darker ones need the table.
    const __m256i bright = _mm256_cmpgt_epi32(mx, _mm256_set1_epi32(kAlwaysCountedAbove));
    const __m256i counted = _mm256_testc_si256(bright, minusOne)
        ? bright
        : _mm256_cmpgt_epi32(d, _mm256_i32gather_epi32(countLimit, mx, 4));

    const __m256i rMax = _mm256_cmpeq_epi32(r, mx);
    const __m256i gMax = _mm256_andnot_si256(rMax, _mm256_cmpeq_epi32(g, mx));
    const __m256i num = _mm256_blendv_epi8(
        _mm256_blendv_epi8(_mm256_sub_epi32(r, g), _mm256_sub_epi32(b, r), gMax), _mm256_sub_epi32(g, b), rMax);
    const __m256 cosA = _mm256_blendv_ps(
        _mm256_set1_ps(p.radiusCos120), _mm256_set1_ps(p.radius), _mm256_castsi256_ps(rMax));
    const __m256 sinA = _mm256_blendv_ps(_mm256_blendv_ps(_mm256_set1_ps(-p.radiusSin120),
                                             _mm256_set1_ps(p.radiusSin120), _mm256_castsi256_ps(gMax)),
        _mm256_setzero_ps(), _mm256_castsi256_ps(rMax));

    const __m256 df = _mm256_cvtepi32_ps(d);
    const __m256 q = _mm256_mul_ps(_mm256_cvtepi32_ps(num), reciprocal(_mm256_add_ps(df, eps)));
    const __m256 q2 = _mm256_mul_ps(q, q);
    const __m256 q4 = _mm256_mul_ps(q2, q2);
    // Estrin's scheme: shorter chains than Horner's.
    const __m256 s = _mm256_mul_ps(q,
        _mm256_fmadd_ps(q4, _mm256_fmadd_ps(q2, _mm256_set1_ps(kSin7), _mm256_set1_ps(kSin5)),
            _mm256_fmadd_ps(q2, _mm256_set1_ps(kSin3), _mm256_set1_ps(kSin1))));
    const __m256 c = _mm256_fmadd_ps(q4,
        _mm256_fmadd_ps(q4, _mm256_set1_ps(kCos8), _mm256_fmadd_ps(q2, _mm256_set1_ps(kCos6), _mm256_set1_ps(kCos4))),
        _mm256_fmadd_ps(q2, _mm256_set1_ps(kCos2), one));
    const __m256 sat = _mm256_mul_ps(df, reciprocal(_mm256_add_ps(_mm256_cvtepi32_ps(mx), eps)));
    const __m256 x = _mm256_mul_ps(sat, _mm256_fmadd_ps(s, cosA, _mm256_mul_ps(c, sinA)));
    const __m256 y = _mm256_mul_ps(sat, _mm256_fmsub_ps(c, cosA, _mm256_mul_ps(s, sinA)));
    // (nx, ny): the cell's offset from the centre, column half - nx, row half - ny.
    const __m256 nx = _mm256_round_ps(x, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m256 ny = _mm256_round_ps(y, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
    const __m256 limit = _mm256_set1_ps(kNearestLimit);
    const __m256i sure = _mm256_castps_si256(
        _mm256_and_ps(_mm256_cmp_ps(_mm256_and_ps(_mm256_sub_ps(x, nx), absMask), limit, _CMP_LE_OQ),
            _mm256_cmp_ps(_mm256_and_ps(_mm256_sub_ps(y, ny), absMask), limit, _CMP_LE_OQ)));
    // Row-major cell index (half - ny) * size + (half - nx), whole numbers in single precision.
    const __m256 sizeF = _mm256_set1_ps(static_cast<float>(p.size));
    const __m256 centre = _mm256_set1_ps(static_cast<float>(p.half * p.size + p.half));
    const __m256i cell = _mm256_cvtps_epi32(_mm256_fnmadd_ps(ny, sizeF, _mm256_sub_ps(centre, nx)));
    __m256i result = cell;
    placed = _mm256_and_si256(counted, sure);
    if (!p.alwaysInside) {
        const __m256 halfF = _mm256_set1_ps(static_cast<float>(p.half));
        const __m256 col = _mm256_sub_ps(halfF, nx);
        const __m256 row = _mm256_sub_ps(halfF, ny);
        const __m256 lowest = _mm256_set1_ps(-0.5f);
        const __m256 highest = _mm256_set1_ps(static_cast<float>(p.size) - 0.5f);
        const __m256i inside = _mm256_castps_si256(_mm256_and_ps(
            _mm256_and_ps(_mm256_cmp_ps(col, lowest, _CMP_GT_OQ), _mm256_cmp_ps(col, highest, _CMP_LT_OQ)),
            _mm256_and_ps(_mm256_cmp_ps(row, lowest, _CMP_GT_OQ), _mm256_cmp_ps(row, highest, _CMP_LT_OQ))));
        placed = _mm256_and_si256(placed, inside);
        result = _mm256_blendv_epi8(minusOne, cell, inside);
    }
    result = _mm256_blendv_epi8(_mm256_set1_epi32(-2), result, sure);
    return _mm256_blendv_epi8(minusOne, result, counted);
}

__attribute__((target("avx2,fma"))) void placeWide(
    const std::uint32_t* pixels, int n, const Placement& p, const int* countLimit, int* cells)
{
    for (int i = 0; i < n; i += 8) {
        const int k = std::min(8, n - i);
        alignas(32) std::uint32_t in[8] {};
        alignas(32) int out[8];
        std::copy(pixels + i, pixels + i + k, in);
        __m256i placed;
        _mm256_store_si256(reinterpret_cast<__m256i*>(out),
            placeEight(_mm256_load_si256(reinterpret_cast<const __m256i*>(in)), p, countLimit, placed));
        std::copy(out, out + k, cells + i);
    }
}

// Counts one row of pixels into `counts`, whose last entry takes the pixels
// that land nowhere; lists those that go the exact way. The places are found
// first and counted after, which keeps the scattered increments out of the
// way of the arithmetic.
__attribute__((target("avx2,fma"))) void countWide(const std::uint32_t* pixels, int n, int firstIndex,
    const Placement& p, const int* countLimit, std::uint32_t* counts, int* places, std::vector<int>& exact)
{
    // A row shorter than a vector is padded with black, which never counts;
    // a longer one ends with the eight pixels that end it, the lanes already
    // done left out. `places` holds at least eight.
    alignas(32) std::uint32_t padded[8] {};
    const int m = std::max(n, 8);
    if (n < 8) {
        std::copy(pixels, pixels + n, padded);
        pixels = padded;
    }
    const __m256i nowhere = _mm256_set1_epi32(p.size * p.size);
    for (int i = 0; i < m;) {
        const int at = std::min(i, m - 8);
        __m256i placed;
        const __m256i result
            = placeEight(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(pixels + at)), p, countLimit, placed);
        const __m256i unsure = _mm256_cmpeq_epi32(result, _mm256_set1_epi32(-2));
        if (!_mm256_testz_si256(unsure, unsure)) {
            const int mask = _mm256_movemask_ps(_mm256_castsi256_ps(unsure)) >> (i - at) << (i - at);
            for (int k = 0; k < 8; ++k)
                if (mask & (1 << k))
                    exact.push_back(firstIndex + at + k);
        }
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(places + at), _mm256_blendv_epi8(nowhere, result, placed));
        i = at + 8;
    }
    for (int k = 0; k < n; ++k)
        ++counts[places[k]];
}

// Every pixel of the frame onto its cell, as accumulateHsv places them.
__attribute__((target("avx2,fma"))) void countFrameWide(const cv::Mat& frame, const Placement& placement,
    const int* countLimit, std::uint32_t* counts, std::vector<int>& places, std::vector<int>& exact)
{
    // A copy the counting cannot write over, so its numbers stay in registers.
    const Placement p = placement;
    places.resize(static_cast<size_t>(std::max(frame.cols, 8)));
    for (int y = 0; y < frame.rows; ++y)
        countWide(frame.ptr<std::uint32_t>(y), frame.cols, y * frame.cols, p, countLimit, counts, places.data(), exact);
}

#define HUELENS_WIDEST "avx512f,avx512bw,avx512dq,avx512vl,avx2,fma"

__attribute__((target(HUELENS_WIDEST), always_inline)) inline __m512 reciprocal16(__m512 x)
{
    const __m512 r = _mm512_rcp14_ps(x);
    return _mm512_mul_ps(r, _mm512_fnmadd_ps(x, r, _mm512_set1_ps(2.0f)));
}

// placeEight for sixteen pixels, the outcome in masks: `placed` lanes have
// the returned cell, `unsure` lanes go the exact way, the others land nowhere.
__attribute__((target(HUELENS_WIDEST), always_inline)) inline __m512i locateSixteen(__m512i v, const Placement& p,
    const int* countLimit, __mmask16& placed, __mmask16& unsure)
{
    const __m512i low = _mm512_set1_epi32(0xff);
    const __m512 eps = _mm512_set1_ps(kEpsilonBytes);
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512i b = _mm512_and_si512(v, low);
    const __m512i g = _mm512_and_si512(_mm512_srli_epi32(v, 8), low);
    const __m512i r = _mm512_and_si512(_mm512_srli_epi32(v, 16), low);
    const __m512i mx = _mm512_max_epi32(r, _mm512_max_epi32(g, b));
    const __m512i mn = _mm512_min_epi32(r, _mm512_min_epi32(g, b));
    const __m512i d = _mm512_sub_epi32(mx, mn);
    __mmask16 counted = _mm512_cmpgt_epi32_mask(mx, _mm512_set1_epi32(kAlwaysCountedAbove));
    if (counted != 0xffff)
        counted = _mm512_cmpgt_epi32_mask(d, _mm512_i32gather_epi32(mx, countLimit, 4));

    const __mmask16 rMax = _mm512_cmpeq_epi32_mask(r, mx);
    const __mmask16 gMax = _mm512_cmpeq_epi32_mask(g, mx) & static_cast<__mmask16>(~rMax);
    __m512i num = _mm512_sub_epi32(r, g);
    num = _mm512_mask_sub_epi32(num, gMax, b, r);
    num = _mm512_mask_sub_epi32(num, rMax, g, b);
    const __m512 cosA = _mm512_mask_blend_ps(rMax, _mm512_set1_ps(p.radiusCos120), _mm512_set1_ps(p.radius));
    const __m512 sinA = _mm512_mask_blend_ps(rMax,
        _mm512_mask_blend_ps(gMax, _mm512_set1_ps(-p.radiusSin120), _mm512_set1_ps(p.radiusSin120)),
        _mm512_setzero_ps());

    const __m512 df = _mm512_cvtepi32_ps(d);
    const __m512 q = _mm512_mul_ps(_mm512_cvtepi32_ps(num), reciprocal16(_mm512_add_ps(df, eps)));
    const __m512 q2 = _mm512_mul_ps(q, q);
    const __m512 q4 = _mm512_mul_ps(q2, q2);
    const __m512 s = _mm512_mul_ps(q,
        _mm512_fmadd_ps(q4, _mm512_fmadd_ps(q2, _mm512_set1_ps(kSin7), _mm512_set1_ps(kSin5)),
            _mm512_fmadd_ps(q2, _mm512_set1_ps(kSin3), _mm512_set1_ps(kSin1))));
    const __m512 c = _mm512_fmadd_ps(q4,
        _mm512_fmadd_ps(q4, _mm512_set1_ps(kCos8), _mm512_fmadd_ps(q2, _mm512_set1_ps(kCos6), _mm512_set1_ps(kCos4))),
        _mm512_fmadd_ps(q2, _mm512_set1_ps(kCos2), one));
    const __m512 sat = _mm512_mul_ps(df, reciprocal16(_mm512_add_ps(_mm512_cvtepi32_ps(mx), eps)));
    const __m512 x = _mm512_mul_ps(sat, _mm512_fmadd_ps(s, cosA, _mm512_mul_ps(c, sinA)));
    const __m512 y = _mm512_mul_ps(sat, _mm512_fmsub_ps(c, cosA, _mm512_mul_ps(s, sinA)));
    // x minus its nearest whole number, exactly; so x minus that is the number.
    const __m512 fx = _mm512_reduce_ps(x, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m512 fy = _mm512_reduce_ps(y, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m512 nx = _mm512_sub_ps(x, fx);
    const __m512 ny = _mm512_sub_ps(y, fy);
    const __m512 limit = _mm512_set1_ps(kNearestLimit);
    const __mmask16 sure = _mm512_cmp_ps_mask(_mm512_abs_ps(fx), limit, _CMP_LE_OQ)
        & _mm512_cmp_ps_mask(_mm512_abs_ps(fy), limit, _CMP_LE_OQ);
    const __m512 sizeF = _mm512_set1_ps(static_cast<float>(p.size));
    const __m512 centre = _mm512_set1_ps(static_cast<float>(p.half * p.size + p.half));
    const __m512i cell = _mm512_cvtps_epi32(_mm512_fnmadd_ps(ny, sizeF, _mm512_sub_ps(centre, nx)));
    placed = counted & sure;
    unsure = counted & static_cast<__mmask16>(~sure);
    if (!p.alwaysInside) {
        const __m512 halfF = _mm512_set1_ps(static_cast<float>(p.half));
        const __m512 col = _mm512_sub_ps(halfF, nx);
        const __m512 row = _mm512_sub_ps(halfF, ny);
        const __m512 lowest = _mm512_set1_ps(-0.5f);
        const __m512 highest = _mm512_set1_ps(static_cast<float>(p.size) - 0.5f);
        const __mmask16 inside = _mm512_cmp_ps_mask(col, lowest, _CMP_GT_OQ)
            & _mm512_cmp_ps_mask(col, highest, _CMP_LT_OQ) & _mm512_cmp_ps_mask(row, lowest, _CMP_GT_OQ)
            & _mm512_cmp_ps_mask(row, highest, _CMP_LT_OQ);
        placed &= inside;
    }
    return cell;
}

// countFrameWide sixteen pixels at a time. The AVX-512 path as a whole
// measured about 30 % off a new frame's vectorscope against AVX2.
__attribute__((target(HUELENS_WIDEST))) void countFrameWidest(const cv::Mat& frame, const Placement& placement,
    const int* countLimit, std::uint32_t* counts, std::vector<int>& places, std::vector<int>& exact)
{
    // A copy the counting cannot write over, so its numbers stay in registers.
    const Placement p = placement;
    const int n = frame.cols;
    places.resize(static_cast<size_t>(n));
    int* place = places.data();
    const __m512i nowhere = _mm512_set1_epi32(p.size * p.size);
    for (int y = 0; y < frame.rows; ++y) {
        const std::uint32_t* pixels = frame.ptr<std::uint32_t>(y);
        // Sixteen at a time; a row's last pixels with the sixteen that end
        // the row, the lanes already done left out.
        int i = 0;
        // Two vectors at a time: their long chains of arithmetic overlap.
        for (; i + 32 <= n; i += 32) {
            __mmask16 placed0, placed1, unsure0, unsure1;
            const __m512i result0
                = locateSixteen(_mm512_loadu_si512(pixels + i), p, countLimit, placed0, unsure0);
            const __m512i result1
                = locateSixteen(_mm512_loadu_si512(pixels + i + 16), p, countLimit, placed1, unsure1);
            if (unsure0 | unsure1) {
                for (std::uint32_t u = unsure0 | static_cast<std::uint32_t>(unsure1) << 16; u; u &= u - 1)
                    exact.push_back(y * n + i + __builtin_ctz(u));
            }
            _mm512_storeu_si512(place + i, _mm512_mask_blend_epi32(placed0, nowhere, result0));
            _mm512_storeu_si512(place + i + 16, _mm512_mask_blend_epi32(placed1, nowhere, result1));
        }
        while (i < n) {
            const int at = i + 16 <= n ? i : n - 16;
            const __mmask16 fresh = static_cast<__mmask16>(0xffffu << (i - at));
            __mmask16 placed, unsure;
            const __m512i result = locateSixteen(_mm512_loadu_si512(pixels + at), p, countLimit, placed, unsure);
            unsure &= fresh;
            while (unsure) {
                exact.push_back(y * n + at + __builtin_ctz(unsure));
                unsure &= static_cast<__mmask16>(unsure - 1);
            }
            _mm512_mask_storeu_epi32(place + at, fresh, _mm512_mask_blend_epi32(placed, nowhere, result));
            i = at + 16;
        }
        for (int k = 0; k < n; ++k)
            ++counts[place[k]];
    }
}

__attribute__((target(HUELENS_WIDEST))) void placeWidest(
    const std::uint32_t* pixels, int n, const Placement& p, const int* countLimit, int* cells)
{
    for (int i = 0; i < n; i += 16) {
        const int k = std::min(16, n - i);
        alignas(64) std::uint32_t in[16] {};
        alignas(64) int out[16];
        std::copy(pixels + i, pixels + i + k, in);
        __mmask16 placed, unsure;
        const __m512i cell = locateSixteen(_mm512_load_si512(in), p, countLimit, placed, unsure);
        _mm512_store_si512(out,
            _mm512_mask_blend_epi32(unsure, _mm512_mask_blend_epi32(placed, _mm512_set1_epi32(-1), cell),
                _mm512_set1_epi32(-2)));
        std::copy(out, out + k, cells + i);
    }
}


// c^0.3 (single precision) through log2 and exp2 series; relative error
// below 3e-7 against powf for 5e-11 <= c <= 2.
__attribute__((target("avx2,fma"), always_inline)) inline __m256 powThreeTenthsWide(__m256 c)
{
    __m256i bits = _mm256_castps_si256(c);
    __m256i e = _mm256_sub_epi32(_mm256_srli_epi32(bits, 23), _mm256_set1_epi32(127));
    bits = _mm256_or_si256(_mm256_and_si256(bits, _mm256_set1_epi32(0x7fffff)), _mm256_set1_epi32(0x3f800000));
    __m256 m = _mm256_castsi256_ps(bits);
    const __m256 big = _mm256_cmp_ps(m, _mm256_set1_ps(1.41421356f), _CMP_GT_OQ);
    m = _mm256_blendv_ps(m, _mm256_mul_ps(m, _mm256_set1_ps(0.5f)), big);
    e = _mm256_sub_epi32(e, _mm256_castps_si256(big)); // true lanes are -1
    const __m256 one = _mm256_set1_ps(1.0f);
    const __m256 t = _mm256_mul_ps(_mm256_sub_ps(m, one), reciprocal(_mm256_add_ps(m, one)));
    const __m256 t2 = _mm256_mul_ps(t, t);
    const __m256 t4 = _mm256_mul_ps(t2, t2);
    const __m256 l01 = _mm256_fmadd_ps(t2, _mm256_set1_ps(0.961796701f), _mm256_set1_ps(2.88539004f));
    const __m256 l23 = _mm256_fmadd_ps(t2, _mm256_set1_ps(0.412198573f), _mm256_set1_ps(0.577078044f));
    const __m256 l = _mm256_mul_ps(t, _mm256_fmadd_ps(t4, _mm256_fmadd_ps(t4, _mm256_set1_ps(0.320598900f), l23), l01));
    const __m256 y = _mm256_mul_ps(_mm256_set1_ps(0.3f), _mm256_add_ps(_mm256_cvtepi32_ps(e), l));
    const __m256 n = _mm256_round_ps(y, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m256 f = _mm256_sub_ps(y, n);
    const __m256 f2 = _mm256_mul_ps(f, f);
    const __m256 f4 = _mm256_mul_ps(f2, f2);
    const __m256 q01 = _mm256_fmadd_ps(f, _mm256_set1_ps(0.693147182f), one);
    const __m256 q23 = _mm256_fmadd_ps(f, _mm256_set1_ps(5.55041097e-2f), _mm256_set1_ps(0.240226507f));
    const __m256 q45 = _mm256_fmadd_ps(f, _mm256_set1_ps(1.33335581e-3f), _mm256_set1_ps(9.61812911e-3f));
    const __m256 q67 = _mm256_fmadd_ps(f, _mm256_set1_ps(1.52527338e-5f), _mm256_set1_ps(1.54035304e-4f));
    const __m256 q = _mm256_fmadd_ps(f4, _mm256_fmadd_ps(f2, q67, q45), _mm256_fmadd_ps(f2, q23, q01));
    const __m256i scaleBits = _mm256_slli_epi32(_mm256_add_epi32(_mm256_cvtps_epi32(n), _mm256_set1_epi32(127)), 23);
    return _mm256_mul_ps(q, _mm256_castsi256_ps(scaleBits));
}

// Brightening, as brightenScope does it, of one row of cells: `sums` times
// `scale` (normalize's one rounded product) are the normalised values c,
// `wheel` the wheel's bytes (three per cell), `rgb` where the lifted bytes
// go: trunc(255 - (255 - v) k) with k = max(0, 1 - 2 c^0.3), the power a
// fast one. Bytes whose value lies too close to a whole number for the
// power's error go the exact way; returns how many did.
__attribute__((target("avx2,fma"))) int liftWide(
    const float* sums, float scale, const uchar* wheelRow, uchar* rgb, int n)
{
    if (n < 8) {
        // Padded with empty cells, which leave their bytes as they are.
        float cells[8] {};
        uchar wheel[24] {}, bytes[24];
        std::copy(sums, sums + n, cells);
        std::copy(wheelRow, wheelRow + n * 3, wheel);
        const int exact = liftWide(cells, scale, wheel, bytes, 8);
        std::copy(bytes, bytes + n * 3, rgb);
        return exact;
    }
    int exact = 0;
    int i = 0;
    // Which cell each of the 24 bytes of eight cells belongs to.
    const __m256i spread[3] = { _mm256_setr_epi32(0, 0, 0, 1, 1, 1, 2, 2), _mm256_setr_epi32(2, 3, 3, 3, 4, 4, 4, 5),
        _mm256_setr_epi32(5, 5, 6, 6, 6, 7, 7, 7) };
    const __m256i lowBytes = _mm256_setr_epi8(0, 4, 8, 12, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, 0, 4, 8, 12,
        -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
    const __m256i joinLanes = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    const __m256 zero = _mm256_setzero_ps();
    const __m256 v255 = _mm256_set1_ps(255.0f);
    const __m256 whiteAbove = _mm256_set1_ps(1.0f + kWhiteMargin);
    const __m256 nearWhite = _mm256_set1_ps(1.0f - kWhiteMargin);
    const __m256 middle = _mm256_set1_ps(0.5f);
    const __m256 clearance = _mm256_set1_ps(0.5f - kLiftMargin);
    const __m256 absMask = _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff));
    const __m256 scaleV = _mm256_set1_ps(scale);
    // Eight at a time; the last eight end the row, overlapping cells done before.
    for (int next = 0; next < n; next = i + 8) {
        i = std::min(next, n - 8);
        const __m256 c = _mm256_mul_ps(_mm256_loadu_ps(sums + i), scaleV);
        const __m256 live = _mm256_cmp_ps(c, _mm256_set1_ps(kNegligibleCell), _CMP_GE_OQ);
        uchar* bytes = rgb + i * 3;
        const uchar* wheel = wheelRow + i * 3;
        if (_mm256_testz_ps(live, live)) {
            std::memcpy(bytes, wheel, 24);
            continue;
        }
        // Negligible cells get a = 0: their bytes stay, surely.
        const __m256 a = _mm256_and_ps(live,
            _mm256_mul_ps(_mm256_set1_ps(2.0f), powThreeTenthsWide(_mm256_max_ps(c, _mm256_set1_ps(kNegligibleCell)))));
        const __m256 white = _mm256_cmp_ps(a, whiteAbove, _CMP_GT_OQ);
        if (_mm256_testc_ps(white, _mm256_castsi256_ps(_mm256_set1_epi32(-1)))) {
            std::memset(bytes, 255, 24);
            continue;
        }
        int unsure = 0;
        for (int part = 0; part < 3; ++part) {
            const __m256 ap = _mm256_permutevar8x32_ps(a, spread[part]);
            const __m256 v = _mm256_cvtepi32_ps(
                _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(wheel + part * 8))));
            // v + (255 - v) a: at a = 0 exactly v; from a > 1 on at least 255.
            const __m256 y = _mm256_fmadd_ps(_mm256_sub_ps(v255, v), ap, v);
            const __m256 f = _mm256_floor_ps(y);
            const __m256 clear = _mm256_cmp_ps(
                _mm256_and_ps(_mm256_sub_ps(_mm256_sub_ps(y, f), middle), absMask), clearance, _CMP_LE_OQ);
            const __m256 whiteP = _mm256_cmp_ps(ap, whiteAbove, _CMP_GT_OQ);
            const __m256 stillP = _mm256_cmp_ps(ap, zero, _CMP_EQ_OQ);
            const __m256 near = _mm256_cmp_ps(ap, nearWhite, _CMP_GE_OQ);
            const __m256 sure = _mm256_or_ps(_mm256_or_ps(stillP, whiteP), _mm256_andnot_ps(near, clear));
            const __m256i value = _mm256_cvttps_epi32(_mm256_min_ps(f, v255));
            const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(value, lowBytes), joinLanes);
            _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes + part * 8), _mm256_castsi256_si128(packed));
            unsure |= (~_mm256_movemask_ps(sure) & 0xff) << (part * 8);
        }
        while (unsure) {
            const int k = __builtin_ctz(static_cast<unsigned>(unsure));
            unsure &= unsure - 1;
            bytes[k] = static_cast<uchar>(exactLift(sums[i + k / 3] * scale, wheel[k]));
            ++exact;
        }
    }
    return exact;
}

__attribute__((target(HUELENS_WIDEST), always_inline)) inline __m512 powThreeTenthsWidest(__m512 c)
{
    __m512i bits = _mm512_castps_si512(c);
    __m512i e = _mm512_sub_epi32(_mm512_srli_epi32(bits, 23), _mm512_set1_epi32(127));
    bits = _mm512_or_si512(_mm512_and_si512(bits, _mm512_set1_epi32(0x7fffff)), _mm512_set1_epi32(0x3f800000));
    __m512 m = _mm512_castsi512_ps(bits);
    const __mmask16 big = _mm512_cmp_ps_mask(m, _mm512_set1_ps(1.41421356f), _CMP_GT_OQ);
    m = _mm512_mask_mul_ps(m, big, m, _mm512_set1_ps(0.5f));
    e = _mm512_mask_add_epi32(e, big, e, _mm512_set1_epi32(1));
    const __m512 one = _mm512_set1_ps(1.0f);
    const __m512 t = _mm512_mul_ps(_mm512_sub_ps(m, one), reciprocal16(_mm512_add_ps(m, one)));
    const __m512 t2 = _mm512_mul_ps(t, t);
    const __m512 t4 = _mm512_mul_ps(t2, t2);
    const __m512 l01 = _mm512_fmadd_ps(t2, _mm512_set1_ps(0.961796701f), _mm512_set1_ps(2.88539004f));
    const __m512 l23 = _mm512_fmadd_ps(t2, _mm512_set1_ps(0.412198573f), _mm512_set1_ps(0.577078044f));
    const __m512 l = _mm512_mul_ps(t, _mm512_fmadd_ps(t4, _mm512_fmadd_ps(t4, _mm512_set1_ps(0.320598900f), l23), l01));
    const __m512 y = _mm512_mul_ps(_mm512_set1_ps(0.3f), _mm512_add_ps(_mm512_cvtepi32_ps(e), l));
    const __m512 n = _mm512_roundscale_ps(y, _MM_FROUND_TO_NEAREST_INT | _MM_FROUND_NO_EXC);
    const __m512 f = _mm512_sub_ps(y, n);
    const __m512 f2 = _mm512_mul_ps(f, f);
    const __m512 f4 = _mm512_mul_ps(f2, f2);
    const __m512 q01 = _mm512_fmadd_ps(f, _mm512_set1_ps(0.693147182f), one);
    const __m512 q23 = _mm512_fmadd_ps(f, _mm512_set1_ps(5.55041097e-2f), _mm512_set1_ps(0.240226507f));
    const __m512 q45 = _mm512_fmadd_ps(f, _mm512_set1_ps(1.33335581e-3f), _mm512_set1_ps(9.61812911e-3f));
    const __m512 q67 = _mm512_fmadd_ps(f, _mm512_set1_ps(1.52527338e-5f), _mm512_set1_ps(1.54035304e-4f));
    const __m512 q = _mm512_fmadd_ps(f4, _mm512_fmadd_ps(f2, q67, q45), _mm512_fmadd_ps(f2, q23, q01));
    const __m512i scaleBits = _mm512_slli_epi32(_mm512_add_epi32(_mm512_cvtps_epi32(n), _mm512_set1_epi32(127)), 23);
    return _mm512_mul_ps(q, _mm512_castsi512_ps(scaleBits));
}

// Each bit of a 16-bit mask three times: one per byte of a cell.
inline std::uint64_t perByte(std::uint32_t cells)
{
    static const auto table = [] {
        std::array<std::uint32_t, 256> t {};
        for (std::uint32_t m = 0; m < 256; ++m)
            for (int bit = 0; bit < 8; ++bit)
                if (m & (1u << bit))
                    t[m] |= 7u << (3 * bit);
        return t;
    }();
    return table[cells & 0xff] | static_cast<std::uint64_t>(table[(cells >> 8) & 0xff]) << 24;
}

// liftWide for up to sixteen cells: the first `count` of sums[], wheel[]
// (three bytes per cell) and rgb[]; lanes past them are neither read nor written.
__attribute__((target(HUELENS_WIDEST), always_inline)) inline int liftSixteen(
    const float* sums, float scale, const uchar* wheel, uchar* bytes, int count)
{
    const __mmask16 cellsIn = count >= 16 ? 0xffff : static_cast<__mmask16>((1u << count) - 1);
    const std::uint64_t bytesIn = count >= 16 ? (std::uint64_t(1) << 48) - 1 : (std::uint64_t(1) << (3 * count)) - 1;
    const __m512 c = _mm512_mul_ps(_mm512_maskz_loadu_ps(cellsIn, sums), _mm512_set1_ps(scale));
    const __mmask16 live = _mm512_cmp_ps_mask(c, _mm512_set1_ps(kNegligibleCell), _CMP_GE_OQ);
    if (!live) {
        std::memcpy(bytes, wheel, static_cast<size_t>(count) * 3);
        return 0;
    }
    if (count == 16 && _mm512_cmp_ps_mask(c, _mm512_set1_ps(kWhiteCell), _CMP_GE_OQ) == 0xffff) {
        std::memset(bytes, 255, 48);
        return 0;
    }
    const __m512i spread[3] = {
        _mm512_setr_epi32(0, 0, 0, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5),
        _mm512_setr_epi32(5, 5, 6, 6, 6, 7, 7, 7, 8, 8, 8, 9, 9, 9, 10, 10),
        _mm512_setr_epi32(10, 11, 11, 11, 12, 12, 12, 13, 13, 13, 14, 14, 14, 15, 15, 15),
    };
    // Negligible cells get a = 0: their bytes stay, surely. From a > 1 on a
    // byte is at least 255, surely; a little below, it goes the exact way.
    const __m512 a = _mm512_maskz_mul_ps(
        live, _mm512_set1_ps(2.0f), powThreeTenthsWidest(_mm512_max_ps(c, _mm512_set1_ps(kNegligibleCell))));
    const __mmask16 white = _mm512_cmp_ps_mask(a, _mm512_set1_ps(1.0f + kWhiteMargin), _CMP_GT_OQ);
    const __mmask16 nearWhite = _mm512_cmp_ps_mask(a, _mm512_set1_ps(1.0f - kWhiteMargin), _CMP_GE_OQ);
    if (count == 16 && white == 0xffff) {
        std::memset(bytes, 255, 48);
        return 0;
    }
    const __m512 v255 = _mm512_set1_ps(255.0f);
    const __m512 half = _mm512_set1_ps(0.5f);
    std::uint64_t clear = 0;
    for (int part = 0; part < 3; ++part) {
        const __mmask16 in = static_cast<__mmask16>(bytesIn >> (part * 16));
        const __m512 ap = _mm512_permutexvar_ps(spread[part], a);
        const __m512 v = _mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(in, wheel + part * 16)));
        // v + (255 - v) a: at a = 0 exactly v; from a > 1 on at least 255.
        const __m512 y = _mm512_fmadd_ps(_mm512_sub_ps(v255, v), ap, v);
        const __m512 fraction = _mm512_reduce_ps(y, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC);
        clear |= static_cast<std::uint64_t>(_mm512_cmp_ps_mask(_mm512_abs_ps(_mm512_sub_ps(fraction, half)),
                     _mm512_set1_ps(0.5f - kLiftMargin), _CMP_LE_OQ))
            << (part * 16);
        // Bytes above 255 (white cells) saturate to 255.
        _mm_mask_storeu_epi8(bytes + part * 16, in,
            _mm512_cvtusepi32_epi8(_mm512_cvt_roundps_epi32(y, _MM_FROUND_TO_NEG_INF | _MM_FROUND_NO_EXC)));
    }
    const std::uint64_t plotted = perByte(live & static_cast<__mmask16>(~white));
    std::uint64_t unsure = plotted & (~clear | perByte(nearWhite)) & bytesIn;
    int exact = 0;
    while (unsure) {
        const int k = __builtin_ctzll(unsure);
        unsure &= unsure - 1;
        bytes[k] = static_cast<uchar>(exactLift(sums[k / 3] * scale, wheel[k]));
        ++exact;
    }
    return exact;
}

// liftWide for sixteen cells at a time; the last few with one masked step.
// Measured some 12 % off a new frame's vectorscope against liftWide.
__attribute__((target(HUELENS_WIDEST))) int liftWidest(
    const float* sums, float scale, const uchar* wheelRow, uchar* rgb, int n)
{
    int exact = 0;
    for (int i = 0; i < n; i += 16)
        exact += liftSixteen(sums + i, scale, wheelRow + i * 3, rgb + i * 3, std::min(16, n - i));
    return exact;
}

// out[i] = weights[counts[i]]: a cell's value after counts[i] pixels. The
// AVX-512 copy, which loads only the cells with a count, measured some 15 %
// off a new frame's vectorscope at 400.
__attribute__((target(HUELENS_WIDEST))) int cellValuesWidest(
    const std::uint32_t* counts, const float* weights, float* out, int n)
{
    int i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m512i c = _mm512_loadu_si512(counts + i);
        const __mmask16 lit = _mm512_test_epi32_mask(c, c);
        _mm512_storeu_ps(out + i, _mm512_mask_i32gather_ps(_mm512_setzero_ps(), lit, c, weights, 4));
    }
    return i;
}

__attribute__((target("avx2,fma"))) void cellValues(const std::uint32_t* counts, const float* weights, float* out, int n)
{
    int i = widestVectors() ? cellValuesWidest(counts, weights, out, n) : 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(counts + i));
        _mm256_storeu_ps(out + i, _mm256_testz_si256(c, c) ? _mm256_setzero_ps() : _mm256_i32gather_ps(weights, c, 4));
    }
    for (; i < n; ++i)
        out[i] = weights[counts[i]];
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

} // namespace

int exactLift(float cell, int wheel)
{
    // brightenScope's arithmetic: a single-precision power, the rest in double.
    const float a = 2.0f * std::pow(cell, 0.3f);
    const double k = std::max(0.0, 1.0 - static_cast<double>(a));
    return static_cast<uchar>(static_cast<int>(255.0 - (255 - wheel) * k));
}

void placeColours(const std::uint32_t* pixels, int n, int size, double radius, int* cells, ScopePath path)
{
    const Placement p(size, radius);
    const int* limit = colourTables().countLimit;
    if (path == ScopePath::Avx512 && widestVectors())
        placeWidest(pixels, n, p, limit, cells);
    else
        placeWide(pixels, n, p, limit, cells);
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
bool placementAgrees(int size, double radius, int cols, ScopePath path)
{
    const cv::Mat frame = checkColours(cols);
    cv::Mat rgbBytes, rgbFloat, hsv;
    frameToHsv(frame, rgbBytes, rgbFloat, hsv);
    std::vector<int> cells(frame.total());
    placeColours(frame.ptr<std::uint32_t>(), static_cast<int>(frame.total()), size, radius, cells.data(), path);
    const int half = size / 2;
    for (size_t i = 0; i < cells.size(); ++i) {
        const cv::Vec3f c = hsv.at<cv::Vec3f>(static_cast<int>(i / cols), static_cast<int>(i % cols));
        const cv::Point pt = plotPoint(half, c[0] * kDegreesToRadians, c[1] * radius);
        const bool inside = pt.x >= 0 && pt.y >= 0 && pt.x < size && pt.y < size;
        const int exact = countsOnScope(c[1], c[2]) && inside ? pt.y * size + pt.x : -1;
        if (cells[i] != -2 && cells[i] != exact)
            return false;
    }
    return true;
}

std::mutex checksLock;
std::map<std::tuple<int, double, int, ScopePath>, bool> checks;

// placementAgrees, once per plot, frame width and path; a failure is logged.
bool placementChecked(int size, double radius, int cols)
{
    // The kernel that counts the frame: rows narrower than 16 take the 256-bit one.
    const ScopePath path = widestVectors() && cols >= 16 ? ScopePath::Avx512 : ScopePath::Avx2;
    const std::lock_guard<std::mutex> hold(checksLock);
    const auto key = std::make_tuple(size, radius, cols, path);
    auto it = checks.find(key);
    if (it == checks.end()) {
        it = checks.emplace(key, placementAgrees(size, radius, cols, path)).first;
        if (!it->second)
            noteFallback(QStringLiteral("scope plain path: vectorscope %1 for %2 columns places colours unlike OpenCV")
                             .arg(size)
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
        return liftWidest(cells, 1.0f, wheel, out, n);
    return liftWide(cells, 1.0f, wheel, out, n);
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

void VectorscopePlotter::count(const cv::Mat& frameBgra, int size, double radius, int zoom)
{
    CV_Assert(frameBgra.type() == CV_8UC4 && size > 0);
    plotSize = size;
    framePixels = static_cast<std::uint32_t>(frameBgra.total());
    // A magnified plot goes the plain way: the fast placement knows the 1x geometry only.
    lastPlain = zoom != 1 || scopePath() == ScopePath::Plain || size < 3 || !colourTables().usable
        || !normalizeScalesOnly() || !gaussianOrder(3, size, size).known || !placementChecked(size, radius, frameBgra.cols);
    if (lastPlain) {
        // An OpenCV whose arithmetic the fast path does not know: the plain way.
        frameToHsv(frameBgra, plainRgbBytes, plainRgbFloat, plainHsv);
        accumulateHsv(plainHsv, size, radius, pixelWeight(frameBgra.rows * frameBgra.cols), plainCells, zoom);
        return;
    }
    // One entry more than cells: where pixels that land nowhere are counted.
    if (counts.size() != static_cast<size_t>(size) * size + 1)
        counts.assign(static_cast<size_t>(size) * size + 1, 0);
    // Every pixel lands within the full-saturation circle, a cell to spare.
    const int half = size / 2, reach = static_cast<int>(std::ceil(radius)) + 1;
    touched = Area { std::max(0, half - reach), std::max(0, half - reach), std::min(size - 1, half + reach),
        std::min(size - 1, half + reach) };
    countPixels(frameBgra, size, radius);
    resolveExactly(frameBgra, size, radius);
}

cv::Mat VectorscopePlotter::draw(const cv::Mat& wheel, const cv::Rect& paintedOver)
{
    CV_Assert(wheel.type() == CV_8UC3 && wheel.rows == plotSize && wheel.cols == plotSize);
    const int size = plotSize;
    startPicture(wheel, paintedOver);
    if (lastPlain) {
        drawPlainly(wheel);
        return picture;
    }
    prepareWeights(pixelWeight(static_cast<int>(framePixels)), framePixels);
    // Smoothing spreads a cell onto its eight neighbours.
    const Area region { std::max(0, touched.x0 - 1), std::max(0, touched.y0 - 1), std::min(size - 1, touched.x1 + 1),
        std::min(size - 1, touched.y1 + 1) };
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
        lastPlain = true;
        drawPlainly(wheel);
        return picture;
    }
    findRowSpans(region, size);
    const float largest = smoothCountedCells(region, size);
    liftSpans(region, normalizeScale(largest), wheel);
    // What went back to the wheel (in `changed` since startPicture) and what was lifted now.
    for (size_t y = 0; y < changed.size(); ++y)
        changed[y] = hull(changed[y], pictureSpans[y]);
    return picture;
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

void VectorscopePlotter::countPixels(const cv::Mat& frameBgra, int size, double radius)
{
    const ColourTables& t = colourTables();
    const Placement p(size, radius);
    exactPixelsFound.clear();
    if (widestVectors() && frameBgra.cols >= 16)
        countFrameWidest(frameBgra, p, t.countLimit, counts.data(), rowPlaces, exactPixelsFound);
    else
        countFrameWide(frameBgra, p, t.countLimit, counts.data(), rowPlaces, exactPixelsFound);
    counts.back() = 0; // the pixels that landed nowhere
}

void VectorscopePlotter::resolveExactly(const cv::Mat& frameBgra, int size, double radius)
{
    if (exactPixelsFound.empty())
        return;
    // OpenCV's own conversion of the pixels, each in its own column of a row
    // as wide as the frame's: the same code at the same place of a row as in
    // the frame, whatever OpenCV runs where. Pixels of one column take rows
    // of their own.
    const ColourTables& t = colourTables();
    const int cols = frameBgra.cols;
    exactRowOf.assign(static_cast<size_t>(cols), 0);
    int rows = 0;
    for (int index : exactPixelsFound)
        rows = std::max(rows, ++exactRowOf[static_cast<size_t>(index % cols)]);
    exactRgb.create(rows, cols, CV_32FC3);
    exactRgb.setTo(cv::Scalar::all(0));
    std::fill(exactRowOf.begin(), exactRowOf.end(), 0);
    for (int index : exactPixelsFound) {
        const int x = index % cols;
        const cv::Vec4b& p = frameBgra.at<cv::Vec4b>(index / cols, x);
        exactRgb.at<cv::Vec3f>(exactRowOf[static_cast<size_t>(x)]++, x)
            = cv::Vec3f(t.unit[p[2]], t.unit[p[1]], t.unit[p[0]]);
    }
    cv::cvtColor(exactRgb, exactHsv, cv::COLOR_RGB2HSV);

    const int half = size / 2;
    std::fill(exactRowOf.begin(), exactRowOf.end(), 0);
    for (int index : exactPixelsFound) {
        const int x = index % cols;
        const cv::Vec3f hsv = exactHsv.at<cv::Vec3f>(exactRowOf[static_cast<size_t>(x)]++, x);
        const cv::Point pt = plotPoint(half, hsv[0] * kDegreesToRadians, hsv[1] * radius);
        if (pt.x >= 0 && pt.y >= 0 && pt.x < size && pt.y < size)
            ++counts[static_cast<size_t>(pt.y) * size + pt.x];
    }
}

void VectorscopePlotter::prepareWeights(float weight, std::uint32_t pixels)
{
    // Made once per frame size: for every count a cell can reach. Each pixel
    // adds the weight in double precision and the cell keeps a float.
    if (weight == weightsFor && weights.size() > pixels)
        return;
    weights.resize(static_cast<size_t>(pixels) + 1);
    weights[0] = 0.0f;
    for (size_t k = 1; k < weights.size(); ++k)
        weights[k] = static_cast<float>(static_cast<double>(weights[k - 1]) + static_cast<double>(weight));
    weightsFor = weight;
}


void VectorscopePlotter::findRowSpans(const Area& region, int size)
{
    // counted[i]: the counted columns of region row i; lit[i]: the columns
    // that smoothing lights (the counted ones of rows i-1 .. i+1, widened by one).
    const int rows = region.y1 - region.y0 + 1;
    countedSpans.assign(static_cast<size_t>(rows), kNoColumns);
    litSpans.assign(static_cast<size_t>(rows), kNoColumns);
    for (int y = touched.y0; y <= touched.y1; ++y)
        countedSpans[static_cast<size_t>(y - region.y0)]
            = countedColumns(&counts[static_cast<size_t>(y) * size], touched.x0, touched.x1);
    for (int i = 0; i < rows; ++i) {
        Span s = countedSpans[static_cast<size_t>(i)];
        if (i > 0)
            s = hull(s, countedSpans[static_cast<size_t>(i - 1)]);
        if (i + 1 < rows)
            s = hull(s, countedSpans[static_cast<size_t>(i + 1)]);
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
        const Span s = span(countedSpans, y - region.y0);
        return s.x0 <= s.x1;
    };

    // Rows with counted cells: their values and the horizontal pass, over
    // every column that the vertical pass of this row or its neighbours reads.
    // Their counts are cleared for the next plot on the way.
    for (int y = touched.y0; y <= touched.y1; ++y) {
        const int i = y - region.y0;
        if (!counted(y))
            continue;
        const Span read = hull(hull(span(litSpans, i - 1), span(litSpans, i)), span(litSpans, i + 1));
        const int n = read.x1 - read.x0 + 1;
        float* cells = &cellRows[static_cast<size_t>(i) * stride + (read.x0 - region.x0)];
        std::uint32_t* count = &counts[static_cast<size_t>(y) * size];
        cellValues(count + read.x0, weights.data(), cells + 1, n);
        cells[0] = weights[count[reflect101(read.x0 - 1, size)]];
        cells[n + 1] = weights[count[reflect101(read.x1 + 1, size)]];
        smoothAcross(order, cells, &acrossRows[static_cast<size_t>(i) * width + (read.x0 - region.x0)], read.x0, n);
        const Span mine = countedSpans[static_cast<size_t>(i)];
        std::fill(count + mine.x0, count + mine.x1 + 1, 0u);
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
    const bool widest = widestVectors();
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
        if (widest)
            liftWidest(cells, scale, from + lit.x0 * 3, to + lit.x0 * 3, n);
        else
            liftWide(cells, scale, from + lit.x0 * 3, to + lit.x0 * 3, n);
    }
}

} // namespace scopes
