// A fresh folder under $TMPDIR (or /tmp) for one test, removed with everything in it: the
// one temporary-folder helper of the POSIX tests, the end-to-end tests, the soak and the
// benchmarks.
#pragma once

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

namespace posixtest {

class TempDir {
 public:
  TempDir() {
    const char* base = ::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/spoolrelayer-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ec;
    if (!path_.empty()) std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  /// False when the folder could not be made; path() is then empty.
  bool ok() const { return !path_.empty(); }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& relative) const { return path_ + "/" + relative; }

  void makeDir(const std::string& relative) const {
    std::error_code ec;
    std::filesystem::create_directories(*this / relative, ec);
  }
  /// Writes the file `relative` and returns its path.
  std::string write(const std::string& relative, const std::string& content) const {
    std::ofstream(*this / relative, std::ios::binary) << content;
    return *this / relative;
  }
  std::string write(const std::string& relative, const std::vector<std::uint8_t>& bytes) const {
    return write(relative, std::string(bytes.begin(), bytes.end()));
  }
  std::string read(const std::string& relative) const {
    std::ifstream in(*this / relative, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  bool exists(const std::string& relative) const {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(*this / relative, ec));
  }
  /// The names in a folder, sorted; empty when it is missing.
  std::vector<std::string> list(const std::string& relative) const {
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(*this / relative, ec), end; !ec && it != end;
         it.increment(ec)) {
      names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }

 private:
  std::string path_;
};

inline std::vector<std::uint8_t> bytesOf(const std::string& text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

}  // namespace posixtest
