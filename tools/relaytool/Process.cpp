// relaytool process: the page files of one document through the relay's page
// processing, and out the bytes the spooler would receive for that document. The pages
// are opened and loaded as the relay loads them, and its report lines go to standard
// error through the relay's debug output.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Commands.h"
#include "Options.h"
#include "ToolPlatform.h"
#include "base/Utf.h"
#include "job/PageSender.h"
#include "page/PageBuffer.h"
#include "page/PageProcessor.h"

namespace relaytool {
namespace {

constexpr std::string_view kCommand = "process";
constexpr KnownOption kSpecs[] = {
    {"--printer-data", true}, {"--model", true}, {"--cut-mode", true}, {"-o", true}};

struct ProcessOptions {
  std::optional<std::string> printerData;
  char16_t modelFirstUnit = 0;
  std::uint32_t cutMode = 0;
  std::optional<std::string> outPath;
  std::vector<std::string> pageFiles;
};

bool readOptions(const ParsedArgs& parsed, ProcessOptions& options, std::string& error) {
  for (const auto& [name, value] : parsed.options) {
    if (name == "--printer-data") {
      if (!isFolder(std::string(value)))
        return error = "not a folder: " + std::string(value), false;
      options.printerData = value;
    } else if (name == "--model") {
      const std::u16string model = base::toUtf16(value);
      options.modelFirstUnit = model.empty() ? u'\0' : model[0];
    } else if (name == "--cut-mode") {
      if (!parseU32(value, options.cutMode))
        return error = "bad cut mode " + std::string(value), false;
    } else {
      options.outPath = value;
    }
  }
  options.pageFiles = parsed.operands;
  if (options.pageFiles.empty()) return error = "no page file given", false;
  return true;
}

/// A printer whose data comes from a folder and whose written bytes are kept.
class CollectingPrinter : public platform::Printer {
 public:
  explicit CollectingPrinter(std::optional<std::string> dataDir) : dataDir_(std::move(dataDir)) {}

  bool queryInfoSize(std::uint32_t&) override { return false; }
  bool readInfo(std::span<std::byte>, std::u16string&) override { return false; }
  std::uint32_t getData(std::string_view name, std::span<std::uint8_t> dest) override {
    return dataDir_ ? readPrinterData(*dataDir_, name, dest) : platform::kErrorFileNotFound;
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
  std::optional<std::string> dataDir_;
};

/// Opens a page file through the relay's page files and loads it as a run does. An
/// empty file gives an empty page.
bool loadPageFile(platform::PageFiles& files, platform::DebugOutput& debug, const std::string& path,
                  std::optional<page::PageBuffer>& page, std::string& error) {
  if (!checkPageFile(path, error)) return false;
  const std::unique_ptr<platform::PageFile> file = files.open(pageFilePath(path), std::nullopt);
  std::uint64_t size = 0;
  if (!file || !file->size(size)) {
    return error = "cannot read page file " + path + ": its writer still holds it", false;
  }
  page = page::PageBuffer();
  if (size == 0) return true;
  // The relay takes the size as 32 bits; so does its copy here.
  page = job::loadPage(*file, static_cast<std::uint32_t>(size), debug);
  if (!page) return error = "cannot read page file " + path, false;
  return true;
}

}  // namespace

int runProcess(Args args) {
  ParsedArgs parsed;
  ProcessOptions options;
  std::string error;
  if (!parseArgs(args, kSpecs, parsed, error)) return complain(kCommand, error, kExitUsage);
  if (parsed.help) return printHelp(kProcessHelp);
  if (!readOptions(parsed, options, error)) return complain(kCommand, error, kExitUsage);

  // The job's start: settings from the printer's data, one output buffer, heightClass 0.
  CollectingPrinter printer(options.printerData);
  const std::unique_ptr<platform::DebugOutput> debug = stderrDebugOutput();
  const std::unique_ptr<platform::PageFiles> files = relayPageFiles();
  page::PrinterSettings settings;
  job::loadJobSettings(printer, options.modelFirstUnit, settings);
  page::OutputBuffer output = page::OutputBuffer::allocate();
  if (!output.ok()) return complain(kCommand, "cannot allocate the output buffer", kExitFailed);
  page::PageJob pageJob{
      options.modelFirstUnit, options.cutMode, settings, output, 0, printer, *debug};

  // The document: pages in order until the one whose State is 2.
  for (const std::string& path : options.pageFiles) {
    std::optional<page::PageBuffer> page;
    if (!loadPageFile(*files, *debug, path, page, error))
      return complain(kCommand, error, kExitUsage);
    if (!page->ok()) continue;  // an empty file gives no bytes
    if (job::sendLoadedPage(*page, pageJob)) break;
  }
  const bool written = options.outPath ? writeFile(*options.outPath, printer.written, error)
                                       : writeStandardOutput(printer.written, error);
  return written ? 0 : complain(kCommand, error, kExitFailed);
}

}  // namespace relaytool
