// GCC 12's own AVX-512 headers trip these warnings (GCC bug 105593).
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"

#include "scopes/FloatReplicas.h"
#include "scopes/FusedMultiplyAdd.h"
#include "scopes/SmoothingSums.h"

#include <opencv2/imgproc.hpp>

#include <immintrin.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cfloat>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace scopes {

namespace {

constexpr std::array<SumForm, 3> kForms { SumForm::NeighboursFirstFused, SumForm::CentreFirstFused, SumForm::Unfused };

// Random numbers in [0, 1) with a quarter of them 0, like sparse plots.
cv::Mat calibrationPicture(int rows, int cols, uint64 seed)
{
    cv::RNG rng(seed);
    cv::Mat picture(rows, cols, CV_32F);
    rng.fill(picture, cv::RNG::UNIFORM, 0.0, 1.0);
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < cols; ++x)
            if (rng.uniform(0, 4) == 0)
                picture.at<float>(y, x) = 0.0f;
    return picture;
}

// Tests make OpenCV's smoothing look different from every known order.
std::atomic<bool> smoothingCheckUpset { false };

SumForm mostCommon(const std::vector<SumForm>& forms)
{
    std::array<int, 3> counts {};
    for (SumForm f : forms)
        ++counts[static_cast<int>(f)];
    return kForms[std::max_element(counts.begin(), counts.end()) - counts.begin()];
}

std::unique_ptr<SmoothingOrder> calibrateGaussian(int taps, int width, int height)
{
    auto order = std::make_unique<SmoothingOrder>();
    order->taps = taps;
    order->width = width;
    const cv::Mat kernel = cv::getGaussianKernel(taps, 1.0, CV_32F);
    const int r = taps / 2;
    for (int i = 0; i <= r; ++i)
        order->k[i] = kernel.at<float>(r + i);
    if (width < taps)
        return order;

    // Pictures of the real height: OpenCV may pick its code by the whole size.
    const int rows = std::max(height, taps);
    const cv::Mat src = calibrationPicture(rows, width, 0x5eed0000u + uint64(taps * 1000 + width));
    cv::Mat reference;
    cv::GaussianBlur(src, reference, cv::Size(taps, taps), 1.0, 0, cv::BORDER_DEFAULT);
    if (smoothingCheckUpset.load(std::memory_order_relaxed)) {
        float& cell = reference.at<float>(rows / 2, width / 2);
        cell = std::nextafter(cell, 2.0f);
    }

    order->across.resize(width);
    order->down.resize(width);
    std::vector<float> across(rows);
    for (int x = 0; x < width; ++x) {
        bool found = false;
        for (SumForm a : kForms) {
            for (int y = 0; y < rows; ++y) {
                float v[5];
                for (int i = 0; i < taps; ++i)
                    v[i] = src.at<float>(y, reflect101(x - r + i, width));
                across[y] = smoothedValue(*order, a, v);
            }
            for (SumForm d : kForms) {
                bool same = true;
                for (int y = 0; y < rows && same; ++y) {
                    float v[5];
                    for (int i = 0; i < taps; ++i)
                        v[i] = across[reflect101(y - r + i, rows)];
                    same = smoothedValue(*order, d, v) == reference.at<float>(y, x);
                }
                if (same) {
                    order->across[x] = a;
                    order->down[x] = d;
                    found = true;
                    break;
                }
            }
            if (found)
                break;
        }
        if (!found)
            return order;
    }
    order->mainAcross = mostCommon(order->across);
    order->mainDown = mostCommon(order->down);
    for (int x = 0; x < width; ++x) {
        if (order->across[x] != order->mainAcross)
            order->oddAcross.push_back(x);
        if (order->down[x] != order->mainDown)
            order->oddDown.push_back(x);
    }
    order->known = true;
    return order;
}

std::vector<RowBlend> rowBlends(int fromRows, int toRows)
{
    // The coefficients as OpenCV's linear resize makes them: source position
    // in single precision, floor, fraction; rows outside clamped to the edge.
    const double scale = 1.0 / (static_cast<double>(toRows) / fromRows);
    std::vector<RowBlend> blends(toRows);
    for (int dy = 0; dy < toRows; ++dy) {
        float fy = static_cast<float>((dy + 0.5) * scale - 0.5);
        const int sy = static_cast<int>(std::floor(fy));
        fy -= static_cast<float>(sy);
        RowBlend& b = blends[dy];
        b.from0 = std::clamp(sy, 0, fromRows - 1);
        b.from1 = std::clamp(sy + 1, 0, fromRows - 1);
        b.b0 = 1.0f - fy;
        b.b1 = fy;
    }
    return blends;
}

float blendRows(const RowBlend& b, float s0, float s1)
{
    return s0 * b.b0 + s1 * b.b1;
}

bool checkRowBlends(int width, int fromRows, int toRows, const std::vector<RowBlend>& blends)
{
    cv::Mat src = calibrationPicture(fromRows, width, 0xb1e0d000u + uint64(width * 7 + toRows));
    // Counts are whole numbers: mix some in.
    for (int y = 0; y < fromRows; y += 3)
        for (int x = 0; x < width; ++x)
            src.at<float>(y, x) = std::floor(src.at<float>(y, x) * 300.0f);
    cv::Mat reference;
    cv::resize(src, reference, cv::Size(width, toRows), 0, 0, cv::INTER_LINEAR);
    for (int dy = 0; dy < toRows; ++dy) {
        const float* s0 = src.ptr<float>(blends[dy].from0);
        const float* s1 = src.ptr<float>(blends[dy].from1);
        const float* out = reference.ptr<float>(dy);
        for (int x = 0; x < width; ++x)
            if (blendRows(blends[dy], s0[x], s1[x]) != out[x])
                return false;
    }
    return true;
}

// --- Vector code --------------------------------------------------------------
// The same sums as smoothedValue, 8 columns at a time (AVX2), one loop per
// kernel size and form so that nothing is decided per column. One copy: the
// Waveform's AVX-512 copies of these and its other loops together gained
// nothing measurable at 600 columns and under a tenth at 400.

#define HUELENS_WIDE "avx2,fma"

template <int Taps, SumForm Form>
__attribute__((target(HUELENS_WIDE))) int across8(const float* k, const float* in, float* out, int count)
{
    constexpr int r = Taps / 2;
    const __m256 k0 = _mm256_set1_ps(k[0]), k1 = _mm256_set1_ps(k[1]), k2 = _mm256_set1_ps(k[2]);
    if (count < 8)
        return 0;
    // The last eight columns again, overlapping: recomputing a column gives the same bits.
    for (int i = 0;; i += 8) {
        i = std::min(i, count - 8);
        const float* c = in + r + i;
        const __m256 p1 = _mm256_add_ps(_mm256_loadu_ps(c - 1), _mm256_loadu_ps(c + 1));
        const __m256 p2 = Taps == 5 ? _mm256_add_ps(_mm256_loadu_ps(c - r), _mm256_loadu_ps(c + r)) : p1;
        _mm256_storeu_ps(out + i, sum8<Taps, Form>(k0, k1, k2, _mm256_loadu_ps(c), p1, p2));
        if (i == count - 8)
            return count;
    }
}

template <int Taps, SumForm Form>
__attribute__((target(HUELENS_WIDE))) int down8(const float* k, const float* const* rows, float* out, int count)
{
    constexpr int r = Taps / 2;
    const __m256 k0 = _mm256_set1_ps(k[0]), k1 = _mm256_set1_ps(k[1]), k2 = _mm256_set1_ps(k[2]);
    if (count < 8)
        return 0;
    for (int i = 0;; i += 8) {
        i = std::min(i, count - 8);
        const __m256 p1 = _mm256_add_ps(_mm256_loadu_ps(rows[r - 1] + i), _mm256_loadu_ps(rows[r + 1] + i));
        const __m256 p2
            = Taps == 5 ? _mm256_add_ps(_mm256_loadu_ps(rows[0] + i), _mm256_loadu_ps(rows[Taps - 1] + i)) : p1;
        _mm256_storeu_ps(out + i, sum8<Taps, Form>(k0, k1, k2, _mm256_loadu_ps(rows[r] + i), p1, p2));
        if (i == count - 8)
            return count;
    }
}

// Both horizontal passes of a row at once: they read the same values and
// share the neighbours' sum, the same rounded addition in both.
template <SumForm Form3, SumForm Form5>
__attribute__((target(HUELENS_WIDE))) void acrossBoth8(
    const float* k3, const float* k5, const float* in, float* out3, float* out5, int count)
{
    const __m256 k30 = _mm256_set1_ps(k3[0]), k31 = _mm256_set1_ps(k3[1]);
    const __m256 k50 = _mm256_set1_ps(k5[0]), k51 = _mm256_set1_ps(k5[1]), k52 = _mm256_set1_ps(k5[2]);
    for (int i = 0;; i += 8) {
        i = std::min(i, count - 8);
        const float* c = in + 2 + i;
        const __m256 b = _mm256_loadu_ps(c);
        const __m256 p1 = _mm256_add_ps(_mm256_loadu_ps(c - 1), _mm256_loadu_ps(c + 1));
        const __m256 p2 = _mm256_add_ps(_mm256_loadu_ps(c - 2), _mm256_loadu_ps(c + 2));
        _mm256_storeu_ps(out3 + i, sum8<3, Form3>(k30, k31, k31, b, p1, p1));
        _mm256_storeu_ps(out5 + i, sum8<5, Form5>(k50, k51, k52, b, p1, p2));
        if (i == count - 8)
            return;
    }
}

template <int Taps> int acrossVector(SumForm form, const float* k, const float* in, float* out, int count)
{
    return withForm(form, [&](auto f) { return across8<Taps, decltype(f)::value>(k, in, out, count); });
}

template <int Taps> int downVector(SumForm form, const float* k, const float* const* rows, float* out, int count)
{
    return withForm(form, [&](auto f) { return down8<Taps, decltype(f)::value>(k, rows, out, count); });
}

int wideAcross(const SmoothingOrder& o, const float* in, float* out, int count)
{
    return o.taps == 5 ? acrossVector<5>(o.mainAcross, o.k, in, out, count)
                       : acrossVector<3>(o.mainAcross, o.k, in, out, count);
}

int wideDown(const SmoothingOrder& o, const float* const* rows, float* out, int count)
{
    return o.taps == 5 ? downVector<5>(o.mainDown, o.k, rows, out, count)
                       : downVector<3>(o.mainDown, o.k, rows, out, count);
}

} // namespace

namespace {

ScopePath processorPath()
{
    static const ScopePath widest = [] {
        if (!__builtin_cpu_supports("avx2") || !__builtin_cpu_supports("fma"))
            return ScopePath::Plain;
        const bool avx512 = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw")
            && __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl");
        return avx512 ? ScopePath::Avx512 : ScopePath::Avx2;
    }();
    return widest;
}

std::atomic<int> chosenPath { -1 };

} // namespace

ScopePath scopePath()
{
    // The environment's choice, read once, until a test sets another.
    static const int fromEnvironment = [] {
        const char* asked = std::getenv("HUELENS_SCOPE_PATH");
        for (ScopePath path : { ScopePath::Plain, ScopePath::Avx2 })
            if (asked && std::strcmp(asked, scopePathName(path)) == 0)
                return static_cast<int>(std::min(path, processorPath()));
        return static_cast<int>(processorPath());
    }();
    const int chosen = chosenPath.load(std::memory_order_relaxed);
    return static_cast<ScopePath>(chosen < 0 ? fromEnvironment : chosen);
}

std::vector<ScopePath> runnableScopePaths()
{
    std::vector<ScopePath> paths;
    for (int p = static_cast<int>(processorPath()); p >= 0; --p)
        paths.push_back(static_cast<ScopePath>(p));
    return paths;
}

const char* scopePathName(ScopePath path)
{
    return path == ScopePath::Avx512 ? "avx512" : path == ScopePath::Avx2 ? "avx2" : "plain";
}

void setScopePath(ScopePath path)
{
    chosenPath.store(static_cast<int>(std::min(path, processorPath())), std::memory_order_relaxed);
}

bool wideVectors()
{
    return scopePath() >= ScopePath::Avx2;
}

bool widestVectors()
{
    return scopePath() == ScopePath::Avx512;
}

float smoothedValue(const SmoothingOrder& order, SumForm form, const float* v)
{
    const float* k = order.k;
    if (order.taps == 3) {
        const float b = v[1];
        const float p1 = v[0] + v[2];
        switch (form) {
        case SumForm::NeighboursFirstFused:
            return fusedMultiplyAdd(k[0], b, k[1] * p1);
        case SumForm::CentreFirstFused:
            return fusedMultiplyAdd(k[1], p1, k[0] * b);
        case SumForm::Unfused:
        default:
            return k[0] * b + k[1] * p1;
        }
    }
    const float b = v[2];
    const float p1 = v[1] + v[3];
    const float p2 = v[0] + v[4];
    switch (form) {
    case SumForm::NeighboursFirstFused:
        return fusedMultiplyAdd(k[2], p2, fusedMultiplyAdd(k[0], b, k[1] * p1));
    case SumForm::CentreFirstFused:
        return fusedMultiplyAdd(k[2], p2, fusedMultiplyAdd(k[1], p1, k[0] * b));
    case SumForm::Unfused:
    default:
        return (k[0] * b + k[1] * p1) + k[2] * p2;
    }
}

const SmoothingOrder& gaussianOrder(int taps, int width, int height)
{
    static std::mutex lock;
    static std::map<std::array<int, 3>, std::unique_ptr<SmoothingOrder>> found;
    const std::lock_guard<std::mutex> hold(lock);
    std::unique_ptr<SmoothingOrder>& order = found[{ taps, width, height }];
    if (!order) {
        order = calibrateGaussian(taps, width, height);
        if (!order->known)
            noteFallback(QStringLiteral("scope plain path: %1 x %2 smoothing (%3 taps) does not repeat OpenCV's")
                             .arg(width)
                             .arg(height)
                             .arg(taps));
    }
    return *order;
}

namespace {

std::mutex notesLock;
QStringList notes;

} // namespace

void upsetSmoothingCheckForTests(bool upset)
{
    smoothingCheckUpset.store(upset, std::memory_order_relaxed);
}

void noteFallback(const QString& text)
{
    const std::lock_guard<std::mutex> hold(notesLock);
    notes.append(text);
}

QStringList takeFallbackNotes()
{
    const std::lock_guard<std::mutex> hold(notesLock);
    QStringList taken;
    taken.swap(notes);
    return taken;
}

int reflect101(int i, int n)
{
    if (n == 1)
        return 0;
    while (i < 0 || i >= n)
        i = i < 0 ? -i : 2 * n - 2 - i;
    return i;
}

void smoothAcross(const SmoothingOrder& order, const float* in, float* out, int x0, int count)
{
    int i = wideVectors() ? wideAcross(order, in, out, count) : 0;
    for (; i < count; ++i)
        out[i] = smoothedValue(order, order.mainAcross, in + i);
    for (int x : order.oddAcross)
        if (x >= x0 && x < x0 + count)
            out[x - x0] = smoothedValue(order, order.across[x], in + (x - x0));
}

void smoothAcrossBoth(
    const SmoothingOrder& order3, const SmoothingOrder& order5, const float* in, float* out3, float* out5, int width)
{
    if (!wideVectors() || width < 8) {
        smoothAcross(order3, in + 1, out3, 0, width);
        smoothAcross(order5, in, out5, 0, width);
        return;
    }
    withForm(order3.mainAcross, [&](auto f3) {
        withForm(order5.mainAcross, [&](auto f5) {
            acrossBoth8<decltype(f3)::value, decltype(f5)::value>(order3.k, order5.k, in, out3, out5, width);
        });
    });
    for (int x : order3.oddAcross)
        if (x < width)
            out3[x] = smoothedValue(order3, order3.across[x], in + 1 + x);
    for (int x : order5.oddAcross)
        if (x < width)
            out5[x] = smoothedValue(order5, order5.across[x], in + x);
}

void smoothDown(const SmoothingOrder& order, const float* const* rows, float* out, int x0, int count)
{
    int i = wideVectors() ? wideDown(order, rows, out, count) : 0;
    float v[5];
    for (; i < count; ++i) {
        for (int k = 0; k < order.taps; ++k)
            v[k] = rows[k][i];
        out[i] = smoothedValue(order, order.mainDown, v);
    }
    for (int x : order.oddDown) {
        if (x < x0 || x >= x0 + count)
            continue;
        for (int k = 0; k < order.taps; ++k)
            v[k] = rows[k][x - x0];
        out[x - x0] = smoothedValue(order, order.down[x], v);
    }
}

const std::vector<RowBlend>* linearRowBlends(int width, int fromRows, int toRows)
{
    struct Found {
        bool exact = false;
        std::vector<RowBlend> blends;
    };
    static std::mutex lock;
    static std::map<std::array<int, 3>, Found> found;
    const std::lock_guard<std::mutex> hold(lock);
    const std::array<int, 3> key { width, fromRows, toRows };
    auto it = found.find(key);
    if (it == found.end()) {
        Found f;
        if (width > 0 && fromRows > 0 && toRows > 0) {
            f.blends = rowBlends(fromRows, toRows);
            f.exact = checkRowBlends(width, fromRows, toRows, f.blends);
        }
        if (!f.exact)
            noteFallback(QStringLiteral("scope plain path: %1 x %2 stretching does not repeat OpenCV's")
                             .arg(width)
                             .arg(toRows));
        it = found.emplace(key, std::move(f)).first;
    }
    return it->second.exact ? &it->second.blends : nullptr;
}

const float* byteUnits()
{
    static const std::array<float, 256> units = [] {
        std::array<float, 256> u {};
        // Every byte inside a long run (vector code) and alone (scalar code).
        cv::Mat run(1, 256 * 3, CV_8UC1);
        for (int i = 0; i < run.cols; ++i)
            run.at<uchar>(0, i) = static_cast<uchar>(i / 3);
        cv::Mat runUnits;
        run.convertTo(runUnits, CV_32F, 0.00392156862745098, 0);
        for (int v = 0; v < 256; ++v) {
            cv::Mat one(1, 1, CV_8UC1, cv::Scalar(v)), oneUnit;
            one.convertTo(oneUnit, CV_32F, 0.00392156862745098, 0);
            u[v] = oneUnit.at<float>(0, 0);
            for (int c = 0; c < 3; ++c)
                if (runUnits.at<float>(0, v * 3 + c) != u[v])
                    u[0] = -1.0f; // marks the table unusable
        }
        return u;
    }();
    return units[0] == 0.0f ? units.data() : nullptr;
}

float normalizeScale(float largest)
{
    const double range = static_cast<double>(largest);
    return static_cast<float>(range > DBL_EPSILON ? 1.0 / range : 0.0);
}

bool normalizeScalesOnly()
{
    static const bool exact = [] {
        for (int width : { 1, 7, 64, 133, 400 }) {
            cv::Mat src = calibrationPicture(37, width, 0x40e3a1u + uint64(width));
            src.at<float>(0, 0) = 0.0f;
            src *= 3.7;
            cv::Mat reference;
            cv::normalize(src, reference, 0, 1, cv::NORM_MINMAX);
            double largest = 0;
            cv::minMaxLoc(src, nullptr, &largest);
            const float scale = normalizeScale(static_cast<float>(largest));
            for (int y = 0; y < src.rows; ++y)
                for (int x = 0; x < src.cols; ++x)
                    if (src.at<float>(y, x) * scale != reference.at<float>(y, x))
                        return false;
        }
        return true;
    }();
    return exact;
}

} // namespace scopes
