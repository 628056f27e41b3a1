#pragma once
// Doubles for the UI model's tests: device families that record what they
// are sent and whose frame counters run with a clock, device links, a store
// that records its writes in order, a notifier, a window host, and a thread
// that plays the service's half of the handshake.

#include <atomic>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device_access/LightingDevice.h"
#include "platform/Clock.h"
#include "platform/NamedObjects.h"
#include "platform/Notifier.h"
#include "ui_program/core/DeviceLinks.h"
#include "ui_program/core/LightingStore.h"
#include "ui_program/core/WindowHost.h"

namespace ovra::test {

// A device family as the model sees it. Records every operation as text
// ("effect 1 230,26,0", "off", "frame 12"), answers reads from its settings,
// and runs its frame counter with the clock: one frame per `framePeriod`.
class RecordingDevice final : public LightingDevice {
public:
    RecordingDevice(DeviceFamily family, Clock& clock, Clock::Duration framePeriod,
                    Clock::Duration effectDelay = {})
        : family_(family), clock_(clock), framePeriod_(framePeriod), effectDelay_(effectDelay),
          frameSetAt_(clock.Now()) {}

    DeviceFamily Family() const override { return family_; }
    bool SetLEDEffect(LightingEffect effect, const Colour& c) override {
        if (effectDelay_ > Clock::Duration::zero()) clock_.SleepFor(effectDelay_);
        char text[96];
        std::snprintf(text, sizeof text, "effect %u %d,%d,%d", static_cast<unsigned>(effect),
                      ColourComponentToDeviceByte(c.red), ColourComponentToDeviceByte(c.green),
                      ColourComponentToDeviceByte(c.blue));
        return Record(text) && acceptWrites.load();
    }
    bool SetLEDOff() override { return Record("off") && acceptWrites.load(); }
    bool SetLEDFrame(std::uint8_t frame) override {
        std::lock_guard lock(mutex_);
        ops_.push_back("frame " + std::to_string(frame));
        frameBase_ = frame;
        frameSetAt_ = clock_.Now();
        return true;
    }
    std::optional<std::uint8_t> GetLEDFrame() override {
        if (!frameReadable.load()) return std::nullopt;
        return FrameNow();
    }
    std::optional<DeviceLightingState> GetLEDSetting() override {
        std::lock_guard lock(mutex_);
        ++settingReads_;
        return setting;
    }
    bool WriteColour(const Colour&) override { return Record("colour"); }

    // Time a SetLEDEffect takes (the family's own device waits).
    void SetEffectDelay(Clock::Duration delay) { effectDelay_ = delay; }

    std::uint8_t FrameNow() const {
        std::lock_guard lock(mutex_);
        const auto frames = (clock_.Now() - frameSetAt_) / framePeriod_;
        return static_cast<std::uint8_t>((frameBase_ + frames) & 0xFF);
    }
    void SetFrame(std::uint8_t frame) {
        std::lock_guard lock(mutex_);
        frameBase_ = frame;
        frameSetAt_ = clock_.Now();
    }
    std::vector<std::string> Ops() const {
        std::lock_guard lock(mutex_);
        return ops_;
    }
    void ClearOps() {
        std::lock_guard lock(mutex_);
        ops_.clear();
    }
    int SettingReads() const {
        std::lock_guard lock(mutex_);
        return settingReads_;
    }

    std::optional<DeviceLightingState> setting;  // what GetLEDSetting answers (set before use)
    std::atomic<bool> acceptWrites{true};
    std::atomic<bool> frameReadable{true};

private:
    bool Record(std::string op) {
        std::lock_guard lock(mutex_);
        ops_.push_back(std::move(op));
        return true;
    }

    DeviceFamily family_;
    Clock& clock_;
    Clock::Duration framePeriod_;
    Clock::Duration effectDelay_;
    mutable std::mutex mutex_;
    std::vector<std::string> ops_;
    int settingReads_ = 0;
    unsigned frameBase_ = 0;
    Clock::TimePoint frameSetAt_;
};

// Links to one device per family; each connect can be made to fail, and a
// hook sees every release (to check what else still runs then).
class FakeDeviceLinks final : public DeviceLinks {
public:
    FakeDeviceLinks(Clock& clock, Clock::Duration headsetPeriod = std::chrono::milliseconds(20),
                    Clock::Duration micPeriod = std::chrono::milliseconds(20))
        : gen2(DeviceFamily::Gen2, clock, headsetPeriod),
          gen2Entry(DeviceFamily::Gen2Entry, clock, headsetPeriod),
          gen2Mid(DeviceFamily::Gen2Mid, clock, headsetPeriod),
          tv520(DeviceFamily::TV520, clock, headsetPeriod),
          mic(DeviceFamily::MK470, clock, micPeriod) {}

    bool OpenHidHeadset(DeviceFamily family, std::uint16_t vendor, std::uint16_t product) override {
        Log("open hid " + Hex(vendor) + ":" + Hex(product));
        if (failOpen) return false;
        hidFamily = family;
        return true;
    }
    void CloseHidHeadset() override {
        Release("close hid");
        hidFamily.reset();
    }
    bool PlainBridgeBound() const override { return plainBound; }
    std::uint32_t OpenGen2Mid() override {
        Log("open gen2mid");
        if (failOpen) return 0;
        gen2MidOpen = true;
        return 7;
    }
    void CloseGen2Mid(std::uint32_t handle) override {
        Release("close gen2mid " + std::to_string(handle));
        gen2MidOpen = false;
    }
    bool Gen2MidBleOn() override { return bleOn; }
    bool EneReady() const override { return eneReady; }
    bool OpenTV520() override {
        Log("open tv520");
        if (failOpen) return false;
        tv520Open = true;
        return true;
    }
    void ReleaseTV520() override {
        Release("release tv520");
        tv520Open = false;
    }
    bool MicLibraryReady() const override { return micReady; }
    bool ConnectMicrophone() override {
        Log("connect mic");
        if (failMic) return false;
        micOpen = true;
        return true;
    }
    bool DisconnectMicrophone() override {
        Release("disconnect mic");
        if (failDisconnect) return false;
        micOpen = false;
        return true;
    }
    std::optional<std::uint8_t> MicSwitchOff() override {
        mic.SetLEDOff();
        return micOffAnswer;
    }
    void GiveUpPlainBridge() override { Release("give up plain"); }
    void GiveUpEneBridge() override { Release("give up ene"); }
    LightingDevice* Headset(DeviceFamily family) override {
        switch (family) {
            case DeviceFamily::Gen2: return hidFamily == family ? &gen2 : nullptr;
            case DeviceFamily::Gen2Entry: return hidFamily == family ? &gen2Entry : nullptr;
            case DeviceFamily::Gen2Mid: return gen2MidOpen ? &gen2Mid : nullptr;
            case DeviceFamily::TV520: return tv520Open ? &tv520 : nullptr;
            default: return nullptr;
        }
    }
    LightingDevice* Microphone() override { return micOpen ? &mic : nullptr; }

    std::vector<std::string> Calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    void ClearCalls() {
        std::lock_guard lock(mutex_);
        calls_.clear();
    }

    RecordingDevice gen2, gen2Entry, gen2Mid, tv520, mic;
    std::optional<DeviceFamily> hidFamily;
    bool gen2MidOpen = false, tv520Open = false, micOpen = false;
    bool plainBound = true, eneReady = true, micReady = true, bleOn = false;
    bool failOpen = false, failMic = false, failDisconnect = false;
    std::optional<std::uint8_t> micOffAnswer = 4;
    std::function<void(const std::string&)> onRelease;

private:
    static std::string Hex(std::uint16_t v) {
        char t[8];
        std::snprintf(t, sizeof t, "%04x", v);
        return t;
    }
    void Log(std::string call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(call));
    }
    void Release(const std::string& call) {
        if (onRelease) onRelease(call);
        Log(call);
    }
    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
};

// Stored values per target, with every write recorded in order
// ("1:color 230,26,0", "1:behavior 0", "1:switch 1", "sync 1").
class RecordingStore final : public LightingStore {
public:
    struct Values {
        std::uint32_t behavior = kStoreUnsetEffect;
        Colour colour{kStoreUnsetColour, kStoreUnsetColour, kStoreUnsetColour};
        std::uint32_t lightSwitch = kStoreUnsetSwitch;
    };
    void SaveLEDServiceBehavior(std::uint32_t target, std::uint32_t effect) override {
        values[target].behavior = effect;
        writes.push_back(std::to_string(target) + ":behavior " + std::to_string(effect));
    }
    std::uint32_t LoadLEDServiceBehavior(std::uint32_t target) override { return values[target].behavior; }
    void SaveLEDColor(std::uint32_t target, const Colour& c) override {
        // The registry keeps whole numbers (truncated).
        values[target].colour = {static_cast<double>(static_cast<std::int64_t>(c.red)),
                                 static_cast<double>(static_cast<std::int64_t>(c.green)),
                                 static_cast<double>(static_cast<std::int64_t>(c.blue))};
        writes.push_back(std::to_string(target) + ":color " + Text(values[target].colour));
    }
    Colour LoadLEDColor(std::uint32_t target) override { return values[target].colour; }
    void SaveLEDSwitch(std::uint32_t target, std::uint32_t state) override {
        values[target].lightSwitch = state;
        writes.push_back(std::to_string(target) + ":switch " + std::to_string(state));
    }
    std::uint32_t LoadLEDSwitch(std::uint32_t target) override { return values[target].lightSwitch; }
    void SaveSyncStatus(std::uint32_t mask) override {
        syncStatus = mask;
        writes.push_back("sync " + std::to_string(mask));
    }

    static std::string Text(const Colour& c) {
        char t[64];
        std::snprintf(t, sizeof t, "%g,%g,%g", c.red, c.green, c.blue);
        return t;
    }

    std::map<std::uint32_t, Values> values;
    std::uint32_t syncStatus = kSyncStatusNoDevice;
    std::vector<std::string> writes;
};

class RecordingNotifier final : public Notifier {
public:
    void Notify(std::string_view text, std::string_view caption) override {
        notices.emplace_back(text);
        captions.emplace_back(caption);
    }
    std::vector<std::string> notices, captions;
};

class RecordingHost final : public WindowHost {
public:
    void RequestRedraw() override { ++redraws; }
    void StartMicPollTimer(std::chrono::milliseconds period) override {
        timerRunning = true;
        timerPeriod = period;
    }
    void StopMicPollTimer() override { timerRunning = false; }
    int redraws = 0;
    bool timerRunning = false;
    std::chrono::milliseconds timerPeriod{0};
};

// The service's half of the handshake: whenever the delay event is set, it
// answers with the finish event (as the service does while no music runs)
// and resets the delay event.
class FakeServiceSide {
public:
    explicit FakeServiceSide(NamedObjects& objects)
        : delay_(objects.CreateEvent("Global\\waitleddelayevent", true, false, nullptr)),
          finish_(objects.CreateEvent("Global\\waitledfinishevent", true, false, nullptr)),
          thread_([this] { Run(); }) {}
    ~FakeServiceSide() {
        stop_ = true;
        delay_->Set();
        thread_.join();
    }
    int Answers() const { return answers_.load(); }

private:
    void Run() {
        while (!stop_.load()) {
            if (delay_->Wait(std::chrono::milliseconds(-1)) != WaitResult::Signaled) break;
            delay_->Reset();
            if (stop_.load()) break;
            finish_->Set();
            ++answers_;
        }
    }
    std::unique_ptr<NamedEvent> delay_, finish_;
    std::atomic<bool> stop_{false};
    std::atomic<int> answers_{0};
    std::thread thread_;
};

}  // namespace ovra::test
