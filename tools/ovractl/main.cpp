// ovractl's composition root: the Linux adapters, then the family providers
// in the order a device is looked for.

#include <iostream>
#include <string>
#include <vector>

#include "platform/linux/core/StderrDebugLog.h"
#include "platform/linux/core/SteadyClock.h"
#include "platform/linux/hid/HidrawEnumerator.h"
#include "tools/ovractl/HidFamilyProvider.h"
#include "tools/ovractl/Ovractl.h"

int main(int argc, char** argv) {
    ovra::StderrDebugLog log;
    ovra::SteadyClock clock;
    ovra::HidrawEnumerator hidEnumerator(log);

    ovra::ovractl::HidFamilyProvider hidHeadsets(hidEnumerator, clock, log);
    ovra::ovractl::FamilyProvider* providers[] = {&hidHeadsets};

    const std::vector<std::string> args(argv + 1, argv + argc);
    return ovra::ovractl::Run(args, providers, std::cout, std::cerr);
}
