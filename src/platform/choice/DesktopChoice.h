#pragma once

#include "platform/Desktop.h"

namespace platform {

enum class Backend { Session, X11, Wayland };

// The back-end a session runs on: Wayland when `waylandDisplay` is set and
// `sessionType` is "wayland" (the variables WAYLAND_DISPLAY and
// XDG_SESSION_TYPE), X11 otherwise.
Backend sessionBackend(const char* waylandDisplay, const char* sessionType);

// Chooses what desktop() returns: Session asks the environment. Takes
// effect when desktop() is first called; later calls change nothing.
void chooseBackend(Backend backend);

// The back-end desktop() uses (or will use).
Backend chosenBackend();

} // namespace platform
