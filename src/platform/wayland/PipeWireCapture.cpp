#include "platform/wayland/PipeWireCapture.h"

#include <pipewire/pipewire.h>
#include <spa/debug/types.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <spa/utils/result.h>

#include <linux/dma-buf.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>

namespace platform::wayland {

namespace {

constexpr int kCursorSide = 64;
constexpr std::uint32_t cursorMetaSize(int side)
{
    return sizeof(spa_meta_cursor) + sizeof(spa_meta_bitmap) + std::uint32_t(side) * side * 4;
}

// Numbers the frames of every stream of every session, so that a number
// once read never stands for another frame; 0 stands for no frame.
std::atomic<std::uint64_t> lastFrameNumber { 0 };

std::uint64_t newFrameNumber()
{
    return ++lastFrameNumber;
}

// A DMA-BUF that the stream did not map: mapped here for reading.
struct Mapping {
    void* address = MAP_FAILED;
    std::size_t length = 0;
};

} // namespace

struct Stream {
    PipeWireCapture::Impl* owner = nullptr;
    pw_stream* stream = nullptr;
    spa_hook listener {};

    // Written on the PipeWire thread; read on the GUI thread under `lock`.
    mutable std::mutex lock;
    int width = 0;
    int height = 0;
    PixelOrder order = PixelOrder::BGRx;
    bool formatKnown = false;
    pw_buffer* newest = nullptr; // held back from the producer while it is the newest
    std::uint64_t frameNumber = 0; // of `newest` as it reads now
    bool hadFrame = false;
    bool cursorKnown = false;
    Point cursor;
};

struct PipeWireCapture::Impl {
    std::function<void()> changed;
    std::function<void()> arrived;
    std::atomic<bool> awaitingArrival { false };
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    spa_hook coreListener {};
    pw_registry* registry = nullptr;
    spa_hook registryListener {};
    std::vector<std::uint32_t> nodes;
    std::vector<std::unique_ptr<Stream>> streams;

    mutable std::mutex stateLock;
    State state = State::Off;
    std::string problem;

    void setState(State s, const std::string& why = {})
    {
        {
            std::lock_guard<std::mutex> guard(stateLock);
            if (state == State::Ended || state == State::Off)
                return; // the first reason an ended session gives is the one the user sees
            state = s;
            if (!why.empty())
                problem = why;
        }
        changed();
    }
    void setProblem(const std::string& why)
    {
        {
            std::lock_guard<std::mutex> guard(stateLock);
            if (problem == why)
                return;
            problem = why;
        }
        changed();
    }
    // Streaming once every stream has a format and a first frame, so that
    // the first copy (a region selection's screenshot) shows the screen.
    void streamsChanged()
    {
        for (const auto& s : streams) {
            std::lock_guard<std::mutex> guard(s->lock);
            if (!s->formatKnown || !s->hadFrame)
                return;
        }
        {
            std::lock_guard<std::mutex> guard(stateLock);
            if (state == State::Streaming)
                return;
        }
        setState(State::Streaming);
    }
    void teardown();
    // On the PipeWire thread, after a stream's frame number or pointer changed.
    void arrival()
    {
        if (awaitingArrival.exchange(false) && arrived)
            arrived();
    }
};

namespace {

void onStateChanged(void* data, pw_stream_state old, pw_stream_state state, const char* error)
{
    auto* s = static_cast<Stream*>(data);
    if (state == PW_STREAM_STATE_ERROR)
        s->owner->setState(PipeWireCapture::State::Ended,
            std::string("The screen stream failed") + (error ? std::string(": ") + error : std::string()) + ".");
    else if (state == PW_STREAM_STATE_UNCONNECTED && old != PW_STREAM_STATE_UNCONNECTED)
        s->owner->setState(PipeWireCapture::State::Ended, "The screen stream ended.");
}

void onParamChanged(void* data, std::uint32_t id, const spa_pod* param)
{
    auto* s = static_cast<Stream*>(data);
    if (param == nullptr || id != SPA_PARAM_Format)
        return;
    std::uint32_t mediaType = 0;
    std::uint32_t mediaSubtype = 0;
    if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video
        || mediaSubtype != SPA_MEDIA_SUBTYPE_raw)
        return;
    spa_video_info_raw info {};
    if (spa_format_video_raw_parse(param, &info) < 0)
        return;

    bool known = true;
    PixelOrder order = PixelOrder::BGRx;
    switch (info.format) {
    case SPA_VIDEO_FORMAT_BGRx:
    case SPA_VIDEO_FORMAT_BGRA:
        order = PixelOrder::BGRx;
        break;
    case SPA_VIDEO_FORMAT_RGBx:
    case SPA_VIDEO_FORMAT_RGBA:
        order = PixelOrder::RGBx;
        break;
    default:
        known = false;
    }
    {
        std::lock_guard<std::mutex> guard(s->lock);
        s->width = int(info.size.width);
        s->height = int(info.size.height);
        s->order = order;
        s->formatKnown = known;
        if (s->newest)
            s->frameNumber = newFrameNumber(); // the held buffer reads differently now
    }
    s->owner->arrival();
    if (!known) {
        s->owner->setState(PipeWireCapture::State::Ended, "The screen stream offered an unknown pixel format.");
        return;
    }

    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
    const spa_pod* params[2];
    params[0] = static_cast<const spa_pod*>(
        spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemFd) | (1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_DmaBuf))));
    params[1] = static_cast<const spa_pod*>(spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta,
        SPA_PARAM_META_type, SPA_POD_Id(SPA_META_Cursor), SPA_PARAM_META_size,
        SPA_POD_CHOICE_RANGE_Int(cursorMetaSize(kCursorSide), cursorMetaSize(1), cursorMetaSize(256))));
    pw_stream_update_params(s->stream, params, 2);
    s->owner->streamsChanged();
}

void onAddBuffer(void* data, pw_buffer* buffer)
{
    (void)data;
    spa_data& plane = buffer->buffer->datas[0];
    if (plane.type != SPA_DATA_DmaBuf || plane.data != nullptr)
        return;
    auto* mapping = new Mapping;
    mapping->length = plane.maxsize + plane.mapoffset;
    mapping->address = mmap(nullptr, mapping->length, PROT_READ, MAP_SHARED, int(plane.fd), 0);
    if (mapping->address == MAP_FAILED) {
        delete mapping;
        return;
    }
    plane.data = static_cast<std::uint8_t*>(mapping->address) + plane.mapoffset;
    buffer->user_data = mapping;
}

void onRemoveBuffer(void* data, pw_buffer* buffer)
{
    auto* s = static_cast<Stream*>(data);
    {
        std::lock_guard<std::mutex> guard(s->lock);
        if (s->newest == buffer) {
            s->newest = nullptr;
            s->frameNumber = 0;
            s->hadFrame = false;
        }
    }
    s->owner->arrival();
    if (auto* mapping = static_cast<Mapping*>(buffer->user_data)) {
        munmap(mapping->address, mapping->length);
        buffer->buffer->datas[0].data = nullptr;
        buffer->user_data = nullptr;
        delete mapping;
    }
}

void onProcess(void* data)
{
    auto* s = static_cast<Stream*>(data);
    pw_buffer* newest = nullptr;
    while (pw_buffer* b = pw_stream_dequeue_buffer(s->stream)) {
        if (newest)
            pw_stream_queue_buffer(s->stream, newest);
        newest = b;
    }
    if (newest == nullptr)
        return;

    const spa_buffer* buffer = newest->buffer;
    if (auto* cursor
        = static_cast<spa_meta_cursor*>(spa_buffer_find_meta_data(buffer, SPA_META_Cursor, sizeof(spa_meta_cursor)))) {
        bool moved = false;
        {
            std::lock_guard<std::mutex> guard(s->lock);
            // An invalid cursor is one off this stream's monitor.
            const bool known = spa_meta_cursor_is_valid(cursor);
            const Point at = known ? Point { cursor->position.x, cursor->position.y } : s->cursor;
            moved = known != s->cursorKnown || at.x != s->cursor.x || at.y != s->cursor.y;
            s->cursorKnown = known;
            s->cursor = at;
        }
        if (moved)
            s->owner->arrival();
    }

    // A buffer without pixels only moved the cursor; the held frame stays.
    const spa_data& plane = buffer->datas[0];
    if (buffer->n_datas < 1 || plane.data == nullptr || plane.chunk == nullptr || plane.chunk->size == 0
        || (plane.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED)) {
        pw_stream_queue_buffer(s->stream, newest);
        return;
    }

    std::string problem;
    pw_buffer* previous = nullptr;
    bool first = false;
    {
        std::lock_guard<std::mutex> guard(s->lock);
        const std::int64_t stride = plane.chunk->stride > 0 ? plane.chunk->stride : std::int64_t(s->width) * 4;
        problem = frameLayoutProblem(s->width, s->height, plane.chunk->offset, stride, plane.maxsize);
        if (problem.empty()) {
            previous = s->newest;
            s->newest = newest;
            s->frameNumber = newFrameNumber();
            first = !s->hadFrame;
            s->hadFrame = true;
        } else {
            previous = newest;
        }
    }
    if (previous)
        pw_stream_queue_buffer(s->stream, previous);
    if (problem.empty())
        s->owner->arrival();
    s->owner->setProblem(problem);
    if (first)
        s->owner->streamsChanged();
}

const pw_stream_events streamEvents = [] {
    pw_stream_events events {};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = onStateChanged;
    events.param_changed = onParamChanged;
    events.add_buffer = onAddBuffer;
    events.remove_buffer = onRemoveBuffer;
    events.process = onProcess;
    return events;
}();

void onCoreError(void* data, std::uint32_t id, int seq, int res, const char* message)
{
    (void)seq;
    auto* d = static_cast<PipeWireCapture::Impl*>(data);
    if (id == PW_ID_CORE)
        d->setState(PipeWireCapture::State::Ended,
            res == -EPIPE
                ? std::string("The connection to PipeWire was lost.")
                : std::string("PipeWire reported an error: ") + (message ? message : spa_strerror(res)) + ".");
}

// A shared monitor's node that goes away (the portal's back-end ended, the
// compositor restarted) leaves its stream waiting for a producer forever.
void onGlobalRemoved(void* data, std::uint32_t id)
{
    auto* d = static_cast<PipeWireCapture::Impl*>(data);
    for (const std::uint32_t node : d->nodes)
        if (node == id)
            d->setState(PipeWireCapture::State::Ended, "The screen stream ended.");
}

const pw_registry_events registryEvents = [] {
    pw_registry_events events {};
    events.version = PW_VERSION_REGISTRY_EVENTS;
    events.global_remove = onGlobalRemoved;
    return events;
}();

const pw_core_events coreEvents = [] {
    pw_core_events events {};
    events.version = PW_VERSION_CORE_EVENTS;
    events.error = onCoreError;
    return events;
}();

void initialisePipeWire()
{
    static std::once_flag initialised;
    std::call_once(initialised, [] { pw_init(nullptr, nullptr); });
}

} // namespace

void PipeWireCapture::Impl::teardown()
{
    if (loop)
        pw_thread_loop_lock(loop);
    for (auto& s : streams) {
        {
            std::lock_guard<std::mutex> guard(s->lock);
            s->newest = nullptr;
            s->frameNumber = 0;
        }
        if (s->stream) {
            spa_hook_remove(&s->listener);
            pw_stream_disconnect(s->stream);
            pw_stream_destroy(s->stream);
            s->stream = nullptr;
        }
    }
    if (registry) {
        spa_hook_remove(&registryListener);
        pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
        registry = nullptr;
    }
    if (core) {
        spa_hook_remove(&coreListener);
        pw_core_disconnect(core);
        core = nullptr;
    }
    if (loop)
        pw_thread_loop_unlock(loop);
    if (loop)
        pw_thread_loop_stop(loop);
    if (context)
        pw_context_destroy(context);
    context = nullptr;
    if (loop)
        pw_thread_loop_destroy(loop);
    loop = nullptr;
    streams.clear();
}

PipeWireCapture::PipeWireCapture(std::function<void()> changed, std::function<void()> arrived)
    : d(std::make_unique<Impl>())
{
    d->changed = std::move(changed);
    d->arrived = std::move(arrived);
    initialisePipeWire();
}

PipeWireCapture::~PipeWireCapture()
{
    stop();
}

bool PipeWireCapture::daemonReachable()
{
    initialisePipeWire();
    pw_loop* loop = pw_loop_new(nullptr);
    if (loop == nullptr)
        return false;
    bool reachable = false;
    if (pw_context* context = pw_context_new(loop, nullptr, 0)) {
        if (pw_core* core = pw_context_connect(context, nullptr, 0)) {
            reachable = true;
            pw_core_disconnect(core);
        }
        pw_context_destroy(context);
    }
    pw_loop_destroy(loop);
    return reachable;
}

bool PipeWireCapture::start(int fd, const std::vector<std::uint32_t>& nodes)
{
    stop();
    {
        std::lock_guard<std::mutex> guard(d->stateLock);
        d->state = State::Connecting;
        d->problem.clear();
    }
    const auto fail = [&](const std::string& why) {
        if (fd >= 0)
            close(fd);
        d->teardown();
        std::lock_guard<std::mutex> guard(d->stateLock);
        d->state = State::Ended;
        d->problem = why;
        return false;
    };
    if (nodes.empty())
        return fail("The screen-sharing portal shared no monitor.");
    d->loop = pw_thread_loop_new("huelens-capture", nullptr);
    if (d->loop == nullptr)
        return fail("PipeWire could not be started in this program.");
    d->context = pw_context_new(pw_thread_loop_get_loop(d->loop), nullptr, 0);
    if (d->context == nullptr || pw_thread_loop_start(d->loop) < 0)
        return fail("PipeWire could not be started in this program.");

    pw_thread_loop_lock(d->loop);
    d->core = pw_context_connect_fd(d->context, fd, nullptr, 0);
    fd = -1; // PipeWire owns it now, also when the connection failed
    if (d->core == nullptr) {
        pw_thread_loop_unlock(d->loop);
        return fail("PipeWire is not running, or it refused the connection: no screen picture can be read.");
    }
    pw_core_add_listener(d->core, &d->coreListener, &coreEvents, d.get());
    d->nodes = nodes;
    d->registry = pw_core_get_registry(d->core, PW_VERSION_REGISTRY, 0);
    if (d->registry)
        pw_registry_add_listener(d->registry, &d->registryListener, &registryEvents, d.get());

    spa_rectangle defaultSize { 1920, 1080 };
    spa_rectangle minSize { 1, 1 };
    spa_rectangle maxSize { 16384, 16384 };
    spa_fraction defaultRate { 25, 1 };
    spa_fraction minRate { 0, 1 };
    spa_fraction maxRate { 1000, 1 };
    bool connected = true;
    for (const std::uint32_t node : nodes) {
        auto s = std::make_unique<Stream>();
        s->owner = d.get();
        s->stream = pw_stream_new(d->core, "Huelens screen capture",
            pw_properties_new(
                PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture", PW_KEY_MEDIA_ROLE, "Screen", nullptr));
        if (s->stream == nullptr) {
            connected = false;
            break;
        }
        pw_stream_add_listener(s->stream, &s->listener, &streamEvents, s.get());
        std::uint8_t buffer[1024];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof(buffer));
        const spa_pod* format = static_cast<const spa_pod*>(spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_Format,
            SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video), SPA_FORMAT_mediaSubtype,
            SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
            SPA_POD_CHOICE_ENUM_Id(5, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA),
            SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&defaultSize, &minSize, &maxSize),
            SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&defaultRate, &minRate, &maxRate)));
        Stream* raw = s.get();
        d->streams.push_back(std::move(s));
        if (pw_stream_connect(raw->stream, PW_DIRECTION_INPUT, node,
                pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS), &format, 1)
            < 0) {
            connected = false;
            break;
        }
    }
    pw_thread_loop_unlock(d->loop);
    if (!connected)
        return fail("PipeWire refused the screen stream.");
    return true;
}

void PipeWireCapture::stop()
{
    {
        // Off first: the streams report their own disconnection as they go.
        std::lock_guard<std::mutex> guard(d->stateLock);
        d->state = State::Off;
    }
    d->teardown();
}

PipeWireCapture::State PipeWireCapture::state() const
{
    std::lock_guard<std::mutex> guard(d->stateLock);
    return d->state;
}

std::string PipeWireCapture::problem() const
{
    std::lock_guard<std::mutex> guard(d->stateLock);
    return d->problem;
}

int PipeWireCapture::streamCount() const
{
    return static_cast<int>(d->streams.size());
}

void PipeWireCapture::frameSize(int index, int& width, int& height) const
{
    width = height = 0;
    if (index < 0 || index >= streamCount())
        return;
    const Stream& s = *d->streams[index];
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.formatKnown) {
        width = s.width;
        height = s.height;
    }
}

void PipeWireCapture::callOnNextArrival()
{
    d->awaitingArrival = true;
}

void PipeWireCapture::stopCallingOnArrival()
{
    d->awaitingArrival = false;
}

bool PipeWireCapture::pointer(int index, Point& position) const
{
    if (index < 0 || index >= streamCount())
        return false;
    const Stream& s = *d->streams[index];
    std::lock_guard<std::mutex> guard(s.lock);
    position = s.cursor;
    return s.cursorKnown;
}

std::uint64_t PipeWireCapture::frameNumber(int index) const
{
    if (index < 0 || index >= streamCount())
        return 0;
    const Stream& s = *d->streams[index];
    std::lock_guard<std::mutex> guard(s.lock);
    return s.frameNumber;
}

std::uint64_t PipeWireCapture::sample(int index, const Rect& monitor, const Rect& source, int outWidth, int outHeight,
    std::uint8_t* destination, std::vector<int>& columns) const
{
    if (index < 0 || index >= streamCount())
        return 0;
    const Stream& s = *d->streams[index];
    std::lock_guard<std::mutex> guard(s.lock);
    if (s.newest == nullptr)
        return 0;
    const spa_data& plane = s.newest->buffer->datas[0];
    const bool dmaBuf = plane.type == SPA_DATA_DmaBuf;
    if (dmaBuf) {
        dma_buf_sync sync { DMA_BUF_SYNC_START | DMA_BUF_SYNC_READ };
        ioctl(int(plane.fd), DMA_BUF_IOCTL_SYNC, &sync);
    }
    FrameView frame;
    frame.width = s.width;
    frame.height = s.height;
    frame.stride = plane.chunk->stride > 0 ? plane.chunk->stride : s.width * 4;
    frame.order = s.order;
    frame.data = static_cast<const std::uint8_t*>(plane.data) + plane.chunk->offset;
    sampleMonitor(frame, monitor, source, outWidth, outHeight, destination, columns);
    if (dmaBuf) {
        dma_buf_sync sync { DMA_BUF_SYNC_END | DMA_BUF_SYNC_READ };
        ioctl(int(plane.fd), DMA_BUF_IOCTL_SYNC, &sync);
    }
    return s.frameNumber;
}

} // namespace platform::wayland
