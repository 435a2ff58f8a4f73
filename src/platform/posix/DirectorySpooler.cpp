// The directory spooler: printers are folders under ROOT.
#include "platform/posix/DirectorySpooler.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>
#include <vector>

#include "base/Utf.h"
#include "platform/posix/DirectoryPrinter.h"
#include "platform/posix/PosixErrors.h"
#include "platform/posix/PosixIo.h"
#include "platform/posix/SpoolerRules.h"

namespace posix {
namespace {

/// The name in double quotes, control characters as '?'.
std::string quotedName(const std::string& name) {
  std::string out = "\"";
  for (char c : name) out += static_cast<unsigned char>(c) < 0x20 ? '?' : c;
  return out + "\"";
}

}  // namespace

DirectorySpooler::DirectorySpooler(std::string root) : root_(std::move(root)) {}

std::unique_ptr<platform::Printer> DirectorySpooler::open(std::u16string_view name) {
  const std::string folderName = base::toUtf8(name);
  // A name with an unpaired surrogate would share its folder with the name that has
  // U+FFFD in its place; neither "exists" under the other's name.
  if (!isPlainName(folderName) || base::toUtf16(folderName) != name) {
    setSpoolerFailure(platform::kErrorInvalidPrinterName,
                      "spoolrelayer: no printer is named " + quotedName(folderName) +
                          ": the name can't be a folder name \n");
    return nullptr;
  }
  const std::string path = root_ + "/" + folderName;
  Fd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder) {
    const int err = errno;
    const bool missing = err == ENOENT || err == ENOTDIR || err == ENAMETOOLONG;
    setSpoolerFailure(missing ? platform::kErrorInvalidPrinterName : systemError(err),
                      openFailureLine(folderName, err));
    return nullptr;
  }
  return std::make_unique<DirectoryPrinter>(std::move(folder), std::u16string(name), path);
}

std::uint32_t DirectorySpooler::lastError() {
  return spoolerError();
}

std::string DirectorySpooler::lastFailureLine() {
  return spoolerFailureLine();
}

std::string DirectorySpooler::openFailureLine(const std::string& folderName, int err) const {
  // A missing printer folder means no such printer, unless the root itself is missing.
  struct stat st {};
  if (::stat(root_.c_str(), &st) != 0) {
    return "spoolrelayer: spooler root " + root_ + " can't be used: " + errorText(errno) + " \n";
  }
  if (!S_ISDIR(st.st_mode)) {
    return "spoolrelayer: spooler root " + root_ + " can't be used: " + errorText(ENOTDIR) + " \n";
  }
  if (err == ENOENT || err == ENOTDIR) {
    return "spoolrelayer: no printer is named " + quotedName(folderName) + " in " + root_ + " \n";
  }
  return "spoolrelayer: printer folder " + root_ + "/" + folderName +
         " can't be opened: " + errorText(err) + " \n";
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
