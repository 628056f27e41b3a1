#pragma once
// Small builders of USB descriptor bytes for the parser tests.

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace ovra::brx::test {

using Bytes = std::vector<std::uint8_t>;

inline Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& p : parts)
        for (std::uint8_t b : p) all.push_back(b);
    return all;
}

inline Bytes ConfigHeader(std::uint16_t total, std::uint8_t interfaces = 2) {
    return {9, 0x02, static_cast<std::uint8_t>(total), static_cast<std::uint8_t>(total >> 8),
            interfaces, 1, 0, 0x80, 50};
}
inline Bytes Iad() { return {8, 0x0B, 0, 2, 1, 0, 0, 0}; }
inline Bytes Interface(std::uint8_t number, std::uint8_t subclass) {
    return {9, 0x04, number, 0, 0, 1, subclass, 0, 0};
}
inline Bytes AcHeader() { return {9, 0x24, 0x01, 0x00, 0x01, 0x1E, 0x00, 0x01, 0x01}; }
inline Bytes InputTerminal() { return {12, 0x24, 0x02, 1, 0x01, 0x01, 0, 2, 3, 0, 0, 0}; }
inline Bytes ExtensionUnit(std::uint8_t unitId, std::uint16_t code, std::uint8_t subtype = 0x08) {
    return {13, 0x24, subtype, unitId, static_cast<std::uint8_t>(code), static_cast<std::uint8_t>(code >> 8),
            1, 1, 2, 3, 0, 0, 0};
}

// A whole configuration: header + body, with wTotalLength filled in.
inline Bytes Configuration(std::initializer_list<Bytes> body) {
    Bytes rest = Concat(body);
    Bytes all = ConfigHeader(static_cast<std::uint16_t>(9 + rest.size()));
    for (std::uint8_t b : rest) all.push_back(b);
    return all;
}

}  // namespace ovra::brx::test
