#pragma once

#include <QList>
#include <QMainWindow>
#include <QRect>
#include <QString>

#include <opencv2/core.hpp>

class QSelectLabel;
class QToolButton;
class ScreenService;

// Lets the user pick a capture rectangle on a screenshot of one monitor: one
// checkable button per monitor above the screenshot, shown at three quarters
// of the monitor's size. When a drag ends the window converts it to monitor
// pixels, emits rectSelected() and closes. A region window serves one
// selection: it deletes itself when it closes, with its screenshot.
class QSelectRegionWindow : public QMainWindow {
    Q_OBJECT
public:
    // `service` is not owned and must outlive the window.
    QSelectRegionWindow(const QString& appName, ScreenService* service, QWidget* parent);
    ~QSelectRegionWindow() override;

    QRect selection; // the result in monitor pixels; null until a drag ends
    int monitorIndex = -1; // monitor of the result

signals:
    void rectSelected();

public slots:
    void switchDevice(int adapter_index);
    void rectSelectedSlot();

private:
    void grabMonitor(int index);
    void placeOnCursorScreen();

    cv::Mat screenshot; // B, G, R, A; scaled for display
    ScreenService* service;
    QSelectLabel* label = nullptr;
    QList<QToolButton*> buttons;
    // Screenshot pixels per logical label pixel: the shown pixmap's device
    // pixel ratio, so the picture covers three quarters of the monitor in
    // physical pixels at any scale factor.
    double pixelRatio = 1.0;
};
