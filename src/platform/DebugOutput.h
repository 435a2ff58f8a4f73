// The debugger output: every report of the relay goes here as one fixed English line.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace platform {

class DebugOutput {
 public:
  virtual ~DebugOutput() = default;
  /// Sends one line exactly as given (it already ends in " \n").
  virtual void write(std::string_view line) = 0;

  /// The lines this thread sends from now until leaveRun() belong to the run of job
  /// `jobId` on `printer` (valid until then). Outputs that can tell a run's lines apart
  /// keep it; the lines themselves never change.
  virtual void enterRun(std::u16string_view printer, std::uint32_t jobId) {
    (void)printer;
    (void)jobId;
  }
  virtual void leaveRun() {}

  /// Sends `format` with its one "%08x" filled with `value`, as the relay reports
  /// system error codes and byte values. The text is bounded to 259 characters.
  void report(const char* format, std::uint32_t value) {
    char buffer[260] = {};
#if defined(__clang__) || defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#endif
    int n = std::snprintf(buffer, sizeof buffer, format, static_cast<unsigned>(value));
#if defined(__clang__) || defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (n < 0) return;
    write(std::string_view(buffer, std::char_traits<char>::length(buffer)));
  }
};

/// Marks the lines of one run for as long as it lives (see DebugOutput::enterRun).
class DebugRunScope {
 public:
  DebugRunScope(DebugOutput& debug, std::u16string_view printer, std::uint32_t jobId)
      : debug_(debug) {
    debug_.enterRun(printer, jobId);
  }
  ~DebugRunScope() { debug_.leaveRun(); }
  DebugRunScope(const DebugRunScope&) = delete;
  DebugRunScope& operator=(const DebugRunScope&) = delete;

 private:
  DebugOutput& debug_;
};

}  // namespace platform
