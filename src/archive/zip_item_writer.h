// Writes one archive item: local header, encryption header, data (deflated,
// or stored when deflating does not shrink it) and data descriptor. Items
// do not depend on each other, so they can later be encoded independently
// and only appended in order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "archive/archive_stream.h"
#include "archive/zip_format.h"

namespace volok::archive {

// One file or folder to be archived.
struct ZipSource {
  std::string FPath;         // the file on disk (Windows path)
  std::string FName;         // the stored name; a folder's ends with "/"
  bool FFolder = false;
  std::uint32_t FAttributes = 0;  // Windows attribute bits
  std::uint64_t FLastWriteTime = 0;  // FILETIME count
};

// Appends the item at the output's position and answers its central
// directory entry. Folders carry no data and are not encrypted. Throws
// Error when the source cannot be read or is 4 GiB or larger.
ZipItemInfo WriteZipItem(ArchiveOutput& out, const ZipSource& source, std::string_view password);

// The whole archive: the items in order, then the central directory and its
// end record. Throws Error as WriteZipItem does, and when the archive would
// pass 4 GiB or 65535 items.
void WriteZipArchive(platform::File& file, const std::vector<ZipSource>& sources, std::string_view password);

}  // namespace volok::archive
