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

}  // namespace platform
