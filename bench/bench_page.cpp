// Page processing against the memory floors measured in the same run: a copy of the
// same bytes (memcpy) and one clear of the 5 MiB output buffer (memset).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fakes/Bytes.h"
#include "fakes/CountingPrinter.h"
#include "fakes/RasterRows.h"
#include "page/PageBuffer.h"
#include "page/PageProcessor.h"
#include "page/PrinterSettings.h"
#include "raster/CompressedRasterWriter.h"

namespace {

using fakes::Bytes;
using fakes::concat;
using fakes::hex;

using NullPrinter = fakes::CountingPrinter;
using NullDebug = fakes::NullDebugOutput;

Bytes text(const std::string& s) {
  return Bytes(s.begin(), s.end());
}

Bytes placeholder(std::uint8_t type, const Bytes& fields, const std::string& data) {
  return concat({hex("98 07 98 07 98 07 98 07 98 07 98 07 98 07"), Bytes{type}, fields, text(data),
                 hex("0A")});
}

/// A shop receipt of about 4 KB: header, item lines, totals, a CODE128, a QR code and a
/// PDF417 symbol, and the cut. Without its symbols, each placeholder is replaced by as
/// many plain bytes, so the page keeps its size and everything else.
Bytes textReceipt(bool withSymbols = true) {
  Bytes r =
      concat({hex("1B 40 1B 4D 00 1B 74 10 1B 61 01 1D 21 11"), text("CORNER SHOP\n"),
              hex("1D 21 00"), text("12 Harbour Road\nTel 0123 456789\n\n"), hex("1B 61 00")});
  for (int i = 1; i <= 120 && r.size() < 3700; ++i) {
    char line[64];
    std::snprintf(line, sizeof line, "%2d x Article number %04d      %3d.%02d\n", i % 4 + 1,
                  1000 + i * 7, i % 40, (i * 37) % 100);
    r = concat({r, text(line)});
  }
  r = concat(
      {r, hex("1B 45 01"), text("TOTAL                          412.30\n"), hex("1B 45 00")});
  const Bytes symbols[] = {placeholder(8, hex("1D 21 02 1B 4A 10"), "{B2024-0001-7781"),
                           placeholder(9, hex("0D"), "HTTPS://EXAMPLE.ORG/R/2024/0001/7781"),
                           placeholder(10, hex("0D"), "RECEIPT*2024*0001*7781*TOTAL*412.30")};
  for (const Bytes& symbol : symbols)
    r = concat({r, withSymbols ? symbol : Bytes(symbol.size(), '-')});
  return concat({r, text("\nThank you!\n\n\n"), hex("1D 56 42 00")});
}

constexpr int kPhotoWidth = 576;  // dots: rows of 72 bytes
constexpr int kPhotoRows = 2000;
constexpr std::int64_t kPhotoPageBytes = kPhotoRows * (8 + kPhotoWidth / 8 + 1);

/// A photo-like grey level from 0 (black) to 1 (white): soft shapes and fine texture.
double photoGrey(int x, int y) {
  return 0.5 + 0.3 * std::sin(x / 37.0) * std::cos(y / 53.0) + 0.15 * std::sin((x + 2 * y) / 91.0) +
         0.05 * std::sin(x * y / 17.0);
}

/// The photo as one-row rasters, each dot printed where `dark(x, y)` says.
template <typename Dark>
Bytes photoPage(Dark dark) {
  Bytes page;
  page.reserve(static_cast<std::size_t>(kPhotoPageBytes));
  for (int y = 0; y < kPhotoRows; ++y) {
    Bytes row(kPhotoWidth / 8);
    for (int x = 0; x < kPhotoWidth; ++x) {
      if (dark(x, y))
        row[static_cast<std::size_t>(x / 8)] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
    }
    const Bytes cmd = fakes::rasterRow(row);
    page.insert(page.end(), cmd.begin(), cmd.end());
  }
  return page;
}

/// Floyd-Steinberg error diffusion: image bytes look nearly random.
Bytes diffusedPhoto() {
  std::vector<double> error(2 * (kPhotoWidth + 2), 0.0);
  return photoPage([&](int x, int y) {
    double* here = error.data() + (y % 2) * (kPhotoWidth + 2) + 1;
    double* below = error.data() + ((y + 1) % 2) * (kPhotoWidth + 2) + 1;
    if (x == 0) std::fill(below - 1, below + kPhotoWidth + 1, 0.0);
    const double want = photoGrey(x, y) + here[x];
    const bool dark = want < 0.5;
    const double e = want - (dark ? 0.0 : 1.0);
    here[x + 1] += e * 7 / 16;
    below[x - 1] += e * 3 / 16;
    below[x] += e * 5 / 16;
    below[x + 1] += e * 1 / 16;
    return dark;
  });
}

/// Ordered (4x4 Bayer) dithering: image bytes take few, repeating values.
Bytes orderedPhoto() {
  static const int kBayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
  return photoPage([](int x, int y) { return photoGrey(x, y) * 16 < kBayer[y % 4][x % 4] + 0.5; });
}

/// One job with one page: the settings, the output buffer, the page as loaded.
struct PageRun {
  explicit PageRun(const Bytes& stream, std::uint32_t highSpeedMode = 0)
      : original(stream), buffer(page::PageBuffer::fromFileBytes(fakes::pageFile(stream))) {
    const stream::StreamView s = buffer.stream();
    loaded.assign(s.data, s.data + s.capacity);
    page::applyBarcodeDefaults(settings.barcodeTable);
    settings.twoDCode = {2, 0, 1, 1, 0};
    settings.bandRowLimit = 20;
    settings.highSpeedMode = highSpeedMode;
  }

  /// Processes the page as the runner does: the output buffer started afresh.
  void process() {
    output.reset();
    page::processPage(buffer, job);
  }
  /// Puts back the page as it was loaded at stream positions [from, to), with its zero
  /// margin, in one copy: the band merger rewrites the whole stream in place, the text
  /// route may rewrite it from its first placeholder or raster on.
  void restore(std::size_t from = 0, std::size_t to = SIZE_MAX) {
    buffer.setLength(static_cast<std::uint32_t>(original.size()));
    to = std::min(to, loaded.size());
    if (from < to) std::memcpy(buffer.stream().data + from, loaded.data() + from, to - from);
  }

  /// The end of the stretch of the buffer that processing the page once rewrites: the
  /// last position that differs afterwards from the page as loaded, plus one.
  std::size_t rewrittenTo() {
    restore();
    process();
    const stream::StreamView s = buffer.stream();
    std::size_t to = s.capacity;
    while (to > 0 && s.data[to - 1] == loaded[to - 1]) --to;
    restore();
    return to;
  }

  Bytes original;
  page::PageBuffer buffer;
  Bytes loaded;  // the stream and its margin as loaded
  page::PrinterSettings settings;
  page::OutputBuffer output = page::OutputBuffer::allocate();
  NullPrinter printer;
  NullDebug debug;
  page::PageJob job{u'P', 0, settings, output, 0, printer, debug};
};

/// The first stream position the text route may rewrite: its first placeholder marker
/// byte or raster header, whichever comes first.
std::size_t firstRewritten(const Bytes& stream) {
  const Bytes raster = hex("1D 76 30 00");
  const auto marker = std::find(stream.begin(), stream.end(), 0x98);
  const auto header = std::search(stream.begin(), stream.end(), raster.begin(), raster.end());
  return static_cast<std::size_t>(std::min(marker, header) - stream.begin());
}

/// A text page, processed again and again. Each round first puts back the part of the
/// stream that the route rewrote (for the receipt, 161 bytes of the stream and 88 bytes
/// of the margin its commands grew into; nothing for a page of plain text); that
/// copy is timed with the page.
void textPage(benchmark::State& state, const Bytes& stream) {
  PageRun run(stream);
  const std::size_t from = firstRewritten(stream);
  const std::size_t to = run.rewrittenTo();
  for (auto _ : state) {
    run.restore(from, to);
    run.process();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * run.original.size()));
  state.counters["page_bytes"] = static_cast<double>(run.original.size());
  state.counters["sent_bytes"] =
      static_cast<double>(run.printer.written) / static_cast<double>(state.iterations());
  state.counters["restored_bytes"] = static_cast<double>(to > from ? to - from : 0);
}

void BM_TextReceipt(benchmark::State& state) {
  textPage(state, textReceipt());
}
BENCHMARK(BM_TextReceipt);

void BM_TextReceiptWithoutSymbols(benchmark::State& state) {
  textPage(state, textReceipt(false));
}
BENCHMARK(BM_TextReceiptWithoutSymbols);

void BM_SmallTextPage(benchmark::State& state) {
  Bytes stream = concat({text("Table 7    2 x Coffee      5.80\nThank you, see you soon!\n"),
                         text("........................................\n")});
  stream.resize(96, ' ');
  textPage(state, concat({stream, hex("1D 56 42 00")}));
}
BENCHMARK(BM_SmallTextPage);

/// The monotonic clock in seconds, read without a system call (through the vDSO). The
/// thread's CPU time would keep out other work on a shared machine, but on a virtual
/// machine without PCID each read of it is a system call of 0.6 to 1.2 µs that empties
/// the TLB, so a batch of four pages would carry up to 0.3 µs a page of the clock's own
/// cost. The median of the repetitions keeps out the rounds that other work interrupts.
double monotonicSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

/// Image pages are timed four at a time, each in its own page buffer restored before
/// the batch and outside its timing (the band merger rewrites the page in place), so the
/// clock is read once per four pages (648 KB in all).
constexpr int kBatch = 4;

void imagePage(benchmark::State& state, const Bytes& photo, std::uint32_t highSpeedMode) {
  std::vector<std::unique_ptr<PageRun>> runs;
  for (int i = 0; i < kBatch; ++i) runs.push_back(std::make_unique<PageRun>(photo, highSpeedMode));
  for (auto _ : state) {
    for (auto& run : runs) run->restore();
    const double start = monotonicSeconds();
    for (auto& run : runs) run->process();
    state.SetIterationTime((monotonicSeconds() - start) / kBatch);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * photo.size()));
  state.counters["page_bytes"] = static_cast<double>(photo.size());
  state.counters["sent_bytes"] =
      static_cast<double>(runs[0]->printer.written) / static_cast<double>(state.iterations());
}
void BM_ImageBandMerger(benchmark::State& state) {
  imagePage(state, diffusedPhoto(), 0);
}
void BM_ImageBandMergerOrdered(benchmark::State& state) {
  imagePage(state, orderedPhoto(), 0);
}
/// highSpeedMode 1 on the diffused photo: its first row codes to less than two chunks,
/// so the compressed writer declines the page after that row and the band merger sends it.
void BM_ImageCompressedDeclined(benchmark::State& state) {
  imagePage(state, diffusedPhoto(), 1);
}
/// highSpeedMode 1 on a page the compressed writer takes: 2000 one-row rasters of 72
/// bytes of the error-diffused photo of tests/fakes/RasterRows.h (checked first).
void BM_ImageCompressed(benchmark::State& state) {
  Bytes page;
  for (const fakes::Row& row : fakes::errorDiffusedPhoto(kPhotoRows, kPhotoWidth / 8)) {
    const Bytes command = fakes::rasterRow(row);
    page.insert(page.end(), command.begin(), command.end());
  }
  PageRun probe(page, 1);
  if (!raster::writeCompressedPage(probe.buffer.stream(), 20, probe.printer, probe.debug)) {
    state.SkipWithError("the compressed writer declined the page");
    return;
  }
  imagePage(state, page, 1);
}
BENCHMARK(BM_ImageBandMerger)->UseManualTime();
BENCHMARK(BM_ImageBandMergerOrdered)->UseManualTime();
BENCHMARK(BM_ImageCompressedDeclined)->UseManualTime();
BENCHMARK(BM_ImageCompressed)->UseManualTime();

void BM_Memcpy(benchmark::State& state) {
  const std::vector<std::uint8_t> from(static_cast<std::size_t>(state.range(0)), 0x5A);
  std::vector<std::uint8_t> to(from.size());
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), from.size());
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * from.size()));
}
// As many bytes as the text receipt and as the photo page.
BENCHMARK(BM_Memcpy)->Arg(static_cast<std::int64_t>(textReceipt().size()))->Arg(kPhotoPageBytes);

void BM_Memset5MiB(benchmark::State& state) {
  page::OutputBuffer output = page::OutputBuffer::allocate();
  for (auto _ : state) {
    std::memset(output.data(), 0, page::OutputBuffer::kSize);
    benchmark::DoNotOptimize(output.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(
      static_cast<std::int64_t>(state.iterations() * page::OutputBuffer::kSize));
}
BENCHMARK(BM_Memset5MiB);

}  // namespace

BENCHMARK_MAIN();
