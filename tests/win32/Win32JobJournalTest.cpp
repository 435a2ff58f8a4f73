// The journal file on Windows, under Wine: appends that read back, a second relay
// refused, a rewrite in one step, and the wall clock.
#include "platform/win32/Win32JobJournal.h"

#include <gtest/gtest.h>

#include "WinTestSupport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes bytesOf(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

TEST(Win32JobJournal, AppendsReadBackAndReplaceSwapsTheWholeFile) {
  const std::wstring folder = wintest::makeTempFolder(L"spr_journal") + L"\\state";
  win32::Win32JobJournal journal(folder);
  std::string why;
  Bytes read;
  EXPECT_TRUE(journal.read(read, why));  // never written: empty
  EXPECT_TRUE(read.empty());
  ASSERT_TRUE(journal.take(why)) << why;
  EXPECT_EQ(journal.path(), folder + L"\\jobs.journal");

  ASSERT_TRUE(journal.append(bytesOf("first "), why));
  ASSERT_TRUE(journal.append(bytesOf("second"), why));
  ASSERT_TRUE(journal.sync(why)) << why;
  ASSERT_TRUE(journal.read(read, why));  // readable while the relay holds it
  EXPECT_EQ(read, bytesOf("first second"));

  ASSERT_TRUE(journal.replace(bytesOf("new"), why)) << why;
  ASSERT_TRUE(journal.append(bytesOf("+more"), why));
  ASSERT_TRUE(journal.read(read, why));
  EXPECT_EQ(read, bytesOf("new+more"));
  EXPECT_FALSE(wintest::fileExists(folder + L"\\jobs.journal.new"));

  // A second relay of the same user gets no claim on it.
  win32::Win32JobJournal second(folder);
  EXPECT_FALSE(second.take(why));
  EXPECT_EQ(why, "SpoolRelayer: journal " + win32::asciiOf(folder) +
                     "\\jobs.journal is in use by another relay \n");
  // Milliseconds since 1970: some time after 2023.
  EXPECT_GT(journal.nowUnixMs(), 1'700'000'000'000);
}

TEST(Win32JobJournal, TheUsersJournalIsInLocalAppData) {
  const std::wstring folder = win32::Win32JobJournal::defaultFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(folder.ends_with(L"\\AppData\\Local\\SpoolRelayer")) << win32::asciiOf(folder);
}

}  // namespace
