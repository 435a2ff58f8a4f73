// Test and benchmark helper: a TIFF file kept in memory, reached through libtiff's client
// procedures, and the one-strip Group 3 1D image the MH tests and benchmark write.
#pragma once

#if SPR_HAVE_LIBTIFF

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace fakes {

/// A TIFF file in memory. Rewriting a strip of the same size reuses its place, so the
/// file does not grow when one strip is written again and again.
struct MemoryFile {
  std::vector<std::uint8_t> bytes;
  std::size_t pos = 0;

  static MemoryFile& of(thandle_t h) { return *static_cast<MemoryFile*>(h); }
  static tmsize_t read(thandle_t h, void* buf, tmsize_t size) {
    MemoryFile& f = of(h);
    const std::size_t n =
        std::min(static_cast<std::size_t>(size), f.bytes.size() - std::min(f.pos, f.bytes.size()));
    if (n) std::memcpy(buf, f.bytes.data() + f.pos, n);
    f.pos += n;
    return static_cast<tmsize_t>(n);
  }
  static tmsize_t write(thandle_t h, void* buf, tmsize_t size) {
    MemoryFile& f = of(h);
    const auto n = static_cast<std::size_t>(size);
    if (f.bytes.size() < f.pos + n) f.bytes.resize(f.pos + n);
    std::memcpy(f.bytes.data() + f.pos, buf, n);
    f.pos += n;
    return size;
  }
  static toff_t seek(thandle_t h, toff_t off, int whence) {
    MemoryFile& f = of(h);
    if (whence == SEEK_SET) f.pos = static_cast<std::size_t>(off);
    if (whence == SEEK_CUR) f.pos += static_cast<std::size_t>(off);
    if (whence == SEEK_END) f.pos = f.bytes.size() + static_cast<std::size_t>(off);
    return f.pos;
  }
  static int close(thandle_t) { return 0; }
  static toff_t size(thandle_t h) { return of(h).bytes.size(); }
  static int map(thandle_t, void**, toff_t*) { return 0; }
  static void unmap(thandle_t, void*, toff_t) {}

  TIFF* open(const char* mode) {
    pos = 0;
    return TIFFClientOpen("memory", mode, this, read, write, seek, close, size, map, unmap);
  }
};

/// Opens `file` for writing a one-strip image of `lines` one-dimensional T.4 lines of
/// `width` pixels (Compression 3, T4Options 0, FillOrder 1, min-is-white).
inline TIFF* openG3(MemoryFile& file, std::uint32_t width, std::uint32_t lines) {
  TIFF* tif = file.open("w");
  if (!tif) return nullptr;
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, lines);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 1);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_CCITTFAX3);
  TIFFSetField(tif, TIFFTAG_GROUP3OPTIONS, 0);
  TIFFSetField(tif, TIFFTAG_FILLORDER, FILLORDER_MSB2LSB);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISWHITE);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, lines);
  return tif;
}

}  // namespace fakes

#endif  // SPR_HAVE_LIBTIFF
