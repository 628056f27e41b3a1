#include "service/music/StdoutConsole.h"

#include <cstdio>

namespace ovra::music {

void StdoutConsole::Write(std::string_view text) {
    std::lock_guard lock(mutex_);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

}  // namespace ovra::music
