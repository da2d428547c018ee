// Draws the README's picture of the tool window that never measures itself:
// the real window on the in-memory desktop, over a grey screen with a
// photograph beside it, its own picture put on that screen after every
// cycle as a desktop would show it. Left: a desktop that cannot tell where
// the window is (native Wayland), so the whole monitor captured holds the
// window itself; right: one that tells it.
//
// Not built by default:
//
//   cmake --build build --target huelens-own-windows-picture
//   build/tools/huelens-own-windows-picture /usr/share/doc/opencv-doc/examples/data/HappyFish.jpg docs/own-windows.png

#include "platform/memory/MemoryDesktop.h"
#include "shell/MainWindow.h"

#include <QApplication>
#include <QTemporaryDir>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cstdio>

namespace {

// The window as the screen shows it, B, G, R, A.
cv::Mat windowPixels(QWidget& window)
{
    const QImage shown = window.grab().toImage().convertToFormat(QImage::Format_ARGB32);
    return cv::Mat(shown.height(), shown.width(), CV_8UC4, const_cast<uchar*>(shown.constBits()),
        static_cast<size_t>(shown.bytesPerLine()))
        .clone();
}

cv::Mat pictureOfTheWindow(const cv::Mat& photo, bool placed)
{
    platform::MemoryDesktop& desktop = platform::memoryDesktop();
    desktop.reset(1600, 900, cv::Scalar(96, 96, 96));
    desktop.pointerPosition = { 1500, 850 };
    cv::Mat bgra;
    cv::cvtColor(photo, bgra, cv::COLOR_BGR2BGRA);
    cv::Mat fitted;
    cv::resize(bgra, fitted, cv::Size(900, 900 * bgra.rows / bgra.cols));
    fitted.copyTo(desktop.screen(cv::Rect(620, 60, fitted.cols, std::min(fitted.rows, 780))));

    MainWindow window(nullptr, false, 0);
    window.move(100, 60);
    window.show();
    const QPoint at(100, 60);
    cv::Mat shown;
    for (int cycle = 0; cycle < 8; ++cycle) {
        shown = windowPixels(window);
        if (placed)
            desktop.windowFrames[static_cast<platform::WindowHandle>(window.winId())]
                = platform::Rect { at.x(), at.y(), at.x() + shown.cols, at.y() + shown.rows };
        shown.copyTo(desktop.screen(cv::Rect(at.x(), at.y(), shown.cols, shown.rows)));
        window.updateScreen();
        QCoreApplication::processEvents();
    }
    return windowPixels(window);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s PHOTO OUT.png\n", argv[0]);
        return 2;
    }
    QTemporaryDir sandbox; // the window's config.ini, not the user's
    qputenv("XDG_DATA_HOME", sandbox.path().toLocal8Bit());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const cv::Mat photo = cv::imread(argv[1]);
    if (photo.empty()) {
        std::fprintf(stderr, "cannot read %s\n", argv[1]);
        return 1;
    }
    const cv::Mat before = pictureOfTheWindow(photo, false), after = pictureOfTheWindow(photo, true);
    const int gap = 16;
    cv::Mat sheet(
        std::max(before.rows, after.rows), before.cols + gap + after.cols, CV_8UC4, cv::Scalar(255, 255, 255, 255));
    before.copyTo(sheet(cv::Rect(0, 0, before.cols, before.rows)));
    after.copyTo(sheet(cv::Rect(before.cols + gap, 0, after.cols, after.rows)));
    cv::Mat bgr;
    cv::cvtColor(sheet, bgr, cv::COLOR_BGRA2BGR);
    return cv::imwrite(argv[2], bgr) ? 0 : 1;
}
