#include "platform/posix/SpoolerRules.h"

#include <algorithm>
#include <utility>

#include "platform/SystemErrors.h"

namespace posix {
namespace {

thread_local std::uint32_t tSpoolerError = platform::kErrorSuccess;
thread_local std::string tFailureLine;

/// Copies `text` with its NUL as UTF-16LE into `block` at `offset`; the next offset.
std::size_t putString(std::span<std::byte> block, std::size_t offset, std::u16string_view text) {
  for (char16_t unit : text) {
    block[offset++] = static_cast<std::byte>(unit & 0xFF);
    block[offset++] = static_cast<std::byte>(unit >> 8);
  }
  block[offset++] = std::byte{0};
  block[offset++] = std::byte{0};
  return offset;
}

}  // namespace

void setSpoolerError(std::uint32_t error) {
  tSpoolerError = error;
  tFailureLine.clear();
}

void setSpoolerFailure(std::uint32_t error, std::string line) {
  tSpoolerError = error;
  tFailureLine = std::move(line);
}

std::string spoolerFailureLine() {
  return tFailureLine;
}

std::uint32_t spoolerError() {
  return tSpoolerError;
}

bool failWith(std::uint32_t error) {
  setSpoolerError(error);
  return false;
}

std::uint32_t printerInfoSize(std::u16string_view printerName, std::u16string_view portName) {
  return static_cast<std::uint32_t>(kPrinterInfoFixedBytes + 2 * (printerName.size() + 1) +
                                    2 * (portName.size() + 1));
}

void writePrinterInfo(std::span<std::byte> block, std::u16string_view printerName,
                      std::u16string_view portName) {
  std::fill(block.begin(), block.end(), std::byte{0});
  putString(block, putString(block, kPrinterInfoFixedBytes, printerName), portName);
}

}  // namespace posix
