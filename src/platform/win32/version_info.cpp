#include <windows.h>

#include <vector>

#include "platform/version_info.h"
#include "platform/win32/system_library.h"
#include "platform/win32/wide.h"

namespace volok::platform {

namespace {

// version.dll is no Known DLL: it is loaded from the system folder when a
// build first reads a version.
struct VersionApi {
  decltype(&GetFileVersionInfoSizeW) InfoSize =
      win32::SystemFunction<decltype(&GetFileVersionInfoSizeW)>(L"version.dll", "GetFileVersionInfoSizeW");
  decltype(&GetFileVersionInfoW) Info =
      win32::SystemFunction<decltype(&GetFileVersionInfoW)>(L"version.dll", "GetFileVersionInfoW");
  decltype(&VerQueryValueW) Query = win32::SystemFunction<decltype(&VerQueryValueW)>(L"version.dll", "VerQueryValueW");
};

}  // namespace

bool ReadFixedFileVersion(const std::string& path, FixedFileVersion& version) {
  static const VersionApi api;
  if (!api.InfoSize || !api.Info || !api.Query) return false;
  std::wstring name = win32::Widen(path);
  DWORD handle = 0;
  DWORD size = api.InfoSize(name.c_str(), &handle);
  if (size == 0) return false;
  std::vector<unsigned char> buffer(size);
  if (!api.Info(name.c_str(), 0, size, buffer.data())) return false;
  void* fixed = nullptr;
  UINT length = 0;
  if (!api.Query(buffer.data(), L"\\", &fixed, &length) || !fixed || length < sizeof(VS_FIXEDFILEINFO))
    return false;
  const auto* info = static_cast<const VS_FIXEDFILEINFO*>(fixed);
  version.FileVersionMS = info->dwFileVersionMS;
  version.FileVersionLS = info->dwFileVersionLS;
  version.ProductVersionMS = info->dwProductVersionMS;
  version.ProductVersionLS = info->dwProductVersionLS;
  return true;
}

}  // namespace volok::platform
