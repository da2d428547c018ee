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

    // Sub-rectangle coordinates beyond this many pixels are held to it: no
    // real desktop is larger, and larger values come from a damaged settings
    // file. Capture records are held to it where they are read.
    static constexpr int coordinateLimit = 1 << 20;

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
    // receives targetWidth / source width; a scaled capture is never taller
    // than a selection can be (tallestSelectionHeight), the rest of a taller
    // rectangle is left out. `output` keeps its buffer when
    // the size is unchanged. `captured`, when given, receives the desktop
    // rectangle that was read: the whole monitor whenever the sub-rectangle
    // could not be used, so a caller can place the pointer on the picture.
    void captureScreen(cv::Mat* output, int monitorIndex, const platform::Rect* subRect, int targetWidth, float* scale,
                       platform::Rect* captured = nullptr);

private:
    void log(const char* text) const;

    std::vector<platform::Rect> monitorTable;
    bool debugMode;
    platform::Desktop& desktop;
};
