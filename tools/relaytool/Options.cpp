#include "Options.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace relaytool {

bool parseArgs(Args args, std::span<const KnownOption> known, ParsedArgs& out, std::string& error) {
  out = ParsedArgs();
  bool operandsOnly = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string_view arg = args[i];
    if (operandsOnly || arg.size() < 2 || arg[0] != '-') {
      out.operands.emplace_back(arg);
      continue;
    }
    if (arg == "--") {
      operandsOnly = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      out.help = true;
      return true;
    }
    const auto found = std::find_if(known.begin(), known.end(),
                                    [arg](const KnownOption& s) { return s.name == arg; });
    if (found == known.end()) return error = "unknown option '" + std::string(arg) + "'", false;
    if (!found->takesValue) {
      out.options.emplace_back(arg, std::string_view());
      continue;
    }
    if (i + 1 == args.size()) return error = "option " + std::string(arg) + " needs a value", false;
    out.options.emplace_back(arg, args[++i]);
  }
  return true;
}

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

int complain(std::string_view command, const std::string& message, int exitCode) {
  std::fprintf(stderr, "relaytool %.*s: %s\n", static_cast<int>(command.size()), command.data(),
               message.c_str());
  return exitCode;
}

int printHelp(std::string_view help) {
  std::fwrite(help.data(), 1, help.size(), stdout);
  std::fflush(stdout);
  return 0;
}

}  // namespace relaytool
