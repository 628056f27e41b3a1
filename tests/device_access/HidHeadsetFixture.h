#pragma once
// A HID headset (Gen2 or Gen2Entry) wired to the device model through the
// in-process host, on a manual clock.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "device_access/HidControl.h"
#include "device_access/HidHeadset.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/RecordingDebugLog.h"
#include "sim/hid/Gen2HeadsetModel.h"
#include "sim/hid/InProcessHidHost.h"

namespace ovra {

using ReportBytes = std::vector<std::uint8_t>;

// "01 00 94 02 50 80" -> bytes, padded with zeros to a 16-byte report.
inline ReportBytes Report(const std::string& hex) {
    std::istringstream in(hex);
    ReportBytes bytes;
    unsigned value = 0;
    while (in >> std::hex >> value) bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.resize(16, 0);
    return bytes;
}

inline std::vector<ReportBytes> Reports(std::initializer_list<std::string> hex) {
    std::vector<ReportBytes> reports;
    for (const auto& h : hex) reports.push_back(Report(h));
    return reports;
}

inline std::string Hex(const std::vector<ReportBytes>& reports) {
    std::string text;
    char byte[4];
    for (const auto& report : reports) {
        for (std::size_t i = 0; i < report.size(); ++i) {
            std::snprintf(byte, sizeof byte, i ? " %02X" : "%02X", report[i]);
            text += byte;
        }
        text += '\n';
    }
    return text;
}

class HeadsetRig {
public:
    explicit HeadsetRig(DeviceFamily family)
        : model(std::make_shared<sim::Gen2HeadsetModel>(
              family == DeviceFamily::Gen2Entry ? sim::Gen2EntryConfig() : sim::Gen2Config(),
              clock)),
          headset(family, hid, clock, log) {
        host.Add(model);
        const bool opened = hid.OpenDevice(model->VendorId(), model->ProductId());
        EXPECT_TRUE(opened);
    }

    // What the device received since the last call, as readable hex lines.
    std::string Sent() {
        const auto reports = model->OutputReports();
        model->ClearTraffic();
        return Hex(reports);
    }

    ManualClock clock;
    std::shared_ptr<sim::Gen2HeadsetModel> model;
    sim::InProcessHidHost host{&clock};
    RecordingDebugLog log;
    HidControl hid{host, log};
    HidHeadset headset;
};

}  // namespace ovra
