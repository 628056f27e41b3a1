#pragma once
// The bridge library's exported behaviour, one object per loaded copy of the
// library: initialise and uninitialise, open one bridge device (by list
// position or product number), super-register and DSP register access, the
// customer-control request, close. Results are the exports' int results.

#include <memory>

#include "bridge_library/BridgeDevice.h"
#include "bridge_library/BrxLog.h"
#include "bridge_library/DeviceLocator.h"
#include "bridge_library/ProxySession.h"
#include "platform/Clock.h"
#include "platform/DebugLog.h"
#include "platform/NamedObjects.h"
#include "platform/UsbNodeTree.h"

namespace ovra::brx {

struct BrxPorts {
    DebugLog& log;
    Clock& clock;
    NamedObjects& named;
    UsbNodeTree& tree;
    UsbRequests& requests;
    ProxySession& proxy;
};

class BrxLibrary {
public:
    explicit BrxLibrary(const BrxPorts& ports);
    ~BrxLibrary();
    BrxLibrary(const BrxLibrary&) = delete;
    BrxLibrary& operator=(const BrxLibrary&) = delete;

    int Initialize(int reserved, int openMode);
    int UnInitialize();
    int Open(unsigned index);
    int OpenPid(unsigned productId);
    int Close();
    int CustomerControl(int mode);
    int ReadSuperRegister(int slave, int busMode, int addressWidth, unsigned registerAddress,
                          unsigned length, unsigned char* data);
    int WriteSuperRegister(int slave, int busMode, int addressWidth, unsigned registerAddress,
                           unsigned length, const unsigned char* data);
    int ReadDspRegister(int slave, unsigned dspAddress, unsigned* value, unsigned width);
    int WriteDspRegister(int slave, unsigned dspAddress, unsigned value, unsigned width);

    bool HasOpenDevice() const { return device_ != nullptr; }

private:
    // Opens the listed device and keeps it when it qualifies as a bridge.
    std::unique_ptr<BridgeDevice> OpenQualified(std::uint32_t instance);
    VendorCmdCommon* CommandChannel();
    void PrepareI2CBus(VendorCmdCommon& channel, int busMode);

    BrxPorts ports_;
    BrxLog log_;
    DeviceLocator locator_;
    std::unique_ptr<NamedMutex> lock_;
    std::unique_ptr<BridgeDevice> device_;
    std::uint32_t lastOpenResult_ = 0;
    int openMode_ = 0;
    bool initialised_ = false;
};

}  // namespace ovra::brx
