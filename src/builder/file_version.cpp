#include "builder/file_version.h"

#include "common/app_paths.h"
#include "platform/file_system.h"
#include "platform/version_info.h"

namespace volok {

bool ReadFileVersion(TVersion& Version, const std::string& FileName, bool FileVersion) {
  Version = TVersion();
  std::string path = FileName.empty() ? ExeFileName() : FileName;
  if (!platform::FileSystem::Default().FileExists(path)) return false;
  platform::FixedFileVersion fixed;
  if (!platform::ReadFixedFileVersion(path, fixed)) return false;
  std::uint32_t ms = FileVersion ? fixed.FileVersionMS : fixed.ProductVersionMS;
  std::uint32_t ls = FileVersion ? fixed.FileVersionLS : fixed.ProductVersionLS;
  Version.Major = static_cast<std::int32_t>(ms >> 16);
  Version.Minor = static_cast<std::int32_t>(ms & 0xFFFF);
  Version.Release = static_cast<std::int32_t>(ls >> 16);
  Version.Build = static_cast<std::int32_t>(ls & 0xFFFF);
  return true;
}

}  // namespace volok
