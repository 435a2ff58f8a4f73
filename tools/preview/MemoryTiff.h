// A TIFF file kept in memory, reached through libtiff's client procedures: the preview's
// Group 3 decoder reads the relay's compressed rows through it, and the tests and
// benchmarks of the coder through the same.
#pragma once

#include <tiffio.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

namespace preview {

/// A TIFF file in memory. Rewriting a strip of the same size reuses its place, so the
/// file does not grow when one strip is written again and again.
struct MemoryTiff {
  std::vector<std::uint8_t> bytes;
  std::size_t pos = 0;

  static MemoryTiff& of(thandle_t h) { return *static_cast<MemoryTiff*>(h); }
  static tmsize_t read(thandle_t h, void* buf, tmsize_t size) {
    MemoryTiff& f = of(h);
    const std::size_t n =
        std::min(static_cast<std::size_t>(size), f.bytes.size() - std::min(f.pos, f.bytes.size()));
    if (n > 0) std::memcpy(buf, f.bytes.data() + f.pos, n);
    f.pos += n;
    return static_cast<tmsize_t>(n);
  }
  static tmsize_t write(thandle_t h, void* buf, tmsize_t size) {
    MemoryTiff& f = of(h);
    const auto n = static_cast<std::size_t>(size);
    if (f.bytes.size() < f.pos + n) f.bytes.resize(f.pos + n);
    std::memcpy(f.bytes.data() + f.pos, buf, n);
    f.pos += n;
    return size;
  }
  static toff_t seek(thandle_t h, toff_t off, int whence) {
    MemoryTiff& f = of(h);
    if (whence == SEEK_SET) f.pos = static_cast<std::size_t>(off);
    if (whence == SEEK_CUR) f.pos += static_cast<std::size_t>(off);
    if (whence == SEEK_END) f.pos = f.bytes.size() + static_cast<std::size_t>(off);
    return f.pos;
  }
  static int close(thandle_t) { return 0; }
  static toff_t size(thandle_t h) { return of(h).bytes.size(); }
  static int map(thandle_t, void**, toff_t*) { return 0; }
  static void unmap(thandle_t, void*, toff_t) {}

  /// Opens the file from its start with libtiff's own error and warning handlers.
  TIFF* open(const char* mode) {
    pos = 0;
    return TIFFClientOpen("memory", mode, this, read, write, seek, close, size, map, unmap);
  }
};

}  // namespace preview
