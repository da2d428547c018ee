#pragma once

#include "platform/Desktop.h"
#include "platform/x11/X11Desktop.h"
#include "platform/x11/XHandles.h"

#include <cstdint>
#include <vector>

namespace platform::x11 {

using CapturePath = X11Desktop::CapturePath;

// The root window's size as a rectangle at the origin; false when the
// server does not answer.
bool readRootSize(Display* display, Window root, Rect& size);

// Where one colour channel sits in a root pixel word.
struct Channel {
    unsigned long mask = 0;
    int shift = 0;
    int bits = 0;
};

// Reads desktop rectangles, scaled by nearest neighbour, into top-down
// B, G, R, A buffers with A = 255. Runs on every capture tick, so whatever
// depends only on the sizes (shared memory, pixmaps, pictures, sampling
// tables) is kept from one call to the next: copies of an unchanged size
// allocate nothing.
class ScreenCopier {
public:
    explicit ScreenCopier(Display* display);
    ~ScreenCopier();
    ScreenCopier(const ScreenCopier&) = delete;
    ScreenCopier& operator=(const ScreenCopier&) = delete;

    // Whether `path` can work on this server; false too once a path found
    // out for good that it cannot (the server refused our shared memory).
    bool supports(CapturePath path) const;

    // Copies on one path (not Auto). False when it failed; `destination`
    // then holds anything. outWidth and outHeight are at least 1 and the
    // source is not empty.
    bool copy(CapturePath path, const Rect& source, int outWidth, int outHeight, std::uint8_t* destination);

private:
    // A small ARGB pixmap the server scales into, with its picture and the
    // shared memory it is read through.
    struct RenderTarget {
        int width = 0;
        int height = 0;
        SharedSegment segment;
        PixmapHandle pixmap;
        PictureHandle picture;
        BorrowedImagePtr image; // only when read with XShmGetImage
    };

    bool renderCopy(bool sharedPixmap, const Rect& source, int outWidth, int outHeight, std::uint8_t* destination);
    bool ensureRootPicture();
    bool ensureRenderTarget(RenderTarget& target, bool sharedPixmap, int width, int height);

    bool createSegment(SharedSegment& segment, std::size_t bytes);

    bool clientCopy(bool shared, const Rect& source, int outWidth, int outHeight, std::uint8_t* destination);
    void updateSampling(const Rect& source, int outWidth, int outHeight, const Rect& root);
    bool ensureRootImage(int width, int height);
    void sampleRows(const XImage& image, int imageTop, int firstRow, int endRow, std::uint8_t* destination) const;

    Display* display_;
    Window root_;
    Visual* rootVisual_;
    int rootDepth_;

    bool shm_ = false;
    bool shmPixmaps_ = false;
    bool render_ = false;
    bool clientFormat_ = false; // root pixels are 32-bit TrueColor words
    bool plainRgb_ = false; // ... with 8-bit channels at 16, 8 and 0
    Channel red_, green_, blue_;
    XRenderPictFormat* rootFormat_ = nullptr;
    XRenderPictFormat* argbFormat_ = nullptr;

    PictureHandle rootPicture_;
    RenderTarget pixmapTarget_;
    RenderTarget imageTarget_;

    // Client-side scaling: which root column (as an offset into the read
    // rectangle) and which root row each output pixel takes; -1 is outside
    // the root, black.
    struct SamplingKey {
        Rect source;
        int outWidth = 0;
        int outHeight = 0;
        Rect root;
        bool operator==(const SamplingKey& o) const
        {
            return source == o.source && outWidth == o.outWidth && outHeight == o.outHeight && root == o.root;
        }
    };
    SamplingKey samplingKey_;
    std::vector<int> columnOffsets_;
    std::vector<int> sourceRows_;
    Rect readRect_; // the part of the root the sampled pixels lie in

    SharedSegment rootSegment_;
    BorrowedImagePtr rootImage_;
};

} // namespace platform::x11
