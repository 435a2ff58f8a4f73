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

struct CommandOptions {
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
  return ec == std::errc() && end == text.data() + text.size() && !text.empty() && value <= 4096;
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

bool readWhole(const std::string& path, std::vector<std::uint8_t>& bytes, std::string& error) {
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  std::uint8_t buffer[65536];
  std::size_t got = 0;
  while ((got = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    bytes.insert(bytes.end(), buffer, buffer + got);
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
  std::vector<std::uint8_t> input;
  if (!readWhole(options.input, input, error)) return fail(diagnostics, error, 2);

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
