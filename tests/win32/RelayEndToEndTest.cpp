// SpoolRelayer.exe end to end under Wine: a printer on the FILE: port, page files in the
// public folder, notices through the mailslot, the debug lines through a debug viewer.
// The document that reaches the output file is compared with what the core sends for
// the same pages and printer data through the in-memory spooler.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>

#include "WinTestSupport.h"
#include "app/NoticeListener.h"
#include "fakes/Bytes.h"
#include "fakes/FakeDebugOutput.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeSpooler.h"
#include "job/JobRunner.h"
#include "job/JournalFormat.h"
#include "platform/win32/Win32JobJournal.h"

namespace {

using wintest::Bytes;

constexpr wchar_t kWindowName[] = L"TIVORAN SpoolRelayer";
constexpr wchar_t kMailslot[] = L"\\\\.\\mailslot\\TIVORAN";
constexpr wchar_t kSpoolDirectory[] = L"C:\\users\\Public\\TIVORAN";
constexpr DWORD kDeadlineMs = 20000;

/// Polls `done` every 20 ms until it holds or the deadline passes.
template <typename Done>
bool waitUntil(Done done, DWORD ms = kDeadlineMs) {
  const ULONGLONG deadline = GetTickCount64() + ms;
  while (!done()) {
    if (GetTickCount64() >= deadline) return false;
    Sleep(20);
  }
  return true;
}

Bytes notice(const std::wstring& printer, std::uint32_t jobId, std::uint32_t copies, char16_t model,
             std::uint32_t cutMode) {
  Bytes n(app::kNoticeSize, 0);
  for (std::size_t i = 0; i < printer.size(); ++i) {
    n[2 * i] = static_cast<std::uint8_t>(printer[i]);
    n[2 * i + 1] = static_cast<std::uint8_t>(printer[i] >> 8);
  }
  for (std::size_t k = 0; k < 4; ++k) {
    n[520 + k] = static_cast<std::uint8_t>(jobId >> (8 * k));
    n[524 + k] = static_cast<std::uint8_t>(copies >> (8 * k));
    n[548 + k] = static_cast<std::uint8_t>(cutMode >> (8 * k));
  }
  n[528] = static_cast<std::uint8_t>(model);
  n[529] = static_cast<std::uint8_t>(model >> 8);
  return n;
}

std::wstring pagePath(std::uint32_t jobId, std::uint32_t page) {
  return win32::wide(job::pageFilePath(win32::utf16(kSpoolDirectory), u'\\', jobId, page));
}

bool post(const Bytes& bytes) {
  win32::UniqueHandle slot(CreateFileW(kMailslot, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD written = 0;
  return slot &&
         WriteFile(slot.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

/// Wine's FILE: port opens only names that start with a drive, unless the name is
/// mapped to FILE: here; Windows needs no such entry.
bool mapOutputFileToFilePort() {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Wine\\Printing\\Spooler", 0, nullptr, 0,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  static constexpr wchar_t kPort[] = L"FILE:";
  const LSTATUS status = RegSetValueExW(key, L"SpoolRelayer_00.bin", 0, REG_SZ,
                                        reinterpret_cast<const BYTE*>(kPort), sizeof kPort);
  RegCloseKey(key);
  return status == ERROR_SUCCESS;
}

/// One page file: the 5-byte header and the stream.
Bytes page(const Bytes& stream, std::uint8_t state) {
  return fakes::pageFile(stream, state);
}

class RelayEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(monitor.ready());
    ASSERT_TRUE(mapOutputFileToFilePort());
    ASSERT_TRUE(wintest::addPrinter(printerName, L"FILE:")) << GetLastError();
    for (const auto& [value, bytes] : printerData) {
      const std::wstring valueName(value.begin(), value.end());
      ASSERT_EQ(wintest::setPrinterData(printerName, valueName, bytes), 0u);
    }
    (void)CreateDirectoryW(kSpoolDirectory, nullptr);
    ASSERT_EQ(FindWindowW(kWindowName, kWindowName), nullptr) << "a relay is still running";
  }

  void TearDown() override {
    for (std::uint32_t page = 0; page <= 2; ++page)
      (void)DeleteFileW(pagePath(jobId, page).c_str());
  }

  /// Starts the relay and waits until its listener holds the mailslot.
  void startRelay() {
    relay.emplace(L"SpoolRelayer.exe", L"", false, relayFolder);
    ASSERT_TRUE(relay->started());
    ASSERT_TRUE(waitUntil([] {
      return win32::UniqueHandle(CreateFileW(kMailslot, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr))
          .valid();
    }));
  }

  /// Closes the hidden window as another program would; the relay's exit code.
  std::optional<DWORD> closeRelay() {
    HWND window = FindWindowW(kWindowName, kWindowName);
    if (window == nullptr || !PostMessageW(window, WM_CLOSE, 0, 0)) return std::nullopt;
    return relay->waitExit(kDeadlineMs);
  }

  /// What the core sends for these pages and this printer data, through the fakes.
  Bytes coreDocument(std::uint32_t id, const std::vector<Bytes>& pages, char16_t model,
                     std::uint32_t cutMode, std::vector<std::string>& debugLines) {
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
    const std::u16string name = win32::utf16(printerName);
    job::runJob(ports, job::JobRequest{name, id, 1, model, cutMode, std::nullopt});
    debugLines = debug.lines;
    const auto& documents = spooler.printer(name).documents;
    if (documents.size() != 1 || documents[0].info.outputFile != u"SpoolRelayer_00.bin") return {};
    return documents[0].bytes();
  }

  /// Keeps the pages and the relay's document beside the build for the comparison with
  /// the Linux page processing that scripts/test-windows makes afterwards.
  static void keepForLinuxComparison(const std::vector<Bytes>& pages, const Bytes& document) {
    const std::wstring folder = wintest::programFolder() + L"\\..\\e2e";
    (void)CreateDirectoryW(folder.c_str(), nullptr);
    for (std::size_t i = 0; i < pages.size(); ++i) {
      (void)wintest::writeFileBytes(folder + L"\\page" + std::to_wstring(i + 1) + L".bin",
                                    pages[i]);
    }
    (void)wintest::writeFileBytes(folder + L"\\document.bin", document);
  }

  wintest::DebugMonitor monitor;
  std::wstring printerName = wintest::uniqueName(L"SpoolRelayer E2E");
  std::map<std::string, Bytes> printerData{{"PRTDATA_IDX_TEST", Bytes{0x14, 0, 0, 0}},
                                           {"PRTDATA_IDX_HIGH_SPEED_MODE", Bytes{0, 0, 0, 0}}};
  std::wstring relayFolder = wintest::makeTempFolder(L"spr_relay");
  std::uint32_t jobId = GetCurrentProcessId() << 8;
  std::optional<wintest::ChildProcess> relay;
};

TEST_F(RelayEndToEnd, JobReachesThePrinterAsTheCoreSendsIt) {
  const std::vector<Bytes> pages{
      page(fakes::concat({fakes::hex("1B 40 1B 4D 00 1B 74 00"), Bytes{'H', 'e', 'l', 'l', 'o'},
                          fakes::hex("0A 0D 00 1B 4A 18")}),
           0),
      page(fakes::concat({Bytes{'W', 'o', 'r', 'l', 'd'}, fakes::hex("0A 1D 56 42 00")}), 2)};
  for (std::uint32_t i = 0; i < pages.size(); ++i) {
    ASSERT_TRUE(wintest::writeFileBytes(pagePath(jobId, i + 1), pages[i]));
  }
  std::vector<std::string> coreLines;
  const Bytes expected = coreDocument(jobId, pages, u'T', 0, coreLines);
  ASSERT_FALSE(expected.empty());

  startRelay();
  // An oversized message first: it is dropped whole, so nothing of it is taken for a
  // notice (a cut-off copy would name a printer "AAAA..." and add an OpenPrinter line).
  ASSERT_TRUE(post(Bytes(600, 'A')));
  ASSERT_TRUE(post(notice(printerName, jobId, 1, u'T', 0)));

  // The page files go once every copy is sent; the document is complete by then.
  ASSERT_TRUE(waitUntil([&] {
    return !wintest::fileExists(pagePath(jobId, 1)) && !wintest::fileExists(pagePath(jobId, 2));
  }));
  const Bytes document = wintest::readFileBytes(relayFolder + L"\\SpoolRelayer_00.bin");
  EXPECT_EQ(fakes::toHex(document), fakes::toHex(expected));
  keepForLinuxComparison(pages, document);

  // Page 1 is not the last one: its State is reported and it is sent all the same.
  EXPECT_TRUE(monitor.waitForLine(relay->id(), "pData->State : 0x00000000 \n", kDeadlineMs));
  EXPECT_EQ(closeRelay(), DWORD{0});
  ASSERT_TRUE(monitor.stop());
  EXPECT_EQ(monitor.linesOf(relay->id()), coreLines);
}

TEST_F(RelayEndToEnd, ListenerSurvivesAConsoleDisconnectAndConnect) {
  startRelay();
  HWND window = FindWindowW(kWindowName, kWindowName);
  ASSERT_NE(window, nullptr);
  // Wine sends no session events; post them as the system would.
  ASSERT_TRUE(PostMessageW(window, WM_WTSSESSION_CHANGE, WTS_CONSOLE_DISCONNECT, 1));
  ASSERT_TRUE(PostMessageW(window, WM_WTSSESSION_CHANGE, WTS_CONSOLE_CONNECT, 1));
  // The first listener still holds the mailslot, so the second one ends at once.
  EXPECT_TRUE(
      monitor.waitForLine(relay->id(), "CreateMailslot Error : 0x000000b7 \n", kDeadlineMs));

  // The first listener goes on serving: a 524-byte notice has no copies, and its run
  // still deletes the file of page number 0.
  const std::wstring pageZero = pagePath(jobId, 0);
  ASSERT_TRUE(wintest::writeFileBytes(pageZero, page(Bytes{'x'}, 2)));
  Bytes shortNotice = notice(printerName, jobId, 3, u'P', 4);
  shortNotice.resize(524);
  ASSERT_TRUE(post(shortNotice));
  EXPECT_TRUE(waitUntil([&] { return !wintest::fileExists(pageZero); }));
  EXPECT_FALSE(wintest::fileExists(relayFolder + L"\\SpoolRelayer_00.bin"));

  EXPECT_EQ(closeRelay(), DWORD{0});
  ASSERT_TRUE(monitor.stop());
  EXPECT_EQ(monitor.linesOf(relay->id()),
            (std::vector<std::string>{"CreateMailslot Error : 0x000000b7 \n"}));
}

/// This job's record in the user's journal, once `done` holds for it.
std::optional<job::JobRecord> journalRecord(
    std::uint32_t jobId, const std::function<bool(const job::JobRecord&)>& done) {
  win32::Win32JobJournal journal(win32::Win32JobJournal::defaultFolder());
  std::optional<job::JobRecord> found;
  (void)waitUntil([&] {
    std::vector<std::uint8_t> bytes;
    std::string why;
    job::JournalContents contents;
    if (!journal.read(bytes, why) || !job::readJournal(bytes, contents)) return false;
    for (const job::JobRecord& record : contents.records) {
      if (record.jobId == jobId && done(record)) found = record;
    }
    return found.has_value();
  });
  return found;
}

TEST_F(RelayEndToEnd, AKilledRelayTakesItsWaitingJobUpAgainAtStart) {
  const std::vector<Bytes> pages{page(Bytes{'f', 'i', 'r', 's', 't', ' ', 'p', 'a', 'g', 'e', ' ',
                                            'o', 'f', ' ', 't', 'w', 'o', '\n'},
                                      0),
                                 page(Bytes{'t', 'h', 'e', ' ', 'l', 'a', 's', 't', ' ', 'o', 'n',
                                            'e', ',', ' ', 'l', 'a', 't', 'e', '\n'},
                                      2)};
  std::vector<std::string> coreLines;
  const Bytes expected = coreDocument(jobId, pages, u'T', 0, coreLines);
  ASSERT_TRUE(wintest::writeFileBytes(pagePath(jobId, 1), pages[0]));
  startRelay();
  ASSERT_TRUE(post(notice(printerName, jobId, 1, u'T', 0)));
  // Its record is written before its run starts; the run waits for page 2.
  ASSERT_TRUE(journalRecord(jobId, [](const job::JobRecord& r) { return !r.outcome; }));
  relay.reset();  // the process ends at once, as in a crash

  ASSERT_TRUE(wintest::writeFileBytes(pagePath(jobId, 2), pages[1]));
  startRelay();
  ASSERT_TRUE(waitUntil([&] {
    return !wintest::fileExists(pagePath(jobId, 1)) && !wintest::fileExists(pagePath(jobId, 2));
  }));
  EXPECT_EQ(fakes::toHex(wintest::readFileBytes(relayFolder + L"\\SpoolRelayer_00.bin")),
            fakes::toHex(expected));
  const auto record =
      journalRecord(jobId, [](const job::JobRecord& r) { return r.outcome.has_value(); });
  ASSERT_TRUE(record);
  EXPECT_EQ(record->outcome, job::Outcome::kPrinted);
  EXPECT_EQ(record->resumedMs.size(), 1u);
  EXPECT_EQ(record->copiesSent(), 1u);
  EXPECT_FALSE(record->sender);  // the mailslot does not tell who posted
  EXPECT_EQ(closeRelay(), DWORD{0});
}

}  // namespace
