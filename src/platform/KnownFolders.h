// The public folder, under which the drivers' page files are written.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

class KnownFolders {
 public:
  virtual ~KnownFolders() = default;
  /// The default path of the public folder; false with `error` set when it can't be had.
  virtual bool publicFolder(std::u16string& path, std::uint32_t& error) = 0;
};

}  // namespace platform
