// A printer's data store kept as a folder: value NAME is the file DIR/NAME, raw bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace platform::posix {

class PrinterDataFolder {
 public:
  /// A store with no folder: every value is missing.
  PrinterDataFolder() = default;
  explicit PrinterDataFolder(std::string dir) : dir_(std::move(dir)), hasDir_(true) {}

  /// Reads value `name` into `dest` with dest.size() as the buffer size, by the rule of
  /// the spooler's printer data: 0 when the value was copied (a shorter value fills the
  /// first bytes), 2 when there is no such value, 234 when it is larger than `dest`,
  /// 5 when it can't be read. On anything but 0 `dest` is left unchanged. A name that
  /// is not a plain file name ("", ".", "..", or holding '/' or NUL) is no value.
  [[nodiscard]] std::uint32_t read(std::string_view name, std::span<std::uint8_t> dest) const;

 private:
  std::string dir_;
  bool hasDir_ = false;
};

}  // namespace platform::posix
