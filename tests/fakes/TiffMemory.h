// Test and benchmark helper: the one-strip Group 3 1D image the MH tests and benchmark
// write into a TIFF file kept in memory.
#pragma once

#if SPR_HAVE_LIBTIFF

#include <tiffio.h>

#include <cstdint>

#include "preview/MemoryTiff.h"

namespace fakes {

/// Opens `file` for writing a one-strip image of `lines` one-dimensional T.4 lines of
/// `width` pixels (Compression 3, T4Options 0, FillOrder 1, min-is-white).
inline TIFF* openG3(preview::MemoryTiff& file, std::uint32_t width, std::uint32_t lines) {
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
