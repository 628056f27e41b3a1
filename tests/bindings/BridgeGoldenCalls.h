#pragma once
// The exact bridge-library calls the Gen2Mid and TV520 headsets make, as the
// bridge-library double records them: the building blocks of the golden call
// tables shared by the binding tests and the UI model's tests.

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

namespace ovra::testing {

using Calls = std::vector<std::string>;

inline std::string Hex(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += byte;
    }
    return text;
}

inline std::string Write(int slave, int sub, const std::vector<std::uint8_t>& data) {
    char head[64];
    std::snprintf(head, sizeof head, "WriteI2CSuperRegister(%02X, 2, 1, %02X, %zu, [", slave, sub,
                  data.size());
    return head + Hex(data) + "])";
}

inline Calls Gen2MidRegister(int reg, int value) {
    return {Write(0x52, reg, {static_cast<std::uint8_t>(value)})};
}

inline Calls Join(std::initializer_list<Calls> parts) {
    Calls all;
    for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

inline Calls Reg(int controller, int reg, int value) {
    return {Write(controller, 0x00, {static_cast<std::uint8_t>(reg >> 8),
                                     static_cast<std::uint8_t>(reg & 0xFF)}),
            Write(controller, 0x01, {static_cast<std::uint8_t>(value)})};
}

inline Calls Block(int controller, int reg, const std::vector<std::uint8_t>& data) {
    std::vector<std::uint8_t> packet{static_cast<std::uint8_t>(data.size())};
    packet.insert(packet.end(), data.begin(), data.end());
    return {Write(controller, 0x00, {static_cast<std::uint8_t>(reg >> 8),
                                     static_cast<std::uint8_t>(reg & 0xFF)}),
            Write(controller, 0x03, packet)};
}

inline Calls Apply(int controller) {
    return Join({Reg(controller, 0x80A0, 0x55), Reg(controller, 0x80A0, 0xAA)});
}

inline Calls Bracket(int mode) { return {"USB_Customer_Control(" + std::to_string(mode) + ")"}; }

// One colour for 8 LEDs, each as red, blue, green.
inline std::vector<std::uint8_t> Leds(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    std::vector<std::uint8_t> bytes;
    for (int led = 0; led < 8; ++led) bytes.insert(bytes.end(), {r, b, g});
    return bytes;
}

}  // namespace ovra::testing
