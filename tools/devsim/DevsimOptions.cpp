#include "tools/devsim/DevsimOptions.h"

namespace ovra::devsim {

const char* const kUsage =
    "usage: devsim [--headset gen2|gen2-alt|gen2entry|none] [--mic] [--demo | -- COMMAND [ARG...]]\n"
    "  Starts virtual devices (default: a Gen2 headset 0b05:1855; gen2-alt is 0d8c:01ac,\n"
    "  gen2entry 0b05:1859; --mic adds the MK470 microphone 0b05:1842), runs COMMAND\n"
    "  inside them and prints what the devices show whenever it changes.\n"
    "  --demo   runs ovractl (next to devsim) setting and reading back two effects\n"
    "  no COMMAND: keeps the devices up until Ctrl-C and prints the environment\n"
    "  that lets other programs reach them.\n"
    "  Hot-plug while it runs: SIGUSR1 unplugs/re-plugs the headset, SIGUSR2 the microphone.\n";

std::optional<Options> ParseOptions(const std::vector<std::string>& args, std::string& error) {
    Options options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--") {
            options.command.assign(args.begin() + static_cast<std::ptrdiff_t>(i) + 1, args.end());
            if (options.command.empty()) {
                error = "'--' needs a command after it";
                return std::nullopt;
            }
            break;
        }
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--demo") {
            options.demo = true;
        } else if (arg == "--mic") {
            options.microphone = true;
        } else if (arg == "--headset") {
            if (i + 1 == args.size()) {
                error = "--headset needs a value";
                return std::nullopt;
            }
            const std::string& value = args[++i];
            if (value == "gen2") options.headset = HeadsetChoice::Gen2;
            else if (value == "gen2-alt") options.headset = HeadsetChoice::Gen2AltIds;
            else if (value == "gen2entry") options.headset = HeadsetChoice::Gen2Entry;
            else if (value == "none") options.headset = HeadsetChoice::None;
            else {
                error = "unknown headset '" + value + "'";
                return std::nullopt;
            }
        } else {
            error = "unknown argument '" + arg + "'";
            return std::nullopt;
        }
    }
    if (options.demo && !options.command.empty()) {
        error = "--demo and a command exclude each other";
        return std::nullopt;
    }
    if (options.demo && options.headset == HeadsetChoice::None) {
        error = "--demo needs a headset";
        return std::nullopt;
    }
    return options;
}

}  // namespace ovra::devsim
