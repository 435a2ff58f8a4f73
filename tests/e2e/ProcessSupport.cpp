#include "e2e/ProcessSupport.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace e2e {
namespace {

std::vector<char*> cArgs(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  return args;
}

std::string readAll(int fd) {
  std::string all;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n > 0) {
      all.append(buf, static_cast<std::size_t>(n));
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      break;
    }
  }
  return all;
}

}  // namespace

std::string builtProgram(const std::string& relative) {
  const char* dir = std::getenv("SPR_BUILD_DIR");
  return std::string(dir ? dir : ".") + "/" + relative;
}

Bytes pageFile(const Bytes& stream, std::uint8_t state) {
  const auto n = static_cast<std::uint32_t>(stream.size());
  Bytes file(5 + stream.size());
  for (std::size_t k = 0; k < 4; ++k) file[k] = static_cast<std::uint8_t>(n >> (8 * k));
  file[4] = state;
  std::copy(stream.begin(), stream.end(), file.begin() + 5);
  return file;
}

std::optional<Bytes> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

void makeDirs(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
}

std::vector<std::string> listDir(const std::string& path) {
  std::vector<std::string> names;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return names;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return names;
}

int runProgram(const std::vector<std::string>& argv, Bytes* out, std::string* err) {
  int outPipe[2];
  int errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  pid_t pid = -1;
  std::vector<char*> args = cArgs(argv);
  const int rc = ::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  std::string errText;
  std::thread errReader([&] { errText = readAll(errPipe[0]); });
  const std::string outText = readAll(outPipe[0]);
  errReader.join();
  ::close(outPipe[0]);
  ::close(errPipe[0]);
  if (out) out->assign(outText.begin(), outText.end());
  if (err) *err = errText;
  if (rc != 0) return -1;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

Child::Child(const std::vector<std::string>& argv, const std::string& stderrPath, int passedFd) {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  // dup2() leaves the copy open across exec, whatever the original's flags.
  if (passedFd >= 0) posix_spawn_file_actions_adddup2(&actions, passedFd, 3);
  if (!stderrPath.empty()) {
    // No O_CLOEXEC: the target descriptor is closed before the open, so the open gets 2
    // itself, and close-on-exec would take the child's standard error away at its start.
    posix_spawn_file_actions_addopen(&actions, 2, stderrPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0644);
  }
  std::vector<char*> args = cArgs(argv);
  pid_t pid = -1;
  if (::posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) == 0) pid_ = pid;
  posix_spawn_file_actions_destroy(&actions);
}

Child::~Child() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
}

void Child::signal(int sig) {
  if (pid_ > 0) ::kill(pid_, sig);
}

std::optional<int> Child::waitExit(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return std::nullopt;
  int code = -1;
  const bool ended = waitUntil(
      [&] {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r != pid_) return false;
        code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return true;
      },
      limit);
  if (!ended) return std::nullopt;
  pid_ = -1;
  return code;
}

std::string lockDirFor(const std::string& publicDir) {
  return publicDir + ".locks";
}

std::unique_ptr<Child> startRelay(const std::string& program, const std::string& publicDir,
                                  const std::string& spooler, const std::string& endpoint,
                                  const std::string& logPath,
                                  const std::vector<std::string>& wrapper,
                                  const std::vector<std::string>& options, int heldSocket) {
  makeDirs(publicDir + "/TIVORAN");
  if (::mkdir(lockDirFor(publicDir).c_str(), 0700) != 0 && errno != EEXIST) return nullptr;
  std::vector<std::string> argv;
  if (heldSocket >= 0) {
    // The shell's own process id is the relay's once it execs.
    argv = {"/bin/sh", "-c", "export LISTEN_PID=$$ LISTEN_FDS=1; exec \"$0\" \"$@\""};
  }
  argv.insert(argv.end(), wrapper.begin(), wrapper.end());
  argv.insert(argv.end(),
              {program, "--public-dir", publicDir, "--spooler", spooler, "--endpoint", endpoint,
               "--lock-dir", lockDirFor(publicDir), "--state-dir", stateDir(publicDir)});
  argv.insert(argv.end(), options.begin(), options.end());
  return std::make_unique<Child>(argv, logPath, heldSocket);
}

std::string stateDir(const std::string& publicDir) {
  return publicDir + ".state";
}

Bytes notice(const std::string& printer, std::uint32_t jobId, std::uint32_t copies) {
  Bytes n(552, 0);
  for (std::size_t i = 0; i < printer.size() && i < 259; ++i) {
    n[2 * i] = static_cast<std::uint8_t>(printer[i]);  // ASCII names in these tests
  }
  for (std::size_t k = 0; k < 4; ++k) {
    n[520 + k] = static_cast<std::uint8_t>(jobId >> (8 * k));
    n[524 + k] = static_cast<std::uint8_t>(copies >> (8 * k));
  }
  return n;
}

namespace {

/// The abstract address of `endpoint`; its length, or 0 when the name is too long.
socklen_t endpointAddress(const std::string& endpoint, sockaddr_un& addr) {
  addr = sockaddr_un{};
  addr.sun_family = AF_UNIX;
  if (endpoint.size() + 1 > sizeof addr.sun_path) return 0;
  std::memcpy(addr.sun_path + 1, endpoint.data(), endpoint.size());
  return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + endpoint.size());
}

}  // namespace

HeldEndpoint::HeldEndpoint(const std::string& endpoint) {
  sockaddr_un addr{};
  const socklen_t length = endpointAddress(endpoint, addr);
  const int on = 1;
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd_ >= 0 && (length == 0 || ::setsockopt(fd_, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0 ||
                   ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), length) != 0)) {
    ::close(fd_);
    fd_ = -1;
  }
}

HeldEndpoint::~HeldEndpoint() {
  if (fd_ >= 0) ::close(fd_);
}

bool sendNotice(const std::string& endpoint, const Bytes& message) {
  sockaddr_un addr{};
  const socklen_t length = endpointAddress(endpoint, addr);
  if (length == 0) return false;
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  ssize_t sent;
  do {
    sent =
        ::sendto(fd, message.data(), message.size(), 0, reinterpret_cast<sockaddr*>(&addr), length);
  } while (sent < 0 && errno == EINTR);
  ::close(fd);
  return sent == static_cast<ssize_t>(message.size());
}

Watch::Watch(const std::string& path, std::uint32_t mask)
    : fd_(::inotify_init1(IN_CLOEXEC | IN_NONBLOCK)) {
  if (fd_ >= 0) wd_ = ::inotify_add_watch(fd_, path.c_str(), mask);
}

Watch::~Watch() {
  if (fd_ >= 0) ::close(fd_);
}

bool Watch::waitFor(std::uint32_t mask, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd_, buffer, sizeof buffer);
    for (ssize_t at = 0; at < n;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if ((event->mask & mask) != 0) return true;
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
    if (n > 0) continue;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd wait{fd_, POLLIN, 0};
    (void)::poll(&wait, 1, static_cast<int>(left.count()));
  }
}

std::optional<int> stopRelay(Child& relay, std::chrono::milliseconds limit) {
  relay.signal(SIGTERM);
  return relay.waitExit(limit);
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace e2e
