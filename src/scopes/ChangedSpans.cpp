#include "scopes/ChangedSpans.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>

namespace scopes {

void ChangedSpans::none(int rows, int cols)
{
    spans.assign(static_cast<size_t>(std::max(rows, 0)), Span { INT_MAX, INT_MIN });
    width = cols;
    first = 0;
    last = -1;
}

void ChangedSpans::all(int rows, int cols)
{
    spans.assign(static_cast<size_t>(std::max(rows, 0)), Span { 0, cols - 1 });
    width = cols;
    first = 0;
    last = cols > 0 ? rows - 1 : -1;
}

void ChangedSpans::add(int y, int x0, int x1)
{
    x0 = std::max(x0, 0);
    x1 = std::min(x1, width - 1);
    if (y < 0 || y >= rows() || x0 > x1)
        return;
    Span& s = spans[static_cast<size_t>(y)];
    s = { std::min(s.x0, x0), std::max(s.x1, x1) };
    if (first > last) {
        first = last = y;
    } else {
        first = std::min(first, y);
        last = std::max(last, y);
    }
}

void ChangedSpans::add(const cv::Rect& area)
{
    for (int y = area.y; y < area.y + area.height; ++y)
        add(y, area.x, area.x + area.width - 1);
}

void ChangedSpans::add(const ChangedSpans& other)
{
    const int n = std::min(rows(), other.rows());
    for (int y = std::max(other.first, 0); y <= std::min(other.last, n - 1); ++y)
        add(y, other.spans[static_cast<size_t>(y)].x0, other.spans[static_cast<size_t>(y)].x1);
}

void ChangedSpans::addLine(cv::Point a, cv::Point b)
{
    constexpr int kReach = 2;
    if (a.y > b.y)
        std::swap(a, b);
    // x along the ideal line at row y (clamped to its ends), in double precision.
    const auto xAt = [&](int y) {
        if (b.y == a.y)
            return static_cast<double>(y <= a.y ? a.x : b.x);
        const int clamped = std::clamp(y, a.y, b.y);
        return a.x + static_cast<double>(b.x - a.x) * (clamped - a.y) / (b.y - a.y);
    };
    const int top = std::max(a.y - kReach, 0), bottom = std::min(b.y + kReach, rows() - 1);
    for (int y = top; y <= bottom; ++y) {
        double x0 = xAt(y - kReach), x1 = xAt(y + kReach);
        if (a.y == b.y) {
            x0 = std::min(a.x, b.x);
            x1 = std::max(a.x, b.x);
        }
        if (x0 > x1)
            std::swap(x0, x1);
        add(y, static_cast<int>(std::floor(x0)) - kReach, static_cast<int>(std::ceil(x1)) + kReach);
    }
}

void copySpans(const cv::Mat& from, cv::Mat& to, const ChangedSpans& where)
{
    CV_Assert(
        from.size() == to.size() && from.type() == to.type() && where.rows() == from.rows && where.cols() == from.cols);
    if (!where.any())
        return;
    const size_t pixel = from.elemSize();
    for (int y = 0; y < from.rows; ++y) {
        const ChangedSpans::Span s = where.row(y);
        if (s.x0 <= s.x1)
            std::memcpy(to.ptr<uchar>(y) + s.x0 * pixel, from.ptr<uchar>(y) + s.x0 * pixel,
                static_cast<size_t>(s.x1 - s.x0 + 1) * pixel);
    }
}

bool fewRowsDiffer(const cv::Mat& frameBgra, const cv::Mat& kept, std::vector<int>& rows)
{
    const size_t rowBytes = static_cast<size_t>(frameBgra.cols) * 4;
    rows.clear();
    for (int y = 0; y < frameBgra.rows; ++y) {
        if (std::memcmp(frameBgra.ptr(y), kept.ptr(y), rowBytes) == 0)
            continue;
        rows.push_back(y);
        if (rows.size() * 4 > static_cast<size_t>(frameBgra.rows))
            return false;
    }
    return true;
}

} // namespace scopes
