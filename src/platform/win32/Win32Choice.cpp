#include "platform/choice/DesktopChoice.h"

// Windows has one desktop: the command line's -backend= and the session's
// variables choose nothing, and desktop() is the Win32 one.
namespace platform {

Backend sessionBackend(const char*, const char*)
{
    return Backend::Session;
}

void prepareQtPlatform() { }

void chooseBackend(Backend) { }

Backend chosenBackend()
{
    return Backend::Session;
}

} // namespace platform
