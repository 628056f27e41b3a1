#pragma once
// The UI program's brain, without drawing: finds and connects the devices,
// follows plug and unplug, applies the user's lighting choice (with the
// handshake that makes the service let go of the devices), reads a device's
// lighting back when it is selected, polls the microphone for changes made on
// it, and runs the frame synchronisation. It holds the window's state
// (WindowState); the window draws that and forwards clicks here.
//
// Everything runs on the UI thread except the frame-sync thread, which reaches
// the devices only through FrameSyncDevices below: each of its device
// operations runs under that device's lock and only while the device is
// connected, and dismissal takes the same lock.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/DebugLog.h"
#include "platform/DeviceTree.h"
#include "platform/NamedObjects.h"
#include "platform/Notifier.h"
#include "ui_program/core/DeviceClassification.h"
#include "ui_program/core/DeviceLinks.h"
#include "ui_program/core/FrameSync.h"
#include "ui_program/core/LightingStore.h"
#include "ui_program/core/WindowHost.h"
#include "ui_program/core/WindowState.h"

namespace ovra {

struct LightingModelDeps {
    DeviceTree& tree;
    DeviceLinks& links;
    LightingStore& store;
    NamedObjects& objects;
    Clock& clock;
    DebugLog& log;
    Notifier& notifier;
    WindowHost& host;
};

// The handshake events shared with the service.
inline constexpr const char* kSettingDataEvent = "Global\\ledsettingdataevent";
inline constexpr const char* kDelayEvent = "Global\\waitleddelayevent";
inline constexpr const char* kFinishEvent = "Global\\waitledfinishevent";

inline constexpr const char* kProgramCaption = "OVRA(ZIRUZAVUVU)";
inline constexpr const char* kSelectDeviceText = "Please select a device.";
inline constexpr const char* kBleOnText = "BLE Status is ON. Unable to operate.";
inline constexpr const char* kNotSentText =
    "The lighting choice was saved but could not be sent to the headset.";

enum class EndReason { WindowClose, SessionEnd };

class LightingModel final : private FrameSyncDevices {
public:
    static constexpr std::chrono::milliseconds kHandshakePause{100};
    static constexpr std::chrono::milliseconds kFinishWait{3000};
    static constexpr std::chrono::milliseconds kMicPollPeriod{500};
    static constexpr std::chrono::milliseconds kSyncStopBound{3000};

    explicit LightingModel(LightingModelDeps deps);
    ~LightingModel() override;
    LightingModel(const LightingModel&) = delete;
    LightingModel& operator=(const LightingModel&) = delete;

    // --- start-up and device management ---
    // Creates the three handshake events (either program may come first).
    bool CreateHandshakeEvents();
    // While set, connecting a device does not select it.
    void SetStartingUp(bool startingUp) { startingUp_ = startingUp; }
    // Registers for device-change notices; false (and the log line) on failure.
    bool RegisterDeviceChange();
    void UnregisterDeviceChange();
    // The descriptor the main loop watches; -1 when not registered or none.
    int DeviceChangeFd() const;
    // The main loop saw the descriptor readable (tests: notices are waiting):
    // handles every waiting notice, then runs one discovery pass if any of
    // them changed the tree.
    void OnDeviceChangesReady();
    // One device-change message; returns 0 like the window procedure.
    int OnDeviceChange(DeviceChangeCode code);
    void DiscoverDevices();
    void EndDeviceConnections(EndReason reason);

    // --- window actions ---
    void OnApply();
    void OnSwitchButton();
    void OnEffectChoice(EffectChoice choice);
    void OnSpecialEffectsBox();
    void OnSyncBox();
    void OnHeadsetButton();
    void OnMicButton();
    // End of the window's start-up: the headset when one is connected,
    // otherwise the microphone.
    void SelectInitialDevice();
    void OnMicPollTimer();
    void SetColour(const Colour& colour) { state_.colour = colour; }
    void SetActiveBar(ActiveBar bar) { state_.activeBar = bar; }
    // Runs before every apply (the program starts the service if needed).
    void SetStartService(std::function<void()> startService) { startService_ = std::move(startService); }

    // The apply itself (also run by the switch and the microphone poll).
    void SetLedControl();

    // --- observation ---
    const WindowState& State() const { return state_; }
    bool Connected(DeviceFamily family) const;
    bool AnyHeadsetConnected() const;
    LightingEffect CurrentEffect() const override { return currentEffect_.load(); }
    std::uint32_t MicLightEffect() const { return micLightEffect_; }
    bool MicPollRunning() const { return micPollRunning_; }
    FrameSync* SyncThread() { return frameSync_.get(); }

private:
    // Connection state per kind.
    struct Connection {
        std::optional<DeviceFamily> family;   // headset: the connected family
        std::string instanceId;               // the node it was connected from
    };

    // Discovery steps.
    bool ConnectHeadset(const ClassifiedProduct& product);
    bool ConnectHidHeadset(const ClassifiedProduct& product);
    bool ConnectGen2Mid();
    bool ConnectTv520();
    bool ConnectMicrophone();
    void DismissHeadset();
    void DismissMicrophone();
    void UpdateSyncAvailability();
    void AfterHeadsetConnected();
    void WakeService();  // settings event, 100 ms, delay event
    void SetConnected(DeviceFamily family, bool connected);
    std::optional<DeviceFamily> HeadsetFamily() const;

    // Apply steps.
    LightingEffect EffectFromChoice() const;
    std::uint32_t SyncStatusMask() const;
    bool ReleaseRequest();  // the wake-up pair, then the wait for the service
    void StoreChoice(std::uint32_t target, LightingEffect effect);
    void StartMicPoll();
    void StopMicPoll();

    // Switch, choices and panel views.
    void SwitchAction();
    void ChooseEffect(EffectChoice choice);
    void SetPanelView(int view);
    void MakeSyncAvailable();
    void MakeSyncUnavailable();
    bool StrobingRainbowAllowed() const;

    // Selection and read-back.
    void ReadBackHeadset();
    void ReadBackMicrophone();
    void FinishReadBack(std::uint32_t storedSwitch, LightingEffect shown, const Colour& colour);
    void SelectHeadsetIfFree();

    // FrameSyncDevices (frame-sync thread).
    bool Gen2MidConnected() const override { return Connected(DeviceFamily::Gen2Mid); }
    std::optional<std::uint8_t> ReadHeadsetFrame() override;
    void WriteHeadsetFrame(std::uint8_t frame) override;
    std::optional<std::uint8_t> ReadMicFrame() override;
    void WriteMicFrame(std::uint8_t frame) override;

    LightingModelDeps deps_;
    WindowState state_;
    std::function<void()> startService_;
    bool startingUp_ = false;

    // Written by the UI thread, read by the frame-sync thread.
    std::atomic<bool> gen2_{false}, gen2Entry_{false}, gen2Mid_{false}, tv520_{false}, mk470_{false};
    std::atomic<LightingEffect> currentEffect_{LightingEffect::Static};
    // Held for every device operation of the frame-sync thread and for
    // dismissal, so a device is never released in the middle of one.
    std::mutex headsetLock_;
    std::mutex micLock_;

    Connection headset_;
    Connection microphone_;
    std::uint32_t gen2MidHandle_ = 0;
    std::uint32_t micLightEffect_ = 0;
    bool micPollRunning_ = false;
    bool ended_ = false;

    std::unique_ptr<NamedEvent> settingDataEvent_, delayEvent_, finishEvent_;
    std::unique_ptr<DeviceChangeSource> changeSource_;
    std::unique_ptr<FrameSync> frameSync_;
};

}  // namespace ovra
