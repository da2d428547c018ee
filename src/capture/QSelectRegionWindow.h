#pragma once

#include <QList>
#include <QMainWindow>
#include <QRect>
#include <QString>

#include <opencv2/core.hpp>
#include <vector>

class QSelectLabel;
class QToolButton;
class ScreenService;

// Lets the user pick a capture rectangle on a screenshot of one monitor: one
// checkable button per monitor above the screenshot, shown at three quarters
// of the monitor's size. When a drag ends the window converts it to monitor
// pixels, emits rectSelected() and closes. A region window serves one
// selection: it deletes itself when it closes, with its screenshots.
//
// Every monitor is read before the window first shows, so no screenshot can
// hold the window itself: once a window has been on screen, hiding it does not
// take it off at once (a window manager still draws its frame until it has
// handled the unmap), so a screenshot taken after a hide could show it.
class QSelectRegionWindow : public QMainWindow {
    Q_OBJECT
public:
    // `service` is not owned and must outlive the window.
    QSelectRegionWindow(const QString& appName, ScreenService* service, QWidget* parent);
    ~QSelectRegionWindow() override;

    // A screenshot is read at most this many pixels wide and high; a larger
    // monitor is read scaled down, so its picture never takes gigabytes.
    static constexpr int kMaxScreenshotSide = 8192;

    QRect selection; // the result in monitor pixels; null until a drag ends
    int monitorIndex = -1; // monitor of the result

signals:
    void rectSelected();

public slots:
    void switchDevice(int adapter_index);
    void rectSelectedSlot();

private:
    // Reads every monitor into `screenshots`, scaled for display.
    void grabMonitors();
    void grabMonitor(int index);
    void showScreenshot(int index);
    void placeOnCursorScreen();

    // One per monitor, B, G, R, A, scaled for display, with the monitor
    // pixels that one pixel of the screenshot as read stands for (1 x 1 unless
    // the monitor was larger than kMaxScreenshotSide).
    struct Screenshot {
        cv::Mat picture;
        double monitorPixelsX = 1.0;
        double monitorPixelsY = 1.0;
    };
    std::vector<Screenshot> screenshots;
    int shownIndex = 0;
    ScreenService* service;
    QSelectLabel* label = nullptr;
    QList<QToolButton*> buttons;
    // Screenshot pixels per logical label pixel: the shown pixmap's device
    // pixel ratio, so the picture covers three quarters of the monitor in
    // physical pixels at any scale factor.
    double pixelRatio = 1.0;
};
