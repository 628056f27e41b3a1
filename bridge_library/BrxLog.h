#pragma once
// The bridge library's own log routine: every line is formatted into a buffer
// of 4096 characters (at most 4093 of text), loses its trailing white space
// and ends in "\r\n" before it goes to the debug output.

#include <cstdarg>
#include <string>

#include "platform/DebugLog.h"

namespace ovra::brx {

class BrxLog {
public:
    explicit BrxLog(DebugLog& sink) : sink_(sink) {}

    void Line(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void LineV(const char* format, va_list args);

    // The exact text a format produces, as Line writes it (for tests and for
    // callers that build a line in pieces).
    static std::string Frame(const char* format, va_list args);

private:
    DebugLog& sink_;
};

// The same framing for parts that write through a plain DebugLog (the proxy
// request client): each text written becomes one framed line.
class FramedDebugLog final : public DebugLog {
public:
    explicit FramedDebugLog(DebugLog& sink) : log_(sink) {}
    void Write(std::string_view text) override;

private:
    BrxLog log_;
};

}  // namespace ovra::brx
