// spoolrelayer: the Linux relay. Receives job notices on an abstract socket and relays
// each job through the embedded directory spooler or CUPS.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Version.h"
#include "app/JobResume.h"
#include "app/NoticeListener.h"
#include "job/JobRunner.h"
#include "job/Journal.h"
#include "platform/posix/DirectorySpooler.h"
#include "platform/posix/PosixClock.h"
#include "platform/posix/PosixJobJournal.h"
#include "platform/posix/PosixKnownFolders.h"
#include "platform/posix/PosixNamedLocks.h"
#include "platform/posix/PosixPageFiles.h"
#include "platform/posix/PosixThreads.h"
#include "platform/posix/RelayDebugOutput.h"
#include "platform/posix/SocketNoticeEndpoint.h"
#include "platform/posix/StartupChecks.h"
#if SPR_HAVE_CUPS
#include "platform/posix/CupsSpooler.h"
#endif

namespace {

struct Options {
  std::string publicDir = "/var/spool/spoolrelayer";
  std::string spooler = "dir:/var/spool/spoolrelayer/printers";
  std::string endpoint = "TIVORAN";
  std::string lockDir = "/run/spoolrelayer";  // the service's runtime directory
  // The job journal's folder, and whether the jobs a previous process ended during are
  // taken up again at start.
  std::string stateDir = "/var/lib/spoolrelayer";
  bool resume = true;
};

constexpr char kUsage[] =
    "usage: spoolrelayer [--public-dir DIR] [--spooler dir:ROOT|cups] [--endpoint NAME]\n"
    "                    [--lock-dir DIR] [--state-dir DIR] [--no-resume]\n"
    "       spoolrelayer --help | --version\n"
    "\n"
    "Relays receipt-printer jobs: page files in DIR/TIVORAN, job notices on the abstract\n"
    "socket NAME, documents to the directory spooler ROOT or to CUPS.\n"
    "\n"
    "  --public-dir DIR   the public folder (default /var/spool/spoolrelayer)\n"
    "  --spooler SPOOLER  dir:ROOT, the embedded directory spooler (default\n"
    "                     dir:/var/spool/spoolrelayer/printers), or cups\n"
    "  --endpoint NAME    the notice endpoint (default TIVORAN); watchers use NAME.watch\n"
    "  --lock-dir DIR     where the printer lock files live (default /run/spoolrelayer,\n"
    "                     a folder only the relay may use)\n"
    "  --state-dir DIR    the job journal's folder (default /var/lib/spoolrelayer)\n"
    "  --no-resume        do not take up the jobs a previous process ended during\n"
    "  --help             print this help and exit\n"
    "  --version          print the version and exit\n"
    "\n"
    "SIGTERM or SIGINT ends it; SIGUSR1 and SIGUSR2 stand for a console disconnect and\n"
    "connect. See spoolrelayer(8).\n";

/// Says why the relay can't start with `what`, on standard error as its one last line.
bool cannotUse(const std::string& what, const std::string& why) {
  std::fprintf(stderr, "spoolrelayer: cannot use %s: %s\n", what.c_str(), why.c_str());
  return false;
}

bool checkFolder(const std::string& path, posix::FolderUse use) {
  const std::string problem = posix::folderProblem(path, use);
  return problem.empty() || cannotUse(path, problem);
}

/// The public folder and its TIVORAN, the directory spooler's root (CUPS may start later)
/// and the lock folder. A problem gives the relay's own line for it where there is one,
/// then a line naming what and why.
bool foldersUsable(const Options& options, platform::KnownFolders& folders,
                   platform::DebugOutput& debug) {
  std::u16string found;
  std::uint32_t error = 0;
  if (!folders.publicFolder(found, error)) {
    debug.report("SHGetKnownFolderPath Error : 0x%08x \n", error);
  }
  if (!checkFolder(options.publicDir, posix::FolderUse::kTraverse) ||
      !checkFolder(options.publicDir + "/TIVORAN", posix::FolderUse::kWrite)) {
    return false;
  }
  if (options.spooler.rfind("dir:", 0) == 0 &&
      !checkFolder(options.spooler.substr(4), posix::FolderUse::kRead)) {
    return false;
  }
  return checkFolder(options.lockDir, posix::FolderUse::kPrivate);
}

/// Takes the socket systemd's socket unit passed, if it passed any: it must be the one
/// datagram socket bound to the endpoint's name. That unit keeps the name bound while the
/// relay restarts or is down, so the notices posted meanwhile wait for it.
bool heldEndpoint(const Options& options, std::vector<posix::Fd>& passed, posix::Fd& held) {
  if (passed.empty()) return true;
  const std::string what = "endpoint " + options.endpoint;
  if (passed.size() != 1) {
    return cannotUse(
        what, "the service manager passed " + std::to_string(passed.size()) + " sockets, not one");
  }
  if (!posix::isNoticeSocket(passed.front().get(), options.endpoint)) {
    return cannotUse(what,
                     "the socket the service manager passed is not a datagram socket "
                     "bound to that name that passes its senders' credentials");
  }
  held = std::move(passed.front());
  return true;
}

/// Binds the endpoint's name, kept for the first listener; a name that can't be had
/// gives the listener's line and one naming why.
bool endpointUsable(const Options& options, platform::DebugOutput& debug,
                    posix::SocketNoticeEndpoint& endpoint) {
  std::uint32_t error = 0;
  int cause = 0;
  if (!endpoint.reserve(error, cause)) {
    debug.report("CreateMailslot Error : 0x%08x \n", error);
    const std::string why = cause == EADDRINUSE     ? "another process holds it"
                            : cause == ENAMETOOLONG ? "longer than a socket address allows"
                                                    : std::strerror(cause);
    return cannotUse("endpoint " + options.endpoint, why);
  }
  return true;
}

/// Fills `options`. Returns -1 to go on, or the exit code: 0 after --help or --version,
/// 2 after a bad option (named on standard error).
int parseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--no-resume") {
      options.resume = false;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--version") {
      std::puts("spoolrelayer " SPR_VERSION);
      return 0;
    }
    std::string* target = arg == "--public-dir"  ? &options.publicDir
                          : arg == "--spooler"   ? &options.spooler
                          : arg == "--endpoint"  ? &options.endpoint
                          : arg == "--lock-dir"  ? &options.lockDir
                          : arg == "--state-dir" ? &options.stateDir
                                                 : nullptr;
    if (target == nullptr) {
      std::fprintf(stderr, "spoolrelayer: unknown option '%s' (try spoolrelayer --help)\n",
                   argv[i]);
      return 2;
    }
    if (i + 1 >= argc) {
      std::fprintf(stderr, "spoolrelayer: option %s needs a value\n", argv[i]);
      return 2;
    }
    *target = argv[++i];
  }
  return -1;
}

std::unique_ptr<platform::Spooler> makeSpooler(const std::string& choice) {
  if (choice.rfind("dir:", 0) == 0 && choice.size() > 4) {
    return std::make_unique<posix::DirectorySpooler>(choice.substr(4));
  }
#if SPR_HAVE_CUPS
  if (choice == "cups") return std::make_unique<posix::CupsSpooler>();
#endif
  return nullptr;
}

/// Opens /dev/null on standard input, output and error where they are closed, so that no
/// socket or file of the relay ever takes their numbers and receives its debug lines.
void keepStandardDescriptors() {
  for (int fd = 0; fd < 3; ++fd) {
    if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
      const int opened = ::open("/dev/null", O_RDWR);
      if (opened >= 0 && opened != fd) ::close(opened);  // another number: leave it
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  keepStandardDescriptors();
  Options options;
  if (const int exitCode = parseOptions(argc, argv, options); exitCode >= 0) return exitCode;
  // Taken before any thread starts: the service manager's variables are removed here.
  std::vector<posix::Fd> passed = posix::passedSockets();
  std::unique_ptr<platform::Spooler> spooler = makeSpooler(options.spooler);
  if (!spooler) {
    std::fprintf(stderr, "spoolrelayer: unknown spooler '%s'\n", options.spooler.c_str());
    return 2;
  }
  // However many notices wait for one printer, the others' jobs still get descriptors.
  (void)posix::raiseDescriptorLimit();

  // Every thread blocks the signals; the main thread takes them one at a time. Closing
  // (TERM, INT) plays the part of closing the hidden window; USR1 and USR2 stand for a
  // console disconnect and connect. HUP, which a terminal or a service manager may
  // send, ends nothing.
  sigset_t signals;
  sigemptyset(&signals);
  for (int sig : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2, SIGHUP}) sigaddset(&signals, sig);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  ::signal(SIGPIPE, SIG_IGN);

  posix::PosixKnownFolders folders(options.publicDir);
  posix::PosixNamedLocks locks(options.lockDir);
  posix::PosixPageFiles files;
  posix::PosixClock clock;
  // Under systemd, whose journal stream is standard error, lines go to the journal with
  // their run's printer and job as fields. The watch socket is made after the signals are
  // blocked, so its thread never takes one.
  const bool journal =
      posix::haveJournal() && posix::isJournalStream(std::getenv("JOURNAL_STREAM"), 2);
  posix::RelayDebugOutput debug(options.endpoint, journal ? posix::RelayDebugOutput::Sink::kJournal
                                                          : posix::RelayDebugOutput::Sink::kStderr);
  posix::Fd held;
  if (!heldEndpoint(options, passed, held)) return 1;
  posix::SocketNoticeEndpoint endpoint(options.endpoint, std::move(held));
  posix::PosixThreads threads;
  if (!foldersUsable(options, folders, debug)) return 1;
  if (auto* directory = dynamic_cast<posix::DirectorySpooler*>(spooler.get())) {
    directory->removeLeftovers();  // before any notice can start a document
  }
  if (!endpointUsable(options, debug, endpoint)) return 1;
  // Said only once the relay will serve: a relay that cannot start names that alone.
  if (debug.watchError() != 0) {
    std::fprintf(
        stderr, "spoolrelayer: nobody can watch the debug lines: cannot listen on '%s': %s\n",
        posix::watchEndpointName(options.endpoint).c_str(), std::strerror(debug.watchError()));
  }
  job::JobPorts jobPorts{*spooler, locks, folders, files, clock, debug};
  posix::PosixJobJournal jobJournalFile(options.stateDir);
  job::Journal jobJournal(jobJournalFile, debug);
  app::AppPorts appPorts{jobPorts, endpoint, threads, &jobJournal};
  app::SessionController session(threads, [&appPorts] { app::noticeListener(appPorts); });

  // The jobs a previous process ended during go on before any new notice is read.
  (void)app::resumeJobs(appPorts, options.resume);
  session.onCreate();
  for (;;) {
    int sig = 0;
    if (sigwait(&signals, &sig) != 0 || sig == SIGHUP) continue;
    if (sig == SIGUSR1) {
      session.onConsoleDisconnect();
    } else if (sig == SIGUSR2) {
      session.onConsoleConnect();
    } else {
      // The process ends at once, without waiting for the jobs that still run; only a
      // document whose end the spooler is being told of is given time to be recorded, and
      // a CUPS document being sent is cancelled, so it does not stay "incoming".
      (void)jobJournal.closeDocuments(1000);
      session.onDestroy();
#if SPR_HAVE_CUPS
      if (auto* cups = dynamic_cast<posix::CupsSpooler*>(spooler.get())) cups->cancelOpenJobs();
#endif
      std::fflush(nullptr);
      std::_Exit(0);
    }
  }
}
