// The random pages of the soak tests.
#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "e2e/ProcessSupport.h"

namespace soak {

/// A random page: text with placeholders and cuts, or one-row rasters.
inline e2e::Bytes randomStream(std::mt19937& rng) {
  e2e::Bytes s;
  const int kind = static_cast<int>(rng() % 3);
  if (kind == 0) {
    const std::string text =
        "ITEM " + std::to_string(rng() % 1000) + "   " + std::to_string(rng() % 100) + ".00\n";
    s.assign(text.begin(), text.end());
    for (int i = 0; i < 7; ++i) s.insert(s.end(), {0x98, 0x07});
    s.push_back(static_cast<std::uint8_t>(rng() % 11));
    s.insert(s.end(), {0x1D, 0x21, static_cast<std::uint8_t>(rng() % 5)});
    const std::string data = "CODE-" + std::to_string(rng() % 100000);
    s.insert(s.end(), data.begin(), data.end());
    s.insert(s.end(), {0x0D, 0x0A, 0x1D, 0x56, 0x42, 0x00});
  } else {
    const auto width = static_cast<std::uint8_t>(kind == 1 ? 8 + rng() % 16 : 48 + rng() % 24);
    const int rows = 10 + static_cast<int>(rng() % 60);
    for (int y = 0; y < rows; ++y) {
      s.insert(s.end(), {0x1D, 0x76, 0x30, 0x00, width, 0x00, 0x01, 0x00});
      for (int x = 0; x < width; ++x) s.push_back(static_cast<std::uint8_t>(rng()));
      s.push_back(0x0D);
    }
  }
  return s;
}

}  // namespace soak
