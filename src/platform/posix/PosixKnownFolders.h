// The public folder of the POSIX relay: a folder given on the command line.
#pragma once

#include <string>

#include "platform/KnownFolders.h"

namespace posix {

class PosixKnownFolders : public platform::KnownFolders {
 public:
  /// `publicFolder` is a UTF-8 path, handed out as it is given.
  explicit PosixKnownFolders(std::string publicFolder);

  /// The folder in UTF-16. Fails with 2 when it does not exist, 267 (not a folder) when
  /// it is something else, and the mapped errno when it can't be looked at.
  bool publicFolder(std::u16string& path, std::uint32_t& error) override;

 private:
  std::string folder_;
};

}  // namespace posix
