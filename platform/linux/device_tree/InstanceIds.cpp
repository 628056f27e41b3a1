#include "platform/linux/device_tree/InstanceIds.h"

#include <cstdio>

namespace ovra {
namespace {

std::uint32_t Hash32(std::string_view text) {
    std::uint32_t hash = 2166136261u;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 16777619u;
    }
    return hash;
}

std::string Format(const char* format, auto... args) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer, format, args...);
    return buffer;
}

}  // namespace

bool SerialUsableAsInstanceSuffix(std::string_view serial) {
    if (serial.empty() || serial.size() > 126) return false;
    for (unsigned char c : serial)
        if (c <= 0x20 || c >= 0x7F || c == ',' || c == '\\') return false;
    return true;
}

std::string UsbDeviceInstanceId(const UsbDeviceFacts& device) {
    if (device.rootHub)
        return Format("USB\\ROOT_HUB%s\\4&%08X&0", device.superSpeedHub ? "30" : "20",
                      Hash32(device.parentPath));
    std::string id = Format("USB\\VID_%04X&PID_%04X\\", device.vendor, device.product);
    if (SerialUsableAsInstanceSuffix(device.serial))
        id += device.serial;
    else
        id += Format("5&%08X&0&%d", Hash32(device.parentPath), device.port);
    return id;
}

std::string UsbInterfaceInstanceId(std::uint16_t vendor, std::uint16_t product,
                                   unsigned interfaceNumber, std::string_view devicePath) {
    return Format("USB\\VID_%04X&PID_%04X&MI_%02X\\6&%08X&0&%04X", vendor, product,
                  interfaceNumber & 0xFF, Hash32(devicePath), interfaceNumber & 0xFFFF);
}

}  // namespace ovra
