// relaytool: the user tool of SpoolRelayer. `relaytool <command> [arguments]`.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "Commands.h"
#include "Version.h"
#include "base/Utf.h"

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
    {"jobs", relaytool::runJobs, &relaytool::kJobsUsage, "the relay's job journal"},
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

namespace {

int run(const std::vector<std::string_view>& args) {
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
    std::fprintf(stderr, "relaytool: unknown option '%.*s' (try relaytool --help)\n",
                 static_cast<int>(args[0].size()), args[0].data());
    return relaytool::kExitUsage;
  }
  const Command* command = findCommand(args[0]);
  if (command == nullptr) return unknownCommand(args[0]);
  return command->run(relaytool::Args(args).subspan(1));
}

}  // namespace

#ifdef _WIN32
/// The arguments arrive as UTF-16 and go on as UTF-8, as on POSIX.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> owned;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view arg(argv[i]);
    owned.push_back(base::toUtf8(std::u16string(arg.begin(), arg.end())));
  }
  return run(std::vector<std::string_view>(owned.begin(), owned.end()));
}
#else
int main(int argc, char** argv) {
  return run(std::vector<std::string_view>(argv + 1, argv + argc));
}
#endif
