#include "archive/zip_directory.h"

#include <algorithm>

#include "archive/archive_stream.h"
#include "archive/zip_names.h"
#include "common/error.h"

namespace volok::archive {

namespace {

constexpr std::size_t MaxCommentLength = 0xFFFF;

[[noreturn]] void ThrowDamaged(const std::string& detail) { throw Error("Архив повреждён: " + detail); }

// Finds the end record in the last 64 KiB + 22 bytes: the last signature
// whose record, comment included, fits inside the file.
std::uint64_t FindEndRecord(platform::File& file, std::uint64_t file_size, ZipEndRecord& record) {
  std::size_t tail = static_cast<std::size_t>(std::min<std::uint64_t>(file_size, EndRecordSize + MaxCommentLength));
  std::vector<std::uint8_t> bytes(tail);
  std::uint64_t tail_start = file_size - tail;
  ReadExactly(file, tail_start, bytes.data(), tail);
  for (std::size_t pos = tail - EndRecordSize + 1; pos-- > 0;) {
    if (ParseEndRecord(bytes.data() + pos, record) && pos + EndRecordSize + record.FCommentLength <= tail)
      return tail_start + pos;
  }
  throw Error("Файл не является ZIP-архивом");
}

void CheckEndRecord(const ZipEndRecord& record, std::uint64_t record_offset) {
  if (record.FItems == 0xFFFF || record.FDirectoryOffset == 0xFFFFFFFFu || record.FDirectorySize == 0xFFFFFFFFu)
    throw Error("Архивы формата ZIP64 не поддерживаются");
  if (record.FDisk != 0 || record.FDirectoryDisk != 0 || record.FItemsOnDisk != record.FItems)
    throw Error("Многотомные архивы не поддерживаются");
  if (static_cast<std::uint64_t>(record.FDirectoryOffset) + record.FDirectorySize > record_offset)
    ThrowDamaged("оглавление выходит за пределы файла");
  // Each entry takes at least its fixed part: a count beyond that is a lie.
  if (static_cast<std::uint64_t>(record.FItems) * CentralHeaderSize > record.FDirectorySize)
    ThrowDamaged("неверное число элементов");
}

// Sequential reads inside the directory's byte range, in bounded chunks.
class DirectoryCursor final {
 public:
  DirectoryCursor(platform::File& file, std::uint64_t offset, std::uint64_t size)
      : FFile(file), FRemaining(size) {
    ThrowIfFailed(FFile.Seek(offset));
  }

  void Read(void* target, std::size_t size) {
    if (size > FRemaining) ThrowDamaged("оглавление обрывается");
    if (ReadSome(FFile, target, size) != size) ThrowDamaged("неожиданный конец файла");
    FRemaining -= size;
  }

  std::string ReadText(std::size_t size) {
    std::string text(size, '\0');
    Read(text.data(), size);
    return text;
  }

 private:
  platform::File& FFile;
  std::uint64_t FRemaining;
};

ZipItemInfo ReadEntry(DirectoryCursor& cursor) {
  std::uint8_t fixed[CentralHeaderSize];
  cursor.Read(fixed, sizeof fixed);
  ZipCentralFixed record;
  if (!ParseCentralFixed(fixed, record)) ThrowDamaged("неверная подпись записи оглавления");
  if (record.FStartDisk != 0) throw Error("Многотомные архивы не поддерживаются");
  std::string raw_name = cursor.ReadText(record.FNameLength);
  std::string extra = cursor.ReadText(record.FExtraLength);
  cursor.ReadText(record.FCommentLength);
  ZipItemInfo item = record.FItem;
  item.FName = DecodeStoredName(raw_name, item.FFlags, extra);
  return item;
}

}  // namespace

ZipDirectory ReadZipDirectory(platform::File& file) {
  std::uint64_t file_size = 0;
  ThrowIfFailed(file.Size(file_size));
  if (file_size == 0) throw Error("Файл архива пуст");
  if (file_size < EndRecordSize) throw Error("Файл не является ZIP-архивом");
  ZipEndRecord record;
  std::uint64_t record_offset = FindEndRecord(file, file_size, record);
  CheckEndRecord(record, record_offset);
  ZipDirectory directory;
  directory.FDirectoryOffset = record.FDirectoryOffset;
  directory.FItems.reserve(record.FItems);  // bounded by the size check above
  DirectoryCursor cursor(file, record.FDirectoryOffset, record.FDirectorySize);
  for (std::size_t i = 0; i < record.FItems; ++i) directory.FItems.push_back(ReadEntry(cursor));
  return directory;
}

}  // namespace volok::archive
