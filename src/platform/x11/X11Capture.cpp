#include "platform/x11/X11Capture.h"

#include "platform/x11/XErrorTrap.h"

#include <emmintrin.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace platform::x11 {
namespace {

// Xlib copies each XGetImage reply into a buffer of its own, and both are
// freed again at once. Above glibc's default mmap threshold (128 KB) they
// come as fresh pages every time, and the page faults then cost more than the
// copy (a 400 x 225 capture of 1600 x 900 took 3.3 ms of CPU time in 1 MB
// bands, 0.6 ms in 96 KB bands). A reply above about 8 MB is slow in the
// server as well. So: many small bands; each costs a round trip, cheap on a
// local display.
constexpr std::size_t bandBytes = 120u << 10;

constexpr int hostByteOrder()
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return MSBFirst;
#else
    return LSBFirst;
#endif
}

std::uint32_t load32(const std::uint8_t* p, bool swap)
{
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return swap ? __builtin_bswap32(v) : v;
}

// Writes one output pixel: bytes B, G, R, 255 in memory order, from an
// 0xRRGGBB value.
void store(std::uint8_t* out, std::uint32_t rgb)
{
    if (hostByteOrder() == LSBFirst) {
        const std::uint32_t bgra = rgb | 0xff000000u;
        std::memcpy(out, &bgra, 4);
    } else {
        out[0] = std::uint8_t(rgb);
        out[1] = std::uint8_t(rgb >> 8);
        out[2] = std::uint8_t(rgb >> 16);
        out[3] = 255;
    }
}

void storeBlack(std::uint8_t* out, int pixels)
{
    for (int i = 0; i < pixels; ++i, out += 4)
        store(out, 0);
}

// The server's nearest-filter step for scaling `sourceLength` pixels to
// `outLength`, as 16.16 fixed point; the same number nearestSourceIndex uses.
XFixed fixedScale(int sourceLength, int outLength)
{
    return static_cast<XFixed>((static_cast<std::int64_t>(sourceLength) << 16) / outLength);
}

bool fitsFixed(long value)
{
    return value >= SHRT_MIN && value <= SHRT_MAX;
}

Channel channelOf(unsigned long mask)
{
    Channel c;
    c.mask = mask;
    if (mask == 0)
        return c;
    while (((mask >> c.shift) & 1u) == 0)
        ++c.shift;
    while (((mask >> (c.shift + c.bits)) & 1u) != 0)
        ++c.bits;
    return c;
}

std::uint8_t channelValue(std::uint32_t pixel, const Channel& c)
{
    if (c.bits == 0)
        return 0;
    const std::uint32_t v = (pixel & c.mask) >> c.shift;
    if (c.bits >= 8)
        return static_cast<std::uint8_t>(v >> (c.bits - 8));
    return static_cast<std::uint8_t>(v * 255u / ((1u << c.bits) - 1u));
}

} // namespace

ScreenCopier::ScreenCopier(Display* display)
    : display_(display)
    , root_(DefaultRootWindow(display))
    , rootVisual_(DefaultVisual(display, DefaultScreen(display)))
    , rootDepth_(DefaultDepth(display, DefaultScreen(display)))
{
    int major = 0;
    int minor = 0;
    Bool pixmaps = False;
    shm_ = hasExtension(display_, "MIT-SHM") && XShmQueryVersion(display_, &major, &minor, &pixmaps);
    shmPixmaps_ = shm_ && pixmaps && XShmPixmapFormat(display_) == ZPixmap;

    int eventBase = 0;
    int errorBase = 0;
    if (hasExtension(display_, "RENDER") && XRenderQueryExtension(display_, &eventBase, &errorBase)
        && XRenderQueryVersion(display_, &major, &minor) && (major > 0 || minor >= 6)) {
        rootFormat_ = XRenderFindVisualFormat(display_, rootVisual_);
        argbFormat_ = XRenderFindStandardFormat(display_, PictStandardARGB32);
        render_ = rootFormat_ != nullptr && argbFormat_ != nullptr;
    }

    int count = 0;
    if (XPixmapFormatValues* formats = XListPixmapFormats(display_, &count)) {
        for (int i = 0; i < count; ++i) {
            if (formats[i].depth == rootDepth_)
                clientFormat_ = formats[i].bits_per_pixel == 32;
        }
        XFree(formats);
    }
    clientFormat_ = clientFormat_ && rootVisual_->c_class == TrueColor;
    red_ = channelOf(rootVisual_->red_mask);
    green_ = channelOf(rootVisual_->green_mask);
    blue_ = channelOf(rootVisual_->blue_mask);
    plainRgb_
        = rootVisual_->red_mask == 0xff0000 && rootVisual_->green_mask == 0xff00 && rootVisual_->blue_mask == 0xff;
}

ScreenCopier::~ScreenCopier() = default;

bool ScreenCopier::supports(CapturePath path) const
{
    switch (path) {
    case CapturePath::Auto:
        return true;
    case CapturePath::RenderShmPixmap:
        return render_ && shmPixmaps_;
    case CapturePath::RenderShmImage:
        return render_ && shm_;
    case CapturePath::ShmGetImage:
        return shm_ && clientFormat_;
    case CapturePath::GetImage:
        return clientFormat_;
    }
    return false;
}

bool ScreenCopier::copy(CapturePath path, const Rect& source, int outWidth, int outHeight, std::uint8_t* destination)
{
    if (!supports(path))
        return false;
    switch (path) {
    case CapturePath::RenderShmPixmap:
        return renderCopy(true, source, outWidth, outHeight, destination);
    case CapturePath::RenderShmImage:
        return renderCopy(false, source, outWidth, outHeight, destination);
    case CapturePath::ShmGetImage:
        return clientCopy(true, source, outWidth, outHeight, destination);
    case CapturePath::GetImage:
        return clientCopy(false, source, outWidth, outHeight, destination);
    case CapturePath::Auto:
        break;
    }
    return false;
}

// ---- RENDER: the server scales, we read only the small result.

bool ScreenCopier::renderCopy(
    bool sharedPixmap, const Rect& source, int outWidth, int outHeight, std::uint8_t* destination)
{
    // The transform holds the scale and the offset as 16.16 numbers, and
    // pixmap sides are 16-bit.
    if (source.width() > SHRT_MAX || source.height() > SHRT_MAX || !fitsFixed(source.left) || !fitsFixed(source.top)
        || outWidth > SHRT_MAX || outHeight > SHRT_MAX || fixedScale(source.width(), outWidth) == 0
        || fixedScale(source.height(), outHeight) == 0)
        return false;
    if (!ensureRootPicture())
        return false;
    RenderTarget& target = sharedPixmap ? pixmapTarget_ : imageTarget_;
    if (!ensureRenderTarget(target, sharedPixmap, outWidth, outHeight))
        return false;

    ErrorTrap trap(display_);
    // Maps the centre of each target pixel to the source point the nearest
    // filter samples; the offset is part of the matrix so it is not scaled.
    XTransform transform = { {
        { fixedScale(source.width(), outWidth), 0, XFixed(source.left) * 65536 },
        { 0, fixedScale(source.height(), outHeight), XFixed(source.top) * 65536 },
        { 0, 0, 65536 },
    } };
    XRenderSetPictureTransform(display_, rootPicture_.get(), &transform);
    XRenderComposite(display_, PictOpSrc, rootPicture_.get(), None, target.picture.get(), 0, 0, 0, 0, 0, 0,
        unsigned(outWidth), unsigned(outHeight));

    const std::uint8_t* pixels = target.segment.data();
    std::size_t stride = std::size_t(outWidth) * 4;
    bool swap = ImageByteOrder(display_) != hostByteOrder();
    if (sharedPixmap) {
        if (trap.failed())
            return false;
    } else {
        if (!XShmGetImage(display_, target.pixmap.get(), target.image.get(), 0, 0, AllPlanes) || trap.failedSoFar())
            return false;
        stride = std::size_t(target.image->bytes_per_line);
        swap = target.image->byte_order != hostByteOrder();
    }

    // Outside the root the source is transparent black: the fourth byte is
    // forced opaque everywhere.
    for (int y = 0; y < outHeight; ++y) {
        const std::uint8_t* in = pixels + stride * std::size_t(y);
        std::uint8_t* out = destination + std::size_t(y) * std::size_t(outWidth) * 4;
        if (!swap && hostByteOrder() == LSBFirst) {
            // The common case: the words as they are, four at a time, the fourth byte set.
            const __m128i opaque = _mm_set1_epi32(static_cast<int>(0xff000000u));
            int x = 0;
            for (; x + 4 <= outWidth; x += 4)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(out + std::size_t(x) * 4),
                    _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + std::size_t(x) * 4)), opaque));
            for (; x < outWidth; ++x)
                store(out + std::size_t(x) * 4, load32(in + std::size_t(x) * 4, false) & 0xffffffu);
            continue;
        }
        for (int x = 0; x < outWidth; ++x, in += 4, out += 4) {
            store(out, load32(in, swap) & 0xffffffu);
        }
    }
    return true;
}

bool ScreenCopier::ensureRootPicture()
{
    if (rootPicture_)
        return true;
    ErrorTrap trap(display_);
    XRenderPictureAttributes attributes {};
    attributes.subwindow_mode = IncludeInferiors;
    PictureHandle picture(display_, XRenderCreatePicture(display_, root_, rootFormat_, CPSubwindowMode, &attributes));
    XRenderSetPictureFilter(display_, picture.get(), FilterNearest, nullptr, 0);
    if (trap.failed()) {
        render_ = false;
        return false;
    }
    rootPicture_ = std::move(picture);
    return true;
}

bool ScreenCopier::ensureRenderTarget(RenderTarget& target, bool sharedPixmap, int width, int height)
{
    if (target.picture && target.width == width && target.height == height)
        return true;
    target.image.reset();
    target.picture.reset();
    target.pixmap.reset();
    target.segment.reset();
    target.width = target.height = 0;

    const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
    if (!createSegment(target.segment, bytes))
        return false;

    ErrorTrap trap(display_);
    if (sharedPixmap) {
        target.pixmap = PixmapHandle(display_,
            XShmCreatePixmap(display_, root_, reinterpret_cast<char*>(target.segment.data()), target.segment.info(),
                unsigned(width), unsigned(height), 32));
    } else {
        target.pixmap = PixmapHandle(display_, XCreatePixmap(display_, root_, unsigned(width), unsigned(height), 32));
        target.image.reset(XShmCreateImage(display_, nullptr, 32, ZPixmap,
            reinterpret_cast<char*>(target.segment.data()), target.segment.info(), unsigned(width), unsigned(height)));
    }
    target.picture
        = PictureHandle(display_, XRenderCreatePicture(display_, target.pixmap.get(), argbFormat_, 0, nullptr));
    const bool imageFits = sharedPixmap
        || (target.image && target.image->bits_per_pixel == 32
            && std::size_t(target.image->bytes_per_line) * std::size_t(height) <= bytes);
    if (trap.failed() || !imageFits) {
        target.image.reset();
        target.picture.reset();
        target.pixmap.reset();
        target.segment.reset();
        return false;
    }
    target.width = width;
    target.height = height;
    return true;
}

bool ScreenCopier::createSegment(SharedSegment& segment, std::size_t bytes)
{
    switch (segment.create(display_, bytes)) {
    case SharedSegment::Result::Attached:
        return true;
    case SharedSegment::Result::NoSegment:
        return false;
    case SharedSegment::Result::Refused:
        // It will not work later either: stop offering the shared paths.
        shm_ = shmPixmaps_ = false;
        return false;
    }
    return false;
}

// ---- Client side: read the root, pick the pixels here.

bool ScreenCopier::clientCopy(bool shared, const Rect& source, int outWidth, int outHeight, std::uint8_t* destination)
{
    // XGetImage fails with BadMatch for any part outside the root, so only
    // the part inside is read.
    Rect root;
    if (!readRootSize(display_, root_, root))
        return false;
    updateSampling(source, outWidth, outHeight, root);
    const int readWidth = readRect_.width();
    const int readHeight = readRect_.height();
    if (readWidth <= 0 || readHeight <= 0) {
        storeBlack(destination, outWidth * outHeight);
        return true;
    }

    ErrorTrap trap(display_);
    if (shared) {
        if (!ensureRootImage(readWidth, readHeight))
            return false;
        if (!XShmGetImage(display_, root_, rootImage_.get(), readRect_.left, readRect_.top, AllPlanes)
            || trap.failedSoFar())
            return false;
        sampleRows(*rootImage_, readRect_.top, 0, outHeight, destination);
        return true;
    }

    // Banded: each band starts at the next row that is sampled, so rows
    // that no output pixel takes are skipped.
    const int bandRows = std::max(1, int(bandBytes / (std::size_t(readWidth) * 4)));
    int row = 0;
    while (row < outHeight) {
        if (sourceRows_[std::size_t(row)] < 0) {
            storeBlack(destination + std::size_t(row) * std::size_t(outWidth) * 4, outWidth);
            ++row;
            continue;
        }
        const int bandTop = sourceRows_[std::size_t(row)];
        const int bandEnd = std::min(readRect_.bottom, bandTop + bandRows);
        ImagePtr band(XGetImage(display_, root_, readRect_.left, bandTop, unsigned(readWidth),
            unsigned(bandEnd - bandTop), AllPlanes, ZPixmap));
        if (!band || trap.failedSoFar() || band->bits_per_pixel != 32)
            return false;
        int end = row;
        while (end < outHeight && sourceRows_[std::size_t(end)] >= 0 && sourceRows_[std::size_t(end)] < bandEnd)
            ++end;
        sampleRows(*band, bandTop, row, end, destination);
        row = end;
    }
    return true;
}

bool readRootSize(Display* display, Window root, Rect& size)
{
    Window rootReturn = 0;
    int x = 0;
    int y = 0;
    unsigned width = 0;
    unsigned height = 0;
    unsigned border = 0;
    unsigned depth = 0;
    if (!XGetGeometry(display, root, &rootReturn, &x, &y, &width, &height, &border, &depth))
        return false;
    size = Rect { 0, 0, int(width), int(height) };
    return true;
}

void ScreenCopier::updateSampling(const Rect& source, int outWidth, int outHeight, const Rect& root)
{
    const SamplingKey key { source, outWidth, outHeight, root };
    if (key == samplingKey_ && columnOffsets_.size() == std::size_t(outWidth))
        return;
    samplingKey_ = key;
    columnOffsets_.resize(std::size_t(outWidth));
    sourceRows_.resize(std::size_t(outHeight));

    // Picked pixels grow with the output index, so those inside the root
    // form one run and span the read rectangle.
    readRect_ = Rect { INT_MAX, INT_MAX, INT_MIN, INT_MIN };
    for (int i = 0; i < outWidth; ++i) {
        const int x = source.left + nearestSourceIndex(i, source.width(), outWidth);
        const bool inside = x >= root.left && x < root.right;
        columnOffsets_[std::size_t(i)] = inside ? x : -1;
        if (inside) {
            readRect_.left = std::min(readRect_.left, x);
            readRect_.right = std::max(readRect_.right, x + 1);
        }
    }
    for (int j = 0; j < outHeight; ++j) {
        const int y = source.top + nearestSourceIndex(j, source.height(), outHeight);
        const bool inside = y >= root.top && y < root.bottom;
        sourceRows_[std::size_t(j)] = inside ? y : -1;
        if (inside) {
            readRect_.top = std::min(readRect_.top, y);
            readRect_.bottom = std::max(readRect_.bottom, y + 1);
        }
    }
    if (readRect_.left >= readRect_.right || readRect_.top >= readRect_.bottom) {
        readRect_ = Rect {};
        return;
    }
    for (int& offset : columnOffsets_) {
        if (offset >= 0)
            offset -= readRect_.left;
    }
}

bool ScreenCopier::ensureRootImage(int width, int height)
{
    if (rootImage_ && rootImage_->width == width && rootImage_->height == height)
        return true;
    rootImage_.reset();
    const std::size_t bytes = std::size_t(width) * std::size_t(height) * 4;
    if (rootSegment_.size() < bytes && !createSegment(rootSegment_, bytes))
        return false;
    rootImage_.reset(XShmCreateImage(display_, rootVisual_, unsigned(rootDepth_), ZPixmap,
        reinterpret_cast<char*>(rootSegment_.data()), rootSegment_.info(), unsigned(width), unsigned(height)));
    if (!rootImage_ || rootImage_->bits_per_pixel != 32
        || std::size_t(rootImage_->bytes_per_line) * std::size_t(height) > rootSegment_.size()) {
        rootImage_.reset();
        return false;
    }
    return true;
}

// Output rows [firstRow, endRow), whose source rows all lie in `image`,
// which starts at root row `imageTop` and at column readRect_.left.
void ScreenCopier::sampleRows(
    const XImage& image, int imageTop, int firstRow, int endRow, std::uint8_t* destination) const
{
    const int outWidth = int(columnOffsets_.size());
    for (int j = firstRow; j < endRow; ++j) {
        std::uint8_t* out = destination + std::size_t(j) * std::size_t(outWidth) * 4;
        const int sourceRow = sourceRows_[std::size_t(j)];
        if (sourceRow < 0) {
            storeBlack(out, outWidth);
            continue;
        }
        const bool swap = image.byte_order != hostByteOrder();
        const auto* line = reinterpret_cast<const std::uint8_t*>(image.data)
            + std::size_t(sourceRow - imageTop) * std::size_t(image.bytes_per_line);
        for (int i = 0; i < outWidth; ++i, out += 4) {
            const int offset = columnOffsets_[std::size_t(i)];
            if (offset < 0) {
                store(out, 0);
                continue;
            }
            const std::uint32_t pixel = load32(line + std::size_t(offset) * 4, swap);
            if (plainRgb_)
                store(out, pixel & 0xffffffu);
            else
                store(out,
                    channelValue(pixel, blue_) | (std::uint32_t(channelValue(pixel, green_)) << 8)
                        | (std::uint32_t(channelValue(pixel, red_)) << 16));
        }
    }
}

} // namespace platform::x11
