// Runs the built `relaytool process` on page files in a scratch folder.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "Version.h"
#include "fakes/Bytes.h"
#include "platform/posix/SocketNoticeEndpoint.h"
#include "posix/TempDir.h"

namespace {

using fakes::Bytes;
using fakes::concat;
using fakes::hex;
using fakes::pageFile;
using fakes::toHex;

const Bytes kMarker = hex("98 07 98 07 98 07 98 07 98 07 98 07 98 07");

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

std::string readAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

class RelaytoolProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("SPR_BUILD_DIR");
    ASSERT_NE(build, nullptr) << "SPR_BUILD_DIR is set by ctest";
    tool = std::filesystem::path(build) / "tools" / "relaytool";
    ASSERT_TRUE(std::filesystem::exists(tool)) << tool;
    ASSERT_TRUE(dir.ok());
  }

  /// Runs relaytool with `args` (already quoted), stdout and stderr to files; the exit code.
  int run(const std::string& args) {
    std::string command = quoted(tool);
    command.append(" ").append(args);
    command.append(" >").append(quoted(out())).append(" 2>").append(quoted(err()));
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  std::string path(const std::string& name) const { return quoted(dir / name); }
  static std::string quoted(const std::filesystem::path& file) {
    std::string q(1, '\'');
    q.append(file.string()).push_back('\'');
    return q;
  }
  std::filesystem::path out() const { return dir / "stdout"; }
  std::filesystem::path err() const { return dir / "stderr"; }

  std::filesystem::path tool;
  posixtest::TempDir dir;
};

TEST_F(RelaytoolProcess, RunsTheDocumentsPagesInOrder) {
  dir.makeDir("data");
  dir.write("data/PRTDATA_IDX_BARCODE_2D", hex("05 01 00 00 00"));
  dir.write("data/PRTDATA_IDX_TEST", hex("00"));  // bands of up to 20 rows
  // Page 1: text and a QR code whose GS ! 3 sets the height class for the job.
  dir.write(
      "p1",
      pageFile(concat({text("Receipt 0001\n"), kMarker, hex("09 1D 21 03"), text("AB"), hex("0A")}),
               0));
  dir.write("p2", Bytes{});  // empty: skipped
  // Page 3: three one-row rasters, merged into one band.
  dir.write("p3", pageFile(concat({fakes::rasterRow(hex("AA BB")), fakes::rasterRow(hex("CC DD")),
                                   fakes::rasterRow(hex("EE FF"))}),
                           0));
  // Page 4, the last: a 1D barcode of type 2 with the carried height class, then a cut
  // that model P with cut mode 4 turns into FF 00 00 00.
  dir.write("p4", pageFile(concat({kMarker, hex("02 0D"), text("4711"), hex("0A 1D 56 42 00"),
                                   text("Thank you")})));
  const int code =
      run("process --printer-data " + path("data") + " --model Pxx --cut-mode 4 " + path("p1") +
          " " + path("p2") + " " + path("p3") + " " + path("p4") + " " + path("never-read"));
  ASSERT_EQ(code, 0) << readAll(err());

  const Bytes qr =
      hex("1D 28 6B 04 00 31 41 32 00 1D 28 6B 03 00 31 43 06 1D 28 6B 03 00 31 45 31 "
          "1D 28 6B 05 00 31 50 30 41 42 1D 28 6B 03 00 31 51 30 1D 28 6B 03 00 31 52 30");
  const Bytes band = hex("1D 76 30 00 02 00 03 00 AA BB CC DD EE FF 0D");
  const Bytes code128 = hex("1D 68 96 1D 77 03 1D 66 00 1D 48 02 1D 6B 43 04 34 37 31 31 0A");
  const Bytes expected = concat({text("Receipt 0001\n"), qr, hex("0A"), band, code128,
                                 hex("0A 0C 00 00 00"), text("Thank you"), hex("00")});
  const std::string got = readAll(out());
  EXPECT_EQ(toHex(Bytes(got.begin(), got.end())), toHex(expected));
  EXPECT_EQ(readAll(err()), "pData->State : 0x00000000 \npData->State : 0x00000000 \n");
}

TEST_F(RelaytoolProcess, WritesToTheOutputFileWithDefaults) {
  // No printer data: default QR settings, and cut mode 0 removes the second cut.
  dir.write("p1", pageFile(concat({hex("1D 56 42 00"), text("0123456789"), hex("1D 56 42 00"),
                                   kMarker, hex("09 0D 2A 7D 7E")})));
  ASSERT_EQ(run("process -o " + path("doc.bin") + " " + path("p1")), 0) << readAll(err());
  const std::string got = readAll(dir / "doc.bin");
  EXPECT_EQ(toHex(Bytes(got.begin(), got.end())),
            toHex(concat({hex("1D 56 42 00"), text("0123456789"),
                          hex("1D 28 6B 04 00 31 41 32 00 1D 28 6B 03 00 31 43 03 "
                              "1D 28 6B 03 00 31 45 30 1D 28 6B 05 00 31 50 30 2A 7D "
                              "1D 28 6B 03 00 31 51 30 1D 28 6B 03 00 31 52 30 7E 00")})));
  EXPECT_EQ(readAll(out()), "");
  EXPECT_EQ(readAll(err()), "");
}

TEST_F(RelaytoolProcess, BadOptionsAndUnreadablePagesExitWithTwo) {
  dir.write("p1", pageFile(text("0123456789ABCDEF"), 0));  // not the last: "missing" is read
  const std::vector<std::string> cases{"process " + path("p1") + " " + path("missing"),
                                       "process --colour " + path("p1"),
                                       "process --cut-mode -3 " + path("p1"),
                                       "process --model",
                                       "process",
                                       "process " + path("")};
  for (const std::string& args : cases) {
    EXPECT_EQ(run(args), 2) << args;
    // One line says what is wrong; the only others are the pages' debug lines.
    std::istringstream lines(readAll(err()));
    int complaints = 0;
    for (std::string line; std::getline(lines, line);) {
      if (line.rfind("relaytool process: ", 0) == 0) {
        ++complaints;
      } else {
        EXPECT_EQ(line, "pData->State : 0x00000000 ");
      }
    }
    EXPECT_EQ(complaints, 1) << args;
    EXPECT_EQ(readAll(out()), "") << args;
  }
}

}  // namespace

namespace {

TEST_F(RelaytoolProcess, AnEmptyDocumentGoesToStandardOutputAsNothing) {
  dir.write("empty", std::string());
  EXPECT_EQ(run("process " + path("empty")), 0) << readAll(err());
  EXPECT_EQ(readAll(out()), "");
  EXPECT_EQ(readAll(err()), "");
}

TEST_F(RelaytoolProcess, OutputThatCannotBeWrittenSaysWhy) {
  dir.write("p1", pageFile(text("0123456789ABCDEF"), 2));
  EXPECT_EQ(run("process -o " + path("no/such/folder/out.bin") + " " + path("p1")), 1);
  EXPECT_EQ(readAll(err()), "relaytool process: cannot write " + (dir / "no/such/folder/out.bin") +
                                ": No such file or directory\n");
  std::filesystem::create_symlink(dir / "p1", dir / "link");
  EXPECT_EQ(run("process " + path("link")), 2);
  EXPECT_EQ(readAll(err()), "relaytool process: cannot read page file " + (dir / "link") +
                                ": a symbolic link (the relay opens none)\n");
}

/// Every command takes --help and "help COMMAND"; unknown options and commands are named.
TEST_F(RelaytoolProcess, CommandLineConventions) {
  EXPECT_EQ(run("--version"), 0);
  EXPECT_EQ(readAll(out()), "relaytool " SPR_VERSION "\n");
  for (const std::string args : {"--help", "help", "-h"}) {
    EXPECT_EQ(run(args), 0) << args;
    EXPECT_EQ(readAll(out()).rfind("usage: relaytool <command>", 0), 0u) << args;
    EXPECT_EQ(readAll(err()), "");
  }
  for (const std::string command : {"process", "post", "watch", "preview"}) {
    EXPECT_EQ(run(command + " --help"), 0) << command;
    const std::string help = readAll(out());
    EXPECT_EQ(help.rfind("usage: relaytool " + command, 0), 0u) << help;
    EXPECT_EQ(run("help " + command), 0) << command;
    EXPECT_EQ(readAll(out()), help);
  }
  const std::vector<std::pair<std::string, std::string>> refused{
      {"post -o x", "relaytool post: unknown option '-o'\n"},
      {"process --colour red p1", "relaytool process: unknown option '--colour'\n"},
      {"process -o", "relaytool process: option -o needs a value\n"},
      {"watch --endpoint", "relaytool watch: option --endpoint needs a value\n"},
      {"watch now", "relaytool watch: unexpected argument 'now'\n"},
      {"--verbose", "relaytool: unknown option '--verbose' (try relaytool --help)\n"},
      {"print", "relaytool: unknown command 'print' (try relaytool --help)\n"},
      {"help print", "relaytool: unknown command 'print' (try relaytool --help)\n"},
      {"", "relaytool: no command given (try relaytool --help)\n"}};
  for (const auto& [args, message] : refused) {
    EXPECT_EQ(run(args), 2) << args;
    EXPECT_EQ(readAll(err()), message);
    EXPECT_EQ(readAll(out()), "");
  }
}

TEST_F(RelaytoolProcess, PostSaysWhyItFailed) {
  dir.write("p1", pageFile(text("0123456789ABCDEF"), 2));
  const std::string endpoint = "spoolrelayer-nobody-" + std::to_string(::getpid());
  EXPECT_EQ(run("post --printer P --job-id 1 --public-dir " + path("pub") + " --endpoint " +
                endpoint + " " + path("p1")),
            1);
  EXPECT_EQ(readAll(err()),
            "relaytool post: no relay is listening on endpoint '" + endpoint + "'\n");
  // The page file was put in place whole before the notice was tried.
  EXPECT_TRUE(std::filesystem::exists(dir / "pub/TIVORAN/TIVORAN_00000001_00000001.bin"));

  // A relay whose queue is full and who reads nothing: with no patience, post gives up.
  {
    posix::SocketNoticeEndpoint endpointOfAStuckRelay(endpoint);
    std::uint32_t code = 0;
    const auto reader = endpointOfAStuckRelay.create(code);
    ASSERT_TRUE(reader) << code;
    const std::vector<std::uint8_t> notice(552, 0);
    int queued = 0;
    while (queued < 1000 && posix::postNotice(endpoint, notice, std::chrono::milliseconds(0)))
      ++queued;
    ASSERT_LT(queued, 1000);
    EXPECT_EQ(run("post --printer P --job-id 1 --public-dir " + path("pub") + " --endpoint " +
                  endpoint + " --wait 0 " + path("p1")),
              1);
    EXPECT_EQ(readAll(err()), "relaytool post: the queue of endpoint '" + endpoint +
                                  "' stayed full for 0 s: the relay takes no notices\n");
  }

  dir.write("file", std::string());
  EXPECT_EQ(run("post --printer P --job-id 1 --public-dir " + path("file") + " " + path("p1")), 1);
  EXPECT_EQ(readAll(err()),
            "relaytool post: cannot create " + (dir / "file/TIVORAN") + ": Not a directory\n");
  EXPECT_EQ(run("post --printer P --job-id 1 " + path("missing")), 2);
  EXPECT_EQ(readAll(err()),
            "relaytool post: cannot read " + (dir / "missing") + ": No such file or directory\n");
  EXPECT_EQ(run("post --printer P --job-id x1 " + path("p1")), 2);
  EXPECT_EQ(readAll(err()), "relaytool post: bad value for --job-id: 'x1'\n");
}

TEST_F(RelaytoolProcess, TheRelaysOwnCommandLine) {
  const std::string relay = quoted(tool.parent_path().parent_path() / "spoolrelayer");
  const auto runRelay = [&](const std::string& args) {
    const std::string command = relay + " " + args + " >" + quoted(out()) + " 2>" + quoted(err());
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(runRelay("--version"), 0);
  EXPECT_EQ(readAll(out()), "spoolrelayer " SPR_VERSION "\n");
  EXPECT_EQ(runRelay("--help"), 0);
  EXPECT_EQ(readAll(out()).rfind("usage: spoolrelayer [--public-dir DIR]", 0), 0u);
  EXPECT_EQ(readAll(err()), "");
  EXPECT_EQ(runRelay("--bogus"), 2);
  EXPECT_EQ(readAll(err()), "spoolrelayer: unknown option '--bogus' (try spoolrelayer --help)\n");
  EXPECT_EQ(runRelay("--endpoint"), 2);
  EXPECT_EQ(readAll(err()), "spoolrelayer: option --endpoint needs a value\n");
  EXPECT_EQ(readAll(out()), "");
}

}  // namespace
