// Descriptors of the bridge chip: a USB 2.0 audio device (audio class 1.0
// layout) with an audio-control interface that holds the input terminal, the
// bridge's extension unit (extension code 0x0BDA) and the output terminal, and
// one streaming interface with an idle and an active setting.

#include "sim/bridge_chip/BridgeChipModel.h"

namespace ovra::sim {

namespace {
void Put16(std::vector<std::uint8_t>& v, std::uint16_t x) {
    v.push_back(static_cast<std::uint8_t>(x));
    v.push_back(static_cast<std::uint8_t>(x >> 8));
}
}  // namespace

std::vector<std::uint8_t> BridgeChipModel::DeviceDescriptor() const {
    std::vector<std::uint8_t> d{18, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 64};
    Put16(d, config_.vendorId);
    Put16(d, config_.productId);
    Put16(d, config_.bcdDevice);
    d.insert(d.end(), {1, 2, 0, 1});  // manufacturer, product, no serial, one configuration
    return d;
}

std::vector<std::uint8_t> BuildConfiguration(const BridgeChipConfig& c) {
    std::vector<std::uint8_t> classSpecific;
    // input terminal 1: USB streaming, two channels
    classSpecific.insert(classSpecific.end(), {12, 0x24, 0x02, 1, 0x01, 0x01, 0, 2, 0x03, 0x00, 0, 0});
    std::uint8_t outputSource = 1;
    if (c.hasExtensionUnit) {
        classSpecific.insert(classSpecific.end(),
                             {15, 0x24, static_cast<std::uint8_t>(c.audioClass2 ? 0x09 : 0x08),
                              c.extensionUnitId, 0xDA, 0x0B, 1, 1, 2, 0x03, 0x00, 0, 1, 0x03, 0});
        outputSource = c.extensionUnitId;
    }
    // output terminal 3: speaker
    classSpecific.insert(classSpecific.end(), {9, 0x24, 0x03, 3, 0x01, 0x03, 0, outputSource, 0});

    std::vector<std::uint8_t> header{9, 0x24, 0x01, 0x00, 0x01};
    Put16(header, static_cast<std::uint16_t>(9 + classSpecific.size()));
    header.insert(header.end(), {1, 1});  // one streaming interface: number 1

    std::vector<std::uint8_t> body;
    body.insert(body.end(), {9, 0x04, 0, 0, 0, 0x01, 0x01, 0x00, 0});  // audio control
    body.insert(body.end(), header.begin(), header.end());
    body.insert(body.end(), classSpecific.begin(), classSpecific.end());
    body.insert(body.end(), {9, 0x04, 1, 0, 0, 0x01, 0x02, 0x00, 0});  // streaming, idle
    body.insert(body.end(), {9, 0x04, 1, 1, 1, 0x01, 0x02, 0x00, 0});  // streaming, active
    body.insert(body.end(), {7, 0x24, 0x01, 1, 1, 0x01, 0x00});
    body.insert(body.end(), {11, 0x24, 0x02, 0x01, 2, 2, 16, 1, 0x80, 0xBB, 0x00});
    body.insert(body.end(), {9, 0x05, 0x01, 0x09, 0xC0, 0x00, 1, 0, 0});
    body.insert(body.end(), {7, 0x25, 0x01, 0x00, 0x00, 0x00, 0x00});

    std::vector<std::uint8_t> config{9, 0x02};
    Put16(config, static_cast<std::uint16_t>(9 + body.size()));
    config.insert(config.end(), {2, 1, 0, 0x80, 50});
    config.insert(config.end(), body.begin(), body.end());
    return config;
}

std::vector<std::uint8_t> BridgeChipModel::ConfigurationDescriptor() const {
    std::lock_guard lock(mutex_);
    if (configOverride_) return *configOverride_;
    return BuildConfiguration(config_);
}

std::vector<std::uint8_t> BridgeChipModel::SysfsDescriptors() const {
    auto all = DeviceDescriptor();
    auto config = BuildConfiguration(config_);
    all.insert(all.end(), config.begin(), config.end());
    return all;
}

}  // namespace ovra::sim
