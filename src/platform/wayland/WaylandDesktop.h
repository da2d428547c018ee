#pragma once

#include "platform/Desktop.h"

#include <memory>
#include <string>

namespace platform {

// The desktop of a Wayland session. The screen is read through the
// desktop's screen-sharing portal and PipeWire: the user is asked once (the
// grant is kept with a restore token), then every monitor streams its
// frames, and copy() samples the newest of them. The window in front comes
// from the compositor's window list where it publishes one. GUI thread
// only; never blocks waiting for the portal or PipeWire and never ends the
// program: until access is granted, and after it ends, copies are black and
// captureAccess() says why.
class WaylandDesktop final : public Desktop {
public:
    // Connects to `displayName`, or to $WAYLAND_DISPLAY when it is empty.
    explicit WaylandDesktop(const std::string& displayName = {});
    ~WaylandDesktop() override;
    WaylandDesktop(const WaylandDesktop&) = delete;
    WaylandDesktop& operator=(const WaylandDesktop&) = delete;

    std::vector<Rect> monitors() override;
    void copy(const Rect& source, int outWidth, int outHeight, std::uint8_t* destination) override;
    // True while no stream the last copy read has sent a frame since, so a
    // screen at rest is not read again 25 times a second.
    bool unchangedSinceLastCopy(const Rect& source, int outWidth, int outHeight) override;
    // A still screen: told when a stream the last copy read sends a frame,
    // the pointer moves, or the window in front or its texts change. Not
    // while sharing is off or a stream has no frame, nor where the window
    // list cannot tell its changes (the GNOME extension).
    bool watchForChange(std::function<void()> changed) override;
    void stopWatchingForChange() override;
    Point pointer() override;
    WindowHandle foreground() override;
    WindowTexts texts(WindowHandle window) override;
    std::string executable(WindowHandle window) override;
    std::string windowsProblem() override;
    CaptureAccess captureAccess() override;
    void requestCapture(const std::string& token, std::function<void()> changed) override;
    bool pointerKnown() override;
    // A window of ours on XWayland, where XWayland's monitors are the
    // shared ones exactly; false for a native Wayland window (it never
    // learns its place) and wherever the two cannot be lined up.
    bool windowFrame(WindowHandle window, Rect& frame) override;

    void releaseCapture() override;

    // Ends the screen-sharing session, if any.
    void stopCapture();

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace platform
