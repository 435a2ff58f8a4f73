// The preview command: its options, its exit codes and what it writes.
#include "PreviewCommand.h"

#include <gtest/gtest.h>

#include "PreviewTestSupport.h"

namespace preview {
namespace {

using test::hex;

/// The lines of `text`, without their newlines.
std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find('\n', start);
    out.push_back(text.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

class PreviewCommandTest : public ::testing::Test {
 protected:
  int run(const std::vector<std::string>& args) { return test::runCommand(args, diagnostics_); }

  test::ScratchDir dir_;
  std::string diagnostics_;
};

TEST_F(PreviewCommandTest, WritesThePngAndListsUnknownCommands) {
  dir_.write("in.bin", hex("41 42 43 1B 7A 0A 1D 76 30 00 01 00 02 00 80 01"));
  ASSERT_EQ(run({dir_.path("in.bin"), "-o", dir_.path("out.png")}), 0) << diagnostics_;
  EXPECT_EQ(diagnostics_, "unknown command 1B 7A at offset 3\n");
  const auto image = test::readPng(dir_.path("out.png"));
  EXPECT_EQ(image.width, 576u);
  ASSERT_EQ(image.height, 32u) << "a text line of 30 dots and two raster rows";
  EXPECT_EQ(image.at(0, 30), 0);
  EXPECT_EQ(image.at(1, 30), 255);
  EXPECT_EQ(image.at(7, 31), 0);
}

TEST_F(PreviewCommandTest, APageFileReportsOffsetsInTheFile) {
  // length 3, State 2, then "A" and ESC z
  dir_.write("page.bin", hex("03 00 00 00 02 41 1B 7A"));
  ASSERT_EQ(run({"--page", dir_.path("page.bin"), "-o", dir_.path("out.png")}), 0) << diagnostics_;
  EXPECT_EQ(diagnostics_, "unknown command 1B 7A at offset 6\n");
}

TEST_F(PreviewCommandTest, MarginAddsWhitePaperAround) {
  dir_.write("in.bin", hex("1D 76 30 00 01 00 01 00 80"));
  ASSERT_EQ(run({dir_.path("in.bin"), "-o", dir_.path("out.png"), "--margin", "10"}), 0);
  const auto image = test::readPng(dir_.path("out.png"));
  EXPECT_EQ(image.width, 596u);
  EXPECT_EQ(image.height, 21u);
  EXPECT_EQ(image.at(10, 10), 0);
  EXPECT_EQ(image.at(9, 10), 255);
}

TEST_F(PreviewCommandTest, AMissingInputFileIsOneLineAndExitCodeTwo) {
  const std::string missing = dir_.path("missing.bin");
  EXPECT_EQ(run({missing, "-o", dir_.path("out.png")}), 2);
  EXPECT_EQ(lines(diagnostics_), std::vector<std::string>{"relaytool preview: cannot read " +
                                                          missing + ": No such file or directory"});
}

TEST_F(PreviewCommandTest, BadOptionsAreOneLineAndExitCodeTwo) {
  dir_.write("in.bin", hex("41"));
  const std::vector<std::vector<std::string>> cases = {
      {dir_.path("in.bin")},
      {"-o", dir_.path("out.png")},
      {dir_.path("in.bin"), "-o"},
      {dir_.path("in.bin"), "-o", dir_.path("out.png"), "--colour"},
      {dir_.path("in.bin"), dir_.path("in.bin"), "-o", dir_.path("out.png")},
      {dir_.path("in.bin"), "-o", dir_.path("out.png"), "--margin", "wide"},
  };
  for (const auto& args : cases) {
    EXPECT_EQ(run(args), 2) << args.back();
    const auto written = lines(diagnostics_);
    ASSERT_EQ(written.size(), 1u) << diagnostics_;
    EXPECT_EQ(written[0].rfind("relaytool preview: ", 0), 0u) << written[0];
  }
}

TEST_F(PreviewCommandTest, APageFileShorterThanItsHeaderIsRefused) {
  dir_.write("short.bin", hex("03 00 00"));
  EXPECT_EQ(run({"--page", dir_.path("short.bin"), "-o", dir_.path("out.png")}), 2);
  EXPECT_EQ(diagnostics_, "relaytool preview: " + dir_.path("short.bin") +
                              ": a page file starts with a 5-byte header; this one has 3 bytes\n");
}

TEST_F(PreviewCommandTest, AFontThatDoesNotLoadIsRefusedWhenAskedFor) {
  dir_.write("in.bin", hex("41"));
  EXPECT_EQ(run({dir_.path("in.bin"), "-o", dir_.path("out.png"), "--font", dir_.path("none.ttf")}),
            2);
  EXPECT_EQ(diagnostics_, "relaytool preview: " + dir_.path("in.bin") + ": cannot load font " +
                              dir_.path("none.ttf") + "\n");
}

TEST_F(PreviewCommandTest, AnOutputThatCannotBeWrittenIsExitCodeOne) {
  dir_.write("in.bin", hex("41"));
  const std::string output = dir_.path("no-such-folder/out.png");
  EXPECT_EQ(run({dir_.path("in.bin"), "-o", output}), 1);
  EXPECT_EQ(diagnostics_,
            "relaytool preview: cannot write " + output + ": No such file or directory\n");
}

TEST_F(PreviewCommandTest, EveryLengthShorterThanTheHeaderIsRefused) {
  for (std::size_t size = 0; size <= 4; ++size) {
    dir_.write("short.bin", std::vector<std::uint8_t>(size, 0x02));
    EXPECT_EQ(run({"--page", dir_.path("short.bin"), "-o", dir_.path("out.png")}), 2) << size;
    EXPECT_NE(diagnostics_.find("a page file starts with a 5-byte header"), std::string::npos)
        << diagnostics_;
  }
}

TEST_F(PreviewCommandTest, ReadsAtMost16MiBAndSaysSo) {
  // 16 MiB and one byte of NULs: the last one is not read.
  dir_.write("big.bin", std::vector<std::uint8_t>((16u << 20) + 1, 0x00));
  ASSERT_EQ(run({dir_.path("big.bin"), "-o", dir_.path("out.png")}), 0);
  EXPECT_EQ(lines(diagnostics_)[0],
            dir_.path("big.bin") + ": only the first 16777216 bytes are drawn");

  // A million line feeds make as many things to draw: the parse stops there and says so.
  dir_.write("feeds.bin", std::vector<std::uint8_t>(1500000, 0x0A));
  ASSERT_EQ(run({dir_.path("feeds.bin"), "-o", dir_.path("out.png")}), 0);
  EXPECT_NE(diagnostics_.find("the preview stops after 1000000 things to draw, at offset 1000000"),
            std::string::npos)
      << diagnostics_;
}

TEST_F(PreviewCommandTest, HelpGoesToStandardOutput) {
  EXPECT_EQ(run({"--help"}), 0);
  EXPECT_EQ(diagnostics_, "");
}

}  // namespace
}  // namespace preview
