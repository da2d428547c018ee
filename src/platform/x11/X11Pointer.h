#pragma once

#include "platform/Desktop.h"

#include <X11/Xlib.h>

#include <chrono>

namespace platform::x11 {

// Where the pointer is, asked of the server only when it may have moved.
// While watching, every movement a pointing device makes (mouse, tablet,
// touch, or a test's fake input) is reported by the XInput 2 extension as a
// raw event, without a round trip; while none came, the last answer stands.
// A program that warps the pointer makes no such event, so the answer is
// also renewed at least every kRecheck.
class PointerWatch {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kRecheck { 200 };

    explicit PointerWatch(Display* display);

    void start();
    void stop();

    // Takes the event if it is a raw input event; false for any other event.
    bool handle(const XEvent& event);

    bool watching() const { return watching_; }
    // Whether a device moved the pointer since the last answer of position().
    bool movedSinceAnswer() const { return moved_; }

    // The pointer in desktop pixels; false when the server could not say.
    bool position(Point& where, Clock::time_point now = Clock::now());

private:
    bool query(Point& where);

    Display* display_;
    Window root_;
    int opcode_ = -1; // XInput's major opcode; -1 without XInput 2
    bool watching_ = false;
    bool moved_ = true;
    bool known_ = false;
    Point last_;
    Clock::time_point asked_;
};

} // namespace platform::x11
