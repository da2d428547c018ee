#pragma once

#include "platform/Desktop.h"

// How the program picks its desktop: on Linux X11 or Wayland, from the
// session or the command line; on Windows there is one desktop, and the
// choice asks nothing.

namespace platform {

enum class Backend { Session, X11, Wayland };

// The back-end a session runs on: Wayland when `waylandDisplay` is set and
// `sessionType` is "wayland" (the variables WAYLAND_DISPLAY and
// XDG_SESSION_TYPE), X11 otherwise.
Backend sessionBackend(const char* waylandDisplay, const char* sessionType);

// Before the QApplication exists: sets what the session's desktop needs of
// Qt's platform plugin. In a Wayland session the tool window prefers
// XWayland, where it can place itself, move by its grip and stay on top; it
// runs natively where there is no XWayland. The user's own QT_QPA_PLATFORM
// wins. Elsewhere nothing is set.
void prepareQtPlatform();

// Chooses what desktop() returns: Session asks the environment. Takes
// effect when desktop() is first called; later calls change nothing.
void chooseBackend(Backend backend);

// The back-end desktop() uses (or will use).
Backend chosenBackend();

} // namespace platform
