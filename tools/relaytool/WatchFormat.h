// How relaytool watch shows one debug line: local time, then where it came from, then
// the line as the relay sent it, ending in one newline.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

namespace relaytool {

/// "HH:MM:SS.mmm" of a local time and its milliseconds.
std::string clockText(const std::tm& local, std::uint32_t milliseconds);

/// "<time> [<source>] <line>" with the line's own newline, or one added.
std::string watchLine(std::string_view time, std::string_view source, std::string_view line);

/// The local time now, as clockText() shows it.
std::string localClockNow();

}  // namespace relaytool
