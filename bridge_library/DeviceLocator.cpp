#include "bridge_library/DeviceLocator.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "bridge_library/ErrorCodes.h"
#include "bridge_library/VendorRequestChannel.h"

namespace ovra::brx {
namespace {

using namespace std::chrono_literals;

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

bool ContainsAny(const std::string& upperId, std::initializer_list<const char*> names) {
    for (const char* name : names)
        if (upperId.find(name) != std::string::npos) return true;
    return false;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

std::optional<std::uint8_t> InterfaceNumberFromId(const std::string& deviceId, bool* valid) {
    *valid = true;
    const std::string upper = Upper(deviceId);
    const auto at = upper.find("MI_");
    if (at == std::string::npos) return std::nullopt;
    const int high = at + 3 < upper.size() ? HexDigit(upper[at + 3]) : -1;
    const int low = at + 4 < upper.size() ? HexDigit(upper[at + 4]) : -1;
    if (high < 0 || low < 0) {
        *valid = false;
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(high * 16 + low);
}

HubClass HubClassOfId(const std::string& deviceId) {
    const std::string id = Upper(deviceId);
    if (ContainsAny(id, {"ROOT_HUB30", "TIUSBD_HUB", "ROOT_HUB_FL30", "VIA_ROOT_HUB", "ASMEDIAUSBD_HUB"})) {
        return HubClass::Usb3;
    }
    if (ContainsAny(id, {"ROOT_HUB20", "IWSEPAL\\VRHUB"})) return HubClass::Usb2;
    return HubClass::Other;
}

bool IsEndOfWalk(const std::string& deviceId) {
    return ContainsAny(Upper(deviceId), {"ROOT_HUB", "VMUSB\\HUB", "TIUSBD_HUB", "ROOT_HUB_FL30",
                                         "VIA_ROOT_HUB", "ASMEDIAUSBD_HUB", "IWSEPAL\\VRHUB"});
}

std::vector<CamListEntry> DeviceLocator::ListDevices() {
    std::vector<CamListEntry> entries;
    int position = 0;
    for (const UsbNode& node : tree_.ListAudioFunctions()) {
        ++position;
        if (node.hasProblem) continue;
        CamListEntry entry;
        entry.instance = node.instance;
        if (node.friendlyName.empty()) {
            log_.Line("KvCam_ListDevice::SetupDiGetDeviceRegistryProperty SPDRP_FRIENDLYNAME error %d\n",
                      kErrorInvalidData);
            entry.displayName = "Usb Video Device #" + std::to_string(position);
        } else {
            entry.displayName = node.friendlyName;
        }
        entries.push_back(std::move(entry));
    }
    return entries;
}

std::uint32_t DeviceLocator::Open(std::uint32_t instance, CamLocation& location) {
    Destroy(location);
    location = CamLocation{};
    location.filled = true;

    const std::optional<UsbNode> node = tree_.Node(instance);
    if (!node) {
        log_.Line("SetupDiGetClassDevs failed %d\n", kErrorNoMoreItems);
        return kErrorNoMoreItems;
    }
    location.instance = instance;
    const std::string setupClass = Upper(node->setupClass);
    location.setupClassKind = setupClass.rfind("IMA", 0) == 0 ? 1 : 0;
    location.friendlyName = node->friendlyName;
    location.locationPath = node->locationPath;
    log_.Line("[1] Got Location Information %s\n", location.locationPath.c_str());
    location.chainLength = 1;
    log_.Line("Checking device %s\n", node->deviceId.c_str());

    std::uint32_t walkFrom = instance;
    bool hexValid = true;
    if (auto number = InterfaceNumberFromId(node->deviceId, &hexValid)) {
        location.interfaceNumber = *number;
        const auto parent = tree_.Parent(instance);
        if (!parent) {
            log_.Line("CM_Get_Parent failed %08X\n", 0x0Du);  // CR_NO_SUCH_DEVNODE
            return 0x0D;
        }
        walkFrom = *parent;
    } else if (!hexValid) {
        log_.Line("Checking device %s: interface number is not hexadecimal\n", node->deviceId.c_str());
        return kErrorInvalidData;
    }

    UsbDeviceLocation device;
    switch (tree_.OpenDevice(instance, &device)) {
        case UsbNodeError::None:
            break;
        case UsbNodeError::NotFound:
            log_.Line("Interface not found\n");
            log_.Line("GetDevInstInterfaceHandle fail %d\n", kErrorNoMoreItems);
            return kErrorNoMoreItems;
        case UsbNodeError::AccessDenied:
            log_.Line("GetDevInstInterfaceHandle::CreateFile failed %d\n", 5);
            log_.Line("GetDevInstInterfaceHandle fail %d\n", 5);
            return 5;  // ERROR_ACCESS_DENIED
        case UsbNodeError::Failed:
            log_.Line("GetDevInstInterfaceHandle fail %d\n", kErrorGenFailure);
            return kErrorGenFailure;
    }
    location.device = device;

    log_.Line("KvProxy_Open by handle %08X\n", instance);
    DeviceContext context = 0;
    const RequestOutcome opened = requests_.OpenDevice(device, location.interfaceNumber, &context);
    if (!opened.ok) {
        log_.Line("KvProxy_Open failed %d, device handle : %08X\n", opened.lastError, instance);
        location.device.reset();
        return opened.lastError == 0 ? kErrorGenFailure : opened.lastError;
    }
    location.context = context;
    log_.Line("KvProxy_Open hDev=%08X\n", static_cast<std::uint32_t>(context));

    bool reachedRoot = false;
    std::uint32_t current = walkFrom;
    std::string lastId = node->deviceId;
    while (location.ancestors.size() < kMaxAncestors) {
        const auto parent = tree_.Parent(current);
        if (!parent) break;
        current = *parent;
        location.ancestors.push_back(current);
        location.chainLength = static_cast<std::uint32_t>(1 + location.ancestors.size());
        const auto ancestor = tree_.Node(current);
        lastId = ancestor ? ancestor->deviceId : std::string();
        log_.Line("-> [%08X] %s\n", current, lastId.c_str());
        location.hubClass = HubClassOfId(lastId);
        if (IsEndOfWalk(lastId)) {
            reachedRoot = true;
            break;
        }
    }
    if (!reachedRoot) {
        log_.Line("No matching device found\n");
        Destroy(location);
        return kNoMatchingDevice;
    }
    log_.Line("Search for device location completed, last device: %s\n", lastId.c_str());

    // A device resuming from selective suspend answers "not ready" until it
    // is awake; wait for it, but not for ever.
    clock_.SleepFor(200ms);
    std::array<std::uint8_t, kDeviceDescriptorSize> scratch{};
    RequestOutcome read = requests_.GetDeviceDescriptor(location.context, scratch);
    int retries = 0;
    while (!read.ok && read.lastError == kErrorNotReady && retries < kMaxWakeRetries) {
        clock_.SleepFor(200ms);
        log_.Line("KvCam_OpenDevice wait for device to wakeup from SS\n");
        read = requests_.GetDeviceDescriptor(location.context, scratch);
        ++retries;
    }
    if (!read.ok && read.lastError == kErrorNotReady) {
        log_.Line("KvCam_OpenDevice device did not wake up from SS after %d tries\n", retries);
        Destroy(location);
        return kErrorNotReady;
    }
    if (!read.ok) log_.Line("KvCam_OpenDevice check SS resume fail %d\n", read.lastError);
    log_.Line("KvCam_OpenDevice success\n");
    return 0;
}

bool DeviceLocator::ReadCamDevInfo(CamLocation& location, bool force) {
    if (location.info && !force) return true;
    auto info = std::make_unique<CamDevInfo>();

    const RequestOutcome device = requests_.GetDeviceDescriptor(location.context, info->deviceDescriptor);
    if (!device.ok || !ParseDeviceDescriptor(info->deviceDescriptor)) {
        log_.Line("GetDeviceDescriptor failed %d\n", device.ok ? kErrorInvalidData : device.lastError);
        return false;
    }

    std::array<std::uint8_t, kConfigHeaderSize> header{};
    const RequestOutcome head = requests_.GetConfigurationDescriptor(location.context, header);
    const auto total = head.ok ? ConfigurationTotalLength(header) : std::nullopt;
    if (!total) {
        log_.Line("GetConfigureDescriptor failed %d\n", head.ok ? kErrorInvalidData : head.lastError);
        return false;
    }
    info->configuration.assign(*total, 0);
    const RequestOutcome whole = requests_.GetConfigurationDescriptor(location.context, info->configuration);
    if (!whole.ok || !ConfigurationTotalLength(info->configuration) ||
        *ConfigurationTotalLength(info->configuration) != *total) {
        log_.Line("GetConfigureDescriptor failed %d\n", whole.ok ? kErrorInvalidData : whole.lastError);
        return false;
    }
    log_.Line("Get configuration descriptor, wTotalLength %d\n", *total);

    const std::uint32_t status = ReadVendorStatus(requests_, location.context, 0, info->deviceStatus);
    if (status == 0 && HasBridgeSignature(info->deviceStatus)) {
        info->hasBridge = true;
        info->hasVendorRequest = true;
    } else {
        log_.Line("Vendor2_GetDevStatus failed %d\n", status);
        // The one-byte read 0x06 that follows a failed status read; its
        // answer is not used, but the bridge firmware expects it.
        std::array<std::uint8_t, 1> ignored{};
        VendorRequest poke;
        poke.bmRequestType = 0xC0;
        poke.bRequest = 0x06;
        poke.in = true;
        requests_.VendorDeviceRequest(location.context, poke, ignored);
    }

    const ExtensionUnitResult unit = FindBridgeExtensionUnit(info->configuration);
    for (std::uint32_t i = 0; i < unit.skippedBeforeInterface; ++i) {
        log_.Line("Continue to find next interface descriptor - condition3\n");
    }
    switch (unit.outcome) {
        case ExtensionUnitSearch::Found:
            info->extUnitId = unit.unitId;
            info->hasBridge = true;
            info->hasExtUnit = true;
            break;
        case ExtensionUnitSearch::NoInterface:
            log_.Line("can not get pVCInterface\n");
            break;
        case ExtensionUnitSearch::NoUnit:
            log_.Line("No KV extension unit found\n");
            break;
    }
    location.info = std::move(info);
    return true;
}

void DeviceLocator::Destroy(CamLocation& location) {
    location.info.reset();
    location.device.reset();
    if (location.context != 0) requests_.CloseDevice(location.context);
    location.context = 0;
    location.instance = 0;
    location.chainLength = 0;
}

}  // namespace ovra::brx
