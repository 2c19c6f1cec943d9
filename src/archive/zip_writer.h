// Writes a folder's whole tree into one encrypted ZIP archive, as the
// package builder packs a payload folder. Used once: configure, add, save.
// Owned by one thread at a time.
//
// Fixed behaviour, the same for every caller: the archive type is ZIP
// whatever the file's extension; stored names lose any drive and leading
// "..\" parts; sub-folders are recursed into; an item added again under the
// same stored name (ignoring case, as Windows does) replaces the earlier one
// in its place.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "archive/zip_item_writer.h"

namespace volok {

class ZipWriter final {
 public:
  // Folders the attribute filter can admit; 0x1FF admits every entry.
  static constexpr std::uint32_t AnyFile = 0x1FF;

  ZipWriter() = default;
  ZipWriter(const ZipWriter&) = delete;
  ZipWriter& operator=(const ZipWriter&) = delete;

  // The folder that stored names are relative to. Throws Error when no
  // such folder exists.
  void SetBaseFolder(const std::string& folder);
  void SetPassword(std::string password) { FPassword = std::move(password); }
  // A FILETIME count every item added afterwards records instead of its
  // file's time (0: the file's own).
  void SetFixedTime(std::uint64_t file_time) { FFixedTime = file_time; }
  // The archive to create; an existing file is replaced on Save.
  void SetFileName(std::string file_name) { FFileName = std::move(file_name); }
  // Threads that compress items on Save; 0 (the default): one per core.
  void SetThreadCount(unsigned count) { FThreads = count; }

  // Collects the entries of the base folder that match `mask` ("*.*" is
  // every entry) and pass `attribute_filter` (Hidden 0x02, System 0x04 and
  // Directory 0x10 entries only when the filter has their bit), then the
  // same for each sub-folder, recursively. Folders are searched whatever
  // the mask says. Reads no file data yet. Throws Error naming the entry,
  // before anything is read, when an entry that passes the filter is
  // neither a regular file nor a folder (a FIFO, socket, device, dangling
  // link), has a name Windows cannot hold, or has the name of another entry
  // of its folder when case is ignored.
  void AddFiles(const std::string& mask, std::uint32_t attribute_filter);

  // Writes the archive in the order the items were added, compressing
  // items in parallel; items and archives past 4 GiB or 65535 items use
  // ZIP64. Any failure (the archive cannot be written, a source file cannot
  // be read) throws Error naming the cause and deletes the incomplete
  // archive and any temporary file beside it.
  void Save();

  std::size_t Count() const { return FSources.size(); }
  const std::string& ItemName(std::size_t index) const { return FSources.at(index).FName; }

 private:
  void AddFolder(const std::string& folder, const std::string& relative, const std::string& mask,
                 std::uint32_t filter);
  void AddSource(archive::ZipSource source);

  std::string FBaseFolder;
  std::string FPassword;
  std::uint64_t FFixedTime = 0;
  std::string FFileName;
  unsigned FThreads = 0;
  std::string FFullFileName;  // the archive's full path, never added to itself
  std::vector<archive::ZipSource> FSources;
  std::unordered_map<std::string, std::size_t> FIndexByName;  // lower-case stored name
};

}  // namespace volok
