#pragma once
// Test double: a loopback whose device, format, failures and packets are set
// by the test. Packets queued with Push() are handed out in order; each push
// wakes the running stream like arriving data would. Counters tell whether
// sessions, streams and watches were all released again.

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/AudioLoopback.h"

namespace ovra {

struct ScriptedPacket {
    std::vector<float> samples;  // frames x channels; ignored for a hole
    bool hole = false;           // the stream hands out no data, only a length
    std::uint32_t frames = 0;
    std::uint32_t flags = 0;
    // What GetNextPacketSize announces; 0 means `frames`. Lets a test
    // announce a packet that GetBuffer then reports as empty.
    std::uint32_t announcedFrames = 0;
};

struct LoopbackScript {
    LoopbackStatus connect = LoopbackStatus::Ok;
    LoopbackStatus watch = LoopbackStatus::Ok;
    LoopbackStatus findDevice = LoopbackStatus::Ok;
    LoopbackStatus activate = LoopbackStatus::Ok;
    LoopbackStatus devicePeriod = LoopbackStatus::Ok;
    LoopbackStatus mixFormat = LoopbackStatus::Ok;
    LoopbackStatus initialize = LoopbackStatus::Ok;
    LoopbackStatus start = LoopbackStatus::Ok;
    LoopbackStatus getBuffer = LoopbackStatus::Ok;
    LoopbackStatus releaseBuffer = LoopbackStatus::Ok;
    std::string deviceName = "scripted_sink";
    MixFormat format = FloatMixFormat(2, 48000);

    static MixFormat FloatMixFormat(std::uint16_t channels, std::uint32_t rate) {
        MixFormat f;
        f.formatTag = kWaveFormatExtensible;
        f.channels = channels;
        f.samplesPerSec = rate;
        f.bitsPerSample = 32;
        f.validBitsPerSample = 32;
        f.blockAlign = static_cast<std::uint16_t>(channels * 4);
        f.avgBytesPerSec = f.blockAlign * rate;
        f.subFormat = SampleSubFormat::IeeeFloat;
        return f;
    }
};

class ScriptedAudioLoopback final : public AudioLoopback {
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        LoopbackScript script;
        std::deque<ScriptedPacket> packets;
        bool broken = false;
        std::function<void()> wake;  // of the live stream
        std::vector<std::function<void()>*> watchers;
        int liveSessions = 0, liveStreams = 0, sessionsOpened = 0, streamsStarted = 0;
        std::uint32_t packetsTaken = 0;
    };

    class Stream final : public LoopbackStream {
    public:
        Stream(std::shared_ptr<State> state, std::function<void()> wake) : state_(std::move(state)) {
            std::lock_guard lock(state_->mutex);
            state_->wake = std::move(wake);
            ++state_->liveStreams;
        }
        ~Stream() override {
            std::lock_guard lock(state_->mutex);
            state_->wake = nullptr;
            --state_->liveStreams;
            state_->changed.notify_all();
        }
        LoopbackStatus GetDevicePeriod(std::chrono::nanoseconds* period) override {
            *period = std::chrono::milliseconds(10);
            return Script().devicePeriod;
        }
        LoopbackStatus GetMixFormat(MixFormat* format) override {
            *format = Script().format;
            return Script().mixFormat;
        }
        LoopbackStatus Initialize() override { return Script().initialize; }
        LoopbackStatus Start() override {
            std::lock_guard lock(state_->mutex);
            if (state_->script.start == LoopbackStatus::Ok) ++state_->streamsStarted;
            state_->changed.notify_all();
            return state_->script.start;
        }
        LoopbackStatus Stop() override { return LoopbackStatus::Ok; }
        LoopbackStatus GetNextPacketSize(std::uint32_t* frames) override {
            std::lock_guard lock(state_->mutex);
            if (state_->broken) return LoopbackStatus::DeviceInvalidated;
            *frames = 0;
            if (!state_->packets.empty()) {
                const auto& p = state_->packets.front();
                *frames = p.announcedFrames ? p.announcedFrames : p.frames;
            }
            return LoopbackStatus::Ok;
        }
        LoopbackStatus GetBuffer(LoopbackPacket* packet) override {
            std::lock_guard lock(state_->mutex);
            if (state_->script.getBuffer != LoopbackStatus::Ok) return state_->script.getBuffer;
            if (state_->packets.empty()) return LoopbackStatus::Failed;
            current_ = std::move(state_->packets.front());
            state_->packets.pop_front();
            packet->samples = current_.hole ? nullptr : current_.samples.data();
            packet->frames = current_.frames;
            packet->flags = current_.flags | (current_.hole ? kLoopbackFlagSilent : 0u);
            return LoopbackStatus::Ok;
        }
        LoopbackStatus ReleaseBuffer(std::uint32_t) override {
            std::lock_guard lock(state_->mutex);
            ++state_->packetsTaken;
            // Poison the released samples: a reader that keeps the pointer
            // past ReleaseBuffer sees garbage instead of the right answer.
            for (auto& s : current_.samples) s = 12345.0f;
            state_->changed.notify_all();
            return state_->script.releaseBuffer;
        }

    private:
        LoopbackScript Script() {
            std::lock_guard lock(state_->mutex);
            return state_->script;
        }
        std::shared_ptr<State> state_;
        ScriptedPacket current_;
    };

    class Session final : public LoopbackSession {
    public:
        explicit Session(std::shared_ptr<State> state) : state_(std::move(state)) {
            std::lock_guard lock(state_->mutex);
            ++state_->liveSessions;
            ++state_->sessionsOpened;
        }
        ~Session() override {
            std::lock_guard lock(state_->mutex);
            std::erase(state_->watchers, &onChanged_);
            --state_->liveSessions;
        }
        LoopbackStatus WatchDefaultDevice(std::function<void()> onChanged) override {
            std::lock_guard lock(state_->mutex);
            if (state_->script.watch != LoopbackStatus::Ok) return state_->script.watch;
            onChanged_ = std::move(onChanged);
            state_->watchers.push_back(&onChanged_);
            return LoopbackStatus::Ok;
        }
        LoopbackStatus FindDefaultDevice() override {
            std::lock_guard lock(state_->mutex);
            name_ = state_->script.deviceName;
            return state_->script.findDevice;
        }
        std::string DeviceName() const override { return name_; }
        LoopbackStatus Activate(std::function<void()> wake, std::unique_ptr<LoopbackStream>* stream) override {
            LoopbackStatus status;
            {
                std::lock_guard lock(state_->mutex);
                status = state_->script.activate;
            }
            if (status == LoopbackStatus::Ok) *stream = std::make_unique<Stream>(state_, std::move(wake));
            return status;
        }

    private:
        std::shared_ptr<State> state_;
        std::function<void()> onChanged_;
        std::string name_;
    };

public:
    ScriptedAudioLoopback() : state_(std::make_shared<State>()) {}

    LoopbackStatus Connect(std::unique_ptr<LoopbackSession>* session) override {
        LoopbackStatus status;
        {
            std::lock_guard lock(state_->mutex);
            status = state_->script.connect;
        }
        if (status == LoopbackStatus::Ok) *session = std::make_unique<Session>(state_);
        return status;
    }

    // Changes the script (applies to the next call of each step).
    template <class F>
    void Edit(F&& edit) {
        std::lock_guard lock(state_->mutex);
        edit(state_->script);
    }

    void Push(ScriptedPacket packet) {
        std::function<void()> wake;
        {
            std::lock_guard lock(state_->mutex);
            state_->packets.push_back(std::move(packet));
            wake = state_->wake;
        }
        if (wake) wake();
    }
    // The stream breaks: the next GetNextPacketSize fails.
    void Break() {
        std::function<void()> wake;
        {
            std::lock_guard lock(state_->mutex);
            state_->broken = true;
            wake = state_->wake;
        }
        if (wake) wake();
    }
    void Repair() {
        std::lock_guard lock(state_->mutex);
        state_->broken = false;
    }
    void ChangeDefaultDevice(const std::string& name) {
        std::lock_guard lock(state_->mutex);
        state_->script.deviceName = name;
        for (auto* w : state_->watchers)
            if (*w) (*w)();
    }

    // Waits until `pred(counters)` holds or the time is up.
    struct Counters {
        int liveSessions, liveStreams, sessionsOpened, streamsStarted, watchers;
        std::uint32_t packetsTaken;
        std::size_t packetsWaiting;
    };
    Counters Now() const {
        std::lock_guard lock(state_->mutex);
        return Snapshot();
    }
    template <class Pred>
    bool WaitFor(Pred pred, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
        std::unique_lock lock(state_->mutex);
        return state_->changed.wait_for(lock, limit, [&] { return pred(Snapshot()); });
    }

private:
    Counters Snapshot() const {
        return {state_->liveSessions,
                state_->liveStreams,
                state_->sessionsOpened,
                state_->streamsStarted,
                static_cast<int>(state_->watchers.size()),
                state_->packetsTaken,
                state_->packets.size()};
    }
    std::shared_ptr<State> state_;
};

}  // namespace ovra
