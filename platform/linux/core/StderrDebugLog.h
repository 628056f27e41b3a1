#pragma once
// Debug output of the programs: every text goes to stderr unchanged, and also
// to the file named by OVRA_LOG when that variable is set.

#include <cstdio>
#include <mutex>

#include "platform/DebugLog.h"

namespace ovra {

class StderrDebugLog final : public DebugLog {
public:
    StderrDebugLog();  // opens $OVRA_LOG for appending when set
    ~StderrDebugLog() override;
    StderrDebugLog(const StderrDebugLog&) = delete;
    StderrDebugLog& operator=(const StderrDebugLog&) = delete;

    void Write(std::string_view text) override;

private:
    std::mutex mutex_;
    int fileFd_ = -1;
};

}  // namespace ovra
