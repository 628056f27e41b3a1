#pragma once
// Port: the programs' debug output. Lines are written exactly as given (the
// callers supply their own "\n" framing); nothing is added or stripped.

#include <cstdarg>
#include <string>
#include <string_view>

namespace ovra {

class DebugLog {
public:
    virtual ~DebugLog() = default;
    virtual void Write(std::string_view text) = 0;

    // printf-style convenience; formats into a local buffer, no allocation for
    // lines up to 512 bytes.
    void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
};

std::string FormatString(const char* format, va_list args);

}  // namespace ovra
