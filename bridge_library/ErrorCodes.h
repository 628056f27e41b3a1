#pragma once
// Result codes of the bridge library. The library reports failures as the
// numbers its callers and its log lines have always shown: Win32 error codes
// for failed requests and HRESULTs for failed channel operations.

#include <cstdint>

namespace ovra::brx {

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorInvalidData = 13;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorNotReady = 21;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorSemTimeout = 121;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorDeviceNotConnected = 1167;  // 0x48F

inline constexpr std::uint32_t kHresultFail = 0x80004005u;     // E_FAIL
inline constexpr std::uint32_t kHresultNotImpl = 0x80004001u;  // E_NOTIMPL
inline constexpr std::uint32_t kHresultInvalidArg = 0x80070057u;  // E_INVALIDARG

// A failed request's error as the channels report it: a positive Win32 code v
// becomes 0x8007xxxx; no code at all becomes E_FAIL.
constexpr std::uint32_t HresultFromError(std::uint32_t lastError) {
    return lastError == 0 ? kHresultFail : (0x80070000u | (lastError & 0xFFFFu));
}

}  // namespace ovra::brx
