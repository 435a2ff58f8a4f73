// Page files opened with O_NOFOLLOW and held under an exclusive flock().
#include "platform/posix/PosixPageFiles.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/Utf.h"
#include "platform/posix/Fd.h"
#include "platform/posix/PosixIo.h"

namespace posix {
namespace {

class PosixPageFile : public platform::PageFile {
 public:
  explicit PosixPageFile(Fd fd) : fd_(std::move(fd)) {}

  bool size(std::uint64_t& size) override {
    struct stat st {};
    if (::fstat(fd_.get(), &st) != 0) return false;
    size = static_cast<std::uint64_t>(st.st_size);
    return true;
  }

  /// One logical read from the start: it goes on until `dest` is full or the file ends.
  /// A failed read counts as nothing read.
  std::size_t read(std::span<std::uint8_t> dest) override {
    const ssize_t n = readAt(fd_.get(), dest, 0);
    return n < 0 ? 0 : static_cast<std::size_t>(n);
  }

 private:
  Fd fd_;  // closing it drops the lock as well
};

/// Root (uid 0) may post notices for every page file, and its page files serve every
/// notice; any other account's serve only its own.
bool ownerMayServe(uid_t owner, std::optional<std::uint32_t> sender) {
  return !sender || *sender == 0 || owner == 0 || owner == *sender;
}

}  // namespace

std::unique_ptr<platform::PageFile> PosixPageFiles::open(const std::u16string& path,
                                                         std::optional<std::uint32_t> sender) {
  const std::string utf8 = base::toUtf8(path);
  // O_NONBLOCK keeps the open of a FIFO from waiting for a writer.
  Fd fd(::open(utf8.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd) return nullptr;
  struct stat st {};
  if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
  if (!ownerMayServe(st.st_uid, sender)) return nullptr;
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return nullptr;
  return std::make_unique<PosixPageFile>(std::move(fd));
}

void PosixPageFiles::remove(const std::u16string& path) {
  (void)::unlink(base::toUtf8(path).c_str());
}

std::unique_ptr<platform::FolderWatch> PosixPageFiles::watchFolder(const std::u16string& folder) {
  return watches_.watch(base::toUtf8(folder));
}

}  // namespace posix
