#include "display/ShownPicture.h"

#include <immintrin.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>

namespace scopes {

namespace {

// `n` pixels, R, G, B to B, G, R, 255; returns whether any byte of `out` changed.
bool runPlain(const uchar* in, uchar* out, int n)
{
    bool changed = false;
    for (int x = 0; x < n; ++x, in += 3, out += 4) {
        const uchar bgrx[4] = { in[2], in[1], in[0], 255 };
        if (std::memcmp(out, bgrx, 4) != 0) {
            std::memcpy(out, bgrx, 4);
            changed = true;
        }
    }
    return changed;
}

// The same, four pixels (twelve bytes in, sixteen out) at a time. Sixteen
// bytes are read for twelve: `readable` pixels may be read from `in`.
__attribute__((target("ssse3"))) bool runSsse3(const uchar* in, uchar* out, int n, int readable)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, -1, 5, 4, 3, -1, 8, 7, 6, -1, 11, 10, 9, -1);
    const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
    __m128i differ = _mm_setzero_si128();
    int x = 0;
    for (; x + 4 <= n && x + 6 <= readable; x += 4, in += 12, out += 16) {
        const __m128i rgb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i bgrx = _mm_or_si128(_mm_shuffle_epi8(rgb, order), opaque);
        const __m128i old = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
        differ = _mm_or_si128(differ, _mm_xor_si128(old, bgrx));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), bgrx);
    }
    const bool changed = _mm_movemask_epi8(_mm_cmpeq_epi8(differ, _mm_setzero_si128())) != 0xffff;
    return runPlain(in, out, n - x) || changed;
}

bool hasSsse3()
{
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

// Columns x0..x1 of row y; whether any byte changed.
bool showRun(const cv::Mat& rgb, cv::Mat& shown, int y, int x0, int x1)
{
    const uchar* in = rgb.ptr<uchar>(y) + x0 * 3;
    uchar* out = shown.ptr<uchar>(y) + x0 * 4;
    return hasSsse3() ? runSsse3(in, out, x1 - x0 + 1, rgb.cols - x0) : runPlain(in, out, x1 - x0 + 1);
}

// A new buffer when the size changes, filled with a byte the conversion
// never writes in the fourth place (it writes 255), so every pixel changes.
void prepare(const cv::Mat& rgb, cv::Mat& shown)
{
    CV_Assert(rgb.type() == CV_8UC3);
    const uchar* before = shown.data;
    shown.create(rgb.size(), CV_8UC4);
    if (shown.data != before)
        shown.setTo(cv::Scalar::all(0));
}

} // namespace

cv::Rect showAsBgrx(const cv::Mat& rgb, cv::Mat& shown)
{
    prepare(rgb, shown);
    int first = -1, last = -1;
    for (int y = 0; y < rgb.rows; ++y)
        if (showRun(rgb, shown, y, 0, rgb.cols - 1)) {
            if (first < 0)
                first = y;
            last = y;
        }
    return first < 0 ? cv::Rect() : cv::Rect(0, first, rgb.cols, last - first + 1);
}

cv::Rect showAsBgrx(const cv::Mat& rgb, cv::Mat& shown, const ChangedSpans& where, std::vector<cv::Rect>* bands)
{
    if (shown.size() != rgb.size() || where.rows() != rgb.rows || where.cols() != rgb.cols) {
        const cv::Rect all = showAsBgrx(rgb, shown);
        if (bands)
            bands->assign(all.empty() ? 0 : 1, all);
        return all;
    }
    prepare(rgb, shown);
    if (bands)
        bands->clear();
    cv::Rect whole, band;
    for (int y = 0; y < rgb.rows; ++y) {
        if (y % kShownBandRows == 0 && !band.empty()) {
            if (bands)
                bands->push_back(band);
            band = cv::Rect();
        }
        const ChangedSpans::Span s = where.row(y);
        if (s.x0 > s.x1 || !showRun(rgb, shown, y, s.x0, s.x1))
            continue;
        const cv::Rect run(s.x0, y, s.x1 - s.x0 + 1, 1);
        band = band.empty() ? run : (band | run);
        whole = whole.empty() ? run : (whole | run);
    }
    if (bands && !band.empty())
        bands->push_back(band);
    return whole;
}

} // namespace scopes
