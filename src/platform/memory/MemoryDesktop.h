#pragma once

#include "platform/Desktop.h"

#include <map>
#include <opencv2/core.hpp>

namespace platform {

// A desktop that tests script: a picture of the whole virtual desktop, the
// monitor table, the pointer and the windows with their texts.
class MemoryDesktop : public Desktop {
public:
    struct Window {
        WindowTexts texts;
        std::string executable;
    };

    // The virtual desktop: B, G, R, A; pixel (0, 0) lies at desktop (originX, originY).
    cv::Mat screen;
    int originX = 0;
    int originY = 0;
    std::vector<Rect> monitorTable;
    Point pointerPosition;
    WindowHandle foregroundWindow = 0;
    std::map<WindowHandle, Window> windows;
    int copyCount = 0;
    // What windowsProblem() says; empty on a desktop that tells its windows.
    std::string problemText;
    // Access to the screen, as a desktop that asks its user first reports
    // it: tests set `access` and call `accessChanged` as such a desktop would.
    CaptureAccess access;
    int captureRequests = 0;
    std::string requestedToken;
    std::function<void()> accessChanged;
    bool pointerIsKnown = true;
    int captureReleases = 0;
    // Off: unchangedSinceLastCopy() never knows, so every cycle copies. On:
    // it answers as a desktop that watches drawing would, from the screen
    // as the last copy saw it.
    bool tracksChanges = false;
    int unchangedAnswers = 0;
    // Off: watchForChange() cannot watch, so the cycle never rests. On: it
    // keeps the request, which a test answers with announceChange() after
    // changing what the desktop shows, as a desktop that watches would.
    bool watchesChanges = false;
    int changeWatches = 0; // requests made
    std::function<void()> changeWatcher; // the request pending; empty when none
    // Calls the pending request once, as a desktop does on its first change.
    void announceChange();
    // What monitorProfile() gives, per monitor index.
    std::map<int, std::vector<std::uint8_t>> profiles;
    int profileReads = 0;

    // Where the program's own windows lie (what windowFrame() gives), by
    // their handles; a window not here is one the desktop cannot place.
    std::map<WindowHandle, Rect> windowFrames;

    // One monitor of the given size at the origin, filled with a colour (B, G, R).
    void reset(int width, int height, const cv::Scalar& bgr = cv::Scalar(0, 0, 0));

    std::vector<Rect> monitors() override;
    void copy(const Rect& source, int outWidth, int outHeight, std::uint8_t* destination) override;
    bool unchangedSinceLastCopy(const Rect& source, int outWidth, int outHeight) override;
    Point pointer() override;
    WindowHandle foreground() override;
    WindowTexts texts(WindowHandle window) override;
    std::string executable(WindowHandle window) override;
    std::string windowsProblem() override;
    CaptureAccess captureAccess() override;
    void requestCapture(const std::string& token, std::function<void()> changed) override;
    void releaseCapture() override;
    bool pointerKnown() override;
    std::vector<std::uint8_t> monitorProfile(int monitor) override;
    bool windowFrame(WindowHandle window, Rect& frame) override;
    bool watchForChange(std::function<void()> changed) override;
    void stopWatchingForChange() override;

private:
    struct LastCopy {
        cv::Mat screen;
        Rect source;
        int width = 0;
        int height = 0;
        int originX = 0;
        int originY = 0;
    };
    LastCopy lastCopy;
};

// The in-memory back-end linked into this binary.
MemoryDesktop& memoryDesktop();

} // namespace platform
