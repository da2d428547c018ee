#pragma once

#include "platform/Desktop.h"

#include <opencv2/core.hpp>
#include <vector>

// Knows the monitors of the desktop (read once, at construction) and copies a
// monitor, or a rectangle of it, into a four-channel frame (bytes B, G, R, A,
// rows top-down, continuous), optionally scaled to a wanted width by
// nearest neighbour. The only place where the program reads the screen.
class ScreenService {
public:
    explicit ScreenService(bool debugMode, platform::Desktop& desktop = platform::desktop());

    // The monitor table; its positions are the monitor indices stored per application.
    int monitorCount = 0;

    const std::vector<platform::Rect>& monitors() const { return monitorTable; }
    // Reads the monitor table again: a desktop that shares its screen only
    // after asking knows its monitors only then.
    void refreshMonitors();

    // Captures monitor `monitorIndex`, or the part `subRect` of it (relative
    // to the monitor's top-left corner; null or a negative left means the
    // whole monitor), into `output`. With `targetWidth` > 0 and a `scale`
    // pointer, the picture is scaled to targetWidth columns; `scale` always
    // receives targetWidth / source width. `output` keeps its buffer when
    // the size is unchanged.
    void captureScreen(cv::Mat* output, int monitorIndex, const platform::Rect* subRect, int targetWidth, float* scale);

private:
    void log(const char* text) const;

    std::vector<platform::Rect> monitorTable;
    bool debugMode;
    platform::Desktop& desktop;
};
