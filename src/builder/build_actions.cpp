// The four build actions of the package builder.
#include <exception>
#include <memory>
#include <thread>

#include "archive/archive_password.h"
#include "archive/zip_writer.h"
#include "builder/package_builder.h"
#include "common/app_paths.h"
#include "common/crc32.h"
#include "common/error.h"
#include "common/file_names.h"
#include "common/file_utils.h"
#include "common/text.h"
#include "platform/file_system.h"
#include "platform/runtime.h"

namespace volok {

namespace {

constexpr std::uint64_t kParallelCopySize = 1 << 20;

// A FIFO, socket or device is refused before anything opens it: reading
// one could hold the build for ever.
platform::FileKind SourceKind(const std::string& fn) {
  platform::FileKind kind = fn.empty() ? platform::FileKind::Missing : platform::FileSystem::Default().KindOf(fn);
  if (kind == platform::FileKind::Special) throw Error(NotFileOrFolderMessage(fn));
  return kind;
}

void RequireSourceFile(const std::string& fn) {
  if (SourceKind(fn) != platform::FileKind::Regular) throw Error("Исходный файл не найден: " + fn + ".");
}

// A payload the package lacks would leave the installer without its file
// (or with a stale one): a copy that fails fails the entry.
void CopyPayload(const std::string& fn, const std::string& outfn) {
  if (!platform::FileSystem::Default().CopyFileOver(fn, outfn).ok())
    throw Error("Не удалось скопировать файл: " + fn + " -> " + outfn + ".");
}

}  // namespace

std::uint64_t SourceDateFileTime() {
  // The reproducible-builds convention: SOURCE_DATE_EPOCH, seconds since
  // 1970 in decimal, stands for every file's time. Anything else is ignored.
  std::string text;
  if (!platform::EnvironmentVariable("SOURCE_DATE_EPOCH", text) || text.empty()) return 0;
  std::uint64_t seconds = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || seconds > 100000000000ull) return 0;
    seconds = seconds * 10 + static_cast<std::uint64_t>(c - '0');
  }
  constexpr std::uint64_t kUnixEpochAsFileTime = 116444736000000000ull;
  return kUnixEpochAsFileTime + seconds * 10000000ull;
}

void TPackageBuilder::CheckPayloadTarget(const std::string& outfn) const {
  if (FPackageFolder.empty() || outfn.rfind(FPackageFolder, 0) != 0) return;
  // The engine and its description live beside the payload under these
  // names: a payload written over either breaks every install of the package.
  std::string name = outfn.substr(FPackageFolder.size());
  if (!IsPlainRelativePath(name) || SameText(name, "setup.exe") || SameText(name, "setup.xml"))
    throw Error("Недопустимое имя файла в пакете: " + name + ".");
  // "bin\tool.exe" keeps its folder in the package, as the installer's Copy
  // looks for it there.
  std::string folder = ExtractFilePath(outfn);
  if (folder.size() > FPackageFolder.size() && !ForceFolders(folder))
    throw Error("Невозможно создать каталог с выходными файлами: " + folder + ".");
}

void TPackageBuilder::CopyFile(const std::string& fn, const std::string& outfn, std::uint32_t& fsz,
                               std::uint32_t& crc32) {
  Log("[File/Copy]: Копирование файла: " + fn, 4);
  CheckPayloadTarget(outfn);
  RequireSourceFile(fn);
  std::unique_ptr<platform::File> file;
  std::uint64_t size = 0;
  bool read = platform::FileSystem::Default()
                  .OpenFile(fn, platform::FileAccess::ReadExisting, platform::FileShare::ReadWrite, file)
                  .ok() &&
              file->Size(size).ok();
  std::exception_ptr copy_failure;
  auto copy_payload = [&] {
    try {
      CopyPayload(fn, outfn);
    } catch (...) {
      copy_failure = std::current_exception();
    }
  };
  // The checksum pass and the system's copy both only read the source: for a
  // large file, side by side they take about one pass's time instead of two;
  // for a small one the thread would cost more than it saves.
  std::thread copy;
  if (read && size >= kParallelCopySize) copy = std::thread(copy_payload);
  read = read && StreamCrc32(*file, crc32);
  file.reset();
  if (copy.joinable())
    copy.join();
  else if (read)
    copy_payload();
  if (!read) throw Error("Не удалось прочитать исходный файл: " + fn + ".");
  if (copy_failure) std::rethrow_exception(copy_failure);
  // Descriptions record 32-bit sizes; a file of 4 GiB or more wraps.
  fsz = static_cast<std::uint32_t>(size);
}

void TPackageBuilder::CopyFileNoCRC(const std::string& fn, const std::string& outfn, std::uint32_t& fsz,
                                    std::uint32_t& crc32) {
  Log("[File/CopyNoCRC]: Копирование файла: " + fn, 4);
  CheckPayloadTarget(outfn);
  RequireSourceFile(fn);
  fsz = 0;
  crc32 = 0;
  CopyPayload(fn, outfn);
}

void TPackageBuilder::ZipFolder(const std::string& fn, const std::string& outfn, std::uint32_t& fsz,
                                std::uint32_t& crc32) {
  Log("[Folder/Zip]: Архивирование папки: " + fn, 4);
  CheckPayloadTarget(outfn);
  if (SourceKind(fn) != platform::FileKind::Folder) throw Error("Исходный каталог не найден: " + fn + ".");
  try {
    ZipWriter writer;
    writer.SetBaseFolder(fn);
    writer.SetPassword(std::string(ArchivePassword));
    writer.SetFixedTime(SourceDateFileTime());
    writer.SetFileName(outfn);
    writer.AddFiles("*.*", ZipWriter::AnyFile);
    writer.Save();
  } catch (...) {
    // The fixed text first, then which file failed and why.
    throw Error("[ZipFolder] Ошибка архивации каталога: " + fn + ". " + CurrentExceptionMessage());
  }
  std::unique_ptr<platform::File> archive;
  std::uint64_t size = 0;
  ThrowIfFailed(platform::FileSystem::Default().OpenFile(outfn, platform::FileAccess::ReadExisting,
                                                         platform::FileShare::ReadWrite, archive));
  ThrowIfFailed(archive->Size(size));
  archive.reset();
  fsz = static_cast<std::uint32_t>(size);
  if (!FileCrc32(outfn, crc32))
    throw Error("[ZipFolder] Невозможно подсчитать контрольную сумму архива: " + fn + ".");
}

void TPackageBuilder::FileCommand(const std::string&, const std::string&, std::uint32_t& fsz, std::uint32_t& crc32) {
  // Command entries bring no file into the package.
  fsz = 0;
  crc32 = 0;
}

}  // namespace volok
