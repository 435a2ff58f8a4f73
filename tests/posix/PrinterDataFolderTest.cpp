#include "platform/posix/PrinterDataFolder.h"

#include <gtest/gtest.h>

#include <array>

#include "fakes/Bytes.h"
#include "platform/Spooler.h"
#include "posix/TempDir.h"

namespace {

using fakes::Bytes;
using fakes::hex;

TEST(PrinterDataFolder, ReadsLikeTheSpoolersPrinterData) {
  posixtest::TempDir dir;
  ASSERT_TRUE(dir.ok());
  dir.write("PRTDATA_IDX_TEST", hex("0C"));
  dir.write("PRTDATA_IDX_BARCODE_2D", hex("01 02 03 04 05 06"));
  dir.write("EMPTY", Bytes{});
  const platform::posix::PrinterDataFolder store(dir.path());

  std::array<std::uint8_t, 4> word{0xAA, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(store.read("PRTDATA_IDX_TEST", word), platform::kErrorSuccess);
  EXPECT_EQ(word,
            (std::array<std::uint8_t, 4>{0x0C, 0xAA, 0xAA, 0xAA}));  // shorter fills the start

  std::array<std::uint8_t, 5> twoD{};
  EXPECT_EQ(store.read("PRTDATA_IDX_BARCODE_2D", twoD), platform::kErrorMoreData);
  EXPECT_EQ(twoD, (std::array<std::uint8_t, 5>{}));  // unchanged
  std::array<std::uint8_t, 6> exact{};
  EXPECT_EQ(store.read("PRTDATA_IDX_BARCODE_2D", exact), platform::kErrorSuccess);
  EXPECT_EQ(exact, (std::array<std::uint8_t, 6>{1, 2, 3, 4, 5, 6}));

  EXPECT_EQ(store.read("EMPTY", word), platform::kErrorSuccess);
  EXPECT_EQ(store.read("MISSING", word), platform::kErrorFileNotFound);
  EXPECT_EQ(word, (std::array<std::uint8_t, 4>{0x0C, 0xAA, 0xAA, 0xAA}));
}

TEST(PrinterDataFolder, NamesThatAreNotPlainFilesAreNoValues) {
  posixtest::TempDir dir;
  ASSERT_TRUE(dir.ok());
  dir.makeDir("FOLDER");
  dir.write("FOLDER/INNER", hex("01"));
  const platform::posix::PrinterDataFolder store(dir.path());
  std::array<std::uint8_t, 4> dest{};
  for (const char* name : {"FOLDER", "FOLDER/INNER", ".", "..", ""}) {
    EXPECT_EQ(store.read(name, dest), platform::kErrorFileNotFound) << name;
  }
  EXPECT_EQ(store.read(std::string_view("FOLDER\0X", 8), dest), platform::kErrorFileNotFound);
  EXPECT_EQ(platform::posix::PrinterDataFolder().read("FOLDER", dest),
            platform::kErrorFileNotFound);
  EXPECT_EQ(dest, (std::array<std::uint8_t, 4>{}));
}

}  // namespace
