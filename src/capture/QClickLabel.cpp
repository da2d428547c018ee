#include "capture/QClickLabel.h"

#include <QMouseEvent>

QClickLabel::QClickLabel(QWidget* parent)
    : QLabel(parent)
{
    // Never markup: see shell/PlainText.h.
    setTextFormat(Qt::PlainText);
    setAttribute(Qt::WA_MouseTracking);
}

void QClickLabel::mousePressEvent(QMouseEvent* event)
{
    mousePos = event->pos();
    globalPos = event->globalPos();
    switch (event->button()) {
    case Qt::LeftButton:
        mouseButton = 1;
        break;
    case Qt::RightButton:
        mouseButton = 2;
        break;
    default:
        mouseButton = 3;
        break;
    }
    emit clicked();
}

void QClickLabel::mouseReleaseEvent(QMouseEvent* event)
{
    mousePos = event->pos();
    globalPos = event->globalPos();
    emit released();
}

// The second press of a double click arrives here, not as a press.
void QClickLabel::mouseDoubleClickEvent(QMouseEvent* event)
{
    mousePos = event->pos();
    globalPos = event->globalPos();
    emit dblclicked();
}

void QClickLabel::mouseMoveEvent(QMouseEvent* event)
{
    mousePos = event->pos();
    globalPos = event->globalPos();
    mouseButton = 0;
    emit moved();
}
