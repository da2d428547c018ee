#include "platform/wayland/windows/ToplevelTracker.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <climits>
#include <cstdio>
#include <unistd.h>

namespace platform {

WindowHandle ToplevelTracker::add()
{
    static std::atomic<WindowHandle> next { kFirstHandle };
    const WindowHandle window = next++;
    toplevels_.emplace(window, Toplevel {});
    return window;
}

void ToplevelTracker::remove(WindowHandle window)
{
    toplevels_.erase(window);
    if (lastDeactivated_ == window)
        lastDeactivated_ = 0;
}

ToplevelTracker::Toplevel* ToplevelTracker::get(WindowHandle window)
{
    const auto found = toplevels_.find(window);
    return found == toplevels_.end() ? nullptr : &found->second;
}

const ToplevelTracker::Toplevel* ToplevelTracker::find(WindowHandle window) const
{
    const auto found = toplevels_.find(window);
    return found == toplevels_.end() ? nullptr : &found->second;
}

void ToplevelTracker::setAppId(WindowHandle window, const std::string& appId)
{
    if (Toplevel* t = get(window))
        t->appId = appId;
}

void ToplevelTracker::setTitle(WindowHandle window, const std::string& title)
{
    if (Toplevel* t = get(window))
        t->title = title;
}

void ToplevelTracker::setPid(WindowHandle window, long pid)
{
    if (Toplevel* t = get(window))
        t->pid = pid;
}

void ToplevelTracker::setActivated(WindowHandle window, bool activated, Clock::time_point now)
{
    Toplevel* t = get(window);
    if (!t || t->activated == activated)
        return;
    t->activated = activated;
    if (activated) {
        // The gap, if there was one, is over.
        t->activation = ++activations_;
        lastDeactivated_ = 0;
    } else {
        lastDeactivated_ = window;
        deactivatedAt_ = now;
    }
}

bool ToplevelTracker::isOwn(const Toplevel& toplevel) const
{
    if (ownPid_ > 0 && toplevel.pid == ownPid_)
        return true;
    return !toplevel.appId.empty()
        && std::find(ownAppIds_.begin(), ownAppIds_.end(), toplevel.appId) != ownAppIds_.end();
}

WindowHandle ToplevelTracker::foreground(Clock::time_point now) const
{
    WindowHandle front = 0;
    unsigned long latest = 0;
    for (const auto& [window, t] : toplevels_)
        if (t.activated && t.activation > latest) {
            front = window;
            latest = t.activation;
        }
    if (front == 0 && lastDeactivated_ != 0 && now - deactivatedAt_ < kActivationGap)
        front = lastDeactivated_;
    if (front == 0)
        return 0;
    return isOwn(toplevels_.at(front)) ? 0 : front;
}

void ToplevelTracker::clear()
{
    toplevels_.clear();
    lastDeactivated_ = 0;
}

std::vector<std::string> defaultAppIds(const std::string& executablePath)
{
    std::string name = executablePath.substr(executablePath.find_last_of('/') + 1);
    name = name.substr(0, name.find('.'));
    if (name.empty())
        return {};
    std::string capital = name;
    capital[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(capital[0])));
    if (capital == name)
        return { name };
    return { name, capital };
}

} // namespace platform
