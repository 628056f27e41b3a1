#include "platform/linux/audio/PulseStream.h"

#include "platform/linux/audio/PulseSession.h"

#include <algorithm>
#include <cstring>

namespace ovra::pulse {

PulseStream::PulseStream(PulseSession& session, std::string monitor, const pa_sample_spec& sampleSpec,
                         const pa_channel_map& map, std::chrono::milliseconds fragment, std::function<void()> wake)
    : session_(session),
      monitor_(std::move(monitor)),
      spec_(sampleSpec),
      map_(map),
      fragment_(fragment),
      wake_(std::move(wake)),
      frameBytes_(pa_frame_size(&sampleSpec)),
      periodFrames_(static_cast<std::uint32_t>(std::max<std::uint64_t>(
          1, std::uint64_t{sampleSpec.rate} * static_cast<std::uint64_t>(fragment.count()) / 1000))) {}

PulseStream::~PulseStream() {
    if (!stream_) return;
    LoopLock lock(session_.Loop());
    pa_stream_set_state_callback(stream_, nullptr, nullptr);
    pa_stream_set_read_callback(stream_, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
    pa_stream_unref(stream_);
}

void PulseStream::OnState(pa_stream* stream, void* data) {
    auto* self = static_cast<PulseStream*>(data);
    self->ready_ = pa_stream_get_state(stream) == PA_STREAM_READY;
    pa_threaded_mainloop_signal(self->session_.Loop(), 0);
    // A broken stream must wake the capture thread too: it learns of the
    // break from GetNextPacketSize.
    if (self->wake_) self->wake_();
}

void PulseStream::OnReadable(pa_stream* stream, std::size_t, void* data) {
    auto* self = static_cast<PulseStream*>(data);
    for (;;) {
        const void* piece = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &piece, &bytes) < 0 || bytes == 0) break;
        // A stray partial frame at the end of a piece is dropped with it.
        std::lock_guard ring(self->ringMutex_);
        self->Append(static_cast<const std::uint8_t*>(piece), static_cast<std::uint32_t>(bytes / self->frameBytes_));
        pa_stream_drop(stream);
    }
    bool whole;
    {
        std::lock_guard ring(self->ringMutex_);
        whole = self->storedFrames_ >= self->periodFrames_;
    }
    if (whole && self->wake_) self->wake_();
}

void PulseStream::Append(const std::uint8_t* data, std::uint32_t frames) {
    while (frames > 0) {
        if (storedFrames_ == capacityFrames_) {
            discontinuity_ = true;  // the capture thread fell behind: drop the rest
            return;
        }
        const std::uint32_t write = (readFrame_ + storedFrames_) % capacityFrames_;
        const std::uint32_t slot = write / periodFrames_;
        const std::uint32_t chunk = std::min(frames, periodFrames_ - write % periodFrames_);
        float* to = ring_.data() + std::size_t{write} * spec_.channels;
        if (data) {
            std::memcpy(to, data, std::size_t{chunk} * frameBytes_);
            data += std::size_t{chunk} * frameBytes_;
        } else {
            // A hole has a length but no data: it is silence.
            std::fill_n(to, std::size_t{chunk} * spec_.channels, 0.0f);
            holeFrames_[slot] += chunk;
        }
        storedFrames_ += chunk;
        frames -= chunk;
    }
}

LoopbackStatus PulseStream::Create() {
    try {
        capacityFrames_ = periodFrames_ * kRingPackets;
        ring_.assign(std::size_t{capacityFrames_} * spec_.channels, 0.0f);
        holeFrames_.assign(kRingPackets, 0);
    } catch (const std::bad_alloc&) {
        return LoopbackStatus::OutOfMemory;
    }
    LoopLock lock(session_.Loop());
    stream_ = pa_stream_new(session_.Context(), "Loopback", &spec_, &map_);
    if (!stream_) return session_.LastError(LoopbackStatus::Failed);
    pa_stream_set_state_callback(stream_, OnState, this);
    pa_stream_set_read_callback(stream_, OnReadable, this);
    return LoopbackStatus::Ok;
}

LoopbackStatus PulseStream::GetDevicePeriod(std::chrono::nanoseconds* period) {
    *period = fragment_;
    return LoopbackStatus::Ok;
}

LoopbackStatus PulseStream::GetMixFormat(MixFormat* format) {
    MixFormat f;
    f.formatTag = kWaveFormatExtensible;
    f.subFormat = SampleSubFormat::IeeeFloat;
    f.channels = spec_.channels;
    f.samplesPerSec = spec_.rate;
    f.bitsPerSample = 32;
    f.validBitsPerSample = 32;
    f.blockAlign = static_cast<std::uint16_t>(frameBytes_);
    f.avgBytesPerSec = static_cast<std::uint32_t>(frameBytes_) * spec_.rate;
    *format = f;
    return LoopbackStatus::Ok;
}

LoopbackStatus PulseStream::Initialize() {
    LoopLock lock(session_.Loop());
    pa_buffer_attr attr;
    attr.maxlength = static_cast<std::uint32_t>(-1);
    attr.tlength = static_cast<std::uint32_t>(-1);
    attr.prebuf = static_cast<std::uint32_t>(-1);
    attr.minreq = static_cast<std::uint32_t>(-1);
    attr.fragsize = static_cast<std::uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(fragment_.count()) * PA_USEC_PER_MSEC, &spec_));
    // Bound to this sink's monitor: when the default sink changes the stream
    // stays (the capture is restarted on the new default), and when the sink
    // goes away the stream ends instead of being moved elsewhere.
    const auto flags =
        static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_DONT_MOVE | PA_STREAM_START_CORKED);
    if (pa_stream_connect_record(stream_, monitor_.c_str(), &attr, flags) < 0)
        return session_.LastError(LoopbackStatus::Failed);
    const LoopbackStatus status = session_.WaitLocked([this] {
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        return state == PA_STREAM_READY || !PA_STREAM_IS_GOOD(state);
    });
    if (status != LoopbackStatus::Ok) return status;
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) return session_.LastError(LoopbackStatus::DeviceInvalidated);
    return LoopbackStatus::Ok;
}

LoopbackStatus PulseStream::Start() {
    LoopLock lock(session_.Loop());
    struct Result {
        pa_threaded_mainloop* loop;
        bool success = false;
    } result{session_.Loop()};
    const LoopbackStatus status = session_.WaitForOperation(pa_stream_cork(
        stream_, 0,
        [](pa_stream*, int success, void* data) {
            auto* r = static_cast<Result*>(data);
            r->success = success != 0;
            pa_threaded_mainloop_signal(r->loop, 0);
        },
        &result));
    if (status != LoopbackStatus::Ok) return status;
    return result.success ? LoopbackStatus::Ok : session_.LastError(LoopbackStatus::Failed);
}

LoopbackStatus PulseStream::Stop() {
    LoopLock lock(session_.Loop());
    if (pa_stream_get_state(stream_) != PA_STREAM_READY) return LoopbackStatus::Ok;
    // No need to wait: the stream is disconnected right after.
    if (pa_operation* op = pa_stream_cork(stream_, 1, nullptr, nullptr)) pa_operation_unref(op);
    return LoopbackStatus::Ok;
}

LoopbackStatus PulseStream::GetNextPacketSize(std::uint32_t* frames) {
    *frames = 0;
    if (!ready_.load()) return LoopbackStatus::DeviceInvalidated;
    std::lock_guard lock(ringMutex_);
    if (storedFrames_ >= periodFrames_) *frames = periodFrames_;
    return LoopbackStatus::Ok;
}

LoopbackStatus PulseStream::GetBuffer(LoopbackPacket* packet) {
    std::lock_guard lock(ringMutex_);
    if (storedFrames_ < periodFrames_) return LoopbackStatus::Failed;
    // The writer never touches this packet until ReleaseBuffer: it is still
    // counted as stored.
    const bool allHole = holeFrames_[readFrame_ / periodFrames_] == periodFrames_;
    packet->samples = allHole ? nullptr : ring_.data() + std::size_t{readFrame_} * spec_.channels;
    packet->frames = periodFrames_;
    packet->flags = (allHole ? kLoopbackFlagSilent : 0u) | (discontinuity_ ? kLoopbackFlagDiscontinuity : 0u);
    discontinuity_ = false;
    return LoopbackStatus::Ok;
}

LoopbackStatus PulseStream::ReleaseBuffer(std::uint32_t) {
    std::lock_guard lock(ringMutex_);
    if (storedFrames_ < periodFrames_) return LoopbackStatus::Ok;
    holeFrames_[readFrame_ / periodFrames_] = 0;
    readFrame_ = (readFrame_ + periodFrames_) % capacityFrames_;
    storedFrames_ -= periodFrames_;
    return LoopbackStatus::Ok;
}

}  // namespace ovra::pulse
