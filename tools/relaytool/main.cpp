// relaytool: the user tool of SpoolRelayer. `relaytool <command> [arguments]`.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"

namespace {

struct Command {
  std::string_view name;
  int (*run)(relaytool::Args args);
  std::string_view usage;
};

constexpr Command kCommands[] = {
    {"process", relaytool::runProcess, relaytool::kProcessUsage},
    {"post", relaytool::runPost, relaytool::kPostUsage},
    {"jobs", relaytool::runJobs, relaytool::kJobsUsage},
#if SPR_HAVE_PREVIEW
    {"preview", relaytool::runPreviewCommand, relaytool::kPreviewUsage},
#endif
};

void printUsage(std::FILE* to) {
  std::fputs("usage: relaytool <command> [arguments]\n", to);
  for (const Command& command : kCommands) {
    std::fprintf(to, "  relaytool %.*s\n", static_cast<int>(command.usage.size()),
                 command.usage.data());
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs("relaytool: no command given (try relaytool --help)\n", stderr);
    return 2;
  }
  if (args[0] == "--help" || args[0] == "-h") {
    printUsage(stdout);
    return 0;
  }
  for (const Command& command : kCommands) {
    if (command.name == args[0]) return command.run(relaytool::Args(args).subspan(1));
  }
  std::fprintf(stderr, "relaytool: unknown command '%s' (try relaytool --help)\n",
               std::string(args[0]).c_str());
  return 2;
}
