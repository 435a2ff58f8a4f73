// Standard base64 (RFC 4648 section 4: the "+/" alphabet, "=" padding), the form in which
// the CUPS spooler keeps printer-data values.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace posix {

/// Encodes `bytes` with padding and no line breaks.
std::string base64Encode(std::span<const std::uint8_t> bytes);

/// Decodes `text` into `out`. Only the canonical form is accepted: a length that is a
/// multiple of 4, alphabet characters only, "=" only as the last one or two characters,
/// and zero pad bits (RFC 4648 section 3.5). Anything else, line breaks and blanks
/// included, fails and leaves `out` unchanged.
[[nodiscard]] bool base64Decode(std::string_view text, std::vector<std::uint8_t>& out);

}  // namespace posix
