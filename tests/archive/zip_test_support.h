// Packing and unpacking through the component under test, for the archive
// tests and the interop tests.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "archive/archive_password.h"
#include "archive/zip_reader.h"
#include "archive/zip_writer.h"

namespace volok::testing {

inline void PackFolder(const std::string& folder, const std::string& archive,
                       std::string_view password = ArchivePassword, std::uint32_t filter = ZipWriter::AnyFile) {
  ZipWriter writer;
  writer.SetBaseFolder(folder);
  writer.SetPassword(std::string(password));
  writer.SetFileName(archive);
  writer.AddFiles("*.*", filter);
  writer.Save();
}

inline std::size_t UnpackArchive(const std::string& archive, const std::string& folder,
                                 std::string_view password = ArchivePassword) {
  ZipReader reader;
  reader.Open(archive);
  reader.SetPassword(std::string(password));
  reader.SetBaseFolder(folder);
  return reader.ExtractFiles("*.*");
}

}  // namespace volok::testing
