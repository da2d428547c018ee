#pragma once

#include "platform/Desktop.h"

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace platform {

// What the compositor told us about its toplevels, whichever protocol told
// it, and which of them counts as the window in front. Knows nothing of the
// wire: the protocol code feeds it events with the time they arrived.
class ToplevelTracker {
public:
    using Clock = std::chrono::steady_clock;

    // When focus moves, the compositor deactivates the old toplevel and then
    // activates the new one; a reader may see the moment in between. For this
    // long after the last activated toplevel lost its state it still counts as
    // the one in front. The gap itself is one turn of the compositor's event
    // loop (well under a millisecond on sway, a few on a loaded machine); 0.3 s
    // hides it even from a compositor stalled for several capture cycles, and
    // still lets a real "nothing in front" (an empty workspace) show before the
    // settings dialog's next half-second refresh.
    static constexpr std::chrono::milliseconds kActivationGap { 300 };

    // Handles start above every X11 resource id (29 bits) and above the small
    // counters Qt's Wayland plugin uses as native window ids, so comparing one
    // with the program's own winId() never mistakes another program's window
    // for ours.
    static constexpr WindowHandle kFirstHandle
        = sizeof(WindowHandle) >= 8 ? static_cast<WindowHandle>(1) << (sizeof(WindowHandle) * 4) : 0x40000000UL;

    struct Toplevel {
        std::string appId;
        std::string title;
        long pid = 0; // 0: the protocol does not say
        bool activated = false;
        unsigned long activation = 0; // order of the last activation; larger is later
    };

    // A new toplevel, not activated; its handle is never given out again in
    // this process, not even by another tracker (a new connection's).
    WindowHandle add();
    // Forgets a closed toplevel; its handle then has no texts and is never in front.
    void remove(WindowHandle window);

    void setAppId(WindowHandle window, const std::string& appId);
    void setTitle(WindowHandle window, const std::string& title);
    void setPid(WindowHandle window, long pid);
    void setActivated(WindowHandle window, bool activated, Clock::time_point now);

    // Windows of this program itself: those of this process id, and those
    // whose app id is one of these. Such a window in front gives 0.
    void setOwnProcess(long pid) { ownPid_ = pid; }
    void addOwnAppId(const std::string& appId) { ownAppIds_.push_back(appId); }

    // The activated toplevel (the latest activated if several claim it), or
    // the last one that lost its activation less than kActivationGap ago and
    // is still open; 0 when there is none or when it is one of ours.
    WindowHandle foreground(Clock::time_point now) const;

    // nullptr for a handle that is closed or was never given out.
    const Toplevel* find(WindowHandle window) const;

    bool isOwn(const Toplevel& toplevel) const;

    // Every open toplevel is forgotten (the connection to the compositor ended).
    void clear();

private:
    Toplevel* get(WindowHandle window);

    std::map<WindowHandle, Toplevel> toplevels_;
    unsigned long activations_ = 0;
    WindowHandle lastDeactivated_ = 0;
    Clock::time_point deactivatedAt_ {};
    long ownPid_ = 0;
    std::vector<std::string> ownAppIds_;
};

// The app ids a toolkit gives the windows of the program at `executablePath`:
// its file name up to the first dot, and that with a capital first letter.
std::vector<std::string> defaultAppIds(const std::string& executablePath);

} // namespace platform
