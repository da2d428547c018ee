#pragma once

#include <opencv2/core.hpp>

#include <string>

typedef struct _XDisplay Display;

// Paints a photograph over the whole screen of an X server (the root
// window's background, so the server keeps it without our help) and then,
// step by step, a small square of changing colour that walks across it: a
// screen that changes 25 times a second the way an editor's does while
// someone paints. Opens its own connection.
class ScreenPainter {
public:
    explicit ScreenPainter(const std::string& photoPath);
    ~ScreenPainter();
    ScreenPainter(const ScreenPainter&) = delete;
    ScreenPainter& operator=(const ScreenPainter&) = delete;

    bool ready() const { return pixmap != 0; }

    // Moves the square to its place for `step` and waits until the server has drawn it.
    void paintStep(long step);

    // Puts `picture` (B, G, R, A) at the screen's top left corner, over the
    // photograph, and waits until the server has drawn it: a video playing
    // in that rectangle.
    void paintPicture(const cv::Mat& picture);

private:
    void restore(const cv::Rect& area);

    Display* display = nullptr;
    unsigned long root = 0;
    unsigned long pixmap = 0;
    void* gc = nullptr;
    cv::Mat photo; // B, G, R, A at the screen's size
    cv::Rect square;
};
