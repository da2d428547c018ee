#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The program's only way to the desktop. The program links the X11 and the
// Wayland back-ends and picks one at start (platform/choice); tests that
// script monitors, frames, pointer and windows link the in-memory one.
// `platform::desktop()` is defined by the chooser or the in-memory back-end.
namespace platform {

// Desktop pixels; right and bottom lie one past the last pixel.
struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int width() const { return right - left; }
    int height() const { return bottom - top; }
    bool operator==(const Rect& o) const
    {
        return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
    }
};

// The most bytes a monitor profile may have, wherever it comes from (the
// desktop, a file the user named, the renderer's --profile): profiles with
// large tables reach a few megabytes, anything far beyond is no profile.
constexpr std::size_t kLargestProfile = 64 * 1024 * 1024;

struct Point {
    int x = 0;
    int y = 0;
};

// A top-level window of another program; 0 is "no window".
using WindowHandle = unsigned long;

// Whether the screen may be read, where the desktop asks its user first (the
// screen-sharing portal of a Wayland session).
struct CaptureAccess {
    bool granted = true; // copy() shows the screen
    bool asking = false; // a request is under way
    std::string message; // for the user: why the screen cannot be read, or what went wrong; empty when all is well
    std::string token; // lets a later run skip the question; empty when there is none
};

struct WindowTexts {
    std::string windowClass; // "instance.class" from WM_CLASS
    std::string title;       // UTF-8
};

class Desktop {
public:
    virtual ~Desktop() = default;

    // Monitors in a stable order; that order is the monitor index everywhere.
    virtual std::vector<Rect> monitors() = 0;

    // Copies `source` (desktop pixels, may lie partly or wholly outside the
    // desktop) scaled by nearest neighbour to outWidth x outHeight into
    // `destination`: outWidth * outHeight * 4 bytes, rows top-down, bytes
    // B, G, R, A. Pixels with nothing to read come back black with A = 255.
    // Never fails visibly: on any error the whole buffer is black.
    virtual void copy(const Rect& source, int outWidth, int outHeight, std::uint8_t* destination) = 0;

    // True only when a copy() of `source` at outWidth x outHeight now would
    // give the very bytes the last copy() gave, which had these arguments:
    // the desktop saw nothing drawn there since. False whenever it cannot
    // tell, so a caller that keeps the last copy's bytes may skip copying.
    virtual bool unchangedSinceLastCopy(const Rect& source, int outWidth, int outHeight)
    {
        (void)source;
        (void)outWidth;
        (void)outHeight;
        return false;
    }

    // A still screen: asks to be told once when anything the cycle last read
    // here may read otherwise: the pixels of the last copy's rectangle, the
    // pointer, the window in front, its class and title. `changed` runs on
    // this thread from the event loop, never inside this call, at most once
    // per request; a new request or stopWatchingForChange() replaces it.
    // False when this desktop cannot tell (nothing is then called): the
    // caller keeps reading it every cycle.
    virtual bool watchForChange(std::function<void()> changed)
    {
        (void)changed;
        return false;
    }
    // Withdraws the request: `changed` is not called any more.
    virtual void stopWatchingForChange() { }

    // Pointer position in desktop pixels; (0, 0) when it cannot be read.
    virtual Point pointer() = 0;

    // The client window that has the input focus, or 0.
    virtual WindowHandle foreground() = 0;

    // Class and title of a window; empty texts when it is gone.
    virtual WindowTexts texts(WindowHandle window) = 0;

    // Path of the executable of the process that owns the window; empty when unknown.
    virtual std::string executable(WindowHandle window) = 0;

    // Why this desktop cannot tell which window is in front, as a sentence for
    // the user; empty when it can.
    virtual std::string windowsProblem() { return {}; }
    // Desktops that let the program read the screen freely keep these defaults.
    virtual CaptureAccess captureAccess() { return {}; }
    // Asks for access unless it is granted or being asked for, and returns at
    // once; `token` is what an earlier grant gave. `changed` is called on
    // this thread whenever captureAccess() changes, until the next request.
    virtual void requestCapture(const std::string& token, std::function<void()> changed)
    {
        (void)token;
        (void)changed;
    }
    // Capture stopped: ends the sharing where a later request can restore it
    // without asking (a token), so the desktop stops sending pictures.
    virtual void releaseCapture() { }
    // False when pointer() cannot know where the pointer is: then nothing is
    // drawn where it points.
    virtual bool pointerKnown() { return true; }

    // Where one of this program's own top-level windows lies, its frame
    // included, in the desktop pixels of monitors() and copy(): false when
    // it is not shown or the desktop cannot tell (a native Wayland window
    // never learns its place), and then nothing of the screen is its.
    virtual bool windowFrame(WindowHandle window, Rect& frame)
    {
        (void)window;
        (void)frame;
        return false;
    }

    // The ICC profile the desktop publishes for monitor `monitor` (an index
    // into monitors()), as bytes; empty when it publishes none or the
    // desktop has no such convention. The bytes are not checked here.
    virtual std::vector<std::uint8_t> monitorProfile(int monitor)
    {
        (void)monitor;
        return {};
    }
};

// The desktop the program reads.
Desktop& desktop();

// Which source column (or row) the nearest-neighbour scaling of
// `sourceLength` pixels to `outLength` pixels samples for output pixel `i`.
// Every capture path picks the same source pixels as the X server does when
// it scales with a nearest filter.
int nearestSourceIndex(int i, int sourceLength, int outLength);

} // namespace platform
