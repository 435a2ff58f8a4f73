// Fuzzes relaytool preview on whatever it is given: a printer byte stream or a page file,
// through the parser, the symbol writers and the renderer, with a few paper margins.
#include <cstddef>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "Preview.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzz::InputReader in(data, size);
  const std::uint8_t flags = in.byte();
  preview::PreviewOptions options;
  options.pageFile = (flags & 1) != 0;
  options.margin = (flags >> 1) & 7;
  preview::PreviewResult result;
  std::string error;
  (void)preview::renderPreview(in.rest(), options, result, error);
  return 0;
}
