#pragma once
// One recording stream on the monitor of the sink a session found. Internal
// to the loopback adapter.
//
// The server hands out the monitor's data in pieces as the sink renders them
// (5 ms, 10 ms or 2 s, depending on the latency its other clients ask for).
// The stream gathers them into packets of exactly one period (480 frames at
// 48 kHz for 10 ms), so that the analysis always sees the same packet length
// whatever else plays.

#include <pulse/pulseaudio.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "platform/AudioLoopback.h"

namespace ovra::pulse {

class PulseSession;

class PulseStream final : public LoopbackStream {
public:
    PulseStream(PulseSession& session, std::string monitor, const pa_sample_spec& spec, const pa_channel_map& map,
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

private:
    static void OnState(pa_stream* stream, void* self);
    static void OnReadable(pa_stream* stream, std::size_t bytes, void* self);

    PulseSession& session_;
    std::string monitor_;
    pa_sample_spec spec_;
    pa_channel_map map_;
    std::chrono::milliseconds fragment_;
    std::function<void()> wake_;  // called on the main loop's thread
    pa_stream* stream_ = nullptr;
    std::size_t frameBytes_ = 0;
    std::uint32_t periodFrames_ = 0;

    // The piece taken by pa_stream_peek and not yet dropped, and how much of
    // it has gone into packets. A null `peekData_` is a hole in the stream.
    const std::uint8_t* peekData_ = nullptr;
    std::size_t peekBytes_ = 0;
    std::size_t peekUsed_ = 0;
    bool peeked_ = false;

    // The packet being gathered (changed by the capture thread under the
    // loop's lock; the read callback looks at how far it is).
    std::vector<float> packet_;
    std::uint32_t packetFrames_ = 0;
    std::uint32_t holeFrames_ = 0;
};

}  // namespace ovra::pulse
