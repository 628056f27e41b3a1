#include "ui_program/core/BoundDeviceLinks.h"

namespace ovra {

bool BoundDeviceLinks::OpenHidHeadset(DeviceFamily family, std::uint16_t vendor,
                                      std::uint16_t product) {
    if (!parts_.hid.OpenDevice(vendor, product)) return false;
    if (!parts_.hid.StartReadThread()) {
        parts_.hid.CloseDevice();
        return false;
    }
    hidHeadset_ = std::make_unique<HidHeadset>(family, parts_.hid, parts_.clock, parts_.log);
    return true;
}

void BoundDeviceLinks::CloseHidHeadset() {
    hidHeadset_.reset();
    parts_.hid.CloseDevice();
}

bool BoundDeviceLinks::PlainBridgeBound() const { return parts_.plain && parts_.plain->Loaded(); }

std::uint32_t BoundDeviceLinks::OpenGen2Mid() {
    if (!PlainBridgeBound()) return 0;
    const unsigned handle = parts_.plain->OpenPid(kGen2MidProductId);
    if (handle != 0) gen2Mid_ = std::make_unique<Gen2MidHeadset>(*parts_.plain, parts_.clock);
    return handle;
}

void BoundDeviceLinks::CloseGen2Mid(std::uint32_t) {
    gen2Mid_.reset();
    if (PlainBridgeBound()) parts_.plain->Close();
}

bool BoundDeviceLinks::Gen2MidBleOn() { return gen2Mid_ && gen2Mid_->BleStatusOn(); }

bool BoundDeviceLinks::EneReady() const {
    return parts_.ene && parts_.tv520 && parts_.ene->Loaded() && parts_.ene->Initialised();
}

bool BoundDeviceLinks::OpenTV520() {
    if (!EneReady() || !parts_.tv520->OpenTV520()) return false;
    tv520_ = std::make_unique<Tv520Headset>(*parts_.ene, parts_.clock);
    return true;
}

void BoundDeviceLinks::ReleaseTV520() {
    tv520_.reset();
    if (parts_.tv520) parts_.tv520->ReleaseTV520();
}

bool BoundDeviceLinks::MicLibraryReady() const { return parts_.mic && parts_.mic->Ready(); }

bool BoundDeviceLinks::ConnectMicrophone() {
    if (!MicLibraryReady() || !parts_.mic->ConnectDevice()) return false;
    mk470_ = std::make_unique<Mk470Microphone>(*parts_.mic, parts_.log);
    return true;
}

bool BoundDeviceLinks::DisconnectMicrophone() {
    if (!parts_.mic) return false;
    if (!parts_.mic->DisconnectDevice()) return false;
    mk470_.reset();
    return true;
}

std::optional<std::uint8_t> BoundDeviceLinks::MicSwitchOff() {
    return mk470_ ? mk470_->SwitchOff() : std::nullopt;
}

void BoundDeviceLinks::GiveUpPlainBridge() {
    gen2Mid_.reset();
    if (PlainBridgeBound()) GiveUpGen2MidBinding(*parts_.plain);
}

void BoundDeviceLinks::GiveUpEneBridge() {
    tv520_.reset();
    if (parts_.tv520) parts_.tv520->GiveUp();
}

LightingDevice* BoundDeviceLinks::Headset(DeviceFamily family) {
    switch (family) {
        case DeviceFamily::Gen2:
        case DeviceFamily::Gen2Entry:
            return hidHeadset_ && hidHeadset_->Family() == family ? hidHeadset_.get() : nullptr;
        case DeviceFamily::Gen2Mid: return gen2Mid_.get();
        case DeviceFamily::TV520: return tv520_.get();
        case DeviceFamily::MK470: return nullptr;
    }
    return nullptr;
}

}  // namespace ovra
