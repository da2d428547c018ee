#include "capture/QSelectLabel.h"

#include "capture/RegionMath.h"

#include <QMouseEvent>
#include <QPixmap>
#include <QRubberBand>

QSelectLabel::QSelectLabel(QWidget* parent)
    : QLabel(parent)
    , rubberBand(new QRubberBand(QRubberBand::Rectangle, this))
{
    // Never markup: see shell/PlainText.h.
    setTextFormat(Qt::PlainText);
    setAttribute(Qt::WA_MouseTracking);
    setCursor(Qt::CrossCursor);
    // Label positions are picture positions only while the picture sits at the
    // top-left corner, also when the user makes the window larger.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
}

// The shown picture in label (logical) pixels.
QSize QSelectLabel::pictureSize() const
{
    const QPixmap shown = pixmap(Qt::ReturnByValue);
    if (shown.isNull())
        return QSize();
    return shown.size() / shown.devicePixelRatioF();
}

QPoint QSelectLabel::pointOnPicture(const QPoint& labelPoint) const
{
    return clampToPicture(labelPoint, pictureSize());
}

void QSelectLabel::mousePressEvent(QMouseEvent* event)
{
    origin = pointOnPicture(event->pos());
    rubberBand->setGeometry(QRect(origin, QSize()));
    rubberBand->show();
}

// With mouse tracking on, moves arrive without a button too; the band is then
// hidden and setting its geometry shows nothing.
void QSelectLabel::mouseMoveEvent(QMouseEvent* event)
{
    rubberBand->setGeometry(QRect(origin, pointOnPicture(event->pos())).normalized());
}

void QSelectLabel::mouseReleaseEvent(QMouseEvent* event)
{
    rubberBand->hide();
    const std::optional<QRect> dragged = selectionFromDrag(origin, pointOnPicture(event->pos()));
    if (!dragged)
        return;
    selection = *dragged;
    emit rectSelected();
}
