#include "tools/ovractl/Ovractl.h"

#include <charconv>
#include <cstdio>
#include <optional>
#include <ostream>

namespace ovra::ovractl {
namespace {

constexpr const char* kUsage =
    "usage: ovractl [--device headset|mic] <command>\n"
    "commands:\n"
    "  list                    supported devices found: <family> <vvvv>:<pppp> <node>\n"
    "  set <effect> <RRGGBB>   effect: static breathing strobing colorcycle music rainbow\n"
    "  off                     switch the light off\n"
    "  frame <0-255>           set the animation frame counter\n"
    "  get                     effect=<name> color=<RRGGBB> mode=<n> frame=<n>\n"
    "--device picks the device (default: the headset, else the microphone).\n"
    "exit codes: 0 done, 1 device or transfer failure, 2 usage error, 3 no supported device\n";

struct Request {
    std::optional<DeviceKind> kind;  // empty: headset, else microphone
    std::vector<std::string> words;  // command and its arguments
};

struct Found {
    FoundDevice device;
    FamilyProvider* provider;
};

int UsageError(std::ostream& err, const std::string& message) {
    err << "ovractl: " << message << "\n" << kUsage;
    return kExitUsage;
}

std::optional<DeviceKind> ParseKind(const std::string& text) {
    if (text == "headset") return DeviceKind::Headset;
    if (text == "mic") return DeviceKind::Microphone;
    return std::nullopt;
}

std::optional<int> ParseHexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return std::nullopt;
}

// Exactly six hexadecimal digits.
std::optional<Colour> ParseColour(const std::string& text) {
    if (text.size() != 6) return std::nullopt;
    int components[3];
    for (int i = 0; i < 3; ++i) {
        const auto high = ParseHexDigit(text[2 * i]);
        const auto low = ParseHexDigit(text[2 * i + 1]);
        if (!high || !low) return std::nullopt;
        components[i] = *high * 16 + *low;
    }
    return Colour{double(components[0]), double(components[1]), double(components[2])};
}

std::optional<std::uint8_t> ParseFrame(const std::string& text) {
    unsigned value = 0;
    const auto* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end || value > 255) return std::nullopt;
    return static_cast<std::uint8_t>(value);
}

// Asks the providers lazily, in order, and remembers their answers: finding a
// device may load a library or open a bus, so providers after the one that
// has the wanted device are never asked.
class Finder {
public:
    explicit Finder(std::span<FamilyProvider* const> providers)
        : providers_(providers), found_(providers.size()) {}

    const std::vector<Found>& Of(std::size_t index) {
        auto& slot = found_[index];
        if (!slot) {
            slot.emplace();
            for (auto& device : providers_[index]->Find())
                slot->push_back({std::move(device), providers_[index]});
        }
        return *slot;
    }

    std::vector<Found> All() {
        std::vector<Found> all;
        for (std::size_t i = 0; i < providers_.size(); ++i)
            all.insert(all.end(), Of(i).begin(), Of(i).end());
        return all;
    }

    std::optional<Found> Choose(std::optional<DeviceKind> kind) {
        const DeviceKind order[] = {DeviceKind::Headset, DeviceKind::Microphone};
        for (DeviceKind wanted : order) {
            if (kind && *kind != wanted) continue;
            for (std::size_t i = 0; i < providers_.size(); ++i)
                for (const auto& found : Of(i))
                    if (found.device.kind == wanted) return found;
        }
        return std::nullopt;
    }

private:
    std::span<FamilyProvider* const> providers_;
    std::vector<std::optional<std::vector<Found>>> found_;
};

const char* KindName(std::optional<DeviceKind> kind) {
    if (!kind) return "device";
    return *kind == DeviceKind::Headset ? "headset" : "microphone";
}

std::string Describe(const FoundDevice& device) {
    char text[32];
    std::snprintf(text, sizeof text, "%04x:%04x", device.id.vendor, device.id.product);
    return std::string(DeviceFamilyName(device.family)) + " " + text + " " + device.node;
}

int List(const std::vector<Found>& all, std::optional<DeviceKind> kind, std::ostream& out) {
    int listed = 0;
    for (const auto& found : all) {
        if (kind && found.device.kind != *kind) continue;
        out << Describe(found.device) << "\n";
        ++listed;
    }
    return listed ? kExitDone : kExitNoDevice;
}

int Get(LightingDevice& device, const Found& found, std::ostream& out, std::ostream& err) {
    const ReadableFields reads = found.provider->Reads(found.device.family);
    std::optional<DeviceLightingState> setting;
    std::optional<std::uint8_t> frame;
    if (reads.setting && !(setting = device.GetLEDSetting())) {
        err << "ovractl: cannot read the lighting of " << Describe(found.device) << "\n";
        return kExitDeviceFailure;
    }
    if (reads.frame && !(frame = device.GetLEDFrame())) {
        err << "ovractl: cannot read the frame counter of " << Describe(found.device) << "\n";
        return kExitDeviceFailure;
    }
    std::string line;
    const auto field = [&](const std::string& text) { line += (line.empty() ? "" : " ") + text; };
    if (setting) {
        if (auto effect = found.provider->EffectFromMode(found.device.family, setting->mode))
            field("effect=" + std::string(LightingEffectName(*effect)));
        char colour[16];
        std::snprintf(colour, sizeof colour, "%02X%02X%02X", setting->red, setting->green,
                      setting->blue);
        field(std::string("color=") + colour);
        field("mode=" + std::to_string(setting->mode));
    }
    if (frame) field("frame=" + std::to_string(*frame));
    out << line << "\n";
    return kExitDone;
}

}  // namespace

int Run(std::span<const std::string> args, std::span<FamilyProvider* const> providers,
        std::ostream& out, std::ostream& err) {
    Request request;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::optional<std::string> kindText;
        if (arg == "--device") {
            if (i + 1 == args.size()) return UsageError(err, "--device needs headset or mic");
            kindText = args[++i];
        } else if (arg.rfind("--device=", 0) == 0) {
            kindText = arg.substr(9);
        } else if (arg == "--help" || arg == "-h") {
            out << kUsage;
            return kExitDone;
        } else if (arg.size() > 1 && arg[0] == '-' && arg[1] == '-') {
            return UsageError(err, "unknown option " + arg);
        } else {
            request.words.push_back(arg);
            continue;
        }
        request.kind = ParseKind(*kindText);
        if (!request.kind) return UsageError(err, "--device must be headset or mic, not " + *kindText);
    }
    if (request.words.empty()) return UsageError(err, "no command given");

    const std::string& command = request.words[0];
    const std::size_t argCount = request.words.size() - 1;
    const auto expectArgs = [&](std::size_t n) { return argCount == n; };

    std::optional<LightingEffect> effect;
    std::optional<Colour> colour;
    std::optional<std::uint8_t> frame;
    if (command == "list" || command == "off" || command == "get") {
        if (!expectArgs(0)) return UsageError(err, command + " takes no arguments");
    } else if (command == "set") {
        if (!expectArgs(2)) return UsageError(err, "set needs <effect> <RRGGBB>");
        effect = LightingEffectFromName(request.words[1]);
        if (!effect) return UsageError(err, "unknown effect " + request.words[1]);
        colour = ParseColour(request.words[2]);
        if (!colour) return UsageError(err, "colour must be six hex digits, not " + request.words[2]);
    } else if (command == "frame") {
        if (!expectArgs(1)) return UsageError(err, "frame needs a number 0-255");
        frame = ParseFrame(request.words[1]);
        if (!frame) return UsageError(err, "frame must be a number 0-255, not " + request.words[1]);
    } else {
        return UsageError(err, "unknown command " + command);
    }

    Finder finder(providers);
    if (command == "list") {
        const int code = List(finder.All(), request.kind, out);
        if (code == kExitNoDevice) err << "ovractl: no supported " << KindName(request.kind) << " found\n";
        return code;
    }

    const auto chosen = finder.Choose(request.kind);
    if (!chosen) {
        err << "ovractl: no supported " << KindName(request.kind) << " found\n";
        return kExitNoDevice;
    }
    const auto device = chosen->provider->Open(chosen->device);
    if (!device) {
        err << "ovractl: cannot open " << Describe(chosen->device) << "\n";
        return kExitDeviceFailure;
    }

    bool done = false;
    if (command == "get") return Get(*device, *chosen, out, err);
    if (command == "set") done = device->SetLEDEffect(*effect, *colour);
    if (command == "off") done = device->SetLEDOff();
    if (command == "frame") done = device->SetLEDFrame(*frame);
    if (!done) {
        err << "ovractl: " << Describe(chosen->device) << " did not take the " << command
            << " command\n";
        return kExitDeviceFailure;
    }
    return kExitDone;
}

}  // namespace ovra::ovractl
