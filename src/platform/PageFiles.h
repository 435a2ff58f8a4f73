// The driver's page files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "platform/FolderWatch.h"

namespace platform {

/// A page file opened for reading with no sharing. Destroying it closes the file.
class PageFile {
 public:
  virtual ~PageFile() = default;
  virtual bool size(std::uint64_t& size) = 0;
  /// Reads up to dest.size() bytes from the start in one read; returns the count read.
  virtual std::size_t read(std::span<std::uint8_t> dest) = 0;
};

class PageFiles {
 public:
  virtual ~PageFiles() = default;
  /// Opens an existing file for reading with no sharing. Null when it is missing, is
  /// still held by its writer, is not a regular file, or can't be opened for any reason.
  /// `sender` is the account that posted the job's notice, where known: a file that
  /// belongs to neither that account nor the superuser is null too, unless the sender is
  /// the superuser. Without a sender owners are not looked at.
  virtual std::unique_ptr<PageFile> open(const std::u16string& path,
                                         std::optional<std::uint32_t> sender) = 0;
  /// Deletes the file; the result is not examined.
  virtual void remove(const std::u16string& path) = 0;
  /// A watch on `folder`, the folder of the page files; never null. Made before the first
  /// open of a page, so a file that arrives after a failed open ends the next wait.
  virtual std::unique_ptr<FolderWatch> watchFolder(const std::u16string& folder) = 0;
  /// The separator between folder and file names: '\\' on Windows, '/' elsewhere.
  virtual char16_t separator() const = 0;
};

}  // namespace platform
