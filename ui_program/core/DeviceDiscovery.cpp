// Finding and connecting the devices, following plug and unplug, releasing
// everything at the end.
#include <algorithm>

#include "ui_program/core/LightingModel.h"
#include "ui_program/core/StoredValues.h"

namespace ovra {

LightingModel::LightingModel(LightingModelDeps deps) : deps_(deps) {}

LightingModel::~LightingModel() {
    // The thread must be gone before the devices it reads are.
    if (frameSync_) frameSync_->Stop(kSyncStopBound);
    frameSync_.reset();
}

bool LightingModel::CreateHandshakeEvents() {
    settingDataEvent_ = deps_.objects.CreateEvent(kSettingDataEvent, true, false, nullptr);
    delayEvent_ = deps_.objects.CreateEvent(kDelayEvent, true, false, nullptr);
    finishEvent_ = deps_.objects.CreateEvent(kFinishEvent, true, false, nullptr);
    return settingDataEvent_ && delayEvent_ && finishEvent_;
}

bool LightingModel::RegisterDeviceChange() {
    changeSource_ = deps_.tree.WatchChanges();
    if (!changeSource_) {
        deps_.log.Write("\nRegisterDeviceNotification FAILED!!\n");
        return false;
    }
    return true;
}

void LightingModel::UnregisterDeviceChange() { changeSource_.reset(); }

int LightingModel::DeviceChangeFd() const { return changeSource_ ? changeSource_->PollFd() : -1; }

void LightingModel::OnDeviceChangesReady() {
    if (!changeSource_) return;
    // A burst of notices (a hub with several devices, a flaky cable) runs one
    // discovery pass, not one per notice: the pass looks at the whole tree
    // anyway.
    bool treeChanged = false;
    for (const auto& change : changeSource_->TakeChanges()) {
        if (change.code == DeviceChangeCode::TreeChanged) {
            deps_.log.Write("DBT_DEVTYP_DEVINST!!\n");
            treeChanged = true;
        } else {
            OnDeviceChange(change.code);
        }
    }
    if (treeChanged) DiscoverDevices();
}

int LightingModel::OnDeviceChange(DeviceChangeCode code) {
    switch (code) {
        case DeviceChangeCode::TreeChanged:
            deps_.log.Write("DBT_DEVTYP_DEVINST!!\n");
            DiscoverDevices();
            break;
        case DeviceChangeCode::Arrival: deps_.log.Write("DBT_DEVICEARRIVAL!!\n"); break;
        case DeviceChangeCode::RemoveComplete: deps_.log.Write("DBT_DEVICEREMOVECOMPLETE!!\n"); break;
        default: deps_.log.Write("OnDeviceChange: default!!\n"); break;
    }
    return 0;
}

void LightingModel::DiscoverDevices() {
    if (ended_) return;
    std::vector<DeviceNode> nodes;
    if (!deps_.tree.ListPresentDevices(nodes)) {
        deps_.log.Write("SetupDiGetClassDevs FAILED!!\n");
        return;
    }
    struct Candidate {
        ClassifiedProduct product;
        std::string instanceId;
    };
    std::vector<Candidate> headsets, microphones;
    for (const auto& node : nodes) {
        if (!node.instanceId) {
            // One unreadable node (gone while listed) says nothing about the
            // others: skip it and look at the rest.
            deps_.log.Write("SetupDiGetDeviceInstanceId FAILED!!\n");
            continue;
        }
        auto product = ClassifyInstanceId(*node.instanceId);
        if (!product) continue;
        (product->IsHeadset() ? headsets : microphones).push_back({*product, *node.instanceId});
    }
    auto present = [](const std::vector<Candidate>& list, const std::string& id) {
        return std::any_of(list.begin(), list.end(), [&](const Candidate& c) { return c.instanceId == id; });
    };

    // The connected device's own node decides whether it is gone, so that
    // unplugging it while another headset stays attached dismisses it and
    // lets the other one connect.
    if (HeadsetFamily() && !present(headsets, headset_.instanceId)) DismissHeadset();
    if (mk470_.load() && !present(microphones, microphone_.instanceId)) DismissMicrophone();

    if (!HeadsetFamily()) {
        for (const auto& candidate : headsets) {
            if (ConnectHeadset(candidate.product)) {
                headset_.instanceId = candidate.instanceId;
                break;
            }
        }
    }
    if (!mk470_.load()) {
        for (const auto& candidate : microphones) {
            if (ConnectMicrophone()) {
                microphone_.instanceId = candidate.instanceId;
                break;
            }
        }
    }
    UpdateSyncAvailability();
    deps_.host.RequestRedraw();
}

bool LightingModel::ConnectHeadset(const ClassifiedProduct& product) {
    switch (product.kind) {
        case ProductKind::HidHeadset: return ConnectHidHeadset(product);
        case ProductKind::Gen2MidHeadset: return ConnectGen2Mid();
        case ProductKind::Tv520Headset: return ConnectTv520();
        case ProductKind::Microphone: return false;
    }
    return false;
}

bool LightingModel::ConnectHidHeadset(const ClassifiedProduct& product) {
    const UsbId ids = HidHeadsetIds(product.productText);
    {
        std::lock_guard lock(headsetLock_);
        if (!deps_.links.OpenHidHeadset(product.family, ids.vendor, ids.product)) {
            deps_.log.Write("\nConnect Headset failed, please check usb device!!\n");
            return false;
        }
        SetConnected(product.family, true);
    }
    deps_.log.Write(product.family == DeviceFamily::Gen2Entry ? "\nConnect Headset_Entry Success!!\n"
                                                             : "\nConnect Headset Success!!\n");
    AfterHeadsetConnected();
    WakeService();
    return true;
}

bool LightingModel::ConnectGen2Mid() {
    if (!deps_.links.PlainBridgeBound()) return false;
    std::uint32_t handle;
    {
        std::lock_guard lock(headsetLock_);
        handle = deps_.links.OpenGen2Mid();
        if (handle == 0) return false;
        gen2MidHandle_ = handle;
        SetConnected(DeviceFamily::Gen2Mid, true);
    }
    deps_.log.Printf("\nm_pfnUVC_OpenPID OK - %lu\n", static_cast<unsigned long>(handle));
    AfterHeadsetConnected();
    WakeService();
    return true;
}

bool LightingModel::ConnectTv520() {
    if (!deps_.links.EneReady()) {
        deps_.log.Write("\nInit ENE DLL Failed!\n");
        return false;
    }
    {
        std::lock_guard lock(headsetLock_);
        if (!deps_.links.OpenTV520()) return false;
        SetConnected(DeviceFamily::TV520, true);
    }
    deps_.log.Write("\nENE Connect ok!\n");
    AfterHeadsetConnected();  // this connection wakes no service
    return true;
}

void LightingModel::AfterHeadsetConnected() {
    state_.headsetButtonEnabled = true;
    if (state_.selected != SelectedDevice::Microphone && !startingUp_) OnHeadsetButton();
}

bool LightingModel::ConnectMicrophone() {
    if (!deps_.links.MicLibraryReady()) {
        deps_.log.Write("\nInit ITE DLL Failed!\n");
        return false;
    }
    {
        std::lock_guard lock(micLock_);
        if (!deps_.links.ConnectMicrophone()) {
            deps_.log.Write("\nConnect Microphone failed, please check usb device!!\n");
            return false;
        }
        SetConnected(DeviceFamily::MK470, true);
    }
    deps_.log.Write("\nConnect MK470 OK!\n");
    state_.micButtonEnabled = true;
    StartMicPoll();
    deps_.log.Write("\nStart Timer!!\n");
    if (state_.selected != SelectedDevice::Headset && !startingUp_) {
        OnMicButton();
    } else {
        const auto stored = SanitizedEffect(deps_.store.LoadLEDServiceBehavior(kStoreMicrophone));
        micLightEffect_ = stored == LightingEffect::Music ? 0 : static_cast<std::uint32_t>(stored);
    }
    WakeService();
    return true;
}

void LightingModel::DismissHeadset() {
    const auto family = HeadsetFamily();
    if (!family) return;
    {
        std::lock_guard lock(headsetLock_);
        switch (*family) {
            case DeviceFamily::Gen2:
            case DeviceFamily::Gen2Entry:
                deps_.log.Write("Dismiss Gen2!!!!!!!!!\n");
                deps_.links.CloseHidHeadset();
                break;
            case DeviceFamily::Gen2Mid:
                deps_.log.Write("Dismiss Gen2Mid!!!!!!!!!\n");
                if (deps_.links.PlainBridgeBound()) deps_.links.CloseGen2Mid(gen2MidHandle_);
                gen2MidHandle_ = 0;
                break;
            case DeviceFamily::TV520:
                deps_.log.Write("Dismiss TV520!!!!!!!!!\n");
                deps_.links.ReleaseTV520();
                break;
            case DeviceFamily::MK470: break;
        }
        SetConnected(*family, false);
    }
    headset_.instanceId.clear();
    if (state_.selected == SelectedDevice::Headset) {
        state_.modelName.clear();
        if (mk470_.load()) OnMicButton();
    }
    state_.headsetButtonEnabled = false;
    if (state_.selected == SelectedDevice::Headset) state_.selected = SelectedDevice::None;
}

void LightingModel::DismissMicrophone() {
    deps_.log.Write("Dismiss MK470!!!!!!!!!\n");
    {
        std::lock_guard lock(micLock_);
        if (!deps_.links.DisconnectMicrophone()) {
            deps_.log.Write("\nDisconnect MK470 Failed!\n");
            return;
        }
        SetConnected(DeviceFamily::MK470, false);
    }
    microphone_.instanceId.clear();
    // Nothing is left to poll, whichever device is selected.
    StopMicPoll();
    if (state_.selected == SelectedDevice::Microphone) {
        state_.modelName.clear();
        if (HeadsetFamily()) OnHeadsetButton();
    }
    state_.micButtonEnabled = false;
    if (state_.selected == SelectedDevice::Microphone) state_.selected = SelectedDevice::None;
}

void LightingModel::UpdateSyncAvailability() {
    const bool pair = (gen2_.load() || gen2Mid_.load() || tv520_.load()) && mk470_.load();
    if (pair) {
        if (state_.choice != EffectChoice::Strobing && state_.choice != EffectChoice::Rainbow) {
            state_.syncEnabled = true;
            state_.disableSyncDevShown = false;
        }
        if (!frameSync_) {
            frameSync_ = std::make_unique<FrameSync>(static_cast<FrameSyncDevices&>(*this), deps_.objects, deps_.clock, deps_.log);
            frameSync_->Start();
            deps_.log.Write("\nCreate hThread_SyncLEDThread!!\n");
        }
    } else {
        state_.syncChecked = false;
        state_.syncEnabled = false;
        state_.disableSyncDevShown = true;
        if (frameSync_) {
            frameSync_->SetPaused(true);
            frameSync_->Signal();
        }
    }
}

void LightingModel::EndDeviceConnections(EndReason reason) {
    if (ended_) return;
    ended_ = true;
    // The frame-sync thread goes first: it must not be in the middle of a
    // device operation while the devices are released. Should it not end in
    // time, the per-device locks below still keep it off released devices.
    if (frameSync_) frameSync_->Stop(kSyncStopBound);
    if (reason == EndReason::SessionEnd) {
        deps_.clock.SleepFor(std::chrono::milliseconds(200));
        StopMicPoll();
    }
    {
        std::lock_guard lock(headsetLock_);
        if (gen2_.load() || gen2Entry_.load()) deps_.links.CloseHidHeadset();
        if (gen2Mid_.load()) deps_.links.GiveUpPlainBridge();
        if (tv520_.load() && deps_.links.EneReady()) deps_.links.GiveUpEneBridge();
        gen2_ = gen2Entry_ = gen2Mid_ = tv520_ = false;
    }
    {
        std::lock_guard lock(micLock_);
        if (mk470_.load()) deps_.links.DisconnectMicrophone();
        mk470_ = false;
    }
    if (reason == EndReason::WindowClose) StopMicPoll();
    UnregisterDeviceChange();
}

void LightingModel::WakeService() {
    if (settingDataEvent_) settingDataEvent_->Set();
    deps_.clock.SleepFor(kHandshakePause);
    if (delayEvent_) delayEvent_->Set();
}

void LightingModel::SetConnected(DeviceFamily family, bool connected) {
    switch (family) {
        case DeviceFamily::Gen2: gen2_ = connected; break;
        case DeviceFamily::Gen2Entry: gen2Entry_ = connected; break;
        case DeviceFamily::Gen2Mid: gen2Mid_ = connected; break;
        case DeviceFamily::TV520: tv520_ = connected; break;
        case DeviceFamily::MK470: mk470_ = connected; break;
    }
}

bool LightingModel::Connected(DeviceFamily family) const {
    switch (family) {
        case DeviceFamily::Gen2: return gen2_.load();
        case DeviceFamily::Gen2Entry: return gen2Entry_.load();
        case DeviceFamily::Gen2Mid: return gen2Mid_.load();
        case DeviceFamily::TV520: return tv520_.load();
        case DeviceFamily::MK470: return mk470_.load();
    }
    return false;
}

// The one connected headset family, in the order Gen2Entry, TV520, Gen2,
// Gen2Mid (at most one is ever set).
std::optional<DeviceFamily> LightingModel::HeadsetFamily() const {
    if (gen2Entry_.load()) return DeviceFamily::Gen2Entry;
    if (tv520_.load()) return DeviceFamily::TV520;
    if (gen2_.load()) return DeviceFamily::Gen2;
    if (gen2Mid_.load()) return DeviceFamily::Gen2Mid;
    return std::nullopt;
}

bool LightingModel::AnyHeadsetConnected() const { return HeadsetFamily().has_value(); }

std::optional<std::uint8_t> LightingModel::ReadHeadsetFrame() {
    std::lock_guard lock(headsetLock_);
    const auto family = HeadsetFamily();
    LightingDevice* device = family ? deps_.links.Headset(*family) : nullptr;
    return device ? device->GetLEDFrame() : std::nullopt;
}

void LightingModel::WriteHeadsetFrame(std::uint8_t frame) {
    std::lock_guard lock(headsetLock_);
    const auto family = HeadsetFamily();
    if (LightingDevice* device = family ? deps_.links.Headset(*family) : nullptr)
        device->SetLEDFrame(frame);
}

std::optional<std::uint8_t> LightingModel::ReadMicFrame() {
    std::lock_guard lock(micLock_);
    LightingDevice* device = mk470_.load() ? deps_.links.Microphone() : nullptr;
    return device ? device->GetLEDFrame() : std::nullopt;
}

void LightingModel::WriteMicFrame(std::uint8_t frame) {
    std::lock_guard lock(micLock_);
    if (LightingDevice* device = mk470_.load() ? deps_.links.Microphone() : nullptr)
        device->SetLEDFrame(frame);
}

}  // namespace ovra
