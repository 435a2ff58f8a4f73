// relaytool.exe beside SpoolRelayer.exe under Wine: watch reads the relay's debug lines
// through the debugger-output protocol, post writes the page files and the notice as a
// driver does, and process gives the very document the relay printed.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <regex>
#include <sstream>

#include "WinTestSupport.h"
#include "fakes/Bytes.h"
#include "fakes/FakeDebugOutput.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeSpooler.h"
#include "job/JobRunner.h"

namespace {

using wintest::Bytes;

constexpr wchar_t kWindowName[] = L"TIVORAN SpoolRelayer";
constexpr wchar_t kMailslot[] = L"\\\\.\\mailslot\\TIVORAN";
constexpr wchar_t kSpoolDirectory[] = L"C:\\users\\Public\\TIVORAN";
constexpr DWORD kDeadlineMs = 20000;

template <typename Done>
bool waitUntil(Done done, DWORD ms = kDeadlineMs) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  while (!done()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
  return true;
}

std::wstring pagePath(std::uint32_t jobId, std::uint32_t page) {
  return win32::wide(job::pageFilePath(win32::utf16(kSpoolDirectory), u'\\', jobId, page));
}

bool mailslotOpen() {
  return win32::UniqueHandle(CreateFileW(kMailslot, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
      .valid();
}

/// Returns once a debug viewer has written out every line sent before: a sender waits
/// for the viewer's BUFFER_READY, which it sets only after writing the line before.
void waitForTheViewer() {
  OutputDebugStringW(L"the viewer is done with the lines before this one \n");
}

/// The lines of a program's output, each without its line end.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

/// Runs relaytool.exe with `arguments` to its end; its exit code and output (standard
/// output and error together). Messages are written in text mode, so their line ends
/// arrive as CR LF; they are given back as LF.
std::pair<std::optional<DWORD>, std::string> relaytool(const std::wstring& arguments) {
  wintest::ChildProcess tool(L"relaytool.exe", arguments, true, {}, true);
  std::string output = tool.output();
  for (std::size_t at = 0; (at = output.find("\r\n", at)) != std::string::npos;)
    output.erase(at, 1);
  return {tool.waitExit(kDeadlineMs), output};
}

class RelaytoolOnWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(wintest::addPrinter(printerName, L"FILE:")) << GetLastError();
    for (const auto& [value, bytes] : printerData) {
      ASSERT_EQ(
          wintest::setPrinterData(printerName, std::wstring(value.begin(), value.end()), bytes),
          0u);
      ASSERT_TRUE(wintest::writeFileBytes(
          dataFolder + L"\\" + std::wstring(value.begin(), value.end()), bytes));
    }
    ASSERT_EQ(FindWindowW(kWindowName, kWindowName), nullptr) << "a relay is still running";
  }

  /// Starts the relay and waits until its listener holds the mailslot.
  void startRelay() {
    relay.emplace(L"SpoolRelayer.exe", L"", false, relayFolder);
    ASSERT_TRUE(relay->started());
    ASSERT_TRUE(waitUntil(mailslotOpen));
  }

  std::optional<DWORD> closeRelay() {
    HWND window = FindWindowW(kWindowName, kWindowName);
    if (window == nullptr || !PostMessageW(window, WM_CLOSE, 0, 0)) return std::nullopt;
    return relay->waitExit(kDeadlineMs);
  }

  /// The core's debug lines for the pages, through the fakes.
  std::vector<std::string> coreLines(std::uint32_t id, const std::vector<Bytes>& pages) {
    fakes::FakeSpooler spooler;
    fakes::FakePrinterState& state = spooler.addPrinter(win32::utf16(printerName));
    state.port = u"FILE:";
    state.data = printerData;
    fakes::FakeClock clock;
    fakes::FakePageFiles files(clock);
    for (std::uint32_t i = 0; i < pages.size(); ++i) {
      files.files[job::pageFilePath(u"/pub/TIVORAN", u'/', id, i + 1)].bytes = pages[i];
    }
    fakes::FakeNamedLocks locks;
    fakes::FakeKnownFolders folders;
    fakes::FakeDebugOutput debug;
    job::JobPorts ports{spooler, locks, folders, files, clock, debug};
    job::runJob(ports, job::JobRequest{win32::utf16(printerName), id, 1, u'T', 0, std::nullopt});
    return debug.lines;
  }

  std::wstring printerName = wintest::uniqueName(L"Relaytool E2E");
  std::map<std::string, Bytes> printerData{{"PRTDATA_IDX_TEST", Bytes{0x14, 0, 0, 0}},
                                           {"PRTDATA_IDX_HIGH_SPEED_MODE", Bytes{0, 0, 0, 0}}};
  std::wstring relayFolder = wintest::makeTempFolder(L"spr_tool_relay");
  std::wstring work = wintest::makeTempFolder(L"spr_tool_work");
  std::wstring dataFolder = wintest::makeTempFolder(L"spr_tool_data");
  std::uint32_t jobId = (GetCurrentProcessId() << 8) | 0x5A;
  std::optional<wintest::ChildProcess> relay;
};

TEST_F(RelaytoolOnWindows, WatchSeesTheJobThatPostSentAndProcessGivesItsDocument) {
  // The watcher comes first: it owns the debugger-output objects once they exist.
  wintest::ChildProcess watch(L"relaytool.exe", L"watch", true, {}, true);
  ASSERT_TRUE(watch.started());
  ASSERT_TRUE(waitUntil([] {
    return win32::UniqueHandle(OpenEventW(SYNCHRONIZE, FALSE, L"DBWIN_DATA_READY")).valid();
  }));
  startRelay();
  // Lines of other programs are not the relay's: without --all, watch leaves them out.
  OutputDebugStringW(L"a line of the test program \n");

  // A page whose State is 0 (reported as such) and the last page.
  const std::vector<Bytes> pages{
      fakes::pageFile(fakes::concat({fakes::hex("1B 40 1B 4D 00 1B 74 00"),
                                     Bytes{'W', 'a', 't', 'c', 'h'}, fakes::hex("0A 0D 00")}),
                      0),
      fakes::pageFile(fakes::concat({Bytes{'P', 'o', 's', 't'}, fakes::hex("0A 1D 56 42 00")}), 2)};
  std::wstring pageArgs;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const std::wstring path = work + L"\\page" + std::to_wstring(i + 1) + L".bin";
    ASSERT_TRUE(wintest::writeFileBytes(path, pages[i]));
    pageArgs += L" \"" + path + L"\"";
  }
  const auto [posted, postOutput] = relaytool(L"post --printer \"" + printerName + L"\" --job-id " +
                                              std::to_wstring(jobId) + L" --model T" + pageArgs);
  ASSERT_EQ(posted, DWORD{0}) << postOutput;

  // The relay deletes the page files once the copy is sent.
  ASSERT_TRUE(waitUntil([&] {
    return !wintest::fileExists(pagePath(jobId, 1)) && !wintest::fileExists(pagePath(jobId, 2));
  }));
  const Bytes document = wintest::readFileBytes(relayFolder + L"\\SpoolRelayer_00.bin");
  ASSERT_FALSE(document.empty());
  const auto [processed, processOutput] =
      relaytool(L"process --printer-data \"" + dataFolder + L"\" --model T -o \"" + work +
                L"\\doc.bin\"" + pageArgs);
  ASSERT_EQ(processed, DWORD{0}) << processOutput;
  EXPECT_EQ(processOutput, "pData->State : 0x00000000 \n");
  EXPECT_EQ(fakes::toHex(wintest::readFileBytes(work + L"\\doc.bin")), fakes::toHex(document));

#if __has_include("job/Journal.h")
  // The relay's journal holds the job once its run has ended, as relaytool.exe jobs shows.
  const std::string idField = "\"jobId\": " + std::to_string(jobId) + ",";
  std::string entry;
  EXPECT_TRUE(waitUntil([&] {
    const auto [listed, json] = relaytool(L"jobs --json");
    for (const std::string& line : linesOf(json)) {
      if (listed == DWORD{0} && line.find(idField) != std::string::npos) entry = line;
    }
    return entry.find("\"outcome\": \"printed\"") != std::string::npos;
  })) << entry;
  EXPECT_NE(
      entry.find("\"printer\": \"" + std::string(printerName.begin(), printerName.end()) + "\""),
      std::string::npos)
      << entry;
#endif

  // Every line the relay sent, as the core sends it, with the time and the relay's pid.
  const std::vector<std::string> expected = coreLines(jobId, pages);
  ASSERT_FALSE(expected.empty());
  EXPECT_EQ(closeRelay(), DWORD{0});
  waitForTheViewer();
  watch.terminate();
  const std::vector<std::string> shown = linesOf(watch.output());
  const std::regex form(R"((\d\d:\d\d:\d\d\.\d\d\d) \[pid (\d+)\] (.*))");
  std::vector<std::string> texts;
  for (const std::string& line : shown) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(line, match, form)) << line;
    EXPECT_EQ(match[2].str(), std::to_string(relay->id())) << line;
    texts.push_back(match[3].str() + "\n");
  }
  EXPECT_EQ(texts, expected);
}

TEST_F(RelaytoolOnWindows, WatchAllShowsEveryProgramsLinesWithItsName) {
  wintest::ChildProcess watch(L"relaytool.exe", L"watch --all", true, {}, true);
  ASSERT_TRUE(watch.started());
  ASSERT_TRUE(waitUntil([] {
    return win32::UniqueHandle(OpenEventW(SYNCHRONIZE, FALSE, L"DBWIN_DATA_READY")).valid();
  }));
  OutputDebugStringW(L"a line of the test program \n");
  waitForTheViewer();
  watch.terminate();
  const std::vector<std::string> shown = linesOf(watch.output());
  ASSERT_GE(shown.size(), 1u);
  const std::regex form(
      R"(\d\d:\d\d:\d\d\.\d\d\d \[pid (\d+) (\S+)\] a line of the test program )");
  std::smatch match;
  ASSERT_TRUE(std::regex_match(shown[0], match, form)) << shown[0];
  EXPECT_EQ(match[1].str(), std::to_string(GetCurrentProcessId()));
  EXPECT_EQ(match[2].str(), "win_tests.exe");
}

TEST_F(RelaytoolOnWindows, WatchSaysWhenAnotherViewerHoldsTheDebugOutput) {
  wintest::DebugMonitor other;
  ASSERT_TRUE(other.ready());
  const auto [code, output] = relaytool(L"watch");
  EXPECT_EQ(code, DWORD{1});
  EXPECT_EQ(output,
            "relaytool watch: another debug output viewer is running; close it and try again\n");
}

TEST_F(RelaytoolOnWindows, PostSaysWhenNoRelayListens) {
  const std::wstring page = work + L"\\page.bin";
  ASSERT_TRUE(wintest::writeFileBytes(page, fakes::pageFile(Bytes{'x'}, 2)));
  const std::wstring slot = wintest::uniqueName(L"NoRelay");
  const auto [code, output] = relaytool(L"post --printer P --job-id 1 --public-dir \"" + work +
                                        L"\" --mailslot " + slot + L" \"" + page + L"\"");
  EXPECT_EQ(code, DWORD{1});
  EXPECT_EQ(output, "relaytool post: no relay is listening on mailslot '\\\\.\\mailslot\\" +
                        std::string(slot.begin(), slot.end()) + "'\n");
  // The page file went in whole before the notice was tried.
  EXPECT_EQ(wintest::readFileBytes(work + L"\\TIVORAN\\TIVORAN_00000001_00000001.bin"),
            fakes::pageFile(Bytes{'x'}, 2));
}

TEST_F(RelaytoolOnWindows, ConventionsAndAPreviewThisBuildDoesNotHave) {
  auto [code, output] = relaytool(L"--version");
  EXPECT_EQ(code, DWORD{0});
  EXPECT_EQ(output.rfind("relaytool ", 0), 0u);
  std::tie(code, output) = relaytool(L"watch --help");
  EXPECT_EQ(code, DWORD{0});
  EXPECT_EQ(output.rfind("usage: relaytool watch [--all]", 0), 0u);
  std::tie(code, output) = relaytool(L"preview in.bin -o out.png");
  EXPECT_EQ(code, DWORD{1});
  EXPECT_EQ(output.rfind("relaytool preview: this build of relaytool has no preview", 0), 0u);
  std::tie(code, output) = relaytool(L"post --endpoint X");
  EXPECT_EQ(code, DWORD{2});
  EXPECT_EQ(output, "relaytool post: unknown option '--endpoint'\n");
}

}  // namespace
