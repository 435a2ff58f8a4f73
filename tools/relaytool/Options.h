// The command-line conventions every relaytool command follows: --help, named unknown
// options, options that need a value, "--" before operands that start with '-'.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace relaytool {

/// Arguments after the command's name.
using Args = std::span<const std::string_view>;

/// Exit codes shared by the commands.
inline constexpr int kExitFailed = 1;  // the work itself failed (output, endpoint, files)
inline constexpr int kExitUsage = 2;   // a bad option or an unusable input

struct KnownOption {
  std::string_view name;  // "--printer", "-o"
  bool takesValue = false;
};

/// One command's arguments, in the order given.
struct ParsedArgs {
  bool help = false;  // --help or -h was given: nothing else was looked at after it
  std::vector<std::pair<std::string_view, std::string_view>> options;  // name, value ("")
  std::vector<std::string> operands;
};

/// Sorts `args` into options and operands by `known`. False, with `error` naming the
/// option, for an unknown option or one whose value is missing.
bool parseArgs(Args args, std::span<const KnownOption> known, ParsedArgs& out, std::string& error);

/// A decimal number, or hexadecimal after 0x, that fits 32 bits.
bool parseU32(std::string_view text, std::uint32_t& value);

/// Prints "relaytool COMMAND: MESSAGE" on standard error; returns `exitCode`.
int complain(std::string_view command, const std::string& message, int exitCode);

/// Prints a command's help on standard output; returns 0.
int printHelp(std::string_view help);

}  // namespace relaytool
