#include "device_access/MicBinding.h"

namespace ovra {

std::unique_ptr<MicBinding> MicBinding::Load(ModuleLoader& loader, DebugLog& log) {
    auto loaded = loader.Load(kMicLibrary);
    if (loaded.status == ModuleStatus::NotAModule)
        log.Printf("\nLoad %s failed: %s\n", loaded.path.c_str(), loaded.error.c_str());
    return std::make_unique<MicBinding>(std::move(loaded.module));
}

MicBinding::MicBinding(std::unique_ptr<Module> module) : module_(std::move(module)) {
    connect_ = BindExport<MicConnectDeviceFn>(module_.get(), "ConnectDevice");
    if (connect_ == nullptr) return;
    exchange_ = BindExport<MicTestInterruptInOutFn>(module_.get(), "TestInterruptINOUT");
    if (exchange_ == nullptr) return;
    disconnect_ = BindExport<MicDisconnectDeviceFn>(module_.get(), "DisconnectDevice");
    ready_ = disconnect_ != nullptr;
}

bool MicBinding::ConnectDevice() {
    if (!ready_) return false;
    return connect_(kConnectSelector, kConnectTimeoutMs) != 0;
}

bool MicBinding::DisconnectDevice() {
    if (!ready_) return false;
    return disconnect_() != 0;
}

bool MicBinding::Exchange(MicReport& report) {
    if (!ready_) return false;
    const MicReport request = report;
    const bool done =
        exchange_(kExchangeFunction, report.data(), static_cast<int>(report.size())) != 0;
    // The device echoes the command byte (and, for a register write, the
    // register) of the request it answers.
    const bool matches = report[0] == request[0] && (request[0] != 0x10 || report[1] == request[1]);
    if (done && matches) return true;
    report = request;
    return false;
}

}  // namespace ovra
