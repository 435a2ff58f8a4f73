// Collects the debug lines so tests can assert on them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/DebugOutput.h"

namespace fakes {

class FakeDebugOutput : public platform::DebugOutput {
 public:
  void write(std::string_view line) override { lines.emplace_back(line); }
  std::vector<std::string> lines;
};

}  // namespace fakes
