#pragma once
// The device links of the running program: the HID connection for the HID
// headsets, the plain and ENE bridge-library copies for the Gen2Mid and TV520
// headsets, the microphone library for the MK470. A copy that is not loaded
// is passed as null; its family then never connects.

#include <memory>

#include "device_access/BridgeBinding.h"
#include "device_access/BridgeConnections.h"
#include "device_access/Gen2MidHeadset.h"
#include "device_access/HidControl.h"
#include "device_access/HidHeadset.h"
#include "device_access/MicBinding.h"
#include "device_access/Mk470Microphone.h"
#include "device_access/Tv520Headset.h"
#include "ui_program/core/DeviceLinks.h"

namespace ovra {

struct BoundDeviceParts {
    HidControl& hid;
    Clock& clock;
    DebugLog& log;
    BridgeBinding* plain = nullptr;     // "B2Xlib.dll"
    BridgeBinding* ene = nullptr;       // "B2Xlib_ene.dll"
    Tv520Connection* tv520 = nullptr;   // over `ene`
    MicBinding* mic = nullptr;          // "ITECCTdll.dll"
};

class BoundDeviceLinks final : public DeviceLinks {
public:
    explicit BoundDeviceLinks(BoundDeviceParts parts) : parts_(parts) {}

    bool OpenHidHeadset(DeviceFamily family, std::uint16_t vendor, std::uint16_t product) override;
    void CloseHidHeadset() override;
    bool PlainBridgeBound() const override;
    std::uint32_t OpenGen2Mid() override;
    void CloseGen2Mid(std::uint32_t handle) override;
    bool Gen2MidBleOn() override;
    bool EneReady() const override;
    bool OpenTV520() override;
    void ReleaseTV520() override;
    bool MicLibraryReady() const override;
    bool ConnectMicrophone() override;
    bool DisconnectMicrophone() override;
    std::optional<std::uint8_t> MicSwitchOff() override;
    void GiveUpPlainBridge() override;
    void GiveUpEneBridge() override;
    LightingDevice* Headset(DeviceFamily family) override;
    LightingDevice* Microphone() override { return mk470_.get(); }

private:
    BoundDeviceParts parts_;
    std::unique_ptr<HidHeadset> hidHeadset_;
    std::unique_ptr<Gen2MidHeadset> gen2Mid_;
    std::unique_ptr<Tv520Headset> tv520_;
    std::unique_ptr<Mk470Microphone> mk470_;
};

}  // namespace ovra
