// Reads the item directory of an archive: the end-of-central-directory
// record and the central directory it points to. The file's numbers are
// checked against the file's size before anything is read or allocated.
#pragma once

#include <cstdint>
#include <vector>

#include "archive/zip_format.h"
#include "platform/file_system.h"

namespace volok::archive {

struct ZipDirectory {
  std::vector<ZipItemInfo> FItems;  // in archive order
  std::uint64_t FDirectoryOffset = 0;  // item data ends before this
};

// Reads ZIP64 archives too. Throws Error for an empty file, a file that is
// not a ZIP archive, spanned archives, and ("Архив повреждён: …") a
// directory that lies: one outside the file, a count the directory cannot
// hold, items outside the data or sharing bytes with each other.
ZipDirectory ReadZipDirectory(platform::File& file);

}  // namespace volok::archive
