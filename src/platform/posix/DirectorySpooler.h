// The embedded default spooler of the POSIX relay: every printer is a folder under ROOT
// and everything it holds is a plain file.
//
//   ROOT/<printer>/              the printer exists if this folder exists
//   ROOT/<printer>/port          the port name as text (a final newline is dropped);
//                                absent means "DIR:"
//   ROOT/<printer>/data/<VALUE>  printer-data value VALUE, its raw bytes
//   ROOT/<printer>/documents/NNNNNNNN.bin   each ended document, numbered from 00000001
//   ROOT/<printer>/documents/NNNNNNNN.json  its name, data type, output file, page sizes
//   ROOT/<printer>/<output file> a document with an output file, replacing the last one
//   ROOT/<printer>/queue/<jobId> the queue: one file per job holding its status in decimal
//
// The folder name is the printer name in UTF-8; a name that can't be one folder name is
// a printer that does not exist. Documents are printed the moment they end, so they
// never stand in queue/; their numbers are job ids and skip the ids found there.
// DirectoryDocument.h tells how a document is written; DirectoryQueue.h how the queue
// is listed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Spooler.h"

namespace posix {

class DirectorySpooler : public platform::Spooler {
 public:
  /// `root` is a UTF-8 path; it need not exist yet.
  explicit DirectorySpooler(std::string root);

  /// Opens ROOT/<name>; null with lastError() 1801 when that folder does not exist or
  /// the name can't be a folder name.
  std::unique_ptr<platform::Printer> open(std::u16string_view name) override;
  /// The error of this thread's last failed call into any directory printer.
  std::uint32_t lastError() override;

  /// Removes from every printer's documents/ the unfinished documents that writers no
  /// longer running left behind (see DirectoryDocument::removeLeftovers).
  void removeLeftovers();

 private:
  std::string root_;
};

std::unique_ptr<platform::Spooler> makeDirectorySpooler(std::string root);

}  // namespace posix
