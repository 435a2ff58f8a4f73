// Turns errno values into the system error codes the relay reports and compares with.
#pragma once

#include <cstdint>
#include <string>

namespace posix {

/// The Windows system error code closest to `err`: ENOENT gives 2 (file not found),
/// EEXIST and EADDRINUSE give 183 (already exists), and so on for the common cases.
/// Any other errno comes back as 0x20000000 | errno, bit 29 being the bit Windows keeps
/// for codes that are not its own, so the result is never 0 and never a real Windows code.
std::uint32_t systemError(int err);

/// systemError() of the current errno.
std::uint32_t lastSystemError();

/// The system's own words for `err` ("No space left on device"), safe on any thread.
std::string errorText(int err);

/// The words for a code systemError() gave: those of the errno it stands for (EACCES for
/// 5, which also stands for EPERM), or "error 0x%08x" for a code of no errno.
std::string systemErrorText(std::uint32_t code);

}  // namespace posix
