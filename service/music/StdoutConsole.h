#pragma once
// The capture's diagnostics go to the program's standard output (not the
// debug log): a program started without a console simply loses them.

#include <mutex>

#include "platform/DebugLog.h"

namespace ovra::music {

class StdoutConsole final : public DebugLog {
public:
    void Write(std::string_view text) override;

private:
    std::mutex mutex_;
};

}  // namespace ovra::music
