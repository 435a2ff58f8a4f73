// relaytool process: the page files of one document through the relay's page
// processing, and out the bytes the spooler would receive for that document.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "base/Utf.h"
#include "job/PageSender.h"
#include "page/PageBuffer.h"
#include "page/PageProcessor.h"
#include "platform/DebugOutput.h"
#include "platform/posix/PrinterDataFolder.h"

namespace relaytool {
namespace {

constexpr int kExitFailed = 1;  // the output could not be made or written
constexpr int kExitUsage = 2;   // a bad option or an unreadable page file

struct ProcessOptions {
  std::optional<std::string> printerData;
  char16_t modelFirstUnit = 0;
  std::uint32_t cutMode = 0;
  std::optional<std::string> outPath;
  std::vector<std::string> pageFiles;
};

int complain(const std::string& line, int exitCode) {
  std::fprintf(stderr, "relaytool process: %s\n", line.c_str());
  return exitCode;
}

/// A decimal number, or hexadecimal after 0x, that fits 32 bits.
bool parseU32(std::string_view text, std::uint32_t& value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value, base);
  return !text.empty() && ec == std::errc() && ptr == end;
}

/// Fills `options` from the arguments; on a bad one, `error` says what is wrong.
bool parseOptions(Args args, ProcessOptions& options, std::string& error) {
  bool optionsEnd = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (optionsEnd || arg.size() < 2 || arg[0] != '-') {
      options.pageFiles.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnd = true;
      continue;
    }
    const bool known =
        arg == "--printer-data" || arg == "--model" || arg == "--cut-mode" || arg == "-o";
    if (!known) return error = "unknown option " + std::string(arg), false;
    if (i + 1 == args.size()) return error = "option " + std::string(arg) + " needs a value", false;
    const std::string value(args[++i]);
    if (arg == "--printer-data") {
      if (!std::filesystem::is_directory(value)) return error = "not a folder: " + value, false;
      options.printerData = value;
    } else if (arg == "--model") {
      const std::u16string model = base::toUtf16(value);
      options.modelFirstUnit = model.empty() ? u'\0' : model[0];
    } else if (arg == "--cut-mode") {
      if (!parseU32(value, options.cutMode)) return error = "bad cut mode " + value, false;
    } else {
      options.outPath = value;
    }
  }
  if (options.pageFiles.empty()) return error = "no page file given", false;
  return true;
}

/// A printer whose data comes from the folder and whose written bytes are collected.
class CollectingPrinter : public platform::Printer {
 public:
  explicit CollectingPrinter(const platform::posix::PrinterDataFolder& data) : data_(data) {}

  bool queryInfoSize(std::uint32_t&) override { return false; }
  bool readInfo(std::span<std::byte>, std::u16string&) override { return false; }
  std::uint32_t getData(std::string_view name, std::span<std::uint8_t> dest) override {
    return data_.read(name, dest);
  }
  bool startDoc(const platform::DocInfo&) override { return true; }
  bool startPage() override { return true; }
  bool write(std::span<const std::uint8_t> bytes) override {
    written.insert(written.end(), bytes.begin(), bytes.end());
    return true;
  }
  bool endPage() override { return true; }
  bool endDoc() override { return true; }
  bool enumJobs(std::vector<platform::JobEntry>& entries) override {
    entries.clear();
    return true;
  }
  bool deleteJob(const platform::JobEntry&) override { return false; }

  std::vector<std::uint8_t> written;

 private:
  const platform::posix::PrinterDataFolder& data_;
};

class StderrDebugOutput : public platform::DebugOutput {
 public:
  void write(std::string_view line) override { std::fwrite(line.data(), 1, line.size(), stderr); }
};

/// Loads a page file as the runner does: a zeroed block of its size + 256 bytes, the
/// file read into its start. An empty file gives an empty (not ok) page.
bool loadPageFile(const std::string& path, page::PageBuffer& page, std::string& error) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(path, ec);
  if (ec || !std::filesystem::is_regular_file(path, ec)) {
    return error = "cannot read page file " + path + ": " + (ec ? ec.message() : "not a file"),
           false;
  }
  page = {};
  if (size == 0) return true;
  base::HeapBlock block = base::HeapBlock::zeroed(size + page::kPageMargin);
  if (!block.ok()) return error = "page file too large: " + path, false;
  std::ifstream in(path, std::ios::binary);
  in.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(size));
  const auto got = static_cast<std::size_t>(in.gcount());
  if (got == 0) return error = "cannot read page file " + path, false;
  page = page::PageBuffer::adopt(std::move(block), got);
  return true;
}

bool writeOutput(const std::optional<std::string>& outPath,
                 const std::vector<std::uint8_t>& bytes) {
  if (!outPath) {
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size() &&
           std::fflush(stdout) == 0;
  }
  std::ofstream out(*outPath, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  return static_cast<bool>(out);
}

}  // namespace

int runProcess(Args args) {
  ProcessOptions options;
  std::string error;
  if (!parseOptions(args, options, error)) return complain(error, kExitUsage);

  // The job's start: settings from the printer's data, one output buffer, heightClass 0.
  const platform::posix::PrinterDataFolder data =
      options.printerData ? platform::posix::PrinterDataFolder(*options.printerData)
                          : platform::posix::PrinterDataFolder();
  CollectingPrinter printer(data);
  StderrDebugOutput debug;
  page::PrinterSettings settings;
  job::loadJobSettings(printer, options.modelFirstUnit, settings);
  page::OutputBuffer output = page::OutputBuffer::allocate();
  if (!output.ok()) return complain("cannot allocate the output buffer", kExitFailed);
  page::PageJob pageJob{
      options.modelFirstUnit, options.cutMode, settings, output, 0, printer, debug};

  // The document: pages in order until the one whose State is 2.
  for (const std::string& path : options.pageFiles) {
    page::PageBuffer page;
    if (!loadPageFile(path, page, error)) return complain(error, kExitUsage);
    if (!page.ok()) continue;  // an empty file gives no bytes
    if (job::sendLoadedPage(page, pageJob)) break;
  }
  if (!writeOutput(options.outPath, printer.written)) {
    return complain("cannot write " + options.outPath.value_or("standard output"), kExitFailed);
  }
  return 0;
}

}  // namespace relaytool
