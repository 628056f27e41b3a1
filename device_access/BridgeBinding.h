#pragma once
// One loaded copy of the bridge library and its table of bound exports. Each
// copy keeps a single open device of its own, so the Gen2Mid headset uses
// "B2Xlib.dll" and the TV520 headset "B2Xlib_ene.dll". A slot whose export is
// missing stays empty and every call through it is skipped.
//
// A copy serves exactly one device, so the binding also carries that device's
// operation lock: a caller holds DeviceLock() for a whole multi-call operation
// (an ENE register access is two calls that must not interleave with another
// thread's).

#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>

#include "device_access/BridgeExports.h"
#include "platform/DebugLog.h"
#include "platform/ModuleLoader.h"

namespace ovra {

inline constexpr std::string_view kPlainBridgeLibrary = "B2Xlib.dll";
inline constexpr std::string_view kEneBridgeLibrary = "B2Xlib_ene.dll";

// Both programs select the bridge's I2C bus themselves and address registers
// with one sub-address byte.
inline constexpr int kBridgeBusMode = 2;
inline constexpr int kBridgeAddressWidth = 1;

struct BridgeSlots {
    BrxLibInitializeFn* m_pfnBrxLib_Initialize = nullptr;
    BrxLibUnInitializeFn* m_pfnBrxLib_UnInitialize = nullptr;
    UvcOpenFn* m_pfnUVC_Open = nullptr;
    UvcOpenPidFn* m_pfnUVC_OpenPID = nullptr;
    UvcCloseFn* m_pfnUVC_Close = nullptr;
    ReadI2CSuperRegisterFn* m_pfnReadI2CSuperRegister = nullptr;
    WriteI2CSuperRegisterFn* m_pfnWriteI2CSuperRegister = nullptr;
    ReadI2CRegisterDspFn* m_pfnReadI2CRegister_DSP = nullptr;
    WriteI2CRegisterDspFn* m_pfnWriteI2CRegister_DSP = nullptr;
    UsbCustomerControlFn* m_pfnUSB_Customer_Control = nullptr;  // ENE copy only
};

class BridgeBinding {
public:
    // Builds the binding of one copy: load it from the program's folder, bind
    // the exports by name (USB_Customer_Control only when `withCustomerControl`)
    // and, when the copy loaded, BrxLib_Initialize(0, 0). Never null: a copy
    // that cannot be loaded gives an empty binding. A file that is there but
    // cannot be loaded is reported with a log line.
    static std::unique_ptr<BridgeBinding> Load(ModuleLoader& loader, std::string_view fileName,
                                               bool withCustomerControl, DebugLog& log);

    BridgeBinding(std::unique_ptr<Module> module, bool withCustomerControl);
    BridgeBinding(const BridgeBinding&) = delete;
    BridgeBinding& operator=(const BridgeBinding&) = delete;

    // The programs' "ready" flag for a copy (the ENE-ready flag): the copy was
    // loaded and BrxLib_Initialize called; its result is not examined, a copy
    // whose driver could not start simply finds no device later.
    bool Loaded() const { return module_ != nullptr; }
    // True once BrxLib_Initialize was called and reported success (diagnostics).
    bool Initialised() const { return initialised_; }
    const BridgeSlots& Slots() const { return slots_; }
    const Module* LoadedModule() const { return module_.get(); }

    // The calls as the programs make them; each is skipped (and reports
    // failure) when its slot is empty.
    bool Initialize();                   // BrxLib_Initialize(0, 0)
    bool UnInitialize();                 // BrxLib_UnInitialize
    unsigned OpenPid(unsigned productId);  // UVC_OpenPID; 0 = not found / unbound
    bool Close();                        // UVC_Close: closes the copy's one open device
    bool CustomerControl(int mode);      // USB_Customer_Control
    bool WriteRegister(std::uint8_t slave, std::uint32_t subAddress,
                       std::span<const std::uint8_t> data);
    bool ReadRegister(std::uint8_t slave, std::uint32_t subAddress, std::span<std::uint8_t> data);
    // ReadI2CRegister_DSP with width 2: the 16-bit value in the low half.
    bool ReadDspRegister(std::uint8_t slave, std::uint32_t dspAddress, std::uint32_t& value);

    std::mutex& DeviceLock() const { return deviceLock_; }

private:
    std::unique_ptr<Module> module_;
    BridgeSlots slots_;
    bool initialised_ = false;
    mutable std::mutex deviceLock_;
};

}  // namespace ovra
