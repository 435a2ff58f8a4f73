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

/// relaytool post: the driver's side of a job. Writes the page files into the spool
/// folder, optionally enters the driver's job in the directory spooler's queue, and posts
/// the job notice. Returns the exit code.
int runPost(Args args);
inline constexpr std::string_view kPostUsage =
    "post --printer NAME --job-id N [--copies C] [--model M] [--cut-mode K]\n"
    "                 [--public-dir DIR] [--endpoint NAME] [--queue-status S --spooler dir:ROOT]\n"
    "                 PAGEFILE...";

/// relaytool preview: draws what a receipt printer would print from a byte stream (or,
/// with --page, a page file) as a PNG. Returns the exit code.
int runPreviewCommand(Args args);
inline constexpr std::string_view kPreviewUsage =
    "preview IN.bin -o OUT.png [--page] [--font FILE] [--margin DOTS]";

/// relaytool jobs: the relay's job journal, oldest first: a table of the newest N jobs
/// (--last, default 20, 0 for all), the jobs of one id in full (--job-id, in hexadecimal
/// as the page file names write it), or one JSON object per job (--json). Exit code 0, or
/// 2 with one line for a bad option or a journal that can't be read.
int runJobs(Args args);
inline constexpr std::string_view kJobsUsage =
    "jobs [--state-dir DIR] [--printer NAME] [--job-id N] [--last N] [--json]";

}  // namespace relaytool
