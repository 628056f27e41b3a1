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

    // The bridge and microphone libraries are the files next to this program.
    ovra::DlModuleLoader libraries;

    ovra::ovractl::HidFamilyProvider hidHeadsets(hidEnumerator, clock, log);
    // The bridge library starts its proxy when initialised: only when a bridge
    // device (matched by product, as the library does) is attached.
    ovra::UdevUsbNodeTree usbNodes;
    const auto bridgeAttached = [&usbNodes] {
        for (const auto& node : usbNodes.ListAudioFunctions())
            if (node.deviceId.find("&PID_1858") != std::string::npos ||
                node.deviceId.find("&PID_1876") != std::string::npos)
                return true;
        return false;
    };
    ovra::ovractl::BridgeFamilyProvider bridgeHeadsets(libraries, clock, log, bridgeAttached);
    ovra::ovractl::MicFamilyProvider microphone(libraries, log);
    ovra::ovractl::FamilyProvider* providers[] = {&hidHeadsets, &bridgeHeadsets, &microphone};

    const std::vector<std::string> args(argv + 1, argv + argc);
    return ovra::ovractl::Run(args, providers, std::cout, std::cerr);
}
