#include "WatchFormat.h"

#include <chrono>
#include <cstdio>

namespace relaytool {

std::string clockText(const std::tm& local, std::uint32_t milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03u", local.tm_hour, local.tm_min, local.tm_sec,
                milliseconds % 1000);
  return text;
}

std::string watchLine(std::string_view time, std::string_view source, std::string_view line) {
  std::string out(time);
  if (!source.empty()) out.append(" [").append(source).append("]");
  out.append(" ").append(line);
  if (line.empty() || line.back() != '\n') out += '\n';
  return out;
}

std::string localClockNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch());
  std::tm local{};
#ifdef _WIN32
  (void)localtime_s(&local, &seconds);
#else
  (void)localtime_r(&seconds, &local);
#endif
  return clockText(local, static_cast<std::uint32_t>(ms.count() % 1000));
}

}  // namespace relaytool
