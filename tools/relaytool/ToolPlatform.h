// What relaytool takes from the platform it runs on. Each platform's file
// (posix/ToolPlatformPosix.cpp, win32/ToolPlatformWin32.cpp) gives the relay's own page
// files and a debug output on standard error, files read and written whole with the
// system's reason on failure, and the driver's side of a job.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/DebugOutput.h"
#include "platform/PageFiles.h"

namespace relaytool {

/// The relay's page files: opened as the relay opens them, so a page that its writer
/// still holds counts as not there.
std::unique_ptr<platform::PageFiles> relayPageFiles();
/// A UTF-8 path in the form the page files take.
std::u16string pageFilePath(const std::string& utf8);
/// Whether `path` can be a page file for the relay: false, with `error` = "cannot read
/// page file PATH: REASON", when it is missing, a symbolic link or not a regular file.
bool checkPageFile(const std::string& path, std::string& error);
/// Debug lines on standard error, each in one write.
std::unique_ptr<platform::DebugOutput> stderrDebugOutput();

/// Reads printer-data value `name` from the file DIR/NAME by the spooler's rule: 0 when
/// copied into `dest`, 2 when missing, 234 when larger than `dest`, 5 when unreadable.
std::uint32_t readPrinterData(const std::string& dir, std::string_view name,
                              std::span<std::uint8_t> dest);
bool isFolder(const std::string& path);

/// Reads a whole file; false with `error` = "cannot read PATH: REASON".
bool readFile(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error);
/// Creates or replaces a file with `bytes`; false with `error` = "cannot write PATH: REASON".
bool writeFile(const std::string& path, std::span<const std::uint8_t> bytes, std::string& error);
/// Writes `bytes` to standard output and flushes it.
bool writeStandardOutput(std::span<const std::uint8_t> bytes, std::string& error);

/// The driver's side of a job on this platform.
struct DriverSide {
  std::string publicDir;  // the relay's public folder; page files go into publicDir/TIVORAN
  std::string endpoint;   // the notice endpoint (POSIX) or mailslot name (Windows)
  // How long a full queue at the endpoint may hold the notice back (POSIX; a mailslot
  // write never waits).
  std::uint32_t waitSeconds = 30;
};
/// The defaults: the relay's own public folder and notice endpoint.
bool defaultDriverSide(DriverSide& side, std::string& error);
/// The folder the page files go to, created when missing.
bool makeSpoolFolder(const DriverSide& side, std::string& folder, std::string& error);
/// Puts a page file into `folder` so the relay never reads a part of it: written under
/// a temporary name and renamed (POSIX), or held open without sharing until whole (Windows).
bool writePageFile(const std::string& folder, const std::string& name,
                   std::span<const std::uint8_t> bytes, std::string& error);
/// Enters the driver's job `jobId` with `status` in the directory spooler's queue
/// ROOT/<printer>/queue (POSIX only; Windows has no directory spooler).
bool enterQueueJob(const std::string& root, const std::string& printer, std::uint32_t jobId,
                   std::uint32_t status, std::string& error);
/// Posts the notice; `error` says when no relay listens or its queue stayed full.
bool postNotice(const DriverSide& side, std::span<const std::uint8_t> notice, std::string& error);

}  // namespace relaytool
