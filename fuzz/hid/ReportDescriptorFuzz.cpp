// Report descriptors come from the device: any byte string must give a clean
// result (lengths or a refusal with an offset inside the input), never a crash
// or an endless loop.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/linux/hid/ReportDescriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parse = ovra::ParseReportDescriptor({data, size});
    if (parse.ok) {
        // Lengths are whole reports of at most the kernel's largest, plus the id byte.
        const auto& caps = parse.capabilities;
        for (std::uint16_t length : {caps.inputReportByteLength, caps.outputReportByteLength,
                                     caps.featureReportByteLength})
            if (length > ovra::kMaxReportByteLength + 1) std::abort();
    } else if (parse.errorOffset > size || parse.error == nullptr || parse.error[0] == '\0') {
        std::abort();
    }
    return 0;
}
