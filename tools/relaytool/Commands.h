// The subcommands of relaytool, one file each.
#pragma once

#include <span>
#include <string_view>

namespace relaytool {

/// Arguments after the subcommand's name.
using Args = std::span<const std::string_view>;

/// relaytool process: runs page files through the page processing of one document and
/// writes the bytes the spooler would receive. Returns the exit code.
int runProcess(Args args);
inline constexpr std::string_view kProcessUsage =
    "process [--printer-data DIR] [--model NAME] [--cut-mode N] [-o OUT] PAGEFILE...";

}  // namespace relaytool
