#include "archive/zip_file_extractor.h"

#include <memory>

#include "archive/zip_time.h"
#include "common/error.h"

namespace volok::archive {

namespace {

using platform::FileSystem;
using platform::FileAttribute::Directory;
using platform::FileAttribute::Hidden;
using platform::FileAttribute::ReadOnly;
using platform::FileAttribute::System;

// The attribute bits an item may carry onto disk.
constexpr std::uint32_t RestoredAttributes = ReadOnly | Hidden | System | platform::FileAttribute::Archive;

// A partial file that is removed unless it was moved into place. A part
// left read-only by a killed run is cleared before it is truncated.
class PartialFile final {
 public:
  explicit PartialFile(std::string path) : FPath(std::move(path)) {}
  ~PartialFile() {
    if (!FCreated) return;
    FileSystem& fs = FileSystem::Default();
    FFile.reset();  // Windows deletes no open file
    if (FAttributesSet) (void)fs.SetAttributes(FPath, 0);  // nor a read-only one
    (void)fs.RemoveFile(FPath);
  }
  PartialFile(const PartialFile&) = delete;
  PartialFile& operator=(const PartialFile&) = delete;

  [[nodiscard]] bool Create() {
    FileSystem& fs = FileSystem::Default();
    auto open = [&] { return fs.OpenFile(FPath, platform::FileAccess::CreateAlways, platform::FileShare::None, FFile); };
    if (!open().ok() && !(fs.SetAttributes(FPath, 0).ok() && open().ok())) return false;
    FCreated = true;
    return true;
  }
  void Write(const std::uint8_t* data, std::size_t size) { ThrowIfFailed(FFile->Write(data, size)); }
  // The time first: a read-only file can no longer be opened to set it.
  [[nodiscard]] bool Finish(std::uint32_t dos_time, std::uint32_t attributes) {
    FileSystem& fs = FileSystem::Default();
    FFile.reset();
    if (!fs.SetLastWriteTime(FPath, DosToFileTime(dos_time)).ok()) return false;
    FAttributesSet = true;
    return fs.SetAttributes(FPath, attributes).ok();
  }
  void Kept() { FCreated = false; }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
  std::unique_ptr<platform::File> FFile;
  bool FCreated = false;
  bool FAttributesSet = false;
};

// Moves the finished part over the target. A read-only target or a folder
// is refused on both platforms alike (POSIX run as root would replace it
// anyway); Hidden and System are cleared for the move and restored when it
// fails, so a refused item leaves the target as it was.
bool ReplaceTarget(const std::string& part, const std::string& target) {
  FileSystem& fs = FileSystem::Default();
  std::uint32_t existing = 0;
  bool exists = fs.GetAttributes(target, existing).ok();
  if (exists && (existing & (Directory | ReadOnly))) return false;
  bool cleared = exists && (existing & (Hidden | System));
  if (cleared && !fs.SetAttributes(target, existing & ~(Hidden | System)).ok()) return false;
  if (fs.MoveFileReplace(part, target).ok()) return true;
  if (cleared) (void)fs.SetAttributes(target, existing);
  return false;
}

}  // namespace

bool ExtractFileItem(const ZipItemSource& source, const ZipItemInfo& item, const std::string& target,
                     ZipReadScratch& scratch) noexcept {
  // Writing beside the target means a wrong password that passes the
  // one-byte check (one in 256) or damaged data never costs the user an
  // existing file.
  try {
    ZipItemReader reader(source, item, scratch);
    PartialFile part(target + std::string(PartialSuffix));
    if (!part.Create()) return false;
    reader.ReadTo([&](std::uint8_t* data, std::size_t size) { part.Write(data, size); });
    if (!part.Finish(item.FDosDateTime, item.FExternalAttributes & RestoredAttributes)) return false;
    if (!ReplaceTarget(part.Path(), target)) return false;
    part.Kept();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace volok::archive
