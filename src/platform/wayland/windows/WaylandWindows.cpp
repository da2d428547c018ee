#include "platform/wayland/windows/WaylandWindows.h"

namespace platform {

struct WaylandWindows::State {
};

WaylandWindows::WaylandWindows(const std::string&)
    : d(std::make_unique<State>())
{
}

WaylandWindows::~WaylandWindows() = default;

WaylandWindows::Source WaylandWindows::source() const { return Source::None; }

void WaylandWindows::dispatchPending() { }

WindowHandle WaylandWindows::foreground() { return 0; }

WindowTexts WaylandWindows::texts(WindowHandle) { return {}; }

std::string WaylandWindows::executable(WindowHandle) { return {}; }

std::string WaylandWindows::problem() const { return "This desktop does not tell other programs which window is in front."; }

} // namespace platform
