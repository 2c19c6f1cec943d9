#include <windows.h>

#include <vector>

#include "platform/version_info.h"
#include "platform/win32/wide.h"

namespace volok::platform {

bool ReadFixedFileVersion(const std::string& path, FixedFileVersion& version) {
  std::wstring name = win32::Widen(path);
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeW(name.c_str(), &handle);
  if (size == 0) return false;
  std::vector<unsigned char> buffer(size);
  if (!GetFileVersionInfoW(name.c_str(), 0, size, buffer.data())) return false;
  void* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(buffer.data(), L"\\", &fixed, &length) || !fixed || length < sizeof(VS_FIXEDFILEINFO))
    return false;
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  version.FileVersionMS = info->dwFileVersionMS;
  version.FileVersionLS = info->dwFileVersionLS;
  version.ProductVersionMS = info->dwProductVersionMS;
  version.ProductVersionLS = info->dwProductVersionLS;
  return true;
}

}  // namespace volok::platform
