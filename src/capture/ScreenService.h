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
    // `unchanged`, when given, receives true when nothing was copied because
    // `output` still holds these bytes: the previous capture asked the same,
    // went into the same buffer, from the same rectangle at the same size,
    // and the desktop saw nothing drawn there since. Only a caller that
    // keeps the buffer and leaves it alone between captures may pass it.
    void captureScreen(cv::Mat* output, int monitorIndex, const platform::Rect* subRect, int targetWidth, float* scale,
                       platform::Rect* captured = nullptr, bool* unchanged = nullptr);

private:
    void log(const char* text) const;

    // What the last copy wrote, and where: the desktop can only tell whether
    // its own last copy is still current.
    struct LastCopy {
        const void* destination = nullptr;
        platform::Rect source;
        int width = 0;
        int height = 0;
    };
    LastCopy lastCopy;

    std::vector<platform::Rect> monitorTable;
    bool debugMode;
    platform::Desktop& desktop;
};
