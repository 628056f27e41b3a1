#pragma once
// The user's private folder on Linux: a directory owned by the user that
// nobody else may write (created with mode 0700 when missing). Every file
// operation goes through the folder's open descriptor and refuses symbolic
// links, so nothing outside can be swapped in; writes go to a fresh private
// temporary file in the same folder and are renamed into place. The flag file
// counts its holders with shared flock() locks, which the kernel drops when
// a holder dies: a crash leaves no stale count.

#include <string>

#include "platform/PrivateFolder.h"

namespace ovra::proxy {

class LinuxPrivateFolder final : public PrivateFolder {
public:
    // Opens the folder at `path`, creating it (0700) when missing. Ok() is
    // false when it exists but is not private to this user.
    explicit LinuxPrivateFolder(std::string path);
    ~LinuxPrivateFolder() override;
    LinuxPrivateFolder(const LinuxPrivateFolder&) = delete;
    LinuxPrivateFolder& operator=(const LinuxPrivateFolder&) = delete;

    // OVRA_PRIVATE_DIR when set, else $XDG_DATA_HOME/ovra, else
    // ~/.local/share/ovra.
    static std::string DefaultPath();

    bool Ok() const { return dirFd_ >= 0; }
    const std::string& Path() const { return path_; }

    std::string PathOf(std::string_view name) const override;
    FileError Exists(std::string_view name) override;
    FileError Read(std::string_view name, std::vector<std::uint8_t>& bytes) override;
    FileError Replace(std::string_view name, std::span<const std::uint8_t> bytes,
                      bool executable) override;
    FileError Remove(std::string_view name) override;
    std::unique_ptr<FlagHold> HoldFlag(std::string_view name, FileError& error) override;
    FileError FlagHeld(std::string_view name, bool& held) override;
    FileError RemoveFlagIfUnheld(std::string_view name, bool& removed) override;

private:
    std::string path_;
    int dirFd_ = -1;
};

// Whether an open file is private to this user: a regular file owned by the
// user that neither group nor others may write.
bool IsPrivateRegularFile(int fd);
// Whether a folder is private to this user (owned, not writable by others).
bool IsPrivateFolder(const std::string& path);

}  // namespace ovra::proxy
