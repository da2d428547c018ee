#include "platform/x11/XHandles.h"

#include "platform/x11/XErrorTrap.h"

#include <sys/ipc.h>
#include <sys/shm.h>

namespace platform::x11 {

SharedSegment::Result SharedSegment::create(Display* display, std::size_t size)
{
    reset();
    const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
    if (id < 0)
        return Result::NoSegment;
    void* address = shmat(id, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        shmctl(id, IPC_RMID, nullptr);
        return Result::NoSegment;
    }
    info_ = XShmSegmentInfo {};
    info_.shmid = id;
    info_.shmaddr = static_cast<char*>(address);
    info_.readOnly = False;

    ErrorTrap trap(display);
    const bool attached = XShmAttach(display, &info_) && !trap.failed();
    // The server has attached it (the trap waited for that), so the id may go.
    shmctl(id, IPC_RMID, nullptr);
    if (!attached) {
        shmdt(address);
        info_ = XShmSegmentInfo {};
        return Result::Refused;
    }
    display_ = display;
    size_ = size;
    return Result::Attached;
}

void SharedSegment::reset()
{
    if (display_ != nullptr) {
        XShmDetach(display_, &info_);
        shmdt(info_.shmaddr);
    }
    display_ = nullptr;
    info_ = XShmSegmentInfo {};
    size_ = 0;
}

} // namespace platform::x11
