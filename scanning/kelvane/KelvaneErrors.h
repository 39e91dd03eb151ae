// The numbered errors of the Kelvane access layer. The transports and the connection
// object keep the number of their last failure; the language module holds a text for each
// under the same id.
#pragma once

#include <array>
#include <cstdint>

namespace orb::kelvane {

inline constexpr int32_t kErrNotConnected = 10001;       // also: no matching device in the list
inline constexpr int32_t kErrWiaCannotCreate = 10003;
inline constexpr int32_t kErrWiaNoEnumerator = 10004;
inline constexpr int32_t kErrWiaNoEscape = 10005;
inline constexpr int32_t kErrSetWindow = 10006;
inline constexpr int32_t kErrLengthTooSmall = 10007;
inline constexpr int32_t kErrResolutionTooHigh = 10009;
inline constexpr int32_t kErrResolutionTooLow = 10010;
inline constexpr int32_t kErrSetSpeed = 10011;
inline constexpr int32_t kErrSetGamma = 10013;
inline constexpr int32_t kErrSetThreshold = 10014;
inline constexpr int32_t kErrStartScan = 10015;
inline constexpr int32_t kErrEndScan = 10016;
inline constexpr int32_t kErrReadData = 10018;
inline constexpr int32_t kErrGetStatus = 10019;
inline constexpr int32_t kErrPaperHandling = 10020;
inline constexpr int32_t kErrAreaSize = 10021;
inline constexpr int32_t kErrWidthTooSmall = 10022;
inline constexpr int32_t kErrGetInfo = 10023;

// Every number either layer raises (each has a text in the language module).
inline constexpr std::array<int32_t, 19> kAllErrors = {
    kErrNotConnected,   kErrWiaCannotCreate,   kErrWiaNoEnumerator,  kErrWiaNoEscape,
    kErrSetWindow,      kErrLengthTooSmall,    kErrResolutionTooHigh, kErrResolutionTooLow,
    kErrSetSpeed,       kErrSetGamma,          kErrSetThreshold,     kErrStartScan,
    kErrEndScan,        kErrReadData,          kErrGetStatus,        kErrPaperHandling,
    kErrAreaSize,       kErrWidthTooSmall,     kErrGetInfo};

}  // namespace orb::kelvane
