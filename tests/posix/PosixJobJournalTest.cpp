// The journal file on POSIX: appends that survive, a second relay refused, a rewrite in
// one step, and a failed append that leaves no torn entry behind.
#include "platform/posix/PosixJobJournal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include "job/JournalFormat.h"
#include "posix/TempDir.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using posixtest::TempDir;

Bytes bytesOf(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

TEST(PosixJobJournal, AppendsReadBackAndReplaceSwapsTheWholeFile) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  posix::PosixJobJournal journal(dir / "state");  // created on take()
  std::string why;
  Bytes read;
  EXPECT_TRUE(journal.read(read, why));  // never written: empty
  EXPECT_TRUE(read.empty());
  ASSERT_TRUE(journal.take(why)) << why;
  struct stat st {};
  ASSERT_EQ(::stat((dir / "state").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0750u);
  EXPECT_EQ(journal.path(), dir / "state/jobs.journal");

  ASSERT_TRUE(journal.append(bytesOf("first "), why));
  ASSERT_TRUE(journal.append(bytesOf("second"), why));
  ASSERT_TRUE(journal.read(read, why));
  EXPECT_EQ(read, bytesOf("first second"));

  ASSERT_TRUE(journal.replace(bytesOf("new"), why)) << why;
  ASSERT_TRUE(journal.append(bytesOf("+more"), why));
  ASSERT_TRUE(journal.read(read, why));
  EXPECT_EQ(read, bytesOf("new+more"));
  EXPECT_FALSE(dir.exists("state/jobs.journal.new"));

  // Wall-clock milliseconds: some time after 2023.
  EXPECT_GT(journal.nowUnixMs(), 1'700'000'000'000);
}

TEST(PosixJobJournal, ASecondRelayOnTheSameFolderIsRefused) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  posix::PosixJobJournal first(dir.path());
  posix::PosixJobJournal second(dir.path());
  std::string why;
  ASSERT_TRUE(first.take(why));
  EXPECT_FALSE(second.take(why));
  EXPECT_EQ(why,
            "spoolrelayer: journal " + dir / "jobs.journal" + " is in use by another relay \n");
  EXPECT_FALSE(second.append(bytesOf("x"), why));
  // Reading needs no claim.
  Bytes read;
  EXPECT_TRUE(second.read(read, why));
}

TEST(PosixJobJournal, UnusableFoldersAndFilesAreNamedWithTheReason) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  std::string why;
  posix::PosixJobJournal missingParent(dir / "no/such/state");
  EXPECT_FALSE(missingParent.take(why));
  EXPECT_EQ(why, "spoolrelayer: journal " + dir / "no/such/state/jobs.journal" +
                     " can't be used: No such file or directory \n");

  dir.makeDir("state/jobs.journal");  // a folder where the file should be
  posix::PosixJobJournal folder(dir / "state");
  EXPECT_FALSE(folder.take(why));
  EXPECT_EQ(why, "spoolrelayer: journal " + dir / "state/jobs.journal" +
                     " can't be used: Is a directory \n");
  Bytes read;
  EXPECT_FALSE(folder.read(read, why));
  EXPECT_EQ(why, "spoolrelayer: journal " + dir / "state/jobs.journal" +
                     " can't be read: not a regular file \n");
}

TEST(PosixJobJournal, AFailedAppendIsCutOffSoTheNextOneFollowsWholeEntries) {
  TempDir dir;
  ASSERT_TRUE(dir.ok());
  posix::PosixJobJournal journal(dir.path());
  std::string why;
  ASSERT_TRUE(journal.take(why));
  const Bytes mark(job::kJournalMark.begin(), job::kJournalMark.end());
  job::JobRecord record;
  record.id = 1;
  record.printerName = std::u16string(1, u'P');
  const Bytes entry = job::acceptedEntry(record);
  ASSERT_TRUE(journal.append(mark, why));

  // The file may grow only a little: the entry is written in part, and the write fails.
  struct rlimit old {};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
  const auto previous = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = mark.size() + entry.size() / 2;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool appended = journal.append(entry, why);
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &old), 0);
  ::signal(SIGXFSZ, previous);
  EXPECT_FALSE(appended);
  EXPECT_EQ(why, "spoolrelayer: journal " + journal.path() + " not written: File too large \n");

  record.id = 2;
  ASSERT_TRUE(journal.append(job::acceptedEntry(record), why));
  Bytes read;
  ASSERT_TRUE(journal.read(read, why));
  job::JournalContents contents;
  ASSERT_TRUE(job::readJournal(read, contents));
  EXPECT_EQ(contents.tornBytes, 0u);
  ASSERT_EQ(contents.records.size(), 1u);
  EXPECT_EQ(contents.records[0].id, 2u);
}

}  // namespace
