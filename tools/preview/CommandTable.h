// The ESC/POS commands of fixed length that the preview steps over without drawing them,
// and the character tables it maps printable bytes with.
#pragma once

#include <cstdint>
#include <optional>

namespace preview {

/// A fixed-length command the preview knows but does not draw.
struct KnownCommand {
  std::uint8_t prefix;  ///< 0x10 DLE, 0x1B ESC, 0x1C FS or 0x1D GS
  std::uint8_t code;    ///< the byte after the prefix
  std::uint8_t length;  ///< bytes in all, prefix included
  bool changesPrint;    ///< true: it would change what is printed, so skipping it is noted
  const char* name;
};

/// The table entry for prefix and code, if the command is in the table.
std::optional<KnownCommand> findKnownCommand(std::uint8_t prefix, std::uint8_t code);

/// The Unicode character a printable byte (0x20 to 0xFF, not 0x7F) stands for in the
/// character code table selected with ESC t n: 16 is WPC1252, every other table is drawn
/// as PC437.
char32_t mapCodeTable(std::uint8_t codeTable, std::uint8_t byte);

/// True when mapCodeTable draws the table as it is (0 PC437, 16 WPC1252).
bool isCodeTableDrawn(std::uint8_t codeTable);

}  // namespace preview
