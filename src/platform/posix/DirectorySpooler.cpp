// The directory spooler: printers are folders under ROOT.
#include "platform/posix/DirectorySpooler.h"

#include <fcntl.h>

#include <cerrno>
#include <string>
#include <vector>

#include "base/Utf.h"
#include "platform/posix/DirectoryPrinter.h"
#include "platform/posix/PosixErrors.h"
#include "platform/posix/PosixIo.h"
#include "platform/posix/SpoolerRules.h"

namespace posix {

DirectorySpooler::DirectorySpooler(std::string root) : root_(std::move(root)) {}

std::unique_ptr<platform::Printer> DirectorySpooler::open(std::u16string_view name) {
  const std::string folderName = base::toUtf8(name);
  // A name with an unpaired surrogate would share its folder with the name that has
  // U+FFFD in its place; neither "exists" under the other's name.
  if (!isPlainName(folderName) || base::toUtf16(folderName) != name) {
    setSpoolerError(platform::kErrorInvalidPrinterName);
    return nullptr;
  }
  const std::string path = root_ + "/" + folderName;
  Fd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) {
    const bool missing = errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG;
    setSpoolerError(missing ? platform::kErrorInvalidPrinterName : lastSystemError());
    return nullptr;
  }
  return std::make_unique<DirectoryPrinter>(std::move(folder), std::u16string(name));
}

std::uint32_t DirectorySpooler::lastError() {
  return spoolerError();
}

void DirectorySpooler::removeLeftovers() {
  Fd root(::open(root_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  std::vector<std::string> printers;
  int err = 0;
  if (!root || !listFolder(root.get(), ".", printers, err)) return;
  for (const std::string& printer : printers) {
    Fd folder(openBeneath(root.get(), printer.c_str(), O_RDONLY | O_DIRECTORY));
    Fd documents(folder ? openBeneath(folder.get(), "documents", O_RDONLY | O_DIRECTORY) : -1);
    if (documents) DirectoryDocument::removeLeftovers(documents.get());
  }
}

std::unique_ptr<platform::Spooler> makeDirectorySpooler(std::string root) {
  return std::make_unique<DirectorySpooler>(std::move(root));
}

}  // namespace posix
