#include "builder/engine_image.h"

#include <memory>

#include "common/error.h"
#include "common/file_digest.h"
#include "common/package_layout.h"
#include "common/text_file.h"
#include "platform/file_system.h"

namespace volok {

namespace {

[[noreturn]] void FailImage(const std::string& why) {
  throw Error("Исполняемый файл установщика не подходит для описи пакета: " + why + ".");
}

std::uint64_t Need(std::string_view bytes, std::uint64_t at, int size) {
  std::uint64_t value = 0;
  if (!LeField(bytes, at, size, value)) FailImage("заголовки обрываются");
  return value;
}

struct TSection {
  std::uint64_t Offset = 0;
  std::uint64_t Size = 0;
};

// PE: the section table follows the optional header. A signed image has a
// certificate table (data directory 4), after which nothing may be added.
bool FindPeSection(std::string_view image, TSection& section, bool& is_signed) {
  if (image.substr(0, 2) != "MZ") return false;
  const std::uint64_t pe = Need(image, 0x3C, 4);
  if (Need(image, pe, 4) != 0x00004550) FailImage("нет заголовка PE");
  const std::uint64_t coff = pe + 4, count = Need(image, coff + 2, 2), optional_size = Need(image, coff + 16, 2);
  const std::uint64_t optional = coff + 20, magic = Need(image, optional, 2);
  if (magic != 0x10B && magic != 0x20B) FailImage("неизвестный формат PE");
  std::uint64_t table = 0, table_size = 0;
  if (!PeCertificateTable(image, table, table_size)) FailImage("заголовки обрываются");
  is_signed = table_size != 0;
  for (std::uint64_t i = 0, at = optional + optional_size; i < count; ++i, at += 40) {
    std::uint64_t raw_size = Need(image, at + 16, 4), raw_offset = Need(image, at + 20, 4);
    if (image.substr(static_cast<std::size_t>(at), 8) == std::string_view(".volok\0\0", 8)) {
      section = {raw_offset, raw_size};
      return true;
    }
  }
  FailImage("нет раздела " + std::string(kManifestSection));
}

// ELF64: section names come from the section-name string table.
bool FindElfSection(std::string_view image, TSection& section) {
  if (image.substr(0, 4) != "\x7F" "ELF") return false;
  if (Need(image, 4, 1) != 2 || Need(image, 5, 1) != 1) FailImage("поддерживается только ELF64 little-endian");
  const std::uint64_t table = Need(image, 0x28, 8), entry_size = Need(image, 0x3A, 2);
  const std::uint64_t count = Need(image, 0x3C, 2), names_index = Need(image, 0x3E, 2);
  if (entry_size < 64 || names_index >= count) FailImage("нет таблицы разделов");
  const std::uint64_t names = Need(image, table + names_index * entry_size + 0x18, 8);
  const std::string_view wanted(kManifestSection, sizeof kManifestSection);  // with its NUL
  for (std::uint64_t i = 0; i < count; ++i) {
    const std::uint64_t at = table + i * entry_size, name = names + Need(image, at, 4);
    if (name > image.size() || image.size() - name < wanted.size()) continue;
    if (image.substr(static_cast<std::size_t>(name), wanted.size()) != wanted) continue;
    section = {Need(image, at + 0x18, 8), Need(image, at + 0x20, 8)};
    return true;
  }
  FailImage("нет раздела " + std::string(kManifestSection));
}

bool RecordIsBare(std::string_view image, std::uint64_t offset) {
  for (std::size_t i = kManifestRecordMagic.size(); i < kManifestRecordSize; ++i)
    if (image[static_cast<std::size_t>(offset) + i] != 0) return false;
  return true;
}

std::uint64_t RecordOffset(std::string_view image, bool& is_signed) {
  TSection section;
  is_signed = false;
  if (!FindPeSection(image, section, is_signed) && !FindElfSection(image, section))
    FailImage("это не программа Windows (PE) и не ELF");
  TManifestRecord record;
  if (section.Size < kManifestRecordSize || section.Offset > image.size() ||
      image.size() - section.Offset < kManifestRecordSize ||
      !DecodeManifestRecord(image.substr(static_cast<std::size_t>(section.Offset), kManifestRecordSize), record))
    FailImage("в разделе " + std::string(kManifestSection) + " нет записи описи");
  return section.Offset;
}

}  // namespace

std::uint64_t ManifestRecordOffset(std::string_view image) {
  bool is_signed = false;
  return RecordOffset(image, is_signed);
}

TManifestRecord AppendManifest(const std::string& path, const std::string& manifest) {
  std::unique_ptr<platform::File> file;
  std::uint64_t size = 0;
  if (!platform::FileSystem::Default()
           .OpenFile(path, platform::FileAccess::AppendOrCreate, platform::FileShare::None, file)
           .ok() ||
      !file->Size(size).ok() || !file->Write(manifest.data(), manifest.size()).ok() || !file->Flush().ok())
    throw Error("Не удалось записать опись пакета в " + path + ".");
  TManifestRecord record;
  record.Offset = size;
  record.Length = manifest.size();
  record.Sha256 = BytesDigest(manifest).Sha256;
  return record;
}

std::uint64_t BareRecordOffset(std::string_view image) {
  bool is_signed = false;
  const std::uint64_t offset = RecordOffset(image, is_signed);
  if (!RecordIsBare(image, offset)) FailImage("в нём уже есть опись другого пакета; укажите сам установщик");
  if (is_signed) FailImage("он уже подписан; подпись ставится после описи (--sign)");
  return offset;
}

void SealEngine(const std::string& path, const std::string& manifest) {
  std::string image = ReadFileBytes(path);
  const std::uint64_t offset = BareRecordOffset(image);
  TManifestRecord record;
  record.Offset = image.size();
  record.Length = manifest.size();
  record.Sha256 = BytesDigest(manifest).Sha256;
  image.replace(static_cast<std::size_t>(offset), kManifestRecordSize, EncodeManifestRecord(record));
  image += manifest;
  WriteFileBytes(image, path);
}

}  // namespace volok
