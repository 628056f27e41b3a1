#include "device_access/BridgeBinding.h"

namespace ovra {

std::unique_ptr<BridgeBinding> BridgeBinding::Load(ModuleLoader& loader, std::string_view fileName,
                                                   bool withCustomerControl, DebugLog& log) {
    auto loaded = loader.Load(fileName);
    if (loaded.status == ModuleStatus::NotAModule)
        log.Printf("\nLoad %s failed: %s\n", loaded.path.c_str(), loaded.error.c_str());
    auto binding = std::make_unique<BridgeBinding>(std::move(loaded.module), withCustomerControl);
    if (binding->Loaded()) binding->Initialize();
    return binding;
}

BridgeBinding::BridgeBinding(std::unique_ptr<Module> module, bool withCustomerControl)
    : module_(std::move(module)) {
    const Module* m = module_.get();
    slots_.m_pfnBrxLib_Initialize = BindExport<BrxLibInitializeFn>(m, "BrxLib_Initialize");
    slots_.m_pfnBrxLib_UnInitialize = BindExport<BrxLibUnInitializeFn>(m, "BrxLib_UnInitialize");
    slots_.m_pfnUVC_Open = BindExport<UvcOpenFn>(m, "UVC_Open");
    slots_.m_pfnUVC_OpenPID = BindExport<UvcOpenPidFn>(m, "UVC_OpenPID");
    slots_.m_pfnUVC_Close = BindExport<UvcCloseFn>(m, "UVC_Close");
    slots_.m_pfnReadI2CSuperRegister =
        BindExport<ReadI2CSuperRegisterFn>(m, "ReadI2CSuperRegister");
    slots_.m_pfnWriteI2CSuperRegister =
        BindExport<WriteI2CSuperRegisterFn>(m, "WriteI2CSuperRegister");
    slots_.m_pfnReadI2CRegister_DSP = BindExport<ReadI2CRegisterDspFn>(m, "ReadI2CRegister_DSP");
    slots_.m_pfnWriteI2CRegister_DSP =
        BindExport<WriteI2CRegisterDspFn>(m, "WriteI2CRegister_DSP");
    if (withCustomerControl)
        slots_.m_pfnUSB_Customer_Control =
            BindExport<UsbCustomerControlFn>(m, "USB_Customer_Control");
}

bool BridgeBinding::Initialize() {
    if (slots_.m_pfnBrxLib_Initialize == nullptr) return false;
    initialised_ = slots_.m_pfnBrxLib_Initialize(0, 0) != 0;
    return initialised_;
}

bool BridgeBinding::UnInitialize() {
    // The library's function takes no argument (the programs pass a 0 it ignores).
    if (slots_.m_pfnBrxLib_UnInitialize == nullptr) return false;
    initialised_ = false;
    return slots_.m_pfnBrxLib_UnInitialize() != 0;
}

unsigned BridgeBinding::OpenPid(unsigned productId) {
    if (slots_.m_pfnUVC_OpenPID == nullptr) return 0;
    return slots_.m_pfnUVC_OpenPID(productId);
}

bool BridgeBinding::Close() {
    if (slots_.m_pfnUVC_Close == nullptr) return false;
    return slots_.m_pfnUVC_Close() != 0;
}

bool BridgeBinding::CustomerControl(int mode) {
    if (slots_.m_pfnUSB_Customer_Control == nullptr) return false;
    return slots_.m_pfnUSB_Customer_Control(mode) != 0;
}

bool BridgeBinding::WriteRegister(std::uint8_t slave, std::uint32_t subAddress,
                                  std::span<const std::uint8_t> data) {
    if (slots_.m_pfnWriteI2CSuperRegister == nullptr) return false;
    return slots_.m_pfnWriteI2CSuperRegister(slave, kBridgeBusMode, kBridgeAddressWidth, subAddress,
                                             static_cast<unsigned>(data.size()), data.data()) != 0;
}

bool BridgeBinding::ReadRegister(std::uint8_t slave, std::uint32_t subAddress,
                                 std::span<std::uint8_t> data) {
    if (slots_.m_pfnReadI2CSuperRegister == nullptr) return false;
    return slots_.m_pfnReadI2CSuperRegister(slave, kBridgeBusMode, kBridgeAddressWidth, subAddress,
                                            static_cast<unsigned>(data.size()), data.data()) != 0;
}

bool BridgeBinding::ReadDspRegister(std::uint8_t slave, std::uint32_t dspAddress,
                                    std::uint32_t& value) {
    if (slots_.m_pfnReadI2CRegister_DSP == nullptr) return false;
    unsigned raw = 0;
    constexpr unsigned kSixteenBits = 2;
    if (slots_.m_pfnReadI2CRegister_DSP(slave, dspAddress, &raw, kSixteenBits) == 0) return false;
    value = raw;
    return true;
}

}  // namespace ovra
