#include "ui_program/core/DeviceClassification.h"

#include <cctype>

namespace ovra {
namespace {

struct ProductRow {
    std::string_view text;
    DeviceFamily family;
    ProductKind kind;
};

constexpr ProductRow kProducts[] = {
    {"01AC", DeviceFamily::Gen2, ProductKind::HidHeadset},
    {"1855", DeviceFamily::Gen2, ProductKind::HidHeadset},
    {"1859", DeviceFamily::Gen2Entry, ProductKind::HidHeadset},
    {"1858", DeviceFamily::Gen2Mid, ProductKind::Gen2MidHeadset},
    {"1876", DeviceFamily::TV520, ProductKind::Tv520Headset},
    {"1842", DeviceFamily::MK470, ProductKind::Microphone},
};

std::string Upper(std::string_view text) {
    std::string out(text);
    for (auto& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

}  // namespace

std::optional<ClassifiedProduct> ClassifyInstanceId(std::string_view instanceId) {
    const std::string id = Upper(instanceId);
    if (id.rfind("USB", 0) != 0 || id.size() < 12) return std::nullopt;
    const std::string_view vendor = std::string_view(id).substr(8, 4);
    if (vendor != "0D8C" && vendor != "0B05") return std::nullopt;
    const auto pid = id.find("PID_");
    const auto lastSlash = id.rfind('\\');
    if (pid == std::string::npos || lastSlash == std::string::npos || lastSlash < pid + 4)
        return std::nullopt;
    const std::string_view product = std::string_view(id).substr(pid + 4, lastSlash - pid - 4);
    for (const auto& row : kProducts)
        if (product == row.text) return ClassifiedProduct{std::string(row.text), row.family, row.kind};
    return std::nullopt;
}

UsbId HidHeadsetIds(std::string_view productText) {
    const std::uint16_t product = productText == "01AC" ? 0x01AC
                                  : productText == "1859" ? 0x1859
                                                          : 0x1855;
    return UsbId{productText == "01AC" ? std::uint16_t{0x0D8C} : std::uint16_t{0x0B05}, product};
}

}  // namespace ovra
