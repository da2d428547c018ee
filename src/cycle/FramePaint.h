#pragma once

#include <cstdint>
#include <opencv2/core.hpp>
#include <vector>

namespace scopes {

// What the scopes painted over the frame after it was copied from the
// capture (the hover highlight's red): which pixels, and the bytes the copy
// had put there. The cycle takes the paint off before the next copy, so that
// the copy, comparing the new capture with the frame, finds exactly the bytes
// the screen changed, and not last cycle's highlight.
class FramePaint {
public:
    // Paints pixel `index` (row-major) of `frame` (B, G, R, A, continuous)
    // opaque red: B 0, G 0, R 255, A 255, keeping what it held.
    void paintRed(cv::Mat& frame, int index)
    {
        uchar* pixel = frame.data + static_cast<size_t>(index) * 4;
        keep(frame, index, pixel);
        pixel[0] = 0;
        pixel[1] = 0;
        pixel[2] = 255;
        pixel[3] = 255;
    }

    // Puts back what the paint covered on `frame`, and forgets it. Returns
    // the rows it covered (empty when nothing was painted). A frame that is
    // no longer the buffer painted on, or not of its size, is left as it is
    // (its copy then sees a new buffer anyway), and all its rows count.
    cv::Range undo(cv::Mat& frame);

    // Paints the same pixels red on `other`, a picture of the painted
    // frame's size (the preview's exposure view), and keeps in `otherPaint`
    // what `under` makes of the bytes the copy had put there, for its undo.
    template <typename Under> void paintSameOn(cv::Mat& other, FramePaint& otherPaint, Under under) const
    {
        if (other.size() != paintedSize || other.type() != CV_8UC4 || !other.isContinuous())
            return;
        for (const Kept& k : kept)
            otherPaint.paintRedOver(other, k.index, under(k.bytes));
    }

    bool empty() const { return kept.empty(); }
    // The rows painted on since the last undo (empty when none).
    cv::Range rows() const { return kept.empty() ? cv::Range(0, 0) : cv::Range(firstRow, lastRow + 1); }

private:
    void keep(const cv::Mat& frame, int index, const uchar* pixel);
    // paintRed, keeping `bytes` (B, G, R, A as a little-endian word) as what lay under it.
    void paintRedOver(cv::Mat& frame, int index, std::uint32_t bytes);

    struct Kept {
        int index;
        std::uint32_t bytes;
    };
    std::vector<Kept> kept; // in painting order; its buffer is kept from cycle to cycle
    const uchar* paintedOn = nullptr;
    cv::Size paintedSize;
    int firstRow = 0;
    int lastRow = 0;
};

} // namespace scopes
