#pragma once
// Port of the device management: how each device family is connected,
// released and reached. The program binds it to the HID connection, the two
// bridge-library copies and the microphone library; tests bind doubles.
// Every call is made on the UI thread, except the lighting operations of the
// devices returned by Headset()/Microphone(), which the frame-sync thread
// also uses (the model serialises them per device).

#include <cstdint>
#include <optional>

#include "device_access/LightingDevice.h"
#include "device_access/LightingTypes.h"

namespace ovra {

class DeviceLinks {
public:
    virtual ~DeviceLinks() = default;

    // HID headsets (Gen2, Gen2Entry): open the device with these ids and
    // start its read thread. False when either fails (nothing stays open).
    virtual bool OpenHidHeadset(DeviceFamily family, std::uint16_t vendor,
                                std::uint16_t product) = 0;
    virtual void CloseHidHeadset() = 0;

    // Gen2Mid through the plain bridge-library copy.
    virtual bool PlainBridgeBound() const = 0;
    virtual std::uint32_t OpenGen2Mid() = 0;  // the device handle; 0 when none
    virtual void CloseGen2Mid(std::uint32_t handle) = 0;
    virtual bool Gen2MidBleOn() = 0;

    // TV520 through the ENE bridge-library copy.
    virtual bool EneReady() const = 0;
    virtual bool OpenTV520() = 0;
    virtual void ReleaseTV520() = 0;

    // MK470 through the microphone library.
    virtual bool MicLibraryReady() const = 0;
    virtual bool ConnectMicrophone() = 0;
    virtual bool DisconnectMicrophone() = 0;
    // Turns the microphone light off; the mode it then reports (normally 4).
    virtual std::optional<std::uint8_t> MicSwitchOff() = 0;

    // At program end: give the library copies up.
    virtual void GiveUpPlainBridge() = 0;
    virtual void GiveUpEneBridge() = 0;

    // The lighting operations of a connected family; null when that family
    // is not connected.
    virtual LightingDevice* Headset(DeviceFamily family) = 0;
    virtual LightingDevice* Microphone() = 0;
};

}  // namespace ovra
