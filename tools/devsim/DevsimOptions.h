#pragma once
// devsim's command line:
//   devsim [--headset gen2|gen2-alt|gen2entry|none] [--mic] [--demo | -- COMMAND [ARG...]]
// Without --demo or a command it keeps the virtual devices up until Ctrl-C.

#include <optional>
#include <string>
#include <vector>

namespace ovra::devsim {

enum class HeadsetChoice { Gen2, Gen2AltIds, Gen2Entry, None };

struct Options {
    HeadsetChoice headset = HeadsetChoice::Gen2;
    bool microphone = false;
    bool demo = false;
    bool help = false;
    std::vector<std::string> command;  // run inside the testbed, empty: none
};

// Parses `args` (without the program name). On a usage error returns nothing
// and sets `error`.
std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error);

extern const char* const kUsage;

}  // namespace ovra::devsim
