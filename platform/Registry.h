#pragma once
// Port: a registry of keys and typed values, the only store the two programs
// share. Keys form a tree below two roots; a key path is a backslash-separated
// list of names ("Software\Quelt\..."), and names compare without regard to
// ASCII letter case, as registry names do. A value keeps its type and its exact
// bytes, so a reader can see a value of another type or size exactly as it was
// written. No operation throws; every one returns a RegistryStatus.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ovra {

enum class RegistryRoot {
    LocalMachine,  // HKLM
    CurrentUser,   // HKCU
};

// Type numbers as registry values carry them. Other numbers can occur in a
// store edited by hand and are kept as they are.
enum class RegistryType : std::uint32_t {
    None = 0,
    String = 1,  // REG_SZ: UTF-16LE text with its terminating zero
    Binary = 3,  // REG_BINARY
    Dword = 4,   // REG_DWORD: 4 bytes, little-endian
};

enum class RegistryStatus {
    Ok,
    NotFound,      // key or value does not exist (or the key was deleted meanwhile)
    MoreData,      // the value is larger than the caller's limit; its size is reported
    AccessDenied,  // write through a key opened for reading
    InvalidName,   // empty or malformed key name, over-long name or path
    TooLarge,      // value data above kMaxRegistryValueSize
    Unavailable,   // the store cannot be opened (folder missing or read-only, ...)
    Failed,        // the store failed the operation (I/O error, corrupt file, busy)
};

std::string_view RegistryStatusName(RegistryStatus status);

inline constexpr std::size_t kMaxRegistryKeyNameLength = 255;    // bytes per key name
inline constexpr std::size_t kMaxRegistryKeyDepth = 512;         // names per path
inline constexpr std::size_t kMaxRegistryValueNameLength = 16383;
inline constexpr std::size_t kMaxRegistryValueSize = 1u << 20;   // 1 MiB

enum class RegistryAccess {
    Read,
    ReadWrite,
};

struct RegistryValue {
    RegistryType type = RegistryType::None;
    std::vector<std::uint8_t> data;

    friend bool operator==(const RegistryValue&, const RegistryValue&) = default;
};

struct NamedRegistryValue {
    std::string name;
    RegistryValue value;
};

// One value read by QueryValues. `size` is the stored size even when the data
// was not returned (MoreData).
struct RegistryRead {
    RegistryStatus status = RegistryStatus::NotFound;
    RegistryValue value;
    std::size_t size = 0;
};

// An open key. Every operation is atomic on its own; the handle holds no lock
// and no transaction between operations, so keys may be held open in any
// number and order. A key deleted while open answers NotFound.
class RegistryKey {
public:
    virtual ~RegistryKey() = default;

    // Sets the values in the given order, all or none of them.
    virtual RegistryStatus SetValues(std::span<const NamedRegistryValue> values) = 0;
    // Reads the values from one consistent snapshot. Values larger than
    // `maxSize` come back as MoreData without their data. The result has one
    // entry per name; the returned status is Ok when the key could be read.
    virtual RegistryStatus QueryValues(std::span<const std::string_view> names,
                                       std::size_t maxSize, std::vector<RegistryRead>* reads) = 0;
    virtual RegistryStatus DeleteValue(std::string_view name) = 0;
    // Names of the direct sub-keys, and all values, each sorted by name.
    virtual RegistryStatus EnumSubKeys(std::vector<std::string>* names) = 0;
    virtual RegistryStatus EnumValues(std::vector<NamedRegistryValue>* values) = 0;

    // Conveniences over the operations above.
    RegistryStatus SetValue(std::string_view name, RegistryType type,
                            std::span<const std::uint8_t> data);
    RegistryStatus QueryValue(std::string_view name, RegistryValue* value,
                              std::size_t maxSize = kMaxRegistryValueSize);
};

class Registry {
public:
    virtual ~Registry() = default;

    // Opens the key, creating it and any missing parents. An empty path is the
    // root itself.
    virtual RegistryStatus CreateKey(RegistryRoot root, std::string_view path,
                                     std::unique_ptr<RegistryKey>* key) = 0;
    // Opens an existing key.
    virtual RegistryStatus OpenKey(RegistryRoot root, std::string_view path, RegistryAccess access,
                                   std::unique_ptr<RegistryKey>* key) = 0;
    // Deletes the key with all its sub-keys and values. A root cannot be deleted.
    virtual RegistryStatus DeleteKey(RegistryRoot root, std::string_view path) = 0;
};

// Helpers shared by the adapters and their callers.

// Splits a key path into names. False (InvalidName) for an empty name, a name
// longer than kMaxRegistryKeyNameLength bytes or holding a control character,
// or a path deeper than kMaxRegistryKeyDepth. A leading or trailing
// backslash is ignored; "" gives no names.
bool SplitRegistryPath(std::string_view path, std::vector<std::string_view>* names);
bool IsValidRegistryValueName(std::string_view name);
// ASCII lower-case form under which names are compared.
std::string FoldRegistryName(std::string_view name);

// REG_SZ data from UTF-8 text (UTF-16LE with the terminating zero). False when
// the text is not valid UTF-8.
bool EncodeRegistryString(std::string_view utf8, std::vector<std::uint8_t>* data);
// UTF-8 text from REG_SZ data. False unless the data is whole UTF-16LE code
// units, valid UTF-16, ends in exactly one terminating zero and holds no other
// zero: only such data reads back identically through EncodeRegistryString.
bool DecodeRegistryString(std::span<const std::uint8_t> data, std::string* utf8);

std::vector<std::uint8_t> EncodeRegistryDword(std::uint32_t value);

}  // namespace ovra
