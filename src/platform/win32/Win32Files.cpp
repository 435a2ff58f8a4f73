#include "platform/win32/Win32Files.h"

#include <shlobj.h>

#include <algorithm>

#include "platform/win32/Win32Handle.h"

namespace win32 {
namespace {

constexpr DWORD kDefaultPathFlags = 0x500;  // KF_FLAG_DEFAULT_PATH | KF_FLAG_SIMPLE_IDLIST

struct CoTaskFree {
  void operator()(wchar_t* p) const { CoTaskMemFree(p); }
};

class Win32PageFile : public platform::PageFile {
 public:
  explicit Win32PageFile(UniqueHandle file) : file_(std::move(file)) {}

  bool size(std::uint64_t& size) override {
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(file_.get(), &value)) return false;
    size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
  }

  std::size_t read(std::span<std::uint8_t> dest) override {
    const auto count = static_cast<DWORD>(std::min<std::size_t>(dest.size(), MAXDWORD));
    DWORD read = 0;
    if (!ReadFile(file_.get(), dest.data(), count, &read, nullptr)) return 0;
    return read;
  }

 private:
  UniqueHandle file_;
};

}  // namespace

bool Win32KnownFolders::publicFolder(std::u16string& path, std::uint32_t& error) {
  SetLastError(ERROR_SUCCESS);
  wchar_t* raw = nullptr;
  const HRESULT result = SHGetKnownFolderPath(FOLDERID_Public, kDefaultPathFlags, nullptr, &raw);
  std::unique_ptr<wchar_t, CoTaskFree> owned(raw);  // freed on every path, even on failure
  if (FAILED(result) || !owned) {
    const DWORD last = GetLastError();
    error = last != ERROR_SUCCESS ? last : static_cast<std::uint32_t>(result);
    return false;
  }
  path = utf16(owned.get());
  return true;
}

// The mailslot tells no sender, so owners are never looked at here.
std::unique_ptr<platform::PageFile> Win32PageFiles::open(const std::u16string& path,
                                                         std::optional<std::uint32_t>) {
  const std::wstring name = wide(path);
  UniqueHandle file(CreateFileW(name.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return nullptr;
  return std::make_unique<Win32PageFile>(std::move(file));
}

void Win32PageFiles::remove(const std::u16string& path) {
  const std::wstring name = wide(path);
  (void)DeleteFileW(name.c_str());
}

std::unique_ptr<platform::FolderWatch> Win32PageFiles::watchFolder(const std::u16string& folder) {
  return watches_.watch(folder);
}

}  // namespace win32
