#pragma once
// One recording stream on the monitor of the sink a session found. Internal
// to the loopback adapter.
//
// The server hands out the monitor's data in pieces as the sink renders them
// (5 ms, 10 ms or 2 s, depending on the latency its other clients ask for).
// The read callback, on the main loop's thread, copies every piece at once
// into a ring of whole packets of exactly one period (480 frames at 48 kHz
// for 10 ms) and gives the piece back to the server there and then; the
// capture thread only takes finished packets out of the ring. So the
// analysis always sees the same packet length whatever else plays, and the
// main loop is never woken just to return a piece the capture thread was
// holding.

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/AudioLoopback.h"

namespace ovra::pulse {

class PulseSession;

class PulseStream final : public LoopbackStream {
public:
    PulseStream(PulseSession& session, std::string monitor, const pa_sample_spec& sampleSpec, const pa_channel_map& map,
                std::chrono::milliseconds fragment, std::function<void()> wake);
    ~PulseStream() override;
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    LoopbackStatus Create();

    LoopbackStatus GetDevicePeriod(std::chrono::nanoseconds* period) override;
    LoopbackStatus GetMixFormat(MixFormat* format) override;
    LoopbackStatus Initialize() override;
    LoopbackStatus Start() override;
    LoopbackStatus Stop() override;
    LoopbackStatus GetNextPacketSize(std::uint32_t* frames) override;
    LoopbackStatus GetBuffer(LoopbackPacket* packet) override;
    LoopbackStatus ReleaseBuffer(std::uint32_t frames) override;

    // Packets the ring holds; more data than that is dropped (the next
    // packet then carries the discontinuity flag) until the capture thread
    // catches up.
    static constexpr std::uint32_t kRingPackets = 32;

private:
    static void OnState(pa_stream* stream, void* self);
    static void OnReadable(pa_stream* stream, std::size_t bytes, void* self);
    // Appends `frames` frames (null `data`: a hole, i.e. silence) to the
    // ring. Main loop thread, lock held.
    void Append(const std::uint8_t* data, std::uint32_t frames);

    PulseSession& session_;
    std::string monitor_;
    pa_sample_spec spec_;
    pa_channel_map map_;
    std::chrono::milliseconds fragment_;
    std::function<void()> wake_;  // called on the main loop's thread
    pa_stream* stream_ = nullptr;
    std::size_t frameBytes_ = 0;
    std::uint32_t periodFrames_ = 0;

    // The ring, guarded by its own mutex (not the main loop's lock: the
    // capture thread, woken by the read callback, would otherwise find that
    // lock still held and sleep once more). Its capacity is a whole
    // number of packets and packets are read from packet boundaries, so a
    // packet never wraps around the end.
    std::vector<float> ring_;
    std::vector<std::uint32_t> holeFrames_;  // per packet slot
    std::uint32_t capacityFrames_ = 0;
    std::uint32_t readFrame_ = 0;     // start of the oldest packet
    std::uint32_t storedFrames_ = 0;  // frames in the ring, the one handed out included
    bool discontinuity_ = false;      // data was dropped before the next packet
    std::mutex ringMutex_;
    // The stream runs (kept by the state callback for the capture thread).
    std::atomic<bool> ready_{false};
};

}  // namespace ovra::pulse
