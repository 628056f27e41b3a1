#include "bridge_library/BrxLog.h"

#include <cstdio>
#include <algorithm>
#include <cstring>

namespace ovra::brx {
namespace {

constexpr std::size_t kBufferSize = 4096;
constexpr std::size_t kMaxText = kBufferSize - 3;  // room for "\r\n" and the terminator

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

std::string BrxLog::Frame(const char* format, va_list args) {
    char buffer[kBufferSize];
    const int n = std::vsnprintf(buffer, kMaxText + 1, format, args);
    std::size_t length = n < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(n), kMaxText);
    while (length > 0 && IsBlank(buffer[length - 1])) --length;
    std::string line(buffer, length);
    line += "\r\n";
    return line;
}

void BrxLog::LineV(const char* format, va_list args) {
    sink_.Write(Frame(format, args));
}

void BrxLog::Line(const char* format, ...) {
    va_list args;
    va_start(args, format);
    LineV(format, args);
    va_end(args);
}

void FramedDebugLog::Write(std::string_view text) {
    log_.Line("%.*s", static_cast<int>(std::min<std::size_t>(text.size(), kMaxText)), text.data());
}

}  // namespace ovra::brx
