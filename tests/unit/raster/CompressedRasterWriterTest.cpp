#include "raster/CompressedRasterWriter.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "fakes/Bytes.h"
#include "fakes/FakeDebugOutput.h"
#include "fakes/FakeSpooler.h"
#include "fakes/RasterRows.h"
#include "page/PageBuffer.h"
#include "raster/CompressedStreamBuilder.h"
#include "unit/mh/SimpleLineCoder.h"

namespace {

using fakes::Bytes;
using fakes::concat;
using fakes::hex;
using fakes::rasterRow;

const Bytes kStart = hex("01 39 36 02 AA");
const Bytes kEnd = hex("01 39 36 02 CC");

struct Sent {
  bool taken = false;
  Bytes bytes;  // what reached the spooler page
  int writes = 0;
  std::vector<std::string> debug;
};

/// Runs the writer on `view`, with `allocate` for its buffers.
Sent sendView(stream::StreamView view, std::uint32_t limit,
              raster::BlockSource allocate = &base::HeapBlock::zeroed) {
  fakes::FakeSpooler spooler;
  auto& state = spooler.addPrinter(u"P");
  auto printer = spooler.open(u"P");
  EXPECT_TRUE(printer->startDoc({u"d", std::nullopt, u"RAW"}) && printer->startPage());
  const Bytes before(view.data, view.data + view.capacity);
  fakes::FakeDebugOutput debug;
  Sent sent;
  sent.taken = raster::writeCompressedPageWith(view, limit, *printer, debug, allocate, allocate);
  EXPECT_EQ(Bytes(view.data, view.data + view.capacity), before) << "the stream was changed";
  sent.bytes = state.documents[0].bytes();
  sent.writes = static_cast<int>(state.documents[0].writes.size());
  sent.debug = debug.lines;
  return sent;
}

/// Runs the writer on `stream` loaded as a page file, behind which lies the zero margin.
Sent send(const Bytes& stream, std::uint32_t limit,
          raster::BlockSource allocate = &base::HeapBlock::zeroed) {
  page::PageBuffer buffer = page::PageBuffer::fromFileBytes(fakes::pageFile(stream));
  return sendView(buffer.stream(), limit, allocate);
}

Bytes framed(std::initializer_list<Bytes> parts) {
  Bytes all = kStart;
  for (const Bytes& p : parts) all.insert(all.end(), p.begin(), p.end());
  all.insert(all.end(), kEnd.begin(), kEnd.end());
  return all;
}

void expectDeclined(const Sent& sent) {
  EXPECT_FALSE(sent.taken);
  EXPECT_EQ(sent.writes, 0);
  EXPECT_TRUE(sent.bytes.empty());
}

TEST(CompressedRasterWriter, WorkedExamples) {
  const Sent one = send(hex("1D 76 30 00 02 00 01 00 0F F0 0D"), 20);
  EXPECT_TRUE(one.taken);
  EXPECT_EQ(one.writes, 1);
  EXPECT_EQ(one.bytes, hex("01 39 36 02 AA 1D 76 30 00 02 00 02 00 B1 5A 0D 40"
                           "1D 76 30 00 01 00 01 00 04 01 39 36 02 CC"));
  EXPECT_EQ(one.bytes.size(), 31u);

  const Bytes row = hex("0F F0");
  const Sent two = send(concat({rasterRow(row), rasterRow(row)}), 3);
  EXPECT_TRUE(two.taken);
  EXPECT_EQ(two.bytes,
            framed({hex("1D 76 30 00 02 00 03 00 B1 5A 0D 40 06 C5"),
                    hex("1D 76 30 00 02 00 01 00 68 35"), hex("1D 76 30 00 02 00 01 00 00 10")}));
}

TEST(CompressedRasterWriter, StreamsWithoutRowsAreFramedUnchanged) {
  const Sent empty = send(Bytes{}, 20);
  EXPECT_TRUE(empty.taken);
  EXPECT_EQ(empty.writes, 1);
  EXPECT_EQ(empty.bytes, hex("01 39 36 02 AA 01 39 36 02 CC"));

  const Bytes text = hex("1B 40 41 42 0A 1D 21 11 43 1D 76 30 1B 4A 10 1D 56 42 00");
  const Sent plain = send(text, 20);
  EXPECT_TRUE(plain.taken);
  EXPECT_EQ(plain.writes, 1);
  EXPECT_EQ(plain.bytes, framed({text}));
}

TEST(CompressedRasterWriter, DeclinesWhenARowLeavesFewerThanTwoChunks) {
  // A white 72-byte row codes to 26 bits: no whole chunk at all.
  expectDeclined(send(rasterRow(Bytes(72, 0x00)), 20));
  // The same after rows that were taken: nothing of the page is written.
  const Bytes good = rasterRow(hex("0F F0"));
  expectDeclined(send(concat({good, good, good, rasterRow(Bytes(72, 0x00))}), 20));
  // 72 black bytes code to 49 bits, six whole bytes: not even one chunk of 72.
  expectDeclined(send(concat({good, rasterRow(Bytes(72, 0xFF))}), 20));
}

TEST(CompressedRasterWriter, DeclinesRowsThatCannotBeCoded) {
  // A row of width 0 (no chunk size), also when the margin completes a cut header.
  expectDeclined(send(hex("1D 76 30 00 00 00 01 00 0D"), 20));
  expectDeclined(send(concat({rasterRow(hex("0F F0")), hex("1D 76 30")}), 20));

  // A row whose bytes run past the page buffer (here the stream, with no margin) is
  // never read.
  Bytes bare = hex("1D 76 30 00 40 00 01 00 0F F0");
  expectDeclined(sendView({bare.data(), 10, bare.size()}, 20));
}

TEST(CompressedRasterWriter, RowsReachingIntoTheMarginReadItsZeros) {
  // The stream ends after the row's first byte; the second comes from the zero margin:
  // FF 00 is white 0, black 8, white 580, EOL.
  const Sent sent = send(hex("1D 76 30 00 02 00 01 00 FF"), 20);
  EXPECT_TRUE(sent.taken);
  EXPECT_EQ(sent.bytes, framed({hex("1D 76 30 00 02 00 02 00 35 15 A2 C0"),
                                hex("1D 76 30 00 01 00 01 00 04")}));

  // With no margin at all, the separator test after the last row finds no 0D.
  Bytes bare = hex("1D 76 30 00 02 00 01 00 0F F0");
  EXPECT_EQ(
      sendView({bare.data(), 10, bare.size()}, 20).bytes,
      framed({hex("1D 76 30 00 02 00 02 00 B1 5A 0D 40"), hex("1D 76 30 00 01 00 01 00 04")}));
}

TEST(CompressedRasterWriter, OneByteRowsCutIntoOneByteChunks) {
  // A white row of one byte: 26 bits, three chunks, two bits left for the next row.
  const Bytes white = rasterRow(hex("00"));
  const Sent sent = send(concat({white, white}), 20);
  EXPECT_TRUE(sent.taken);
  EXPECT_EQ(sent.bytes, framed({hex("1D 76 30 00 01 00 06 00 68 20 00 5A 08 00"),
                                hex("1D 76 30 00 01 00 01 00 10")}));
}

TEST(CompressedRasterWriter, CopiedBytesFlushAndCloseTheBand) {
  // A separator other than 0D is copied after the waiting bits are flushed.
  const Bytes row = hex("0F F0");
  const Bytes band = hex("1D 76 30 00 02 00 02 00 B1 5A 0D 40");
  const Bytes flush = hex("1D 76 30 00 01 00 01 00 04");
  EXPECT_EQ(send(concat({rasterRow(row, 0x0A), rasterRow(row)}), 20).bytes,
            framed({band, flush, hex("0A"), band, flush}));

  // Row 10 codes to exactly 32 bits: its four chunks leave nothing waiting, yet the
  // copied byte still closes the band.
  const Bytes exact = rasterRow(hex("10"), 0x0A);
  const Bytes band4 = hex("1D 76 30 00 01 00 04 00 84 D1 30 01");
  EXPECT_EQ(send(concat({exact, exact}), 20).bytes, framed({band4, hex("0A"), band4, hex("0A")}));
}

TEST(CompressedRasterWriter, BandsCloseAtTheRowLimit) {
  const Bytes row = rasterRow(hex("0F F0"));
  const Bytes oneEach =
      framed({hex("1D 76 30 00 02 00 01 00 B1 5A"), hex("1D 76 30 00 02 00 01 00 0D 40"),
              hex("1D 76 30 00 01 00 01 00 04")});
  EXPECT_EQ(send(row, 1).bytes, oneEach);
  // A limit of 0 is reached by every count, like 1.
  EXPECT_EQ(send(row, 0).bytes, oneEach);
}

TEST(CompressedRasterWriter, ARowOfAnotherWidthJoinsTheOpenBand) {
  // The one-byte row's chunks are one byte each, counted in the band opened by the
  // two-byte row, whose xL stays 02.
  const Sent sent = send(concat({rasterRow(hex("0F F0")), rasterRow(hex("10"))}), 20);
  EXPECT_EQ(sent.bytes, framed({hex("1D 76 30 00 02 00 06 00 B1 5A 0D 40 06 13 44 C0"),
                                hex("1D 76 30 00 01 00 01 00 04")}));
}

TEST(CompressedRasterWriter, BandCountStopsAtItsSixteenBitMaximum) {
  // 16384 rows of 32 bits make 65536 one-byte chunks; a limit above 65535 still closes
  // the band at 65535.
  const Bytes row = rasterRow(hex("10"));
  Bytes stream;
  for (int i = 0; i < 16384; ++i) stream.insert(stream.end(), row.begin(), row.end());
  const Sent sent = send(stream, 100000);
  ASSERT_TRUE(sent.taken);
  ASSERT_EQ(sent.bytes.size(), 5u + 8 + 65535 + 8 + 1 + 5);
  EXPECT_EQ(Bytes(sent.bytes.begin() + 5, sent.bytes.begin() + 13), hex("1D 76 30 00 01 00 FF FF"));
  EXPECT_EQ(Bytes(sent.bytes.begin() + 13 + 65535, sent.bytes.end()),
            hex("1D 76 30 00 01 00 01 00 01 01 39 36 02 CC"));
}

// Allocation seams: a block source that records what was asked and fails one size.
std::vector<std::size_t> asked;
std::size_t failing = 0;
base::HeapBlock recordingSource(std::size_t size) {
  asked.push_back(size);
  return size == failing ? base::HeapBlock{} : base::HeapBlock::zeroed(size);
}

TEST(CompressedRasterWriter, BuffersThatCannotBeHadDeclineThePage) {
  const Bytes stream = rasterRow(hex("0F F0"));
  asked.clear();
  failing = raster::kCodingBufferSize;
  Sent sent = send(stream, 20, &recordingSource);
  expectDeclined(sent);
  EXPECT_EQ(sent.debug, std::vector<std::string>{"HuffmanEncodingBuffer malloc Error \n"});
  EXPECT_EQ(asked, std::vector<std::size_t>{38480});

  asked.clear();
  failing = raster::kCompressedOutputSize;
  sent = send(stream, 20, &recordingSource);
  expectDeclined(sent);
  EXPECT_TRUE(sent.debug.empty());
  EXPECT_EQ(asked, (std::vector<std::size_t>{38480, 5242880}));

  failing = 0;
  EXPECT_TRUE(send(stream, 20, &recordingSource).taken);
}

TEST(CompressedRasterWriter, OutputPastFiveMiBIsDeclined) {
  // Copied bytes plus the two 5-byte frames fill the 5 MiB output exactly, or by one more.
  const std::size_t fits = 5242880 - 10;
  const Sent full = send(Bytes(fits, 'A'), 20);
  EXPECT_TRUE(full.taken);
  EXPECT_EQ(full.bytes.size(), 5242880u);
  expectDeclined(send(Bytes(fits + 1, 'A'), 20));

  // The same rule on a small output: the 31-byte worked example needs all of 31 bytes.
  Bytes page = hex("1D 76 30 00 02 00 01 00 0F F0 0D");
  page.resize(page.size() + 256, 0);
  const stream::StreamView view{page.data(), 11, page.size()};
  Bytes coding(raster::kCodingBufferSize, 0);
  Bytes output(31, 0);
  EXPECT_EQ(raster::buildCompressedStream(view, 20, coding, output),
            std::optional<std::size_t>(31));
  std::fill(coding.begin(), coding.end(), 0);
  EXPECT_EQ(raster::buildCompressedStream(view, 20, coding, std::span(output).first(30)),
            std::nullopt);
  EXPECT_EQ(raster::buildCompressedStream(
                view, 20, std::span(coding).first(raster::kMinCodingBufferSize - 1), output),
            std::nullopt);
}

/// The writer as the coding rules are written, for comparison: the coding buffer is moved
/// down by each chunk taken and zeroed whole at a flush, rows are coded by the simple
/// per-pixel coder. The stream is followed by a zero margin, as in a page buffer.
std::optional<Bytes> referencePage(const Bytes& stream, std::uint32_t limit) {
  Bytes page = stream;
  page.resize(stream.size() + 256 + 256 + 8, 0);
  Bytes coding(raster::kCodingBufferSize, 0);
  std::uint32_t bits = 0;
  Bytes out = kStart;
  constexpr std::size_t kNoBand = ~std::size_t{0};
  std::size_t band = kNoBand;  // where the open band's header is
  auto header = [&](std::size_t w, std::size_t rows) {
    const Bytes h{
        0x1D, 0x76, 0x30, 0x00, static_cast<std::uint8_t>(w), 0, static_cast<std::uint8_t>(rows),
        0};
    out.insert(out.end(), h.begin(), h.end());
  };
  auto flush = [&] {
    if (bits == 0) return;
    const std::uint32_t n = (bits + 7) / 8;
    header(n, 1);
    out.insert(out.end(), coding.begin(), coding.begin() + n);
    std::fill(coding.begin(), coding.end(), 0);
    bits = 0;
  };
  for (std::size_t p = 0; p < stream.size();) {
    if (page[p] != 0x1D || page[p + 1] != 0x76 || page[p + 2] != 0x30 || page[p + 3] != 0x00) {
      flush();
      band = kNoBand;
      out.push_back(page[p++]);
      continue;
    }
    const std::uint32_t w = page[p + 4];
    if (w == 0) return std::nullopt;
    const Bytes row(page.begin() + static_cast<std::ptrdiff_t>(p + 8),
                    page.begin() + static_cast<std::ptrdiff_t>(p + 8 + w));
    bits = simple::codeLine(row, coding, bits);
    const std::uint32_t chunks = bits / 8 / w;
    if (chunks < 2) return std::nullopt;
    for (std::uint32_t c = 0; c < chunks; ++c) {
      if (band == kNoBand) {
        band = out.size();
        header(w, 0);
      }
      out.insert(out.end(), coding.begin(), coding.begin() + w);
      coding.erase(coding.begin(), coding.begin() + w);
      coding.resize(raster::kCodingBufferSize, 0);
      bits -= 8 * w;
      const std::size_t at = band + 6;
      const unsigned count = (out[at] | unsigned{out[at + 1]} << 8) + 1u;
      out[at] = static_cast<std::uint8_t>(count);
      out[at + 1] = static_cast<std::uint8_t>(count >> 8);
      if (count >= limit) band = kNoBand;
    }
    p += 8 + w;
    if (page[p] == 0x0D) ++p;
  }
  flush();
  out.insert(out.end(), kEnd.begin(), kEnd.end());
  return out;
}

/// A random page of rows of one width, with separators that are mostly 0D and now and
/// then plain commands between rows. Most pages hold busy rows only, which code long
/// enough to be taken; the rest mix in text and white rows, which often decline.
Bytes randomPage(fakes::RowMaker& maker) {
  Bytes stream;
  const bool mixed = maker.below(4) == 0;
  const std::size_t width = 1 + maker.below(maker.below(5) == 0 ? 160 : 70);
  for (std::uint32_t rows = 1 + maker.below(60); rows > 0; --rows) {
    const std::uint32_t kind = mixed ? maker.below(100) : 0;
    const fakes::Row row = kind < 80   ? maker.busy(width)
                           : kind < 95 ? maker.text(width)
                                       : maker.blank(width);
    const Bytes command = rasterRow(row, maker.below(10) == 0 ? 0x0A : 0x0D);
    stream.insert(stream.end(), command.begin(), command.end());
    if (maker.below(12) == 0) {
      const Bytes plain = maker.below(2) ? hex("1B 4A 18") : hex("1D 21 00 41 42");
      stream.insert(stream.end(), plain.begin(), plain.end());
    }
  }
  return stream;
}

TEST(CompressedRasterWriter, RandomPagesMatchTheWriterAsTheRulesAreWritten) {
  fakes::RowMaker maker(4242);
  // One coding buffer of the least size serves every page without being zeroed between
  // them: it moves its waiting bits to the front again and again, and each page must
  // leave it all zero.
  Bytes coding(raster::kMinCodingBufferSize, 0);
  Bytes output(raster::kCompressedOutputSize);
  int taken = 0;
  int declined = 0;
  for (int i = 0; i < 400; ++i) {
    const Bytes stream = randomPage(maker);
    const std::uint32_t limit =
        std::vector<std::uint32_t>{0, 1, 2, 3, 20, 255, 70000}[maker.below(7)];
    const std::optional<Bytes> expected = referencePage(stream, limit);
    const Sent sent = send(stream, limit);
    ASSERT_EQ(sent.taken, expected.has_value()) << "page " << i;
    if (expected) {
      ASSERT_EQ(sent.bytes, *expected) << "page " << i;
    }
    ++(expected ? taken : declined);

    Bytes page = stream;
    page.resize(stream.size() + 256, 0);
    const stream::StreamView view{page.data(), static_cast<std::uint32_t>(stream.size()),
                                  page.size()};
    const auto size = raster::buildCompressedStream(view, limit, coding, output);
    ASSERT_EQ(size.has_value(), expected.has_value()) << "page " << i;
    if (size) {
      ASSERT_EQ(*size, expected->size());
      ASSERT_TRUE(std::equal(expected->begin(), expected->end(), output.begin())) << "page " << i;
    }
    ASSERT_EQ(std::count(coding.begin(), coding.end(), 0),
              static_cast<std::ptrdiff_t>(coding.size()));
  }
  // Both outcomes are exercised in earnest.
  EXPECT_GT(taken, 200);
  EXPECT_GT(declined, 20);
}

}  // namespace
