#include "cycle/FramePaint.h"

#include <algorithm>
#include <cstring>

namespace scopes {

void FramePaint::keep(const cv::Mat& frame, int index, const uchar* pixel)
{
    const int row = index / std::max(1, frame.cols);
    if (kept.empty() || paintedOn != frame.data || paintedSize != frame.size()) {
        kept.clear();
        paintedOn = frame.data;
        paintedSize = frame.size();
        firstRow = lastRow = row;
    }
    firstRow = std::min(firstRow, row);
    lastRow = std::max(lastRow, row);
    std::uint32_t bytes;
    std::memcpy(&bytes, pixel, 4);
    kept.push_back({ index, bytes });
}

void FramePaint::paintRedOver(cv::Mat& frame, int index, std::uint32_t bytes)
{
    paintRed(frame, index);
    std::memcpy(&kept.back().bytes, &bytes, 4);
}

cv::Range FramePaint::undo(cv::Mat& frame)
{
    if (kept.empty())
        return cv::Range(0, 0);
    const cv::Range covered = rows();
    const bool same = frame.data == paintedOn && frame.size() == paintedSize && frame.type() == CV_8UC4;
    if (same) {
        // Last painted first: a pixel painted twice gets back what the copy put there.
        for (auto k = kept.rbegin(); k != kept.rend(); ++k)
            std::memcpy(frame.data + static_cast<size_t>(k->index) * 4, &k->bytes, 4);
    }
    kept.clear();
    paintedOn = nullptr;
    return same ? covered : cv::Range(0, frame.rows);
}

} // namespace scopes
