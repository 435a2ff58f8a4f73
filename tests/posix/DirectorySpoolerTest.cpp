// The directory spooler's printers: opening, port, printer data and the job queue, and
// the spooler contract kept on a folder of printers.
#include "platform/posix/DirectorySpooler.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>

#include "posix/SpoolerContract.h"
#include "posix/TempDir.h"

namespace {

using fakes::Bytes;
using platform::JobEntry;
using posixtest::TempDir;

/// The spooler contract's harness: printer "Receipt" in a fresh ROOT, with the
/// contract's values in its data folder.
class DirectoryHarness {
 public:
  bool ready(std::string& why) {
    if (!root_.ok()) {
      why = "no temporary folder";
      return false;
    }
    root_.makeDir("Receipt/data");
    root_.write("Receipt/data/PRTDATA_IDX_TEST", fakes::hex("14 00 00 00"));
    root_.write("Receipt/data/PRTDATA_IDX_BARCODE_2D", fakes::hex("03 01 02"));
    Bytes table(180);
    for (std::size_t i = 0; i < table.size(); ++i) table[i] = static_cast<std::uint8_t>(i);
    root_.write("Receipt/data/PRTDATA_IDX_BARCODE", table);
    return true;
  }
  platform::Spooler& spooler() { return spooler_; }
  std::u16string printerName() const { return u"Receipt"; }
  std::u16string missingName() const { return u"Missing"; }

  /// The last numbered document of the printer's folder.
  Bytes document(platform::Printer&) const {
    const std::vector<std::string> names = root_.list("Receipt/documents");
    std::string last;
    for (const std::string& name : names)
      if (name.ends_with(".bin")) last = name;
    EXPECT_FALSE(last.empty());
    return posixtest::bytesOf(root_.read("Receipt/documents/" + last));
  }

  std::uint32_t printedJob(platform::Printer&) const {
    root_.makeDir("Receipt/queue");
    root_.write("Receipt/queue/42", "128\n");
    return 42;
  }

 private:
  TempDir root_;
  posix::DirectorySpooler spooler_{root_.path()};
};

}  // namespace

namespace spoolercontract {
INSTANTIATE_TYPED_TEST_SUITE_P(DirectorySpooler, SpoolerContract,
                               ::testing::Types<DirectoryHarness>);
}  // namespace spoolercontract

namespace {

class DirectorySpoolerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.ok());
    root.makeDir("Receipt");
  }

  std::unique_ptr<platform::Printer> openReceipt() {
    auto printer = spooler->open(u"Receipt");
    EXPECT_TRUE(printer);
    return printer;
  }

  TempDir root;
  std::unique_ptr<platform::Spooler> spooler = posix::makeDirectorySpooler(root.path());
};

TEST_F(DirectorySpoolerTest, PrinterExistsWhenItsFolderDoes) {
  root.makeDir("Caf\u00e9 80");
  root.write("plain-file", "");
  EXPECT_NE(spooler->open(u"Receipt"), nullptr);
  EXPECT_NE(spooler->open(u"Caf\u00e9 80"), nullptr);
  for (const std::u16string& name :
       {std::u16string(u"Missing"), std::u16string(u"plain-file"), std::u16string(u""),
        std::u16string(u"."), std::u16string(u".."), std::u16string(u"Receipt/"),
        std::u16string(u"../Receipt"), std::u16string(u"Rec\0eipt", 8)}) {
    EXPECT_EQ(spooler->open(name), nullptr) << name.size();
    EXPECT_EQ(spooler->lastError(), platform::kErrorInvalidPrinterName);
  }
  // A lone surrogate does not name the folder of U+FFFD.
  root.makeDir("P\xEF\xBF\xBD");
  EXPECT_NE(spooler->open(u"P\uFFFD"), nullptr);
  EXPECT_EQ(spooler->open(std::u16string{u'P', char16_t{0xD800}}), nullptr);
}

TEST_F(DirectorySpoolerTest, PortComesInTwoCalls) {
  auto printer = openReceipt();
  std::uint32_t needed = 0;
  std::u16string port;
  // No port file: the port is "DIR:". The block is 84 bytes and both names with NULs.
  EXPECT_FALSE(printer->queryInfoSize(needed));
  EXPECT_EQ(spooler->lastError(), platform::kErrorInsufficientBuffer);
  EXPECT_EQ(needed, 84u + 2 * 8 + 2 * 5);
  std::vector<std::byte> block(needed, std::byte{0xEE});
  ASSERT_TRUE(printer->readInfo(block, port));
  EXPECT_EQ(port, u"DIR:");
  EXPECT_EQ(block[84], std::byte{'R'});
  EXPECT_EQ(block[85], std::byte{0});

  root.write("Receipt/port", "FILE:\n");
  EXPECT_FALSE(printer->queryInfoSize(needed));
  EXPECT_EQ(needed, 84u + 2 * 8 + 2 * 6);
  EXPECT_FALSE(printer->readInfo(block, port));  // the old size no longer fits
  EXPECT_EQ(spooler->lastError(), platform::kErrorInsufficientBuffer);
  block.resize(needed);
  ASSERT_TRUE(printer->readInfo(block, port));
  EXPECT_EQ(port, u"FILE:");

  root.write("Receipt/port", "FILE:,LPT1:");
  block.resize(200);
  ASSERT_TRUE(printer->readInfo(block, port));
  EXPECT_EQ(port, u"FILE:,LPT1:");
}

TEST_F(DirectorySpoolerTest, PrinterDataReadsLikeGetPrinterData) {
  root.makeDir("Receipt/data");
  root.write("Receipt/data/PRTDATA_IDX_TEST", "\x01\x02\x03");
  root.write("Receipt/data/EMPTY", "");
  auto printer = openReceipt();

  std::vector<std::uint8_t> exact(3, 0xEE);
  EXPECT_EQ(printer->getData("PRTDATA_IDX_TEST", exact), 0u);
  EXPECT_EQ(exact, (std::vector<std::uint8_t>{1, 2, 3}));

  std::vector<std::uint8_t> larger(6, 0xEE);
  EXPECT_EQ(printer->getData("PRTDATA_IDX_TEST", larger), 0u);
  EXPECT_EQ(larger, (std::vector<std::uint8_t>{1, 2, 3, 0xEE, 0xEE, 0xEE}));

  std::vector<std::uint8_t> smaller(2, 0xEE);
  EXPECT_EQ(printer->getData("PRTDATA_IDX_TEST", smaller), platform::kErrorMoreData);
  EXPECT_EQ(smaller, (std::vector<std::uint8_t>{0xEE, 0xEE}));

  EXPECT_EQ(printer->getData("EMPTY", smaller), 0u);
  EXPECT_EQ(smaller, (std::vector<std::uint8_t>{0xEE, 0xEE}));
  EXPECT_EQ(printer->getData("PRTDATA_IDX_BARCODE", larger), platform::kErrorFileNotFound);
  EXPECT_EQ(printer->getData("../port", larger), platform::kErrorFileNotFound);
  EXPECT_EQ(printer->getData("..", larger), platform::kErrorFileNotFound);

  root.makeDir("Other");
  auto other = spooler->open(u"Other");  // no data folder at all
  ASSERT_TRUE(other);
  EXPECT_EQ(other->getData("PRTDATA_IDX_TEST", larger), platform::kErrorFileNotFound);
}

TEST_F(DirectorySpoolerTest, QueueListsJobFilesInIdOrderAndDeletes) {
  auto printer = openReceipt();
  std::vector<JobEntry> entries{{1, 1, std::nullopt}};
  ASSERT_TRUE(printer->enumJobs(entries));  // no queue folder: an empty queue
  EXPECT_TRUE(entries.empty());

  root.makeDir("Receipt/queue");
  root.write("Receipt/queue/12", "being written");
  root.write("Receipt/queue/7", "4096");
  root.write("Receipt/queue/5", "128\n");
  root.write("Receipt/queue/007", "128");  // not plain decimal: not a job
  root.write("Receipt/queue/.5.tmp", "128");
  ASSERT_TRUE(printer->enumJobs(entries));
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].jobId, 5u);
  EXPECT_EQ(entries[0].status, platform::kJobStatusPrinted);
  EXPECT_EQ(entries[1].jobId, 7u);
  EXPECT_EQ(entries[1].status, platform::kJobStatusComplete);
  EXPECT_EQ(entries[2].jobId, 12u);
  EXPECT_EQ(entries[2].status, 0u);

  EXPECT_TRUE(printer->deleteJob(entries[1]));
  EXPECT_FALSE(root.exists("Receipt/queue/7"));
  EXPECT_FALSE(printer->deleteJob(entries[1]));
  EXPECT_EQ(spooler->lastError(), 87u);
  ASSERT_TRUE(printer->enumJobs(entries));
  EXPECT_EQ(entries.size(), 2u);
}

TEST_F(DirectorySpoolerTest, QueueEntriesBelongToTheOwnersOfTheirFiles) {
  root.makeDir("Receipt/queue");
  root.write("Receipt/queue/5", "128");
  root.write("Receipt/queue/6", "128");
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown((root / "Receipt/queue/6").c_str(), 4242, 4242), 0);
  }
  auto printer = openReceipt();
  std::vector<JobEntry> entries;
  ASSERT_TRUE(printer->enumJobs(entries));
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].owner, std::optional<std::uint32_t>(::geteuid()));
  EXPECT_EQ(entries[1].owner, std::optional<std::uint32_t>(::geteuid() == 0 ? 4242 : ::geteuid()));
}

// Nothing under a printer's folder is reached through a symbolic link: not the queue,
// not a job, not a value, not the port, not the documents folder.
TEST_F(DirectorySpoolerTest, LinksInThePrintersFolderAreNeverFollowed) {
  root.makeDir("elsewhere/queue");
  root.write("elsewhere/queue/5", "128");
  root.write("elsewhere/value", "\x01\x02");
  root.write("elsewhere/port", "FILE:");
  ASSERT_EQ(::symlink((root / "elsewhere/queue").c_str(), (root / "Receipt/queue").c_str()), 0);
  auto printer = openReceipt();
  std::vector<JobEntry> entries;
  EXPECT_FALSE(printer->enumJobs(entries));  // a queue that is a link can't be listed
  EXPECT_TRUE(entries.empty());
  EXPECT_FALSE(printer->deleteJob({5, 0x80, std::nullopt}));
  EXPECT_TRUE(root.exists("elsewhere/queue/5"));

  ASSERT_EQ(::unlink((root / "Receipt/queue").c_str()), 0);
  root.makeDir("Receipt/queue");
  ASSERT_EQ(::symlink((root / "elsewhere/queue/5").c_str(), (root / "Receipt/queue/5").c_str()), 0);
  ASSERT_TRUE(printer->enumJobs(entries));
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].status, 0u);  // the link is listed, its target's status is not read
  EXPECT_EQ(entries[0].owner, std::nullopt);

  root.makeDir("Receipt/data");
  ASSERT_EQ(::symlink((root / "elsewhere/value").c_str(),
                      (root / "Receipt/data/PRTDATA_IDX_TEST").c_str()),
            0);
  std::vector<std::uint8_t> value(4, 0xEE);
  EXPECT_NE(printer->getData("PRTDATA_IDX_TEST", value), 0u);
  EXPECT_EQ(value, std::vector<std::uint8_t>(4, 0xEE));

  ASSERT_EQ(::symlink((root / "elsewhere/port").c_str(), (root / "Receipt/port").c_str()), 0);
  std::uint32_t needed = 0;
  EXPECT_FALSE(printer->queryInfoSize(needed));
  EXPECT_NE(spooler->lastError(), platform::kErrorInsufficientBuffer);  // no FILE: port

  root.makeDir("elsewhere/documents");
  ASSERT_EQ(::symlink((root / "elsewhere/documents").c_str(), (root / "Receipt/documents").c_str()),
            0);
  EXPECT_FALSE(printer->startDoc({u"My Document", std::nullopt, u"RAW"}));
  EXPECT_TRUE(root.list("elsewhere/documents").empty());
}

// Each entry takes 64 bytes and its strings in UTF-16 with their NULs: "Receipt",
// "localhost", "spoolrelayer", the id (four digits here) and "RAW".
TEST_F(DirectorySpoolerTest, QueueBeyondTheListingSizeListsNothing) {
  constexpr std::size_t kEntry = 64 + 2 * ((7 + 1) + (9 + 1) + (12 + 1) + (4 + 1) + (3 + 1));
  constexpr std::size_t kFit = 6400 / kEntry;
  static_assert(kFit == 44);
  root.makeDir("Receipt/queue");
  for (std::size_t i = 0; i < kFit; ++i)
    root.write("Receipt/queue/" + std::to_string(1000 + i), "128");
  auto printer = openReceipt();
  std::vector<JobEntry> entries;
  ASSERT_TRUE(printer->enumJobs(entries));
  EXPECT_EQ(entries.size(), kFit);

  root.write("Receipt/queue/" + std::to_string(1000 + kFit), "128");
  EXPECT_FALSE(printer->enumJobs(entries));
  EXPECT_TRUE(entries.empty());
  EXPECT_EQ(spooler->lastError(), platform::kErrorInsufficientBuffer);
}

}  // namespace
