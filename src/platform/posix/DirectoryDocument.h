// One RAW document of the directory spooler, from its start to its end.
//
// A started document is written to documents/.NNNNNNNN.bin.part (mode 0640); creating that
// file with O_EXCL claims the number NNNNNNNN, so processes sharing a printer folder never
// take the same one, and its writer keeps it locked with flock() until it is published. Ending it
// writes documents/NNNNNNNN.json (through a temp file and a rename) and only then renames the .part
// to documents/NNNNNNNN.bin, or to the output file in the printer's folder: whoever sees the .bin
// sees the whole document and its .json. A document with an output file keeps its .json, with
// "outputFile" set, as the record of its pages; it gets no .bin. A document that never ends leaves
// nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/Spooler.h"
#include "platform/posix/Fd.h"

namespace posix {

class DirectoryDocument {
 public:
  /// Starts the next numbered document of the printer folder `printerDir`, which the
  /// caller keeps open while the document lives. Null with `error` set on failure: 123
  /// when the output file is not a plain file name of its own in the printer's folder.
  static std::unique_ptr<DirectoryDocument> start(int printerDir, const platform::DocInfo& info,
                                                  std::uint32_t& error);

  DirectoryDocument(int printerDir, Fd documentsDir, std::uint32_t number, Fd file,
                    const platform::DocInfo& info);
  /// Removes the .part of a document that did not end.
  ~DirectoryDocument();
  DirectoryDocument(const DirectoryDocument&) = delete;
  DirectoryDocument& operator=(const DirectoryDocument&) = delete;

  /// The document's number, which is also its job id.
  std::uint32_t number() const { return number_; }

  bool startPage(std::uint32_t& error);
  /// Appends to the open page; bytes outside a page are refused.
  bool write(std::span<const std::uint8_t> bytes, std::uint32_t& error);
  bool endPage(std::uint32_t& error);
  /// Ends an open page, then publishes the document as the file header says.
  bool finish(std::uint32_t& error);

  /// Removes from the folder `documentsDir` the .part files of documents whose writer
  /// ended without finishing them (a writer holds a lock on its .part), with their
  /// .json.part files.
  static void removeLeftovers(int documentsDir);

  /// The .json text: {"name": ..., "dataType": ..., "outputFile": null or a string,
  /// "pages": [byte counts]} on one line, with no final newline.
  static std::string describe(const platform::DocInfo& info,
                              const std::vector<std::uint64_t>& pages);

 private:
  bool writeDescription(std::uint32_t& error);
  bool publish(std::uint32_t& error);

  int printerDir_;
  Fd documentsDir_;
  std::uint32_t number_;
  Fd file_;
  platform::DocInfo info_;
  std::vector<std::uint64_t> pages_;  // byte count of each page so far
  bool pageOpen_ = false;
  bool published_ = false;
};

}  // namespace posix
