#pragma once

#include "platform/Desktop.h"
#include "platform/wayland/FrameSampling.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform::wayland {

// The video streams of a screen-sharing session: one PipeWire stream per
// monitor, run on a PipeWire thread of their own. Each stream keeps its
// newest frame (the buffer itself, not a copy) and hands it over under a
// lock, so a reader never waits for a frame and the producer never waits
// longer than one scaled copy. Everything but `changed` is called on one
// thread (the GUI thread).
class PipeWireCapture {
public:
    enum class State {
        Off,
        Connecting, // connected, not every stream has a format and a frame yet
        Streaming, // every stream has a format and a frame
        Ended, // a stream or the connection ended; problem() says why
    };

    // `changed` is called from the PipeWire thread whenever the state, a
    // stream's format or problem() changes; it must only post a notice.
    // `arrived` likewise, once after each callOnNextArrival(), for the next
    // new frame number or pointer position of any stream.
    explicit PipeWireCapture(std::function<void()> changed, std::function<void()> arrived = {});
    ~PipeWireCapture();
    PipeWireCapture(const PipeWireCapture&) = delete;
    PipeWireCapture& operator=(const PipeWireCapture&) = delete;

    // Whether a PipeWire daemon answers on this session's socket; the portal
    // cannot share the screen without one (and may then never answer).
    static bool daemonReachable();

    // Connects through `fd` (a PipeWire remote; taken over and closed here)
    // to the stream nodes, in this order. False, with problem() set, when
    // no connection could be made.
    bool start(int fd, const std::vector<std::uint32_t>& nodes);
    // Disconnects; the frames are gone afterwards.
    void stop();

    State state() const;
    // What went wrong last (empty when nothing did): the reason a stream
    // ended, or a frame that was skipped since its format or size was wrong.
    std::string problem() const;
    int streamCount() const;
    // The negotiated frame size of stream `index`; 0 x 0 before it is known.
    void frameSize(int index, int& width, int& height) const;
    // The pointer position in frame pixels of stream `index` from the cursor
    // metadata of its frames; false when the stream sends none or the
    // pointer is on another monitor.
    bool pointer(int index, Point& position) const;

    // The number of the newest frame of stream `index`: a new number for
    // every frame and for every change of the stream's format, never one
    // used before in this program; 0 while there is no frame.
    std::uint64_t frameNumber(int index) const;

    // Asks for `arrived` to be called for the next frame or pointer move;
    // what came before this call is not told.
    void callOnNextArrival();
    // Withdraws that request.
    void stopCallingOnArrival();

    // sampleMonitor() on the newest frame of stream `index`, which shows
    // `monitor`; returns that frame's number, or 0 (and nothing written)
    // when the stream has no frame yet.
    std::uint64_t sample(int index, const Rect& monitor, const Rect& source, int outWidth, int outHeight,
        std::uint8_t* destination, std::vector<int>& columns) const;

    struct Impl;

private:
    std::unique_ptr<Impl> d;
};

} // namespace platform::wayland
