// A stand-in for the bridge library in tests: the ten exports with the
// library's argument checks and open/close rules, forwarding register
// transfers to the I2C device models of the attached bridge device and
// recording every call. All state is file-local, so every loaded copy has its
// own.

#include <cstdarg>
#include <cstdio>
#include <string>
#include <vector>

#include "tests/bridge_double/BridgeDoubleHost.h"

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

ovra::testing::BridgeDoubleHost* g_host = nullptr;
bool g_initialised = false;
ovra::sim::I2cBusDevices* g_device = nullptr;
unsigned g_lastOpenResult = 0;

constexpr unsigned kMaxLength = 60;
constexpr unsigned kHandleBase = 0x2000;

void Record(const char* format, ...) __attribute__((format(printf, 1, 2)));
void Record(const char* format, ...) {
    if (g_host == nullptr) return;
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_host->Record(text);
}

std::string Bytes(const unsigned char* data, unsigned length) {
    std::string text = "[";
    for (unsigned i = 0; i < length; ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", data[i]);
        text += byte;
    }
    return text + "]";
}

ovra::sim::I2cDevice* Slave(int slave) {
    if (g_device == nullptr || g_host == nullptr || g_host->unplugged) return nullptr;
    return g_device->DeviceAt(static_cast<std::uint8_t>(slave));
}

bool WindowWrite(ovra::sim::I2cDevice& device, std::uint32_t reg, std::uint32_t word) {
    const std::uint8_t data[2] = {static_cast<std::uint8_t>(word >> 8),
                                  static_cast<std::uint8_t>(word)};
    return device.Write(reg, data);
}

[[maybe_unused]] bool WindowRead(ovra::sim::I2cDevice& device, std::uint32_t reg, std::uint32_t& word) {
    std::uint8_t data[2] = {0, 0};
    if (!device.Read(reg, data)) return false;
    word = static_cast<std::uint32_t>(data[0] << 8 | data[1]);
    return true;
}

unsigned OpenWhere(bool (*matches)(unsigned position, ovra::sim::I2cBusDevices&, unsigned key),
                   unsigned key) {
    if (g_device != nullptr) return g_lastOpenResult;
    if (!g_initialised || g_host == nullptr || g_host->unplugged) return 0;
    unsigned result = 0;
    for (unsigned i = 0; i < g_host->devices.size(); ++i) {
        if (matches(i, *g_host->devices[i], key)) {
            g_device = g_host->devices[i];
            result = kHandleBase + i;
            break;
        }
    }
    g_lastOpenResult = result;
    return result;
}

}  // namespace

EXPORT void BridgeDouble_Attach(ovra::testing::BridgeDoubleHost* host) { g_host = host; }
EXPORT unsigned BridgeDouble_OpenHandle() { return g_device != nullptr ? g_lastOpenResult : 0; }

EXPORT int BrxLib_Initialize(int reserved, int openMode) {
    Record("BrxLib_Initialize(%d, %d)", reserved, openMode);
    g_initialised = true;
    return 1;
}

EXPORT int BrxLib_UnInitialize() {
    Record("BrxLib_UnInitialize()");
    g_initialised = false;
    return 1;
}

EXPORT unsigned UVC_Open(unsigned index) {
    Record("UVC_Open(%u)", index);
    return OpenWhere([](unsigned position, ovra::sim::I2cBusDevices&, unsigned key) {
        return position == key;
    }, index);
}

EXPORT unsigned UVC_OpenPID(unsigned productId) {
    Record("UVC_OpenPID(0x%04X)", productId);
    return OpenWhere([](unsigned, ovra::sim::I2cBusDevices& device, unsigned key) {
        return device.ProductId() == key;
    }, productId);
}

EXPORT int UVC_Close() {
    Record("UVC_Close()");
    g_device = nullptr;
    return 1;
}

#ifndef BRIDGE_DOUBLE_WITHOUT_CUSTOMER_CONTROL
EXPORT int USB_Customer_Control(int mode) {
    Record("USB_Customer_Control(%d)", mode);
    return g_device != nullptr && !g_host->unplugged ? 1 : 0;
}
#endif

EXPORT int WriteI2CSuperRegister(int slave, int busMode, int addressWidth, unsigned registerAddress,
                                 unsigned length, const unsigned char* data) {
    Record("WriteI2CSuperRegister(%02X, %d, %d, %02X, %u, %s)", slave, busMode, addressWidth,
           registerAddress, length, length <= kMaxLength ? Bytes(data, length).c_str() : "[...]");
    if (length > kMaxLength || addressWidth < 1 || addressWidth > 4) return 0;
    auto* device = Slave(slave);
    if (device == nullptr) return 0;
    return device->Write(registerAddress, {data, length}) ? 1 : 0;
}

#ifndef BRIDGE_DOUBLE_WITHOUT_READS
EXPORT int ReadI2CSuperRegister(int slave, int busMode, int addressWidth, unsigned registerAddress,
                                unsigned length, unsigned char* data) {
    Record("ReadI2CSuperRegister(%02X, %d, %d, %02X, %u)", slave, busMode, addressWidth,
           registerAddress, length);
    if (length > kMaxLength || addressWidth < 1 || addressWidth > 4) return 0;
    auto* device = Slave(slave);
    if (device == nullptr) return 0;
    std::vector<std::uint8_t> buffer(length);
    if (!device->Read(registerAddress, buffer)) return 0;  // data left untouched
    std::copy(buffer.begin(), buffer.end(), data);
    return 1;
}

EXPORT int ReadI2CRegister_DSP(int slave, unsigned dspAddress, unsigned* value, unsigned width) {
    Record("ReadI2CRegister_DSP(%02X, %08X, %u)", slave, dspAddress, width);
    if (width > 4) return 0;
    auto* device = Slave(slave);
    if (device == nullptr) return 0;
    std::uint32_t low = 0, high = 0;
    bool ok = WindowWrite(*device, 0x0001, dspAddress & 0xFFFF);
    ok = WindowWrite(*device, 0x0002, dspAddress >> 16) && ok;
    ok = WindowWrite(*device, 0x0000, 0x0002) && ok;
    ok = WindowRead(*device, 0x0003, low) && ok;
    ok = WindowRead(*device, 0x0004, high) && ok;
    if (!ok) return 0;
    if (width == 4) *value = high << 16 | low;
    if (width == 2) *value = low;
    return 1;
}
#endif

EXPORT int WriteI2CRegister_DSP(int slave, unsigned dspAddress, unsigned value, unsigned width) {
    Record("WriteI2CRegister_DSP(%02X, %08X, %08X, %u)", slave, dspAddress, value, width);
    if (width > 4) return 0;
    auto* device = Slave(slave);
    if (device == nullptr) return 0;
    bool ok = WindowWrite(*device, 0x0001, dspAddress & 0xFFFF);
    ok = WindowWrite(*device, 0x0002, dspAddress >> 16) && ok;
    ok = WindowWrite(*device, 0x0003, value & 0xFFFF) && ok;
    ok = WindowWrite(*device, 0x0004, width == 4 ? value >> 16 : value & 0xFFFF) && ok;
    ok = WindowWrite(*device, 0x0000, width == 4 ? 0x0003 : 0x0001) && ok;
    return ok ? 1 : 0;
}
