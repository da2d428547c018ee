#pragma once

#include "platform/Desktop.h"

#include <memory>
#include <string>

namespace platform {

// The desktop of an X server, reached through a Display connection of its own
// (the toolkit keeps its own connection). GUI thread only. Never ends the
// program: without a display, after an X error or when the server goes away,
// copies are black, texts empty and lists empty.
class X11Desktop final : public Desktop {
public:
    // How copy() reads the screen. Auto takes the fastest path the server
    // offers and falls back to the next one when a path fails; the others
    // force one path (for tests and benchmarks) and give black when it fails.
    // Every path gives the same bytes.
    enum class CapturePath {
        Auto,
        RenderShmPixmap, // RENDER scales on the server into a shared-memory pixmap
        RenderShmImage, // RENDER scales into a pixmap read back with XShmGetImage
        ShmGetImage, // XShmGetImage of the source, scaled here
        GetImage, // XGetImage in bands, scaled here
    };

    // Connects to `displayName`, or to $DISPLAY when it is empty.
    explicit X11Desktop(const std::string& displayName = {});
    ~X11Desktop() override;
    X11Desktop(const X11Desktop&) = delete;
    X11Desktop& operator=(const X11Desktop&) = delete;

    bool connected() const;
    // Whether the server offers what `path` needs; Auto always.
    bool supports(CapturePath path) const;
    void setCapturePath(CapturePath path);
    CapturePath capturePath() const;
    // The path the last successful copy() took; Auto when it failed.
    CapturePath lastCapturePath() const;

    std::vector<Rect> monitors() override;
    void copy(const Rect& source, int outWidth, int outHeight, std::uint8_t* destination) override;
    bool unchangedSinceLastCopy(const Rect& source, int outWidth, int outHeight) override;
    // Stops watching the screen and the windows until the next copy().
    void releaseCapture() override;
    Point pointer() override;
    WindowHandle foreground() override;
    WindowTexts texts(WindowHandle window) override;
    std::string executable(WindowHandle window) override;
    // The root's child that holds `window` (the window manager's frame, or
    // the window itself without one), while it is mapped.
    bool windowFrame(WindowHandle window, Rect& frame) override;
    // The root window's _ICC_PROFILE (monitor 0) or _ICC_PROFILE_n (monitor
    // n), as a colour daemon sets them.
    std::vector<std::uint8_t> monitorProfile(int monitor) override;
    // Watches, while capturing, for drawing in the last copy's rectangle,
    // pointer motion of any device, a change of the active window, of the
    // texts of the window in front or its end, and monitors changing; false
    // where one of them makes no event (no DAMAGE, no XInput 2, no
    // _NET_ACTIVE_WINDOW on the root).
    bool watchForChange(std::function<void()> changed) override;
    void stopWatchingForChange() override;

private:
    struct State;
    std::unique_ptr<State> d;
};

} // namespace platform
