#pragma once
// A private store folder per test, removed afterwards.

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/linux/registry/StoreLocation.h"

namespace ovra::testing {

class TempStore {
public:
    TempStore() {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/ovra-settings-XXXXXX";
        if (::mkdtemp(pattern.data())) root_ = pattern;
    }
    ~TempStore() {
        std::error_code ignored;
        if (!root_.empty()) {
            // Folders made read-only by a test must become removable again.
            std::filesystem::permissions(Folder(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ignored);
            std::filesystem::remove_all(root_, ignored);
        }
    }
    TempStore(const TempStore&) = delete;
    TempStore& operator=(const TempStore&) = delete;

    const std::string& Root() const { return root_; }
    std::string Folder() const { return root_ + "/ovra"; }
    std::string File() const { return Folder() + "/settings.db"; }
    StoreLocation Location() const { return {Folder(), File()}; }

private:
    std::string root_;
};

}  // namespace ovra::testing
