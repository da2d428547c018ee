#pragma once

// Owners for the X resources of the X11 back-end. Each frees its resource on
// the Display it was made on; a Display must outlive what was made on it.

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrender.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>

namespace platform::x11 {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};
using DisplayPtr = std::unique_ptr<Display, DisplayCloser>;

// Memory that Xlib hands out and wants back through XFree.
struct XFreeDeleter {
    void operator()(void* memory) const { XFree(memory); }
};
template <typename T> using XMemory = std::unique_ptr<T, XFreeDeleter>;

// An XImage and, unless it points into shared memory, its pixels.
struct ImageDestroyer {
    void operator()(XImage* image) const { XDestroyImage(image); }
};
using ImagePtr = std::unique_ptr<XImage, ImageDestroyer>;

// An XImage over pixels it does not own (a shared-memory segment): only the
// structure is freed.
struct BorrowedImageDestroyer {
    void operator()(XImage* image) const
    {
        image->data = nullptr;
        XDestroyImage(image);
    }
};
using BorrowedImagePtr = std::unique_ptr<XImage, BorrowedImageDestroyer>;

// A server-side resource named by an XID, freed with Free.
template <typename Free> class XResource {
public:
    XResource() = default;
    XResource(Display* display, XID id)
        : display_(display)
        , id_(id)
    {
    }
    XResource(XResource&& other) noexcept
        : display_(other.display_)
        , id_(std::exchange(other.id_, 0))
    {
    }
    XResource& operator=(XResource&& other) noexcept
    {
        if (this != &other) {
            reset();
            display_ = other.display_;
            id_ = std::exchange(other.id_, 0);
        }
        return *this;
    }
    XResource(const XResource&) = delete;
    XResource& operator=(const XResource&) = delete;
    ~XResource() { reset(); }

    void reset()
    {
        if (id_ != 0)
            Free {}(display_, id_);
        id_ = 0;
    }
    XID get() const { return id_; }
    explicit operator bool() const { return id_ != 0; }

private:
    Display* display_ = nullptr;
    XID id_ = 0;
};

struct FreePixmap {
    void operator()(Display* display, XID pixmap) const { XFreePixmap(display, pixmap); }
};
struct FreePicture {
    void operator()(Display* display, XID picture) const { XRenderFreePicture(display, picture); }
};
using PixmapHandle = XResource<FreePixmap>;
using PictureHandle = XResource<FreePicture>;

// A System V shared-memory segment mapped by this process and attached to the
// X server. The segment is marked for removal as soon as the server holds it,
// so it goes away with the last user even if this process is killed.
class SharedSegment {
public:
    SharedSegment() = default;
    SharedSegment(const SharedSegment&) = delete;
    SharedSegment& operator=(const SharedSegment&) = delete;
    ~SharedSegment() { reset(); }

    enum class Result {
        Attached,
        NoSegment, // the system gave no segment of that size; a smaller one may work
        Refused, // the server cannot attach ours (remote display, other IPC namespace)
    };
    // Makes a segment of `size` bytes and attaches it to the server. Nothing
    // is held unless the result is Attached.
    Result create(Display* display, std::size_t size);
    void reset();

    bool valid() const { return display_ != nullptr; }
    std::size_t size() const { return size_; }
    std::uint8_t* data() const { return reinterpret_cast<std::uint8_t*>(info_.shmaddr); }
    XShmSegmentInfo* info() { return &info_; }

private:
    Display* display_ = nullptr;
    XShmSegmentInfo info_ {};
    std::size_t size_ = 0;
};

// Asks by name first: the extension libraries print a warning of their own
// when asked about an extension the server lacks.
inline bool hasExtension(Display* display, const char* name)
{
    int opcode = 0;
    int event = 0;
    int error = 0;
    return XQueryExtension(display, name, &opcode, &event, &error);
}

} // namespace platform::x11
