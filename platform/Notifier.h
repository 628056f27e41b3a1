#pragma once
// Port: telling the user something (the system's few message boxes). The
// desktop adapter shows a modal dialog on the main loop; headless adapters
// write a log line. Callers never block on the user's answer unless they ask
// for it on the UI thread.

#include <string_view>

namespace ovra {

class Notifier {
public:
    virtual ~Notifier() = default;

    // Shows `text` with `caption`; returns once the notice is shown or queued.
    virtual void Notify(std::string_view text, std::string_view caption) = 0;
};

}  // namespace ovra
