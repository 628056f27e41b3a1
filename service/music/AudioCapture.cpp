#include "service/music/AudioCapture.h"

#include <exception>
#include <system_error>

#include "service/music/FormatCoercion.h"
#include "service/music/SampleConversion.h"

namespace ovra::music {

namespace {
// Room for this many periods of audio is set aside when a stream starts;
// longer packets (after a stall) grow the buffer once.
constexpr std::uint32_t kReservedPeriods = 8;
}  // namespace

AudioCapture::AudioCapture(AudioLoopback& loopback, Notifier& notifier, DebugLog& console)
    : loopback_(loopback), notifier_(notifier), console_(console) {}

AudioCapture::~AudioCapture() {
    StopCapture();
}

void AudioCapture::StartCapture() {
    if (thread_.joinable()) StopCapture();
    result_ = kResultUnexpected;
    signal_.Reset();
    stopRequested_ = false;

    std::unique_ptr<LoopbackSession> session;
    LoopbackStatus status = loopback_.Connect(&session);
    if (status != LoopbackStatus::Ok) {
        console_.Printf("CoCreateInstance(IMMDeviceEnumerator) failed: hr = 0x%08x\n", ToCaptureResult(status));
        return FailStart();
    }
    status = session->WatchDefaultDevice([this] { defaultChanged_ = true; });
    if (status != LoopbackStatus::Ok) {
        console_.Printf("IMMDeviceEnumerator::RegisterEndpointNotificationCallback failed: hr = 0x%08x\n",
                        ToCaptureResult(status));
        return FailStart();
    }
    status = session->FindDefaultDevice();
    if (status != LoopbackStatus::Ok) {
        session.reset();  // drops the watch before the flags are set
        console_.Printf("IMMDeviceEnumerator::GetDefaultAudioEndpoint failed: hr = 0x%08x\n", ToCaptureResult(status));
        return FailStart();
    }

    {
        std::lock_guard lock(stateMutex_);
        deviceName_ = session->DeviceName();
        streaming_ = false;
        threadEnded_ = false;
    }
    session_ = std::move(session);
    noDevice_ = false;
    defaultChanged_ = false;
    // Cleared here, not only once the stream runs: the music step must not
    // see the previous stream's loss while the new thread is still starting.
    deviceLost_ = false;
    frameCount_ = 0;
    passes_ = 0;
    try {
        thread_ = std::thread(&AudioCapture::CaptureThread, this);
    } catch (const std::system_error& e) {
        console_.Printf("CreateThread failed: last error is %u\n", static_cast<unsigned>(e.code().value()));
        session_.reset();
        // Nothing captures now; the music step restarts it like a lost stream.
        deviceLost_ = true;
    }
}

void AudioCapture::FailStart() {
    // The notice is posted, never awaited: the music step goes on with its
    // fallback at once (a modal box on this worker thread would stall it).
    notifier_.Notify(kNoPlaybackDeviceText, kNoPlaybackDeviceCaption);
    noDevice_ = true;
    deviceLost_ = false;
}

void AudioCapture::StopCapture() {
    if (!thread_.joinable()) {
        session_.reset();
        return;
    }
    stopRequested_ = true;
    signal_.Stop();
    thread_.join();
    const CaptureResult result = result_.load();
    if (result != kResultOk) console_.Printf("Thread HRESULT is 0x%08x\n", result);
    session_.reset();
}

bool AudioCapture::WaitUntilStreaming(std::chrono::milliseconds limit) const {
    std::unique_lock lock(stateMutex_);
    stateChanged_.wait_for(lock, limit, [this] { return streaming_ || threadEnded_; });
    return streaming_ && !threadEnded_;
}

std::string AudioCapture::DeviceName() const {
    std::lock_guard lock(stateMutex_);
    return deviceName_;
}

MixFormat AudioCapture::StreamFormat() const {
    std::lock_guard lock(stateMutex_);
    return streamFormat_;
}

void AudioCapture::CaptureThread() {
    const CaptureResult result = RunCaptureLoop();
    result_ = result;
    // Whatever ended the stream, unless it was asked to stop, the music step
    // has to restart it; a capture that silently ended would freeze the music.
    if (!stopRequested_.load()) deviceLost_ = true;
    {
        std::lock_guard lock(stateMutex_);
        threadEnded_ = true;
    }
    stateChanged_.notify_all();
}

CaptureResult AudioCapture::RunCaptureLoop() {
    std::unique_ptr<LoopbackStream> stream;
    LoopbackStatus status = session_->Activate([this] { signal_.Wake(); }, &stream);
    if (status != LoopbackStatus::Ok) {
        console_.Printf("IMMDevice::Activate(IAudioClient) failed: hr = 0x%08x", ToCaptureResult(status));
        return ToCaptureResult(status);
    }
    std::chrono::nanoseconds period{};
    status = stream->GetDevicePeriod(&period);
    if (status != LoopbackStatus::Ok) {
        console_.Printf("IAudioClient::GetDevicePeriod failed: hr = 0x%08x\n", ToCaptureResult(status));
        return ToCaptureResult(status);
    }
    MixFormat format;
    status = stream->GetMixFormat(&format);
    if (status != LoopbackStatus::Ok) {
        console_.Printf("IAudioClient::GetMixFormat failed: hr = 0x%08x\n", ToCaptureResult(status));
        return ToCaptureResult(status);
    }
    // The stream always delivers the float mix; every start converts it to
    // 16-bit integers, and formats that cannot be converted are refused.
    if (const CaptureResult r = CoerceToInt16(format, console_); r != kResultOk) return r;
    if (format.channels == 0 || format.samplesPerSec == 0) {
        console_.Printf("IAudioClient::GetMixFormat failed: hr = 0x%08x\n", kResultUnsupportedFormat);
        return kResultUnsupportedFormat;
    }

    frameCount_ = 0;
    status = stream->Initialize();
    if (status != LoopbackStatus::Ok) {
        console_.Printf("IAudioClient::Initialize failed: hr = 0x%08x\n", ToCaptureResult(status));
        return ToCaptureResult(status);
    }
    const auto periodFrames =
        static_cast<std::uint64_t>(format.samplesPerSec) * static_cast<std::uint64_t>(period.count()) / 1000000000ull;
    try {
        converted_.reserve(static_cast<std::size_t>((periodFrames + 1) * kReservedPeriods * format.channels));
    } catch (const std::bad_alloc&) {
        console_.Printf("IAudioClient::Initialize failed: hr = 0x%08x\n", kResultOutOfMemory);
        return kResultOutOfMemory;
    }
    {
        std::lock_guard lock(stateMutex_);
        streamFormat_ = format;
    }

    status = stream->Start();
    if (status != LoopbackStatus::Ok) {
        console_.Printf("IAudioClient::Start failed: hr = 0x%08x\n", ToCaptureResult(status));
        return ToCaptureResult(status);
    }
    {
        std::lock_guard lock(stateMutex_);
        streaming_ = true;
    }
    stateChanged_.notify_all();

    for (std::uint32_t pass = 0;; ++pass) {
        passes_ = pass;
        bool broken = false;
        const CaptureResult drained = DrainPackets(*stream, pass, &broken);
        if (broken) {
            console_.Printf("IAudioCaptureClient::GetNextPacketSize failed on pass %u after %u frames: hr = 0x%08x\n",
                            pass, frameCount_.load(), drained);
            stream->Stop();
            deviceLost_ = true;
            return drained;
        }
        if (drained != kResultOk) {
            stream->Stop();
            return drained;
        }
        if (signal_.Wait() == CaptureSignal::Event::Stop) {
            console_.Printf("Received stop event after %u passes and %u frames\n", pass, frameCount_.load());
            passes_ = pass + 1;
            break;
        }
    }
    stream->Stop();
    return kResultOk;
}

// Hands every waiting packet to the callback. Sets `streamBroken` when the
// stream can no longer tell what waits (the device-lost path).
CaptureResult AudioCapture::DrainPackets(LoopbackStream& stream, std::uint32_t pass, bool* streamBroken) {
    for (;;) {
        std::uint32_t waiting = 0;
        LoopbackStatus status = stream.GetNextPacketSize(&waiting);
        if (status != LoopbackStatus::Ok) {
            *streamBroken = true;
            return ToCaptureResult(status);
        }
        if (waiting == 0) return kResultOk;

        LoopbackPacket packet;
        status = stream.GetBuffer(&packet);
        if (status != LoopbackStatus::Ok) {
            console_.Printf("IAudioCaptureClient::GetBuffer failed on pass %u after %u frames: hr = 0x%08x\n", pass,
                            frameCount_.load(), ToCaptureResult(status));
            return ToCaptureResult(status);
        }
        if (packet.frames == 0) {
            console_.Printf("IAudioCaptureClient::GetBuffer said to read 0 frames on pass %u after %u frames\n", pass,
                            frameCount_.load());
            stream.ReleaseBuffer(0);
            return kResultUnexpected;
        }

        const MixFormat& format = streamFormat_;  // written by this thread only
        const std::size_t samples = static_cast<std::size_t>(packet.frames) * format.channels;
        try {
            if (converted_.size() < samples) converted_.resize(samples);
        } catch (const std::bad_alloc&) {
            console_.Printf("IAudioCaptureClient::GetBuffer failed on pass %u after %u frames: hr = 0x%08x\n", pass,
                            frameCount_.load(), kResultOutOfMemory);
            stream.ReleaseBuffer(packet.frames);
            return kResultOutOfMemory;
        }
        // A silent packet or a hole carries no data to read: it is zeros.
        const bool silent = packet.samples == nullptr || (packet.flags & kLoopbackFlagSilent) != 0;
        ConvertFloatToInt16(silent ? nullptr : packet.samples, samples, converted_.data());

        // The converted copy is ours: the stream's buffer goes back before the
        // callback runs, so a slow callback never holds the stream up.
        status = stream.ReleaseBuffer(packet.frames);
        if (status != LoopbackStatus::Ok) {
            console_.Printf("IAudioCaptureClient::ReleaseBuffer failed on pass %u after %u frames: hr = 0x%08x\n", pass,
                            frameCount_.load(), ToCaptureResult(status));
            return ToCaptureResult(status);
        }

        if (packetCallback_) {
            const CapturedPacket captured{converted_.data(), packet.frames, format.channels, format.samplesPerSec,
                                          packet.flags};
            try {
                packetCallback_(captured);
            } catch (const std::exception& e) {
                console_.Printf("PacketCallback failed on pass %u after %u frames: %s\n", pass, frameCount_.load(),
                                e.what());
                return kResultUnexpected;
            } catch (...) {
                console_.Printf("PacketCallback failed on pass %u after %u frames: unknown exception\n", pass,
                                frameCount_.load());
                return kResultUnexpected;
            }
        }
        frameCount_ += packet.frames;
    }
}

}  // namespace ovra::music
