#pragma once

#include <QSize>

#include <opencv2/core.hpp>

#include <vector>

class QLabel;
class QRect;

namespace scopes {
class ChangedSpans;
}

namespace display {

// A label that paints a picture of ours, four bytes a pixel, B, G, R, 255 in
// memory (QImage::Format_RGB32 on a little-endian machine), and repaints only
// what changed. Where the platform's pixmaps are images of the screen's own
// format, the label's pixmap is the picture's buffer itself: a change written
// into the buffer shows once that part of the label is repainted, with
// nothing converted or copied. Where the pixmaps are copies, a changed
// picture is handed over again.
class ShownLabel {
public:
    explicit ShownLabel(QLabel* label)
        : label(label)
    {
    }
    ShownLabel(const ShownLabel&) = delete;
    ShownLabel& operator=(const ShownLabel&) = delete;

    // Shows `picture` (B, G, R, 255), whose bytes changed since the last
    // call only in `changedRows` (empty: none), unless it is another buffer
    // or of another size than the picture shown.
    void show(const cv::Mat& picture, const cv::Range& changedRows);
    // Brings the label's own buffer up to date with `scope` (R, G, B) where
    // `changed` says (all of it when the size changed) and shows it,
    // repainting band by band what changed. Returns whether any of it changed.
    bool showScope(const cv::Mat& scope, const scopes::ChangedSpans& changed);

    // Whether the label's pixmap is the shown picture's buffer.
    bool sharesBuffer() const { return shared; }

private:
    // A label whose picture covers it paints every pixel of it: Qt need not
    // fill the background under each repainted rectangle first.
    void markOpaqueWhereCovered(const cv::Mat& picture);
    // Hands `picture` over when the label cannot show it by a repaint; returns whether it did.
    bool handOverIfNeeded(const cv::Mat& picture, bool changed);
    QRect place(const cv::Mat& picture) const;

    QLabel* label;
    // The picture last handed over: while the label's pixmap may be its
    // buffer, this header keeps the buffer alive.
    cv::Mat shown;
    bool shared = false;
    // The sizes of the label and its picture when the label was last marked opaque or not.
    QSize checkedLabel;
    cv::Size checkedPicture;
    // showScope's B, G, R, 255 form of the scope, and where a cycle changed it, band by band.
    cv::Mat scopeBuffer;
    std::vector<cv::Rect> scopeBands;
};

} // namespace display
