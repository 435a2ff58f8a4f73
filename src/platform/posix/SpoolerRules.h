// What every spooler of the POSIX layer shares with the others: the thread's last error,
// and the printer information block the runner's two-call query fills.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace posix {

/// Sets this thread's last spooler error. One slot serves every POSIX spooler, as the
/// system's last error serves every winspool call, so lastError() of any spooler reads
/// the error of this thread's last failed call into any of them.
void setSpoolerError(std::uint32_t error);
/// This thread's last spooler error; 0 before any failure.
std::uint32_t spoolerError();
/// Sets the error and returns false: `return failWith(code);`.
bool failWith(std::uint32_t error);
/// Sets the error and the debug line that explains it (Spooler::lastFailureLine); setting
/// an error without one clears the line.
void setSpoolerFailure(std::uint32_t error, std::string line);
/// This thread's failure line; empty when the last failure has none.
std::string spoolerFailureLine();

/// The level-2 printer information block: the fixed part of a PRINTER_INFO_2 in its
/// 32-bit layout (84 bytes, left zero), then the printer name and the port name in
/// UTF-16LE, each with its NUL. Of the block the runner reads only the port name, which
/// the spoolers hand back beside it.
inline constexpr std::size_t kPrinterInfoFixedBytes = 84;

/// The bytes of the block for these names.
std::uint32_t printerInfoSize(std::u16string_view printerName, std::u16string_view portName);

/// Fills `block`, which holds at least printerInfoSize() bytes; the bytes after the
/// names are zeroed.
void writePrinterInfo(std::span<std::byte> block, std::u16string_view printerName,
                      std::u16string_view portName);

}  // namespace posix
