// An open printer of the directory spooler (see DirectorySpooler.h for the layout).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Spooler.h"
#include "platform/posix/DirectoryDocument.h"
#include "platform/posix/Fd.h"

namespace posix {

/// True for a name that is one entry of a folder: not empty, ".", or "..", no '/' or NUL.
bool isPlainName(std::string_view name);

class DirectoryPrinter : public platform::Printer {
 public:
  /// `folder` is the open ROOT/<name>, `path` its path (for debug lines).
  DirectoryPrinter(Fd folder, std::u16string name, std::string path);

  /// The block is the one of SpoolerRules.h, with the printer's name and its port.
  bool queryInfoSize(std::uint32_t& needed) override;
  bool readInfo(std::span<std::byte> block, std::u16string& portName) override;
  std::uint32_t getData(std::string_view name, std::span<std::uint8_t> dest) override;

  /// A second startDoc() before endDoc() fails with 1906; startPage(), write() and
  /// endPage() without a document fail with 3004, out of order within one with 1906.
  /// A document that could not be started, written or published leaves a failure line
  /// naming the printer, the document and the system's reason; a document one of whose
  /// writes failed is not published.
  bool startDoc(const platform::DocInfo& info) override;
  bool startPage() override;
  bool write(std::span<const std::uint8_t> bytes) override;
  bool endPage() override;
  bool endDoc() override;
  /// Syncs the folder the last published document was renamed into. A printer closed or
  /// a document started first does it then.
  bool settleDoc() override;
  ~DirectoryPrinter() override;

  /// Once the printer's folder is removed, every call fails with 1801 (getData returns
  /// it), and a started document is dropped at endDoc().

  /// Fails with 122, and lists nothing, when the listing needs more than 6400 bytes.
  bool enumJobs(std::vector<platform::JobEntry>& entries) override;
  bool deleteJob(const platform::JobEntry& entry) override;

 private:
  /// False, with the error set, when the printer's folder has been removed.
  bool present();
  bool readPort(std::u16string& port);
  /// Fails with `error` and the line "spoolrelayer: printer N: <what>: <reason> \n".
  bool failDocument(const std::string& what, std::uint32_t error);

  Fd folder_;
  std::u16string name_;
  std::string path_;
  std::string documentFailure_;                  // the line of the started document's failed write
  std::unique_ptr<DirectoryDocument> document_;  // the started document, if any
  Fd unsettled_;        // the folder of the last published document, until it is synced
  std::string settle_;  // that document's name, for the line of a failed sync
};

}  // namespace posix
