#include "sim/i2c_devices/I2cTransferLog.h"

#include <cstdio>

namespace ovra::sim {

std::string I2cTransfer::ToString() const {
    char head[32];
    std::snprintf(head, sizeof head, "%c %02X [", write ? 'W' : 'R',
                  static_cast<unsigned>(subAddress));
    std::string text = head;
    for (std::size_t i = 0; i < data.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, i == 0 ? "%02X" : " %02X", data[i]);
        text += byte;
    }
    text += "]";
    return text;
}

}  // namespace ovra::sim
