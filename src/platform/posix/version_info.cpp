#include "platform/version_info.h"

#include <memory>

#include "platform/file_system.h"
#include "platform/pe_version.h"

namespace volok::platform {

bool ReadFixedFileVersion(const std::string& path, FixedFileVersion& version) {
  std::unique_ptr<File> file;
  std::uint64_t size = 0;
  if (!FileSystem::Default().OpenFile(path, FileAccess::ReadExisting, FileShare::ReadWrite, file).ok() ||
      !file->Size(size).ok())
    return false;
  PeReadAt read = [&](std::uint64_t offset, void* buffer, std::size_t count) {
    if (!file->Seek(offset).ok()) return false;
    auto* out = static_cast<char*>(buffer);
    while (count > 0) {
      std::size_t done = 0;
      if (!file->Read(out, count, done).ok() || done == 0) return false;
      out += done;
      count -= done;
    }
    return true;
  };
  return FindPeFixedFileVersion(read, size, version);
}

}  // namespace volok::platform
