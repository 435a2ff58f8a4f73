// The commands of relaytool, one file each, with their help texts.
#pragma once

#include <string_view>

#include "Options.h"

namespace relaytool {

/// relaytool process: runs page files through the page processing of one document and
/// writes the bytes the spooler would receive. Returns the exit code.
int runProcess(Args args);
inline constexpr std::string_view kProcessUsage =
    "process [--printer-data DIR] [--model NAME] [--cut-mode N] [-o OUT] PAGEFILE...";
inline constexpr std::string_view kProcessHelp =
    "usage: relaytool process [--printer-data DIR] [--model NAME] [--cut-mode N] [-o OUT]\n"
    "                         PAGEFILE...\n"
    "\n"
    "Runs page files, in order, through the relay's page processing of one document and\n"
    "writes the bytes the spooler would receive; the relay's report lines go to standard\n"
    "error. Empty page files are skipped; pages after the first whose State is 2 are not\n"
    "read.\n"
    "\n"
    "  --printer-data DIR  the printer's data: one file per value name, raw bytes\n"
    "  --model NAME        the notice's model name (only its first character counts)\n"
    "  --cut-mode N        the notice's cut mode, decimal or 0x hex (default 0)\n"
    "  -o OUT              write to OUT instead of standard output\n"
    "\n"
    "Exit codes: 0 done, 1 the output could not be written, 2 a bad option or an\n"
    "unreadable page file.\n";

/// relaytool post: the driver's side of a job: writes the page files into the spool
/// folder and posts the job notice. Returns the exit code.
int runPost(Args args);
extern const std::string_view kPostUsage;
extern const std::string_view kPostHelp;

/// relaytool watch: shows the running relay's debug lines as it sends them.
int runWatch(Args args);
extern const std::string_view kWatchUsage;
extern const std::string_view kWatchHelp;

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
extern const std::string_view kJobsHelp;

}  // namespace relaytool
