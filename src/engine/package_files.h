// The package's files as an install uses them: "setup.xml" and every
// payload file checked against the manifest sealed into the engine (size
// and SHA-256, with the CRC-32 in the same read), each through the handle
// it was checked by, which stays open until the run ends. Every later use
// reads that handle, never the path again, so a file swapped or rewritten
// after the check changes nothing. Windows: the handles share reading only,
// so no one writes, renames or deletes the files meanwhile. POSIX has no
// share modes: a file that another account could write is copied, in the
// same read that checks it, into a fresh folder of this run (0600), and the
// copy is used. A single-file package's files are attached to the engine's
// own file (package_layout.h): each is a view of the engine's handle, read
// and protected as a file of its own would be.
#pragma once

#include <map>
#include <vector>
#include <memory>
#include <mutex>
#include <string>

#include "common/file_digest.h"
#include "common/manifest_record.h"
#include "common/package_manifest.h"
#include "platform/file_system.h"

namespace volok {

inline constexpr char kChecksumMessage[] = "Ошибка расчета контрольных сумм установочных файлов.";
inline constexpr char kNoManifestMessage[] =
    "В установщике нет описи файлов пакета: пакет собран без неё или повреждён. Установка невозможна.";

class TPackageFiles final {
 public:
  TPackageFiles() = default;
  // Closes the handles and removes the private copies.
  ~TPackageFiles();
  TPackageFiles(const TPackageFiles&) = delete;
  TPackageFiles& operator=(const TPackageFiles&) = delete;

  // Reads the manifest that `record` names from the engine file `engine`
  // and trusts it only when it has the record's hash. Throws Error with
  // kNoManifestMessage for an empty record, kChecksumMessage for a manifest
  // that differs or does not read.
  void LoadManifest(const std::string& engine, const TManifestRecord& record);
  // Checks `path` against the manifest's entry `name` and keeps it open.
  // Throws Error with kChecksumMessage when there is no such entry, the file
  // cannot be read, or its size or hash differ.
  const TFileDigest& Verify(const std::string& name, const std::string& path);
  // Every entry of the manifest but `except`, each in `folder`, several at
  // once; throws like Verify.
  void VerifyAll(const std::string& folder, const std::string& except);

  // The checked handle of entry `name`, or null when it was not checked.
  platform::File* Find(const std::string& name) const;
  const TFileDigest* Digest(const std::string& name) const;
  // The whole content of a checked entry, meant for small files; throws
  // Error like Verify.
  std::string ReadAll(const std::string& name);
  const TPackageManifest& Manifest() const { return FManifest; }
  // The manifest attaches its files to the engine (a single-file package).
  bool SingleFile() const;

 private:
  struct TChecked {
    std::unique_ptr<platform::File> Handle;
    TFileDigest Digest;
  };
  // Opens, protects and checks one file; any thread.
  TChecked Check(const TManifestEntry& entry, const std::string& path);
  // The single file's image up to its record.
  TChecked CheckImageHead(const TManifestEntry& entry);
  // Opens a private copy of `source` in this run's own folder, filled
  // while `digest` is taken; any thread.
  std::unique_ptr<platform::File> CopyPrivately(platform::File& source, TFileDigest& digest);

  std::unique_ptr<platform::File> FEngine;  // the engine's file, once the manifest is read
  TPackageManifest FManifest;
  std::map<std::string, TChecked> FChecked;  // by ManifestKey
  std::string FCopyFolder;                   // "" until a copy is needed
  std::vector<std::string> FCopies;
  std::mutex FCopyLock;  // guards the two above while files are checked side by side
};

}  // namespace volok
