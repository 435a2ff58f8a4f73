// Command lengths from the ESC/POS command reference; character tables PC437 and WPC1252.
#include "CommandTable.h"

#include <array>

namespace preview {
namespace {

constexpr std::uint8_t kDle = 0x10;
constexpr std::uint8_t kEsc = 0x1B;
constexpr std::uint8_t kFs = 0x1C;
constexpr std::uint8_t kGs = 0x1D;

// Commands the stream parser handles itself (ESC @, ESC M, ESC t, ESC J, ESC d, ESC 2,
// ESC 3, ESC !, ESC i, ESC m, GS !, GS h, GS w, GS f, GS H, GS k, GS V, GS v, GS ( and the
// like) are not listed here.
constexpr KnownCommand kKnownCommands[] = {
    {kDle, 0x04, 3, false, "real-time status"},
    {kDle, 0x05, 3, false, "real-time request"},
    {kEsc, 0x0C, 2, false, "print data in page mode"},
    {kEsc, 0x20, 3, true, "character spacing"},
    {kEsc, 0x24, 4, true, "absolute position"},
    {kEsc, 0x25, 3, false, "user-defined characters on/off"},
    {kEsc, 0x2D, 3, true, "underline"},
    {kEsc, 0x3C, 2, false, "return home"},
    {kEsc, 0x3D, 3, false, "select peripheral"},
    {kEsc, 0x3F, 3, false, "cancel user-defined character"},
    {kEsc, 0x45, 3, true, "emphasis"},
    {kEsc, 0x47, 3, true, "double strike"},
    {kEsc, 0x4B, 3, true, "reverse feed"},
    {kEsc, 0x4C, 2, true, "page mode"},
    {kEsc, 0x52, 3, false, "international character set"},
    {kEsc, 0x53, 2, false, "standard mode"},
    {kEsc, 0x54, 3, true, "page mode direction"},
    {kEsc, 0x56, 3, true, "90-degree rotation"},
    {kEsc, 0x57, 10, true, "page mode print area"},
    {kEsc, 0x5C, 4, true, "relative position"},
    {kEsc, 0x61, 3, true, "justification"},
    {kEsc, 0x65, 3, true, "reverse feed lines"},
    {kEsc, 0x70, 5, false, "drawer pulse"},
    {kEsc, 0x72, 3, true, "print colour"},
    {kEsc, 0x75, 3, false, "peripheral status"},
    {kEsc, 0x76, 2, false, "paper status"},
    {kEsc, 0x7B, 3, true, "upside-down printing"},
    {kFs, 0x21, 3, true, "kanji print mode"},
    {kFs, 0x26, 2, false, "kanji mode on"},
    {kFs, 0x2D, 3, true, "kanji underline"},
    {kFs, 0x2E, 2, false, "kanji mode off"},
    {kFs, 0x43, 3, false, "kanji code system"},
    {kFs, 0x53, 4, true, "kanji spacing"},
    {kFs, 0x57, 3, true, "kanji quadruple size"},
    {kFs, 0x70, 4, true, "print NV bit image"},
    {kGs, 0x24, 4, true, "absolute vertical position"},
    {kGs, 0x2F, 3, true, "print downloaded bit image"},
    {kGs, 0x3A, 2, false, "macro definition"},
    {kGs, 0x42, 3, true, "reverse printing"},
    {kGs, 0x49, 3, false, "printer ID"},
    {kGs, 0x4C, 4, true, "left margin"},
    {kGs, 0x50, 4, false, "motion units"},
    {kGs, 0x54, 3, true, "print position to line start"},
    {kGs, 0x57, 4, true, "print area width"},
    {kGs, 0x5C, 4, true, "relative vertical position"},
    {kGs, 0x5E, 5, false, "execute macro"},
    {kGs, 0x61, 3, false, "automatic status back"},
    {kGs, 0x62, 3, false, "smoothing"},
    {kGs, 0x72, 3, false, "transmit status"},
    {kGs, 0x7C, 3, true, "print density"},
};

// PC437, bytes 0x80 to 0xFF.
constexpr std::array<char16_t, 128> kPc437 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF,
    0x00EE, 0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA,
    0x00F1, 0x00D1, 0x00AA, 0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557,
    0x255D, 0x255C, 0x255B, 0x2510, 0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559,
    0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4, 0x03A6, 0x0398, 0x03A9, 0x03B4,
    0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0};

// WPC1252, bytes 0x80 to 0x9F; from 0xA0 on it is Latin-1. Unassigned bytes are U+FFFD.
constexpr std::array<char16_t, 32> kWpc1252 = {
    0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

constexpr std::uint8_t kWpc1252Table = 16;

}  // namespace

std::optional<KnownCommand> findKnownCommand(std::uint8_t prefix, std::uint8_t code) {
  for (const KnownCommand& command : kKnownCommands) {
    if (command.prefix == prefix && command.code == code) return command;
  }
  return std::nullopt;
}

char32_t mapCodeTable(std::uint8_t codeTable, std::uint8_t byte) {
  if (byte < 0x80) return byte;
  if (codeTable != kWpc1252Table) return kPc437[byte - 0x80u];
  if (byte < 0xA0) return kWpc1252[byte - 0x80u];
  return byte;
}

bool isCodeTableDrawn(std::uint8_t codeTable) {
  return codeTable == 0 || codeTable == kWpc1252Table;
}

}  // namespace preview
