#include "platform/linux/named_objects/ShmObjectName.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace ovra {
namespace {

constexpr std::size_t kMaxShmName = 200;

// Within one session "Local\x" and "x" name the same object; "Global\x" is a
// namespace of its own and stays distinct.
std::string_view StripLocalPrefix(std::string_view name) {
    constexpr std::string_view kLocal = "Local\\";
    if (name.substr(0, kLocal.size()) == kLocal) name.remove_prefix(kLocal.size());
    return name;
}

void AppendEscaped(std::string& out, std::string_view text) {
    for (unsigned char c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '-';
        if (plain) {
            out.push_back(static_cast<char>(c));
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "_%02X", c);
            out += hex;
        }
    }
}

std::uint64_t Fnv1a(std::string_view text) {
    std::uint64_t hash = 1469598103934665603ULL;
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ULL;
    }
    return hash;
}

}  // namespace

std::string ShmObjectName(std::string_view objectName, std::string_view namespaceTag,
                          unsigned userId) {
    std::string name = "/ovra." + std::to_string(userId) + ".";
    AppendEscaped(name, namespaceTag);
    name += ".";
    const std::size_t prefixLength = name.size();
    const std::string_view object = StripLocalPrefix(objectName);
    AppendEscaped(name, object);
    if (name.size() > kMaxShmName) {
        // Keep a readable head and make the rest unique by a hash of the full
        // name (namespace included through the prefix we keep).
        char hash[24];
        std::snprintf(hash, sizeof hash, "~%016llX",
                      static_cast<unsigned long long>(Fnv1a(object)));
        const std::size_t keep = kMaxShmName - 17;
        name.resize(keep < prefixLength ? prefixLength : keep);
        name += hash;
        if (name.size() > kMaxShmName) name.erase(1, name.size() - kMaxShmName);
    }
    return name;
}

std::string IpcNamespaceFromEnvironment() {
    const char* tag = std::getenv("OVRA_IPC_NAMESPACE");
    return tag ? std::string(tag) : std::string();
}

}  // namespace ovra
