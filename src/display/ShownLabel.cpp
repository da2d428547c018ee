#include "display/ShownLabel.h"

#include "display/ShownPicture.h"

#include <QImage>
#include <QLabel>
#include <QPixmap>
#include <QRect>
#include <QRegion>
#include <QStyle>

namespace display {

namespace {

// Hands `label` a pixmap of `picture`; returns whether the pixmap is the
// picture's buffer itself, that is, whether later changes to the buffer
// show once the label is repainted.
bool giveLabel(QLabel* label, const cv::Mat& picture)
{
    const QPixmap pixmap = QPixmap::fromImage(
        QImage(picture.data, picture.cols, picture.rows, static_cast<int>(picture.step), QImage::Format_RGB32));
    label->setPixmap(pixmap);
    return pixmap.toImage().constBits() == picture.data;
}

} // namespace

void ShownLabel::show(const cv::Mat& picture, const cv::Range& changedRows)
{
    markOpaqueWhereCovered(picture);
    const bool changed = !changedRows.empty();
    if (handOverIfNeeded(picture, changed) || !changed)
        return;
    const QRect where = place(picture);
    label->update(where.x(), where.y() + changedRows.start, where.width(), changedRows.size());
}

// The label is checked against the picture it shows until this call (the
// new scope picture may be of another size: the next call sees that).
bool ShownLabel::showScope(const cv::Mat& scope, const scopes::ChangedSpans& changed)
{
    markOpaqueWhereCovered(scopeBuffer);
    scopes::showAsBgrx(scope, scopeBuffer, changed, &scopeBands);
    if (scopeBands.empty()) {
        handOverIfNeeded(scopeBuffer, false);
        return false;
    }
    if (handOverIfNeeded(scopeBuffer, true))
        return true;
    // Band by band: scattered cells would make one rectangle of most of the plot.
    const QRect where = place(scopeBuffer);
    QRegion repaint;
    for (const cv::Rect& band : scopeBands)
        repaint += QRect(where.x() + band.x, where.y() + band.y, band.width, band.height);
    label->update(repaint);
    return true;
}

// Where the label paints its picture is worked out again only when the
// label or the picture changed size.
void ShownLabel::markOpaqueWhereCovered(const cv::Mat& picture)
{
    if (label->size() == checkedLabel && picture.size() == checkedPicture)
        return;
    checkedLabel = label->size();
    checkedPicture = picture.size();
    const bool covered = !picture.empty() && place(picture).contains(label->rect());
    if (label->testAttribute(Qt::WA_OpaquePaintEvent) != covered)
        label->setAttribute(Qt::WA_OpaquePaintEvent, covered);
}

// A picture of another size is a new buffer, even where the allocator hands
// back the old one's address: the label's pixmap has the old size. A pixmap
// that is a copy shows a change only when handed over again.
bool ShownLabel::handOverIfNeeded(const cv::Mat& picture, bool changed)
{
    const bool newBuffer = picture.data != shown.data || picture.size() != shown.size();
    if (!newBuffer && shared)
        return false;
    if (newBuffer || changed) {
        shown = picture;
        shared = giveLabel(label, picture);
    }
    return true;
}

// Where the label paints its pixmap: its rectangle in the label.
QRect ShownLabel::place(const cv::Mat& picture) const
{
    const Qt::LayoutDirection direction = label->layoutDirection();
    return QStyle::alignedRect(direction, QStyle::visualAlignment(direction, label->alignment()),
        QSize(picture.cols, picture.rows), label->contentsRect());
}

} // namespace display
