// ovractl's composition root: the Linux adapters, then the family providers
// in the order a device is looked for.

#include <iostream>
#include <string>
#include <vector>

#include "platform/linux/core/StderrDebugLog.h"
#include "platform/linux/core/SteadyClock.h"
#include "platform/linux/hid/HidrawEnumerator.h"
#include "platform/linux/module/DlModuleLoader.h"
#include "platform/linux/usb_nodes/UdevUsbNodeTree.h"
#include "tools/ovractl/BridgeFamilyProvider.h"
#include "tools/ovractl/HidFamilyProvider.h"
#include "tools/ovractl/MicFamilyProvider.h"
#include "tools/ovractl/Ovractl.h"

int main(int argc, char** argv) {
    ovra::StderrDebugLog log;
    ovra::SteadyClock clock;
    ovra::HidrawEnumerator hidEnumerator(log);
    ovra::DlModuleLoader loader;  // the libraries next to this program

    // Headsets first (HID, then the bridge-attached ones), the microphone last.
    ovra::ovractl::HidFamilyProvider hidHeadsets(hidEnumerator, clock, log);
    // The bridge library starts its proxy when initialised: load it only when a
    // bridge device (matched by product, as the library does) is attached.
    ovra::UdevUsbNodeTree usbNodes;
    const auto bridgeAttached = [&usbNodes] {
        for (const auto& node : usbNodes.ListAudioFunctions())
            if (node.deviceId.find("&PID_1858") != std::string::npos ||
                node.deviceId.find("&PID_1876") != std::string::npos)
                return true;
        return false;
    };
    ovra::ovractl::BridgeFamilyProvider bridgeHeadsets(loader, clock, log, bridgeAttached);
    ovra::ovractl::MicFamilyProvider microphone(loader, log);
    ovra::ovractl::FamilyProvider* providers[] = {&hidHeadsets, &bridgeHeadsets, &microphone};

    const std::vector<std::string> args(argv + 1, argv + argc);
    return ovra::ovractl::Run(args, providers, std::cout, std::cerr);
}
