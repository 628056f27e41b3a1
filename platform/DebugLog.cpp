#include "platform/DebugLog.h"

#include <cstdio>

namespace ovra {

std::string FormatString(const char* format, va_list args) {
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed < 0) return {};
    if (static_cast<std::size_t>(needed) < sizeof small) return std::string(small, needed);
    std::string text(static_cast<std::size_t>(needed), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, args);
    return text;
}

void DebugLog::Printf(const char* format, ...) {
    va_list args;
    va_start(args, format);
    char small[512];
    va_list copy;
    va_copy(copy, args);
    const int needed = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (needed >= 0 && static_cast<std::size_t>(needed) < sizeof small) {
        Write(std::string_view(small, static_cast<std::size_t>(needed)));
    } else if (needed >= 0) {
        Write(FormatString(format, args));
    }
    va_end(args);
}

}  // namespace ovra
