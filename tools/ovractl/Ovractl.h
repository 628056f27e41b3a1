#pragma once
// ovractl: script the lighting from the command line.
//   ovractl [--device headset|mic] list | set <effect> <RRGGBB> | off | frame <0-255> | get
// Exit codes: 0 done, 1 device or transfer failure, 2 usage error (message and
// usage on stderr), 3 no supported device found.

#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "tools/ovractl/LightingFamilies.h"

namespace ovra::ovractl {

enum ExitCode : int {
    kExitDone = 0,
    kExitDeviceFailure = 1,
    kExitUsage = 2,
    kExitNoDevice = 3,
};

// `args` excludes the program name. Providers are asked in order; within the
// chosen kind the first device found is used.
int Run(std::span<const std::string> args, std::span<FamilyProvider* const> providers,
        std::ostream& out, std::ostream& err);

}  // namespace ovra::ovractl
