#include "ScreenPainter.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <algorithm>

namespace {

constexpr int kSquare = 24;

cv::Mat coverScreen(const std::string& path, int width, int height)
{
    cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
    if (image.empty()) { // without the photograph: a gradient, still full of colours
        image.create(256, 256, CV_8UC3);
        for (int y = 0; y < 256; ++y)
            for (int x = 0; x < 256; ++x)
                image.at<cv::Vec3b>(y, x) = cv::Vec3b(x, y, 255 - x);
    }
    const double scale = std::max(double(width) / image.cols, double(height) / image.rows);
    cv::Mat scaled;
    cv::resize(image, scaled,
        cv::Size(std::max(width, int(image.cols * scale + 0.5)), std::max(height, int(image.rows * scale + 0.5))), 0, 0,
        cv::INTER_LINEAR);
    cv::Mat bgra;
    cv::cvtColor(scaled(cv::Rect((scaled.cols - width) / 2, (scaled.rows - height) / 2, width, height)), bgra,
        cv::COLOR_BGR2BGRA);
    return bgra;
}

} // namespace

ScreenPainter::ScreenPainter(const std::string& photoPath)
{
    display = XOpenDisplay(nullptr);
    if (!display)
        return;
    const int screen = DefaultScreen(display);
    if (DefaultDepth(display, screen) != 24)
        return;
    root = RootWindow(display, screen);
    const int width = DisplayWidth(display, screen);
    const int height = DisplayHeight(display, screen);
    photo = coverScreen(photoPath, width, height);

    pixmap = XCreatePixmap(display, root, width, height, 24);
    gc = XCreateGC(display, pixmap, 0, nullptr);
    restore(cv::Rect(0, 0, width, height));
    XSetWindowBackgroundPixmap(display, root, pixmap);
    XClearWindow(display, root);
    XSync(display, False);
}

ScreenPainter::~ScreenPainter()
{
    if (!display)
        return;
    if (gc)
        XFreeGC(display, static_cast<GC>(gc));
    if (pixmap)
        XFreePixmap(display, pixmap);
    XCloseDisplay(display);
}

void ScreenPainter::restore(const cv::Rect& area)
{
    const cv::Rect inside = area & cv::Rect(0, 0, photo.cols, photo.rows);
    if (inside.empty())
        return;
    XImage* image = XCreateImage(display, DefaultVisual(display, DefaultScreen(display)), 24, ZPixmap, 0,
        reinterpret_cast<char*>(photo.data), photo.cols, photo.rows, 32, int(photo.step));
    XPutImage(display, pixmap, static_cast<GC>(gc), image, inside.x, inside.y, inside.x, inside.y, inside.width,
        inside.height);
    image->data = nullptr; // the pixels belong to `photo`
    XDestroyImage(image);
}

void ScreenPainter::paintPicture(const cv::Mat& picture)
{
    if (!ready() || picture.type() != CV_8UC4 || !picture.isContinuous())
        return;
    const int width = std::min(picture.cols, photo.cols);
    const int height = std::min(picture.rows, photo.rows);
    XImage* image = XCreateImage(display, DefaultVisual(display, DefaultScreen(display)), 24, ZPixmap, 0,
        reinterpret_cast<char*>(picture.data), picture.cols, picture.rows, 32, int(picture.step));
    XPutImage(display, pixmap, static_cast<GC>(gc), image, 0, 0, 0, 0, width, height);
    image->data = nullptr; // the pixels belong to `picture`
    XDestroyImage(image);
    XClearArea(display, root, 0, 0, width, height, False);
    XSync(display, False);
}

void ScreenPainter::paintStep(long step)
{
    if (!ready())
        return;
    const cv::Rect previous = square;
    restore(previous);
    square = cv::Rect(
        int((step * 37) % (photo.cols - kSquare)), int((step * 23) % (photo.rows - kSquare)), kSquare, kSquare);
    const unsigned long colour = ((step * 53 + 120) % 256) << 16 | ((step * 91 + 60) % 256) << 8 | ((step * 37) % 256);
    XSetForeground(display, static_cast<GC>(gc), colour);
    XFillRectangle(display, pixmap, static_cast<GC>(gc), square.x, square.y, kSquare, kSquare);
    const cv::Rect changed = previous.area() ? (previous | square) : square;
    XClearArea(display, root, changed.x, changed.y, changed.width, changed.height, False);
    XSync(display, False);
}
