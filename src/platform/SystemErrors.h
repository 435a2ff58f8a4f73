// The system error codes the seams report and the relay compares with or prints: the
// values Windows gives them, so a debug line reads the same on every platform. The
// POSIX layer maps its errno values and its spoolers' failures onto these.
#pragma once

#include <cstdint>

namespace platform {

inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorPathNotFound = 3;
inline constexpr std::uint32_t kErrorTooManyOpenFiles = 4;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;  // also: a spooler call out of order
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorNoMoreFiles = 18;       // no document number left
inline constexpr std::uint32_t kErrorGenFailure = 31;        // any other scheduler error
inline constexpr std::uint32_t kErrorInvalidParameter = 87;  // also: no such job
inline constexpr std::uint32_t kErrorDiskFull = 112;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorInvalidName = 123;  // also: an unusable output file
inline constexpr std::uint32_t kErrorAlreadyExists = 183;
inline constexpr std::uint32_t kErrorFilenameTooLong = 206;  // ERROR_FILENAME_EXCED_RANGE
inline constexpr std::uint32_t kErrorMoreData = 234;
inline constexpr std::uint32_t kErrorServerUnavailable = 1722;  // RPC_S_SERVER_UNAVAILABLE
inline constexpr std::uint32_t kErrorInvalidPrinterName = 1801;
inline constexpr std::uint32_t kErrorInvalidDatatype = 1804;
inline constexpr std::uint32_t kErrorInvalidPrinterState = 1906;
inline constexpr std::uint32_t kErrorNoStartDoc = 3004;  // ERROR_SPL_NO_STARTDOC

/// Bit 29, which Windows leaves to codes that are not its own: a platform error with no
/// Windows counterpart is reported as this bit with its own number.
inline constexpr std::uint32_t kErrorNotWindowsBit = 0x20000000;

}  // namespace platform
