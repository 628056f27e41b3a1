#pragma once
// Port: the user's own private folder (owned by the user, nobody else may
// write it) where the bridge library installs its proxy program and keeps the
// flag file that counts the processes using the proxy. Nothing is ever staged
// in a place another user could write, and names never leave the folder.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ovra {

enum class FileError : std::uint32_t {
    Ok = 0,
    FileNotFound = 2,
    AccessDenied = 5,     // the folder or file is not private to this user
    WriteFault = 29,
    ReadFault = 30,
    InvalidName = 123,    // a name with a path separator or "." / ".."
};

// Holding one counts this process as a user of the flag; the count drops when
// the holder is destroyed or the process dies (a crash leaves no stale count).
class FlagHold {
public:
    virtual ~FlagHold() = default;
};

class PrivateFolder {
public:
    virtual ~PrivateFolder() = default;

    // Full path of a file of the folder (for log lines and the service image).
    virtual std::string PathOf(std::string_view name) const = 0;

    // Ok, FileNotFound, or AccessDenied when the file is not a private
    // regular file of this user.
    virtual FileError Exists(std::string_view name) = 0;
    virtual FileError Read(std::string_view name, std::vector<std::uint8_t>& bytes) = 0;
    // Writes a private temporary file in the folder and renames it over
    // `name` in one step: readers see the old or the new file, never a part.
    virtual FileError Replace(std::string_view name, std::span<const std::uint8_t> bytes,
                              bool executable) = 0;
    virtual FileError Remove(std::string_view name) = 0;

    // The flag file: a count of the processes holding it.
    virtual std::unique_ptr<FlagHold> HoldFlag(std::string_view name, FileError& error) = 0;
    // Whether any process holds the flag. A flag file that nobody holds (left
    // by a crashed process) counts as absent.
    virtual FileError FlagHeld(std::string_view name, bool& held) = 0;
    // Removes the flag file unless a process holds it; `removed` tells.
    virtual FileError RemoveFlagIfUnheld(std::string_view name, bool& removed) = 0;
};

}  // namespace ovra
