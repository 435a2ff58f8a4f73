// Documents of the directory spooler, checked byte for byte in the printer's folder.
#include "platform/posix/DirectoryDocument.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>

#include "platform/posix/DirectorySpooler.h"
#include "posix/TempDir.h"

namespace {

using posixtest::bytesOf;
using posixtest::TempDir;
using Strings = std::vector<std::string>;

const platform::DocInfo kRawDocument{u"My Document", std::nullopt, u"RAW"};
const platform::DocInfo kFileDocument{u"My Document", u"SpoolRelayer_00.bin", u"RAW"};

class DirectoryDocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(root.ok());
    root.makeDir("Receipt");
    printer = spooler.open(u"Receipt");
    ASSERT_TRUE(printer);
  }

  /// Sends one document whose pages are made of the given writes.
  void send(platform::Printer& to, const platform::DocInfo& info,
            const std::vector<Strings>& pages) {
    ASSERT_TRUE(to.startDoc(info));
    for (const Strings& writes : pages) {
      ASSERT_TRUE(to.startPage());
      for (const std::string& w : writes) ASSERT_TRUE(to.write(bytesOf(w)));
      ASSERT_TRUE(to.endPage());
    }
    ASSERT_TRUE(to.endDoc());
  }

  TempDir root;
  posix::DirectorySpooler spooler{root.path()};
  std::unique_ptr<platform::Printer> printer;
};

TEST_F(DirectoryDocumentTest, DocumentsAreNumberedWithTheirDescriptions) {
  send(*printer, kRawDocument, {{"ab", "c"}, {}, {"de"}});
  send(*printer, kRawDocument, {{std::string("\x1b@\0", 3)}});
  EXPECT_EQ(root.list("Receipt/documents"),
            (Strings{"00000001.bin", "00000001.json", "00000002.bin", "00000002.json"}));
  EXPECT_EQ(root.read("Receipt/documents/00000001.bin"), "abcde");
  EXPECT_EQ(root.read("Receipt/documents/00000001.json"),
            "{\"name\": \"My Document\", \"dataType\": \"RAW\", \"outputFile\": null, "
            "\"pages\": [3, 0, 2]}");
  EXPECT_EQ(root.read("Receipt/documents/00000002.bin"), std::string("\x1b@\0", 3));
  EXPECT_EQ(root.read("Receipt/documents/00000002.json"),
            "{\"name\": \"My Document\", \"dataType\": \"RAW\", \"outputFile\": null, "
            "\"pages\": [3]}");
}

TEST_F(DirectoryDocumentTest, DocumentsAreForTheRelayAndItsGroupOnly) {
  send(*printer, kRawDocument, {{"ab"}});
  for (const char* name : {"Receipt/documents/00000001.bin", "Receipt/documents/00000001.json"}) {
    struct stat st {};
    ASSERT_EQ(::stat((root / name).c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0027, 0u) << name;  // at most 0640 whatever the umask
  }
}

// Names a document's writer uses on its way are made anew, never written through a link
// someone planted; a link at the output file's name is replaced, its target untouched.
TEST_F(DirectoryDocumentTest, PlantedLinksAreNeverWrittenThrough) {
  root.write("target", "keep");
  ASSERT_TRUE(printer->startDoc(kRawDocument));
  ASSERT_TRUE(printer->startPage());
  ASSERT_TRUE(printer->write(bytesOf("ab")));
  // Planted while the document is written, at the name its description goes to first.
  ASSERT_EQ(::symlink((root / "target").c_str(),
                      (root / "Receipt/documents/.00000001.json.part").c_str()),
            0);
  ASSERT_TRUE(printer->endPage());
  ASSERT_TRUE(printer->endDoc());
  ASSERT_EQ(::symlink((root / "target").c_str(), (root / "Receipt/SpoolRelayer_00.bin").c_str()),
            0);
  send(*printer, kFileDocument, {{"cd"}});
  EXPECT_EQ(root.read("target"), "keep");
  EXPECT_EQ(root.read("Receipt/documents/00000001.bin"), "ab");
  EXPECT_EQ(root.read("Receipt/documents/00000001.json"),
            "{\"name\": \"My Document\", \"dataType\": \"RAW\", \"outputFile\": null, "
            "\"pages\": [2]}");
  EXPECT_EQ(root.read("Receipt/SpoolRelayer_00.bin"), "cd");
  EXPECT_FALSE(std::filesystem::is_symlink(root / "Receipt/SpoolRelayer_00.bin"));
}

// A start-up removes the unfinished documents of writers that ended, and leaves those
// being written.
TEST_F(DirectoryDocumentTest, LeftoversOfEndedWritersGoAtStartUp) {
  root.makeDir("Receipt/documents");
  root.write("Receipt/documents/.00000001.bin.part", "cut short");
  root.write("Receipt/documents/.00000001.json.part", "{");
  root.write("Receipt/documents/.00000002.json.part", "{");  // its document is gone
  ASSERT_TRUE(printer->startDoc(kRawDocument));              // takes number 3 and is being written
  ASSERT_TRUE(printer->startPage());
  ASSERT_TRUE(printer->write(bytesOf("live")));
  root.makeDir("Other/documents");
  root.write("Other/documents/.00000007.bin.part", "cut short");
  root.write("Other/documents/00000006.bin", "done");

  spooler.removeLeftovers();
  EXPECT_EQ(root.list("Receipt/documents"), Strings{".00000003.bin.part"});
  EXPECT_EQ(root.list("Other/documents"), Strings{"00000006.bin"});
  ASSERT_TRUE(printer->endPage());
  ASSERT_TRUE(printer->endDoc());
  EXPECT_EQ(root.read("Receipt/documents/00000003.bin"), "live");
}

TEST_F(DirectoryDocumentTest, DocumentAppearsOnlyWhenItEnds) {
  ASSERT_TRUE(printer->startDoc(kRawDocument));
  ASSERT_TRUE(printer->startPage());
  ASSERT_TRUE(printer->write(bytesOf("page")));
  EXPECT_EQ(root.list("Receipt/documents"), Strings{".00000001.bin.part"});
  ASSERT_TRUE(printer->endPage());
  ASSERT_TRUE(printer->endDoc());
  EXPECT_EQ(root.list("Receipt/documents"), (Strings{"00000001.bin", "00000001.json"}));
}

TEST_F(DirectoryDocumentTest, NumbersFollowEveryDocumentAndSkipQueuedJobIds) {
  root.makeDir("Receipt/documents");
  root.makeDir("Receipt/queue");
  root.write("Receipt/documents/00000003.bin", "");
  root.write("Receipt/documents/00000003.json", "");
  root.write("Receipt/documents/.00000004.bin.part", "");  // another process's, unfinished
  root.write("Receipt/documents/notes.txt", "");
  root.write("Receipt/queue/5", "0");
  root.write("Receipt/queue/6", "0");
  send(*printer, kRawDocument, {{"x"}});
  EXPECT_TRUE(root.exists("Receipt/documents/00000007.bin"));
  EXPECT_TRUE(root.exists("Receipt/documents/.00000004.bin.part"));
}

TEST_F(DirectoryDocumentTest, HandlesOfOnePrinterNeverShareANumber) {
  auto second = spooler.open(u"Receipt");
  ASSERT_TRUE(second);
  ASSERT_TRUE(printer->startDoc(kRawDocument));
  send(*second, kRawDocument, {{"second"}});
  ASSERT_TRUE(printer->startPage());
  ASSERT_TRUE(printer->write(bytesOf("first")));
  ASSERT_TRUE(printer->endDoc());  // an open page ends with its document
  EXPECT_EQ(root.read("Receipt/documents/00000001.bin"), "first");
  EXPECT_EQ(root.read("Receipt/documents/00000002.bin"), "second");
  EXPECT_EQ(root.read("Receipt/documents/00000001.json"),
            "{\"name\": \"My Document\", \"dataType\": \"RAW\", \"outputFile\": null, "
            "\"pages\": [5]}");
}

TEST_F(DirectoryDocumentTest, OutputFileDocumentReplacesTheFile) {
  root.write("Receipt/SpoolRelayer_00.bin", "an earlier document, longer than the next");
  send(*printer, kFileDocument, {{"new"}, {"er"}});
  EXPECT_EQ(root.read("Receipt/SpoolRelayer_00.bin"), "newer");
  EXPECT_EQ(root.list("Receipt/documents"), Strings{"00000001.json"});
  EXPECT_EQ(root.read("Receipt/documents/00000001.json"),
            "{\"name\": \"My Document\", \"dataType\": \"RAW\", \"outputFile\": "
            "\"SpoolRelayer_00.bin\", \"pages\": [3, 2]}");
  send(*printer, kFileDocument, {{"last"}});
  EXPECT_EQ(root.read("Receipt/SpoolRelayer_00.bin"), "last");
  EXPECT_EQ(root.list("Receipt/documents"), (Strings{"00000001.json", "00000002.json"}));
}

TEST_F(DirectoryDocumentTest, OutputFileMustBeAPlainNameOfItsOwn) {
  for (const char16_t* name : {u"", u"../out.bin", u"sub/out.bin", u"port", u"queue", u".hidden"}) {
    EXPECT_FALSE(printer->startDoc({u"My Document", name, u"RAW"}));
    EXPECT_EQ(spooler.lastError(), platform::kErrorInvalidName);
  }
}

TEST_F(DirectoryDocumentTest, DescriptionEscapesItsStrings) {
  const platform::DocInfo info{u"Say \"hi\"\\\n\t\r\u0001\u001f caf\u00e9", u"out\\1.bin", u"RAW"};
  EXPECT_EQ(posix::DirectoryDocument::describe(info, {}),
            "{\"name\": \"Say \\\"hi\\\"\\\\\\n\\t\\r\\u0001\\u001f caf\xC3\xA9\", "
            "\"dataType\": \"RAW\", \"outputFile\": \"out\\\\1.bin\", \"pages\": []}");
}

TEST_F(DirectoryDocumentTest, CallsOutOfOrderFail) {
  EXPECT_FALSE(printer->startPage());
  EXPECT_EQ(spooler.lastError(), platform::kErrorNoStartDoc);
  EXPECT_FALSE(printer->write(bytesOf("x")));
  EXPECT_FALSE(printer->endPage());
  EXPECT_FALSE(printer->endDoc());
  EXPECT_EQ(spooler.lastError(), platform::kErrorNoStartDoc);

  ASSERT_TRUE(printer->startDoc(kRawDocument));
  EXPECT_FALSE(printer->startDoc(kRawDocument));
  EXPECT_EQ(spooler.lastError(), platform::kErrorInvalidPrinterState);
  EXPECT_FALSE(printer->write(bytesOf("outside a page")));
  EXPECT_FALSE(printer->endPage());
  ASSERT_TRUE(printer->startPage());
  EXPECT_FALSE(printer->startPage());
  EXPECT_EQ(spooler.lastError(), platform::kErrorInvalidPrinterState);
}

TEST_F(DirectoryDocumentTest, DocumentThatNeverEndsLeavesNothing) {
  ASSERT_TRUE(printer->startDoc(kRawDocument));
  ASSERT_TRUE(printer->startPage());
  ASSERT_TRUE(printer->write(bytesOf("abandoned")));
  printer.reset();
  EXPECT_EQ(root.list("Receipt/documents"), Strings{});
}

TEST_F(DirectoryDocumentTest, PrinterFolderVanishingMidDocumentFailsTheCalls) {
  ASSERT_TRUE(printer->startDoc(kRawDocument));
  ASSERT_TRUE(printer->startPage());
  ASSERT_TRUE(printer->write(bytesOf("page")));
  std::error_code ec;
  std::filesystem::remove_all(root / "Receipt", ec);
  ASSERT_FALSE(ec);
  EXPECT_FALSE(printer->write(bytesOf("more")));
  EXPECT_EQ(spooler.lastError(), platform::kErrorInvalidPrinterName);
  EXPECT_FALSE(printer->endPage());
  EXPECT_FALSE(printer->endDoc());
  EXPECT_FALSE(printer->startDoc(kRawDocument));
  std::uint32_t needed = 0;
  EXPECT_FALSE(printer->queryInfoSize(needed));
  EXPECT_EQ(spooler.lastError(), platform::kErrorInvalidPrinterName);
  std::vector<platform::JobEntry> entries{{1, 1, std::nullopt}};
  EXPECT_FALSE(printer->enumJobs(entries));
  EXPECT_TRUE(entries.empty());
  std::vector<std::uint8_t> value(4);
  EXPECT_EQ(printer->getData("PRTDATA_IDX_TEST", value), platform::kErrorInvalidPrinterName);
  EXPECT_FALSE(root.exists("Receipt"));
}

}  // namespace
