// Encodes one archive item: local header, encryption header, data
// (deflated, or stored when deflating does not shrink it) and data
// descriptor. Items do not depend on each other, so each can be encoded on
// its own thread into its own sink and only appended to the archive in
// order (zip_pack_pipeline.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/zip_format.h"
#include "platform/file_system.h"

namespace volok::archive {

// One file or folder to be archived.
struct ZipSource {
  std::string FPath;         // the file on disk (Windows path)
  std::string FName;         // the stored name; a folder's ends with "/"
  bool FFolder = false;
  std::uint32_t FAttributes = 0;  // Windows attribute bits
  std::uint64_t FLastWriteTime = 0;  // FILETIME count
  std::uint32_t FPosixMode = 0;  // type and permission bits when packed on POSIX; 0: none
  // A symbolic link kept as a link (FPosixMode PosixLinkMode): its text,
  // stored as the item's data; FPath is not read.
  std::string FLinkText = {};
};

// Where one item's bytes go, from its local header on.
class ZipItemSink {
 public:
  virtual ~ZipItemSink() = default;
  virtual void Write(const std::uint8_t* data, std::size_t size) = 0;
  // Drops every byte written so far: the item starts again (stored, after
  // a deflate attempt that did not shrink it).
  virtual void Restart() = 0;
};

// Writes the item to `sink` and answers its central directory entry, with
// the local header at offset 0 (the caller places it). Folders carry no
// data and are not encrypted. Throws Error when the source cannot be read
// or grows past 4 GiB while it is read.
ZipItemInfo EncodeZipItem(const ZipSource& source, std::string_view password, ZipItemSink& sink);

struct ZipPackOptions {
  unsigned FThreads = 0;        // encoding threads; 0: one per core
  std::size_t FItemMemory = 0;  // bytes one item may hold in memory; 0: chosen from the thread count
  // Items that outgrow their memory while earlier ones are still being
  // written wait in "<prefix>.<index>.tmp"; empty: in the temporary folder.
  std::string FSpillPrefix;
};

// The whole archive at the file's start: the items in list order, then
// the central directory and its end records (ZIP64 where needed). Items
// are encoded in parallel; the archive is the same whatever the thread
// count, except for the random encryption headers. Throws Error as
// EncodeZipItem does, or when the archive cannot be written; every thread
// is joined and every temporary file removed before it returns.
void WriteZipArchive(platform::File& file, const std::vector<ZipSource>& sources, std::string_view password,
                     const ZipPackOptions& options = {});

}  // namespace volok::archive
