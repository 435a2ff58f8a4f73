// Runs the built `relaytool process` on page files in a scratch folder.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "fakes/Bytes.h"
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
