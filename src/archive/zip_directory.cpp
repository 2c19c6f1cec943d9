#include "archive/zip_directory.h"

#include <algorithm>
#include <utility>

#include "archive/archive_stream.h"
#include "archive/zip64.h"
#include "archive/zip_names.h"
#include "common/error.h"

namespace volok::archive {

namespace {

constexpr std::size_t MaxCommentLength = 0xFFFF;
// Entries are read one by one; the vector only starts at this many so that
// a count taken from the file never decides an allocation by itself.
constexpr std::size_t InitialItemCapacity = 4096;

[[noreturn]] void ThrowDamaged(const std::string& detail) { throw Error("Архив повреждён: " + detail); }
[[noreturn]] void ThrowSpanned() { throw Error("Многотомные архивы не поддерживаются"); }

// Where the directory lies, as the end records describe it. Item data and
// the directory must end before FLimit (the first end record).
struct DirectoryBounds {
  std::uint64_t FItems = 0;
  std::uint64_t FSize = 0;
  std::uint64_t FOffset = 0;
  std::uint64_t FLimit = 0;
};

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

// The ZIP64 end record, when a locator stands right before the end record.
// Its values replace the end record's (whose fields then say 0xFFFF…).
std::optional<DirectoryBounds> ReadZip64Bounds(platform::File& file, std::uint64_t record_offset) {
  if (record_offset < Zip64LocatorSize) return std::nullopt;
  std::uint8_t bytes[Zip64EndRecordSize];
  ReadExactly(file, record_offset - Zip64LocatorSize, bytes, Zip64LocatorSize);
  Zip64Locator locator;
  if (!ParseZip64Locator(bytes, locator)) return std::nullopt;
  if (locator.FRecordDisk != 0 || locator.FDisks > 1) ThrowSpanned();
  std::uint64_t locator_offset = record_offset - Zip64LocatorSize;
  if (locator.FRecordOffset > locator_offset || locator_offset - locator.FRecordOffset < Zip64EndRecordSize)
    ThrowDamaged("запись ZIP64 вне файла");
  ReadExactly(file, locator.FRecordOffset, bytes, Zip64EndRecordSize);
  Zip64EndRecord record;
  if (!ParseZip64EndRecord(bytes, record)) ThrowDamaged("неверная подпись записи ZIP64");
  if (record.FDisk != 0 || record.FDirectoryDisk != 0 || record.FItemsOnDisk != record.FItems) ThrowSpanned();
  return DirectoryBounds{record.FItems, record.FDirectorySize, record.FDirectoryOffset, locator.FRecordOffset};
}

DirectoryBounds ReadBounds(platform::File& file, std::uint64_t file_size) {
  ZipEndRecord record;
  std::uint64_t record_offset = FindEndRecord(file, file_size, record);
  if (record.FDisk != 0 || record.FDirectoryDisk != 0 || record.FItemsOnDisk != record.FItems) ThrowSpanned();
  DirectoryBounds bounds{record.FItems, record.FDirectorySize, record.FDirectoryOffset, record_offset};
  if (auto zip64 = ReadZip64Bounds(file, record_offset)) bounds = *zip64;
  if (bounds.FOffset > bounds.FLimit || bounds.FSize > bounds.FLimit - bounds.FOffset)
    ThrowDamaged("оглавление выходит за пределы файла");
  // Each entry takes at least its fixed part: a count beyond that is a lie.
  if (bounds.FItems > bounds.FSize / CentralHeaderSize) ThrowDamaged("неверное число элементов");
  return bounds;
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

// The bytes an item surely occupies from its local header on: the fixed
// part, its name (the same in both headers) and its data. The local extra
// field and the data descriptor can only add to it.
struct ItemSpan {
  std::uint64_t FStart = 0;
  std::uint64_t FEnd = 0;
};

ZipItemInfo ReadEntry(DirectoryCursor& cursor, std::uint64_t data_limit, ItemSpan& span) {
  std::uint8_t fixed[CentralHeaderSize];
  cursor.Read(fixed, sizeof fixed);
  ZipCentralFixed record;
  if (!ParseCentralFixed(fixed, record)) ThrowDamaged("неверная подпись записи оглавления");
  std::string raw_name = cursor.ReadText(record.FNameLength);
  std::string extra = cursor.ReadText(record.FExtraLength);
  cursor.ReadText(record.FCommentLength);
  ZipItemInfo item = record.FItem;
  std::uint32_t start_disk = record.FStartDisk;
  if (!ApplyZip64Extra(extra, item, start_disk)) ThrowDamaged("неполное поле ZIP64");
  if (start_disk != 0) ThrowSpanned();
  item.FName = DecodeStoredName(raw_name, item.FFlags, extra);
  // Each bounded before they are added up.
  if (item.FLocalHeaderOffset > data_limit || item.FCompressedSize > data_limit)
    ThrowDamaged("элемент выходит за пределы данных");
  span.FStart = item.FLocalHeaderOffset;
  span.FEnd = item.FLocalHeaderOffset + LocalHeaderSize + raw_name.size() + item.FCompressedSize;
  return item;
}

// Items must lie before the directory and must not share bytes: a
// directory that points several entries at the same data (a well-known
// way to make a small archive extract to a huge size) or past the data is
// refused as a whole.
void CheckSpans(std::vector<ItemSpan>& spans, std::uint64_t data_limit) {
  std::sort(spans.begin(), spans.end(), [](const ItemSpan& a, const ItemSpan& b) { return a.FStart < b.FStart; });
  std::uint64_t previous_end = 0;
  for (const ItemSpan& span : spans) {
    if (span.FStart < previous_end) ThrowDamaged("элементы перекрываются");
    if (span.FEnd > data_limit) ThrowDamaged("элемент выходит за пределы данных");
    previous_end = span.FEnd;
  }
}

}  // namespace

ZipDirectory ReadZipDirectory(platform::File& file) {
  std::uint64_t file_size = 0;
  ThrowIfFailed(file.Size(file_size));
  if (file_size == 0) throw Error("Файл архива пуст");
  if (file_size < EndRecordSize) throw Error("Файл не является ZIP-архивом");
  DirectoryBounds bounds = ReadBounds(file, file_size);
  ZipDirectory directory;
  directory.FDirectoryOffset = bounds.FOffset;
  std::size_t capacity = static_cast<std::size_t>(std::min<std::uint64_t>(bounds.FItems, InitialItemCapacity));
  directory.FItems.reserve(capacity);
  std::vector<ItemSpan> spans;
  spans.reserve(capacity);
  DirectoryCursor cursor(file, bounds.FOffset, bounds.FSize);
  for (std::uint64_t i = 0; i < bounds.FItems; ++i) {
    ItemSpan span;
    directory.FItems.push_back(ReadEntry(cursor, bounds.FOffset, span));
    spans.push_back(span);
  }
  CheckSpans(spans, bounds.FOffset);
  return directory;
}

}  // namespace volok::archive
