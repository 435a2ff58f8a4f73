// Options, input file and output file of the preview command around renderPreview.
#include "PreviewCommand.h"

#include <cerrno>
#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "PngWriter.h"
#include "Preview.h"

namespace preview {
namespace {

constexpr const char* kUsage =
    "usage: relaytool preview IN.bin -o OUT.png [--page] [--font FILE] [--margin DOTS]";
constexpr const char* kHelp =
    "usage: relaytool preview IN.bin -o OUT.png [--page] [--font FILE] [--margin DOTS]\n"
    "\n"
    "Draws what a receipt printer would print from a byte stream as the relay sends it,\n"
    "as a PNG: text, banded rasters, the compressed raster stream (decoded with libtiff's\n"
    "Group 3 decoder, drawn 576 dots wide when its last 12 dots are white), 1D barcodes,\n"
    "QR codes and PDF417 symbols, cuts and feeds. What is not drawn is listed on standard\n"
    "error.\n"
    "\n"
    "  -o OUT.png     the picture to write\n"
    "  --page         IN.bin is a page file as the driver wrote it (5-byte header first)\n"
    "  --font FILE    the font for text (default: DejaVu Sans Mono)\n"
    "  --margin DOTS  white paper around the printable width (0 to 4096)\n"
    "\n"
    "Legend: a PDF417 error correction other than a level 30 30 to 30 38 (such as the\n"
    "relay's 30 01) is drawn with the automatic level. At most the first 16 MiB of the input\n"
    "are read, and at most 100000 dots of paper (fewer on wide paper: 64 Mi pixels) are\n"
    "drawn; each cap met is said on standard error.\n"
    "\n"
    "Exit codes: 0 drawn, 1 the picture could not be written, 2 a bad option or input.\n";
constexpr std::size_t kMaxInput = 16u << 20;

struct CommandOptions {
  bool help = false;
  std::string input;
  std::string output;
  PreviewOptions preview;
};

int fail(std::FILE* diagnostics, const std::string& message, int code) {
  std::fprintf(diagnostics, "relaytool preview: %s\n", message.c_str());
  return code;
}

bool parseDots(std::string_view text, std::uint32_t& value) {
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty() &&
         value <= kMostMargin;
}

bool parseOptions(int argc, char** argv, CommandOptions& options, std::string& error) {
  for (int i = 0; i < argc; ++i) {
    const std::string_view arg = argv[i];
    const bool takesValue = arg == "-o" || arg == "--font" || arg == "--margin";
    if (takesValue && i + 1 >= argc) {
      error = "option " + std::string(arg) + " needs a value";
      return false;
    }
    if (arg == "-o") {
      options.output = argv[++i];
    } else if (arg == "--font") {
      options.preview.fontPath = argv[++i];
      options.preview.fontRequired = true;
    } else if (arg == "--margin") {
      if (!parseDots(argv[++i], options.preview.margin)) {
        error = "--margin takes a number of dots from 0 to 4096, not " + std::string(argv[i]);
        return false;
      }
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
      return true;
    } else if (arg == "--page") {
      options.preview.pageFile = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      error = "unknown option " + std::string(arg);
      return false;
    } else if (options.input.empty()) {
      options.input = arg;
    } else {
      error = "more than one input file: " + options.input + " and " + std::string(arg);
      return false;
    }
  }
  if (options.input.empty()) error = "no input file";
  if (options.output.empty() && error.empty()) error = "no output file (-o OUT.png)";
  return error.empty();
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

/// Reads at most `limit` bytes; `capped` tells whether the file holds more.
bool readUpTo(const std::string& path, std::size_t limit, std::vector<std::uint8_t>& bytes,
              bool& capped, std::string& error) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::uint8_t buffer[65536];
  std::size_t got = 0;
  capped = false;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    const std::size_t room = limit - bytes.size();
    bytes.insert(bytes.end(), buffer, buffer + std::min(got, room));
    if (got > room) {
      capped = true;
      return true;
    }
  }
  if (std::ferror(file.get())) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

int runPreview(int argc, char** argv, std::FILE* diagnostics) {
  CommandOptions options;
  std::string error;
  if (!parseOptions(argc, argv, options, error)) {
    return fail(diagnostics, error + " (" + kUsage + ")", 2);
  }
  if (options.help) {
    std::fputs(kHelp, stdout);
    return 0;
  }
  std::vector<std::uint8_t> input;
  bool capped = false;
  if (!readUpTo(options.input, kMaxInput, input, capped, error)) return fail(diagnostics, error, 2);
  if (capped) {
    std::fprintf(diagnostics, "%s: only the first %zu bytes are drawn\n", options.input.c_str(),
                 kMaxInput);
  }

  PreviewResult result;
  if (!renderPreview(input, options.preview, result, error)) {
    return fail(diagnostics, options.input + ": " + error, 2);
  }
  for (const std::string& line : result.messages) std::fprintf(diagnostics, "%s\n", line.c_str());
  if (!writePng(options.output, result.canvas, error)) return fail(diagnostics, error, 1);
  return 0;
}

}  // namespace preview

int runPreview(int argc, char** argv) {
  return preview::runPreview(argc, argv, stderr);
}
