#include "page/PageBuffer.h"

#include <algorithm>
#include <cstring>

namespace page {

PageBuffer PageBuffer::adopt(base::HeapBlock block, std::size_t bytesRead) {
  PageBuffer buffer;
  if (!block.ok() || block.size() < kPageHeaderSize + kPageMargin / 2) return buffer;
  buffer.block_ = std::move(block);
  bytesRead =
      std::min(bytesRead, buffer.block_.size() - std::min(buffer.block_.size(), kPageMargin));
  const std::size_t held = bytesRead > kPageHeaderSize ? bytesRead - kPageHeaderSize : 0;
  if (buffer.length() > held) buffer.setLength(static_cast<std::uint32_t>(held));
  return buffer;
}

PageBuffer PageBuffer::fromFileBytes(std::span<const std::uint8_t> file) {
  base::HeapBlock block =
      base::HeapBlock::zeroed(std::max(file.size(), kPageHeaderSize) + kPageMargin);
  if (!block.ok()) return {};
  if (!file.empty()) std::memcpy(block.data(), file.data(), file.size());
  return adopt(std::move(block), file.size());
}

}  // namespace page
