#include "sim/umockdev/SysfsChain.h"

#include <cstdio>

namespace ovra::sim {
namespace {

std::string Format(const char* format, auto... args) {
    char text[256];
    std::snprintf(text, sizeof text, format, args...);
    return text;
}

// Attribute values: backslash escaping as the record format wants.
std::string Escape(const std::string& value) {
    std::string out;
    for (char c : value) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else out += c;
    }
    return out;
}

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char pair[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(pair, sizeof pair, "%02x", b);
        out += pair;
    }
    return out;
}

constexpr int kInterfaceNumber = 3;

}  // namespace

UsbHidPaths PathsOf(const UsbHidPlacement& p) {
    UsbHidPaths paths;
    paths.usbDevice = std::string(kControllerSysPath) + Format("/usb1/1-%d", p.port);
    paths.interface = paths.usbDevice + Format("/1-%d:1.%d", p.port, kInterfaceNumber);
    paths.hid = paths.interface + Format("/0003:%04X:%04X.%04X", p.vendorId, p.productId, p.hidInstance);
    paths.hidraw = paths.hid + Format("/hidraw/hidraw%d", p.hidrawIndex);
    paths.node = Format("/dev/hidraw%d", p.hidrawIndex);
    return paths;
}

std::string ControllerRecord() {
    const std::string controller = kControllerSysPath;
    return "P: " + controller + "/usb1\n"
           "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n"
           "A: idVendor=1d6b\\n\nA: idProduct=0002\\n\nA: busnum=1\\n\nA: devnum=1\\n\n"
           "A: bDeviceClass=09\\n\nA: speed=480\\n\n\n"
           "P: " + controller + "\n"
           "E: SUBSYSTEM=pci\nE: DRIVER=xhci_hcd\nA: class=0x0c0330\\n\n\n";
}

std::vector<std::string> DeviceRecords(const UsbHidPlacement& p) {
    const UsbHidPaths paths = PathsOf(p);
    const std::string name = Escape(p.productName);
    std::vector<std::string> records;
    std::string r;
    r += "P: " + paths.hidraw + "\n";
    r += Format("N: hidraw%d\n", p.hidrawIndex);
    r += "E: SUBSYSTEM=hidraw\n";
    r += Format("E: DEVNAME=/dev/hidraw%d\nE: MAJOR=%d\nE: MINOR=%d\n", p.hidrawIndex, kHidrawMajor, p.hidrawIndex);
    r += Format("A: dev=%d:%d\\n\n\n", kHidrawMajor, p.hidrawIndex);
    records.push_back(std::move(r));
    r.clear();

    r += "P: " + paths.hid + "\n";
    r += "E: SUBSYSTEM=hid\nE: DRIVER=hid-generic\n";
    r += Format("E: HID_ID=0003:%08X:%08X\n", p.vendorId, p.productId);
    r += "E: HID_NAME=" + name + "\n";
    r += Format("E: HID_PHYS=usb-0000:00:14.0-%d/input%d\n", p.port, kInterfaceNumber);
    r += Format("E: MODALIAS=hid:b0003g0001v%08Xp%08X\n", p.vendorId, p.productId);
    r += "H: report_descriptor=" + Hex(p.reportDescriptor) + "\n\n";
    records.push_back(std::move(r));
    r.clear();

    r += "P: " + paths.interface + "\n";
    r += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=usbhid\nE: INTERFACE=3/0/0\n";
    r += Format("A: bInterfaceClass=03\\n\nA: bInterfaceSubClass=00\\n\nA: bInterfaceProtocol=00\\n\n"
                "A: bInterfaceNumber=%02d\\n\nA: bAlternateSetting= 0\\n\nA: bNumEndpoints=02\\n\n\n",
                kInterfaceNumber);
    records.push_back(std::move(r));
    r.clear();

    r += "P: " + paths.usbDevice + "\n";
    r += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n";
    r += Format("E: BUSNUM=001\nE: DEVNUM=%03d\nE: PRODUCT=%x/%x/100\n", p.devnum, p.vendorId, p.productId);
    r += Format("A: idVendor=%04x\\n\nA: idProduct=%04x\\n\nA: busnum=1\\n\nA: devnum=%d\\n\n", p.vendorId,
                p.productId, p.devnum);
    r += "A: bcdDevice=0100\\n\nA: bDeviceClass=00\\n\nA: bNumInterfaces= 4\\n\nA: speed=12\\n\n";
    r += "A: product=" + name + "\\n\n\n";
    records.push_back(std::move(r));
    // Parents first, the order in which the kernel announces them.
    return {records.rbegin(), records.rend()};
}

}  // namespace ovra::sim
