#pragma once

#include <QLabel>
#include <QPoint>
#include <QRect>

class QRubberBand;

// The screenshot of the region selection window. The user drags a rectangle
// with a rubber band; when the drag ends, `selection` holds it (label pixels,
// Qt's inclusive convention) and rectSelected() is emitted. The screenshot is
// kept at the label's top-left corner, so label pixels are picture pixels.
class QSelectLabel : public QLabel {
    Q_OBJECT
public:
    explicit QSelectLabel(QWidget* parent);

    QRect selection; // null until the first drag
    int monitorIndex = 0; // monitor whose screenshot is shown; set by the owning window

signals:
    void rectSelected();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    QSize pictureSize() const;
    QPoint pointOnPicture(const QPoint& labelPoint) const;

    QRubberBand* rubberBand;
    QPoint origin;
};
