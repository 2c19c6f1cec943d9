#include "archive/zip_file_extractor.h"

#include <memory>

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

// The file an item's data is written to: the target itself when there is
// none to preserve, else a partial file beside it. Removed unless kept.
class OutputFile final {
 public:
  OutputFile(std::string path, bool fresh) : FPath(std::move(path)), FFresh(fresh) {}
  ~OutputFile() {
    if (!FCreated) return;
    FileSystem& fs = FileSystem::Default();
    FFile.reset();  // Windows deletes no open file
    if (FAttributesSet) (void)fs.SetAttributes(FPath, 0);  // nor a read-only one
    (void)fs.RemoveFile(FPath);
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // A partial file left read-only by a killed run is cleared and reused.
  [[nodiscard]] bool Create() {
    FileSystem& fs = FileSystem::Default();
    auto open = [&] { return fs.OpenFile(FPath, platform::FileAccess::CreateAlways, platform::FileShare::None, FFile); };
    if (!open().ok() && (FFresh || !fs.SetAttributes(FPath, 0).ok() || !open().ok())) return false;
    FCreated = true;
    return true;
  }
  void Write(const std::uint8_t* data, std::size_t size) { ThrowIfFailed(FFile->Write(data, size)); }
  // The time first: a read-only file can no longer be opened to set it. A
  // file just created already has the attributes of a plain file, which
  // saves thousands of calls on a payload of small files.
  [[nodiscard]] bool Finish(platform::FileTime time, std::uint32_t attributes, std::uint32_t posix_mode) {
    FileSystem& fs = FileSystem::Default();
    FFile.reset();
    if (!fs.SetLastWriteTime(FPath, time).ok()) return false;
    // Scripts and programs packed on POSIX stay executable; the others keep
    // the plain mode a new file gets.
    if ((posix_mode & 0111) != 0 && !fs.SetExecuteBits(FPath, posix_mode).ok()) return false;
    if (FFresh && attributes == platform::FileAttribute::Archive) return true;
    FAttributesSet = true;
    return fs.SetAttributes(FPath, attributes).ok();
  }
  void Keep() { FCreated = false; }
  const std::string& Path() const { return FPath; }

 private:
  std::string FPath;
  bool FFresh;
  std::unique_ptr<platform::File> FFile;
  bool FCreated = false;
  bool FAttributesSet = false;
};

// Moves the finished partial file over the existing target, whose
// attributes are `existing`. Hidden and System are cleared for the move and
// restored when it fails, so a refused item leaves the target as it was.
bool ReplaceTarget(const std::string& part, const std::string& target, std::uint32_t existing) {
  FileSystem& fs = FileSystem::Default();
  bool cleared = (existing & (Hidden | System)) != 0;
  if (cleared && !fs.SetAttributes(target, existing & ~(Hidden | System)).ok()) return false;
  if (fs.MoveFileReplace(part, target).ok()) return true;
  if (cleared) (void)fs.SetAttributes(target, existing);
  return false;
}

}  // namespace

bool ExtractFileItem(const ZipItemSource& source, const ZipItemInfo& item, const std::string& target,
                     platform::FileTime time, ZipReadScratch& scratch) noexcept {
  try {
    ZipItemReader reader(source, item, scratch);
    // An existing target is written beside and replaced only once the data
    // is complete and checked: a wrong password that passes the one-byte
    // check (one in 256) or damaged data never costs the user a file. A
    // read-only target or a folder is refused on both platforms alike
    // (POSIX run as root would replace it anyway).
    std::uint32_t existing = 0;
    bool replacing = FileSystem::Default().GetAttributes(target, existing).ok();
    if (replacing && (existing & (Directory | ReadOnly))) return false;
    OutputFile out(replacing ? target + std::string(PartialSuffix) : target, !replacing);
    if (!out.Create()) return false;
    reader.ReadTo([&](std::uint8_t* data, std::size_t size) { out.Write(data, size); });
    if (!out.Finish(time, item.FExternalAttributes & RestoredAttributes, item.PosixMode())) return false;
    if (replacing && !ReplaceTarget(out.Path(), target, existing)) return false;
    out.Keep();
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace volok::archive
