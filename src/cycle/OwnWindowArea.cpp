#include "cycle/OwnWindowArea.h"

#include <algorithm>
#include <cstring>

namespace scopes {

namespace {

long long floorDiv(long long a, long long b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

long long ceilDiv(long long a, long long b)
{
    return -floorDiv(-a, b);
}

} // namespace

cv::Vec2i coveredRange(long long from, long long to, int sourceLength, int outLength)
{
    if (sourceLength <= 0 || outLength <= 0 || from >= to)
        return cv::Vec2i(0, 0);
    // Frame pixel i stands for [i S / O, (i + 1) S / O): it meets [from, to)
    // when i S < to O and (i + 1) S > from O.
    const long long s = sourceLength, o = outLength;
    const long long first = std::clamp(floorDiv(from * o, s), 0LL, o);
    const long long end = std::clamp(ceilDiv(to * o, s), 0LL, o);
    return first < end ? cv::Vec2i(static_cast<int>(first), static_cast<int>(end)) : cv::Vec2i(0, 0);
}

bool OwnWindowArea::place(
    const platform::Rect& captured, int cols, int rows, const std::vector<platform::Rect>& windows)
{
    // Last cycle's rectangles kept aside to compare; both buffers are reused.
    previousRects.swap(frameRects);
    frameRects.clear();
    const cv::Size sizeBefore = frameSize;
    frameSize = cv::Size(cols, rows);
    for (const platform::Rect& w : windows) {
        const cv::Vec2i xs = coveredRange(static_cast<long long>(w.left) - captured.left,
            static_cast<long long>(w.right) - captured.left, captured.width(), cols);
        const cv::Vec2i ys = coveredRange(static_cast<long long>(w.top) - captured.top,
            static_cast<long long>(w.bottom) - captured.top, captured.height(), rows);
        if (xs[0] < xs[1] && ys[0] < ys[1])
            frameRects.emplace_back(xs[0], ys[0], xs[1] - xs[0], ys[1] - ys[0]);
    }
    if (frameRects == previousRects && (frameRects.empty() || sizeBefore == frameSize))
        return false;

    columnCounts.assign(static_cast<size_t>(std::max(cols, 0)), 0u);
    count = 0;
    firstRow = rows;
    endRow = 0;
    for (const cv::Rect& r : frameRects) {
        firstRow = std::min(firstRow, r.y);
        endRow = std::max(endRow, r.y + r.height);
    }
    for (int y = firstRow; y < endRow; ++y)
        forEachRun(y, [&](int x0, int x1) {
            count += static_cast<std::uint32_t>(x1 - x0);
            for (int x = x0; x < x1; ++x)
                ++columnCounts[static_cast<size_t>(x)];
        });
    return true;
}

template <typename Fn> void OwnWindowArea::forEachRun(int y, Fn fn) const
{
    runs.clear();
    for (const cv::Rect& r : frameRects)
        if (y >= r.y && y < r.y + r.height)
            runs.emplace_back(r.x, r.x + r.width);
    std::sort(runs.begin(), runs.end(), [](const cv::Vec2i& a, const cv::Vec2i& b) { return a[0] < b[0]; });
    for (size_t i = 0; i < runs.size();) {
        int x0 = runs[i][0], x1 = runs[i][1];
        for (++i; i < runs.size() && runs[i][0] <= x1; ++i)
            x1 = std::max(x1, runs[i][1]);
        fn(x0, x1);
    }
}

bool OwnWindowArea::contains(int x, int y) const
{
    for (const cv::Rect& r : frameRects)
        if (r.contains(cv::Point(x, y)))
            return true;
    return false;
}

void OwnWindowArea::blackenInto(const cv::Mat& frame, cv::Mat& out) const
{
    CV_Assert(frame.type() == CV_8UC4);
    frame.copyTo(out);
    if (out.size() != frameSize)
        return;
    for (const cv::Rect& r : frameRects)
        for (int y = r.y; y < r.y + r.height; ++y) {
            uchar* pixel = out.ptr<uchar>(y) + static_cast<size_t>(r.x) * 4;
            for (int x = 0; x < r.width; ++x, pixel += 4)
                pixel[0] = pixel[1] = pixel[2] = 0;
        }
}

void FrameShade::paint(const OwnWindowArea& area, const cv::Mat& captured, cv::Mat& frame)
{
    runs.clear();
    kept.clear();
    if (area.empty() || captured.size() != frame.size() || captured.type() != CV_8UC4 || frame.type() != CV_8UC4)
        return;
    paintedOn = frame.data;
    paintedSize = frame.size();
    area.forEachRun([&](int y, int x0, int x1) {
        if (y >= frame.rows || x1 > frame.cols)
            return;
        if (runs.empty())
            firstRow = y;
        lastRow = y;
        runs.push_back({ y, x0, x1 });
        std::uint32_t* out = frame.ptr<std::uint32_t>(y);
        const std::uint32_t* in = captured.ptr<std::uint32_t>(y);
        kept.insert(kept.end(), out + x0, out + x1);
        // A quarter of each of B, G and R; the fourth byte as captured.
        for (int x = x0; x < x1; ++x)
            out[x] = ((in[x] >> 2) & 0x003f3f3fu) | (in[x] & 0xff000000u);
    });
}

cv::Range FrameShade::undo(cv::Mat& frame)
{
    if (runs.empty())
        return cv::Range(0, 0);
    const cv::Range covered = rows();
    const bool same = frame.data == paintedOn && frame.size() == paintedSize && frame.type() == CV_8UC4;
    if (same) {
        const std::uint32_t* from = kept.data();
        for (const Run& r : runs) {
            std::memcpy(frame.ptr<std::uint32_t>(r.y) + r.x0, from, static_cast<size_t>(r.x1 - r.x0) * 4);
            from += r.x1 - r.x0;
        }
    }
    runs.clear();
    kept.clear();
    paintedOn = nullptr;
    return same ? covered : cv::Range(0, frame.rows);
}

} // namespace scopes
