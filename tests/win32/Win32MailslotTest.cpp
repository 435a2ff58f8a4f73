// The notice mailslot: the read decisions against scripted mailslots that behave as
// Windows and as Wine do, then the real mailslot under Wine.
#include <gtest/gtest.h>

#include <deque>
#include <optional>
#include <thread>

#include "WinTestSupport.h"
#include "app/NoticeListener.h"
#include "platform/win32/Win32MailslotRead.h"
#include "platform/win32/Win32Notices.h"

namespace {

using platform::ReadResult;
using win32::NextRead;
using wintest::Bytes;

Bytes message(std::size_t size, std::uint8_t seed) {
  Bytes m(size);
  for (std::size_t i = 0; i < size; ++i) m[i] = static_cast<std::uint8_t>(seed + i * 7);
  return m;
}

/// A mailslot whose queue the test scripts. `queued` messages are visible to the size
/// query; `arriving` ones come in only while a read waits. A read into a block that is
/// too small behaves as on Windows (fails with 122, the message stays) or as on Wine
/// (succeeds with the block filled, the rest is lost).
class ScriptedMailslot : public win32::MailslotCalls {
 public:
  explicit ScriptedMailslot(bool wine) : wine_(wine) {}

  std::optional<std::uint32_t> nextMessageSize() override {
    if (queued.empty()) return std::nullopt;
    return static_cast<std::uint32_t>(queued.front().size());
  }

  bool readMessage(std::span<std::uint8_t> dest, std::size_t& read, std::uint32_t& error) override {
    readSizes.push_back(dest.size());
    if (queued.empty()) {
      if (arriving.empty()) {
        error = 6;  // nothing will ever come: stands for a broken handle
        return false;
      }
      queued.push_back(arriving.front());
      arriving.pop_front();
    }
    const Bytes& next = queued.front();
    if (next.size() > dest.size() && !wine_) {
      error = 122;
      return false;
    }
    read = std::min(next.size(), dest.size());
    std::copy_n(next.begin(), read, dest.begin());
    queued.pop_front();
    return true;
  }

  std::deque<Bytes> queued;
  std::deque<Bytes> arriving;
  std::vector<std::size_t> readSizes;

 private:
  bool wine_;
};

TEST(MailslotReadDecision, ComparesTheQueuedSizeWithTheNotice) {
  EXPECT_EQ(win32::decideNextRead(std::nullopt, 552), NextRead::kWait);
  EXPECT_EQ(win32::decideNextRead(0u, 552), NextRead::kReadQueued);
  EXPECT_EQ(win32::decideNextRead(524u, 552), NextRead::kReadQueued);
  EXPECT_EQ(win32::decideNextRead(552u, 552), NextRead::kReadQueued);
  EXPECT_EQ(win32::decideNextRead(553u, 552), NextRead::kDrain);
  EXPECT_EQ(win32::decideNextRead(600u, 552), NextRead::kDrain);
}

class MailslotReadTest : public ::testing::TestWithParam<bool> {
 protected:
  ScriptedMailslot slot{GetParam()};
  Bytes notice = Bytes(app::kNoticeSize, 0);
};

TEST_P(MailslotReadTest, QueuedMessagesThatFitAreReadStraightIn) {
  slot.queued = {message(552, 1), message(524, 2)};
  EXPECT_EQ(win32::readNotice(slot, notice), ReadResult::kMessage);
  EXPECT_EQ(notice, message(552, 1));

  Bytes second(app::kNoticeSize, 0);
  EXPECT_EQ(win32::readNotice(slot, second), ReadResult::kMessage);
  Bytes expected = message(524, 2);
  expected.resize(552, 0);  // the bytes past a short message stay zero
  EXPECT_EQ(second, expected);
  EXPECT_EQ(slot.readSizes, (std::vector<std::size_t>{552, 552}));
}

TEST_P(MailslotReadTest, QueuedOversizedMessageIsDrainedWholeAndFailsOnce) {
  slot.queued = {message(600, 3), message(552, 4)};
  EXPECT_EQ(win32::readNotice(slot, notice), ReadResult::kFailed);
  EXPECT_EQ(slot.readSizes, (std::vector<std::size_t>{600}));
  EXPECT_EQ(win32::readNotice(slot, notice), ReadResult::kMessage);
  EXPECT_EQ(notice, message(552, 4));
}

TEST_P(MailslotReadTest, MessageArrivingDuringTheWaitLandsWhole) {
  slot.arriving = {message(552, 5), message(524, 6)};
  EXPECT_EQ(win32::readNotice(slot, notice), ReadResult::kMessage);
  EXPECT_EQ(notice, message(552, 5));
  EXPECT_EQ(slot.readSizes, (std::vector<std::size_t>{win32::kLandingSize}));
}

TEST_P(MailslotReadTest, OversizedMessageArrivingDuringTheWaitFailsOnce) {
  // 700 bytes land whole and are dropped; 100000 bytes exceed the landing block.
  slot.arriving = {message(700, 7), message(100000, 8), message(552, 9)};
  EXPECT_EQ(win32::readNotice(slot, notice), ReadResult::kFailed);
  EXPECT_EQ(win32::readNotice(slot, notice), ReadResult::kFailed);
  EXPECT_EQ(notice, Bytes(552, 0));  // nothing of a dropped message reaches the notice
  EXPECT_EQ(win32::readNotice(slot, notice), ReadResult::kMessage);
  EXPECT_EQ(notice, message(552, 9));
  EXPECT_TRUE(slot.queued.empty());
  if (GetParam()) {
    // Wine: the big one is cut to the landing block and its rest is gone.
    EXPECT_EQ(slot.readSizes, (std::vector<std::size_t>{win32::kLandingSize, win32::kLandingSize,
                                                        win32::kLandingSize}));
  } else {
    // Windows: the read fails with 122, the size query then drains it at its size.
    EXPECT_EQ(slot.readSizes, (std::vector<std::size_t>{win32::kLandingSize, win32::kLandingSize,
                                                        100000, win32::kLandingSize}));
  }
}

TEST_P(MailslotReadTest, AFailedReadIsReported) {
  EXPECT_EQ(win32::readNotice(slot, notice), ReadResult::kFailed);
}

INSTANTIATE_TEST_SUITE_P(WindowsAndWine, MailslotReadTest, ::testing::Values(false, true),
                         [](const auto& test) { return test.param ? "Wine" : "Windows"; });

/// Posts one message as a driver does.
DWORD post(const std::wstring& slot, const Bytes& bytes) {
  win32::UniqueHandle file(CreateFileW(slot.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return GetLastError();
  DWORD written = 0;
  if (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)) {
    return GetLastError();
  }
  return written == bytes.size() ? 0 : 1;
}

class Win32MailslotTest : public ::testing::Test {
 protected:
  std::wstring name = L"\\\\.\\mailslot\\" + wintest::uniqueName(L"spr_test");
  win32::Win32NoticeEndpoint endpoint{name};
};

TEST_F(Win32MailslotTest, OnlyOneReaderHoldsTheName) {
  EXPECT_EQ(post(name, message(552, 1)), DWORD{ERROR_FILE_NOT_FOUND});  // no reader yet
  std::uint32_t error = 0;
  auto first = endpoint.create(error);
  ASSERT_NE(first, nullptr);
  auto second = endpoint.create(error);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(error, 183u);
  first.reset();  // closing frees the name
  EXPECT_NE(endpoint.create(error), nullptr);
}

TEST_F(Win32MailslotTest, ReadWaitsForWholeMessages) {
  std::uint32_t error = 0;
  auto reader = endpoint.create(error);
  ASSERT_NE(reader, nullptr);
  Bytes first(app::kNoticeSize, 0);
  Bytes second(app::kNoticeSize, 0);
  ReadResult results[2] = {ReadResult::kClosed, ReadResult::kClosed};
  std::optional<std::uint32_t> sender;
  // The reader waits in its read before anything is posted.
  std::thread waiting([&] {
    results[0] = reader->read(first, sender);
    results[1] = reader->read(second, sender);
  });
  EXPECT_EQ(post(name, message(552, 1)), 0u);
  EXPECT_EQ(post(name, message(524, 2)), 0u);
  waiting.join();
  EXPECT_EQ(results[0], ReadResult::kMessage);
  EXPECT_EQ(first, message(552, 1));
  EXPECT_EQ(results[1], ReadResult::kMessage);
  Bytes expected = message(524, 2);
  expected.resize(552, 0);
  EXPECT_EQ(second, expected);
  EXPECT_EQ(sender, std::nullopt);  // a mailslot does not tell who posted
}

TEST_F(Win32MailslotTest, OversizedMessageIsDroppedOnce) {
  std::uint32_t error = 0;
  auto reader = endpoint.create(error);
  ASSERT_NE(reader, nullptr);
  ASSERT_EQ(post(name, message(600, 3)), 0u);
  ASSERT_EQ(post(name, message(552, 4)), 0u);
  Bytes notice(app::kNoticeSize, 0);
  std::optional<std::uint32_t> sender;
  EXPECT_EQ(reader->read(notice, sender), ReadResult::kFailed);
  EXPECT_EQ(notice, Bytes(552, 0));
  EXPECT_EQ(reader->read(notice, sender), ReadResult::kMessage);
  EXPECT_EQ(notice, message(552, 4));
}

}  // namespace
