// Reads an encrypted ZIP archive and extracts its items, as the installer's
// UnZip command unpacks a payload. Used once: open, configure, extract.
// Owned by one thread at a time; holds the archive open until destroyed.
//
// Fixed behaviour, the same for every caller: missing folders are created
// and the stored relative paths are restored below the base folder.
// Existing files are replaced without asking.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "archive/zip_format.h"
#include "platform/file_system.h"

namespace volok {

class ZipReader final {
 public:
  ZipReader() = default;
  ~ZipReader();
  ZipReader(const ZipReader&) = delete;
  ZipReader& operator=(const ZipReader&) = delete;

  // Opens the archive and reads its item directory. Throws Error when the
  // file is missing, empty, or not a readable ZIP archive.
  void Open(const std::string& file_name);
  // The same for an archive already open; `name` names it in errors.
  void Open(std::unique_ptr<platform::File> file, const std::string& name);
  // Throws Error naming the first file item that is stored without
  // encryption: a payload the builder made has none.
  void RequireEncryption() const;
  void SetPassword(std::string password) { FPassword = std::move(password); }
  // The folder to extract into; it must exist, else Error. One trailing
  // "\" is dropped unless it follows a drive colon.
  void SetBaseFolder(const std::string& folder);

  // How many threads write file data: 0 (the default) for one per core.
  // The result never depends on it.
  void SetThreadCount(unsigned threads) { FThreadCount = threads; }

  // Extracts the items whose names match `mask` ("*.*" and "*" match all; a
  // folder item is matched without its trailing "/") and answers how many
  // were completed, folders included. Independent items are written on
  // several threads at once, with the result of extracting them one by one
  // in archive order. An item that fails (wrong password, damaged data,
  // data longer or shorter than recorded, CRC mismatch, target not
  // writable, or a name that is absolute or climbs out of the base folder)
  // is skipped and not counted; nothing of it stays on disk, and an
  // existing file it would have replaced stays untouched. Throws Error
  // only when a parent folder cannot be created; extraction stops there,
  // and no item after that one in archive order is extracted.
  //
  // Symbolic link items (made on a Unix host, zip_links.h) come last: as
  // links where the system makes them, else as copies of what they name;
  // one that leads outside the base folder is refused, and Refusals says
  // why.
  std::size_t ExtractFiles(const std::string& mask);
  // Why the last ExtractFiles refused the items it names (links only).
  const std::vector<std::string>& Refusals() const { return FRefusals; }
  // Items completed by the last ExtractFiles.
  std::size_t Extracted() const { return FExtracted; }

  std::size_t Count() const { return FItems.size(); }
  const archive::ZipItemInfo& Item(std::size_t index) const { return FItems.at(index); }

 private:
  unsigned ThreadsFor(const std::string& mask) const;

  std::unique_ptr<platform::File> FArchive;
  std::vector<archive::ZipItemInfo> FItems;
  std::uint64_t FDataLimit = 0;
  std::string FPassword;
  std::string FBaseFolder;
  std::size_t FExtracted = 0;
  std::vector<std::string> FRefusals;
  unsigned FThreadCount = 0;
};

}  // namespace volok
