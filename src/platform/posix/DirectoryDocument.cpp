// RAW documents of the directory spooler: numbering, pages, the .json and the final rename.
#include "platform/posix/DirectoryDocument.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "base/Utf.h"
#include "platform/posix/PosixErrors.h"
#include "platform/posix/PosixIo.h"

namespace posix {
namespace {

constexpr std::uint32_t kLastNumber = 99'999'999;  // eight decimal digits
constexpr mode_t kDocumentMode = 0640;

/// A document file name: the number in eight digits between `prefix` and `suffix`.
std::string fileName(const char* prefix, std::uint32_t number, const char* suffix) {
  char text[40];
  std::snprintf(text, sizeof text, "%s%08u%s", prefix, static_cast<unsigned>(number), suffix);
  return text;
}
std::string binName(std::uint32_t n) {
  return fileName("", n, ".bin");
}
std::string jsonName(std::uint32_t n) {
  return fileName("", n, ".json");
}
std::string partName(std::uint32_t n) {
  return fileName(".", n, ".bin.part");
}
std::string jsonPartName(std::uint32_t n) {
  return fileName(".", n, ".json.part");
}

/// The number in "NNNNNNNN.bin", "NNNNNNNN.json" and their .part forms; 0 for other names.
std::uint32_t numberIn(std::string_view name) {
  if (!name.empty() && name.front() == '.') name.remove_prefix(1);
  if (name.size() < 9 || name[8] != '.') return 0;
  std::uint32_t number = 0;
  for (char c : name.substr(0, 8)) {
    if (c < '0' || c > '9') return 0;
    number = number * 10 + static_cast<std::uint32_t>(c - '0');
  }
  return number;
}

/// One past the highest number in use in documents/, counting unfinished documents.
bool firstFreeNumber(int documentsDir, std::uint32_t& next, std::uint32_t& error) {
  std::vector<std::string> names;
  int err = 0;
  if (!listFolder(documentsDir, ".", names, err)) {
    error = systemError(err);
    return false;
  }
  next = 1;
  for (const std::string& name : names) next = std::max(next, numberIn(name) + 1);
  return true;
}

/// Claims the first free number from `next` on by creating its .part exclusively. A
/// number that is a job id in queue/ is passed over, since document numbers are job ids.
/// The .part stays locked while it is written, which tells it from one a dead writer left.
bool claimNumber(int printerDir, int documentsDir, std::uint32_t next, std::uint32_t& number,
                 Fd& file, std::uint32_t& error) {
  for (; next <= kLastNumber; ++next) {
    if (existsAt(printerDir, ("queue/" + std::to_string(next)).c_str())) continue;
    Fd fd(openBeneath(documentsDir, partName(next).c_str(), O_WRONLY | O_CREAT | O_EXCL,
                      kDocumentMode));
    if (!fd && errno == EEXIST) continue;
    if (!fd) {
      error = lastSystemError();
      return false;
    }
    // A relay starting up may have taken the fresh .part for a dead writer's before the
    // lock was on it; it has no links left then.
    struct stat st {};
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 || ::fstat(fd.get(), &st) != 0 ||
        st.st_nlink == 0) {
      continue;
    }
    // Another process may have ended this number since our listing; its .json is written
    // before its .part goes away, so seeing neither means the number is ours.
    if (existsAt(documentsDir, jsonName(next).c_str()) ||
        existsAt(documentsDir, binName(next).c_str())) {
      (void)::unlinkat(documentsDir, partName(next).c_str(), 0);
      continue;
    }
    number = next;
    file = std::move(fd);
    return true;
  }
  error = platform::kErrorNoMoreFiles;
  return false;
}

/// An output file must be a plain name that is none of the printer folder's own entries.
bool usableOutputName(const std::string& name) {
  if (name.empty() || name.front() == '.' || name.find('/') != std::string::npos ||
      name.find('\0') != std::string::npos) {
    return false;
  }
  return name != "port" && name != "data" && name != "documents" && name != "queue";
}

/// `text` as a JSON string: quotes, backslashes and control characters escaped, the rest
/// as UTF-8.
std::string quoted(std::u16string_view text) {
  constexpr std::string_view kShortEscapes = "\b\f\n\r\t";
  constexpr std::string_view kShortLetters = "bfnrt";
  std::string out = "\"";
  for (char c : base::toUtf8(text)) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (const std::size_t k = kShortEscapes.find(c); k != std::string_view::npos) {
      out += '\\';
      out += kShortLetters[k];
    } else if (byte < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(byte));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

std::unique_ptr<DirectoryDocument> DirectoryDocument::start(int printerDir,
                                                            const platform::DocInfo& info,
                                                            std::uint32_t& error) {
  if (info.outputFile && !usableOutputName(base::toUtf8(*info.outputFile))) {
    error = platform::kErrorInvalidName;
    return nullptr;
  }
  if (::mkdirat(printerDir, "documents", 0750) != 0 && errno != EEXIST) {
    error = lastSystemError();
    return nullptr;
  }
  Fd documentsDir(openBeneath(printerDir, "documents", O_RDONLY | O_DIRECTORY));
  if (!documentsDir) {
    error = lastSystemError();
    return nullptr;
  }
  std::uint32_t next = 0, number = 0;
  Fd file;
  if (!firstFreeNumber(documentsDir.get(), next, error) ||
      !claimNumber(printerDir, documentsDir.get(), next, number, file, error)) {
    return nullptr;
  }
  return std::make_unique<DirectoryDocument>(printerDir, std::move(documentsDir), number,
                                             std::move(file), info);
}

DirectoryDocument::DirectoryDocument(int printerDir, Fd documentsDir, std::uint32_t number, Fd file,
                                     const platform::DocInfo& info)
    : printerDir_(printerDir),
      documentsDir_(std::move(documentsDir)),
      number_(number),
      file_(std::move(file)),
      info_(info) {}

DirectoryDocument::~DirectoryDocument() {
  if (!published_) (void)::unlinkat(documentsDir_.get(), partName(number_).c_str(), 0);
}

bool DirectoryDocument::startPage(std::uint32_t& error) {
  if (pageOpen_) {
    error = platform::kErrorInvalidPrinterState;
    return false;
  }
  pages_.push_back(0);
  pageOpen_ = true;
  return true;
}

bool DirectoryDocument::write(std::span<const std::uint8_t> bytes, std::uint32_t& error) {
  if (!pageOpen_) {
    error = platform::kErrorInvalidPrinterState;
    return false;
  }
  if (!writeAll(file_.get(), bytes)) {
    error = lastSystemError();
    return false;
  }
  pages_.back() += bytes.size();
  return true;
}

bool DirectoryDocument::endPage(std::uint32_t& error) {
  if (!pageOpen_) {
    error = platform::kErrorInvalidPrinterState;
    return false;
  }
  pageOpen_ = false;
  return true;
}

bool DirectoryDocument::finish(std::uint32_t& error) {
  pageOpen_ = false;
  if (!writeDescription(error)) return false;
  if (!publish(error)) {
    (void)::unlinkat(documentsDir_.get(), jsonName(number_).c_str(), 0);
    return false;
  }
  published_ = true;
  return true;
}

bool DirectoryDocument::writeDescription(std::uint32_t& error) {
  const std::string part = jsonPartName(number_);
  // Whatever stands at the name (a dead writer's file, a link) goes first: the file is
  // made anew, never written through a link.
  (void)::unlinkat(documentsDir_.get(), part.c_str(), 0);
  Fd json(
      openBeneath(documentsDir_.get(), part.c_str(), O_WRONLY | O_CREAT | O_EXCL, kDocumentMode));
  if (!json || !writeAll(json.get(), describe(info_, pages_)) || ::fsync(json.get()) != 0 ||
      ::renameat(documentsDir_.get(), part.c_str(), documentsDir_.get(),
                 jsonName(number_).c_str()) != 0) {
    error = lastSystemError();
    (void)::unlinkat(documentsDir_.get(), part.c_str(), 0);
    return false;
  }
  return true;
}

bool DirectoryDocument::publish(std::uint32_t& error) {
  int targetDir = documentsDir_.get();
  std::string target = binName(number_);
  if (info_.outputFile) {
    targetDir = printerDir_;
    target = base::toUtf8(*info_.outputFile);
  }
  // The bytes, and the folder that holds the .part and the .json, reach the disk before
  // the name that publishes them; the rename itself is made durable after it. rename()
  // replaces an earlier output file, or a link standing in its place, in one step. The
  // .part stays open, and locked, until it has its final name.
  if (::fsync(file_.get()) != 0 || ::fsync(documentsDir_.get()) != 0 ||
      ::renameat(documentsDir_.get(), partName(number_).c_str(), targetDir, target.c_str()) != 0 ||
      ::fsync(targetDir) != 0) {
    error = lastSystemError();
    return false;
  }
  file_.reset();
  return true;
}

void DirectoryDocument::removeLeftovers(int documentsDir) {
  std::vector<std::string> names;
  int err = 0;
  if (!listFolder(documentsDir, ".", names, err)) return;
  for (const std::string& name : names) {
    const std::uint32_t number = numberIn(name);
    if (number == 0 || name != partName(number)) continue;
    // A live writer holds the lock on its .part; a dead one's lock went with it.
    Fd part(openBeneath(documentsDir, name.c_str(), O_RDONLY));
    struct stat st {};
    if (!part || ::fstat(part.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
        ::flock(part.get(), LOCK_EX | LOCK_NB) != 0) {
      continue;
    }
    (void)::unlinkat(documentsDir, jsonPartName(number).c_str(), 0);
    (void)::unlinkat(documentsDir, name.c_str(), 0);
  }
  // A .json.part lives only while its document's .part does.
  for (const std::string& name : names) {
    const std::uint32_t number = numberIn(name);
    if (number != 0 && name == jsonPartName(number) &&
        !existsAt(documentsDir, partName(number).c_str())) {
      (void)::unlinkat(documentsDir, name.c_str(), 0);
    }
  }
}

std::string DirectoryDocument::describe(const platform::DocInfo& info,
                                        const std::vector<std::uint64_t>& pages) {
  std::string json = "{\"name\": " + quoted(info.docName) +
                     ", \"dataType\": " + quoted(info.dataType) +
                     ", \"outputFile\": " + (info.outputFile ? quoted(*info.outputFile) : "null") +
                     ", \"pages\": [";
  for (std::size_t i = 0; i < pages.size(); ++i) {
    if (i > 0) json += ", ";
    json += std::to_string(pages[i]);
  }
  return json + "]}";
}

}  // namespace posix
