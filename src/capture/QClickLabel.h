#pragma once

#include <QLabel>
#include <QPoint>

// A label that reports mouse gestures as argument-less signals; receivers
// read the position and button of the last event from the public fields.
class QClickLabel : public QLabel {
    Q_OBJECT
public:
    explicit QClickLabel(QWidget* parent = nullptr);

    QPoint mousePos;     // last mouse event, label coordinates
    QPoint globalPos;    // last mouse event, desktop coordinates (as the windowing system reports them)
    int mouseButton = 0; // 1 left, 2 right, 3 other after a press; 0 after a move

signals:
    void released();
    void clicked();
    void dblclicked();
    void moved();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
};
