// relaytool: the user tool of SpoolRelayer. `relaytool <command> [arguments]`.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"
#include "Version.h"

namespace {

struct Command {
  std::string_view name;
  int (*run)(relaytool::Args args);
  const std::string_view* usage;
  std::string_view summary;
};

const Command kCommands[] = {
    {"process", relaytool::runProcess, &relaytool::kProcessUsage,
     "the bytes the spooler would receive for page files"},
    {"post", relaytool::runPost, &relaytool::kPostUsage, "post a job as a printer driver does"},
    {"watch", relaytool::runWatch, &relaytool::kWatchUsage,
     "show the running relay's debug lines as it sends them"},
    {"preview", relaytool::runPreviewCommand, &relaytool::kPreviewUsage,
     "draw what the printer would print from a byte stream"},
};

void printUsage(std::FILE* to) {
  std::fputs(
      "usage: relaytool <command> [arguments]\n"
      "       relaytool <command> --help | relaytool help [command] | relaytool --version\n"
      "\n",
      to);
  for (const Command& command : kCommands) {
    std::fprintf(to, "  %-8.*s %.*s\n", static_cast<int>(command.name.size()), command.name.data(),
                 static_cast<int>(command.summary.size()), command.summary.data());
  }
  std::fputs("\nSee relaytool(1).\n", to);
}

const Command* findCommand(std::string_view name) {
  for (const Command& command : kCommands) {
    if (command.name == name) return &command;
  }
  return nullptr;
}

int unknownCommand(std::string_view name) {
  std::fprintf(stderr, "relaytool: unknown command '%.*s' (try relaytool --help)\n",
               static_cast<int>(name.size()), name.data());
  return relaytool::kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  if (args.empty()) {
    std::fputs("relaytool: no command given (try relaytool --help)\n", stderr);
    return relaytool::kExitUsage;
  }
  if (args[0] == "--help" || args[0] == "-h" || (args[0] == "help" && args.size() == 1)) {
    printUsage(stdout);
    return 0;
  }
  if (args[0] == "--version") {
    std::puts("relaytool " SPR_VERSION);
    return 0;
  }
  if (args[0] == "help") {
    // "relaytool help COMMAND" is "relaytool COMMAND --help".
    const Command* command = findCommand(args[1]);
    if (command == nullptr) return unknownCommand(args[1]);
    static constexpr std::string_view kHelp[] = {"--help"};
    return command->run(relaytool::Args(kHelp, 1));
  }
  if (args[0].size() > 1 && args[0][0] == '-') {
    std::fprintf(stderr, "relaytool: unknown option '%s' (try relaytool --help)\n", argv[1]);
    return relaytool::kExitUsage;
  }
  const Command* command = findCommand(args[0]);
  if (command == nullptr) return unknownCommand(args[0]);
  return command->run(relaytool::Args(args).subspan(1));
}
