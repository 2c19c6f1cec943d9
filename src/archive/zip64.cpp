#include "archive/zip64.h"

#include "archive/zip_crypto.h"

namespace volok::archive {

namespace {

constexpr std::uint16_t StartDiskMark = 0xFFFF;
// The ZIP64 end record's own size field counts what follows that field.
constexpr std::uint64_t Zip64EndRecordRest = Zip64EndRecordSize - 12;

std::string ExtraField(std::uint16_t id, const std::string& data) {
  ByteWriter out(4 + data.size());
  return out.U16(id).U16(data.size()).Text(data).Take();
}

// Takes the next 8-byte (or 4-byte) value of an extra field, if there is one.
class FieldReader final {
 public:
  explicit FieldReader(std::string_view data) : FData(data) {}
  bool Take(std::size_t size, std::uint64_t& value) {
    if (FData.size() < size) return false;
    const auto* p = reinterpret_cast<const std::uint8_t*>(FData.data());
    value = size == 8 ? LoadU64(p) : LoadU32(p);
    FData.remove_prefix(size);
    return true;
  }

 private:
  std::string_view FData;
};

}  // namespace

bool NeedsLocalZip64(std::uint64_t size) { return size >= Zip64SizeMark - ZipCryptHeaderSize; }

std::string EncodeLocalZip64Extra() { return ExtraField(Zip64ExtraId, ByteWriter(16).U64(0).U64(0).Take()); }

std::string EncodeCentralZip64Extra(const ZipItemInfo& item) {
  ByteWriter data(24);
  if (item.FLocalZip64) data.U64(item.FUncompressedSize).U64(item.FCompressedSize);
  if (NeedsZip64(item.FLocalHeaderOffset)) data.U64(item.FLocalHeaderOffset);
  std::string fields = data.Take();
  return fields.empty() ? std::string() : ExtraField(Zip64ExtraId, fields);
}

std::string EncodeZip64End(std::uint64_t items, std::uint64_t directory_size, std::uint64_t directory_offset) {
  ByteWriter out(Zip64EndRecordSize + Zip64LocatorSize);
  out.U32(Zip64EndRecordSignature).U64(Zip64EndRecordRest);
  out.U16((11 << 8) | Zip64Version).U16(Zip64Version).U32(0).U32(0);
  out.U64(items).U64(items).U64(directory_size).U64(directory_offset);
  // The locator: the record's disk, its offset, the number of disks.
  return out.U32(Zip64LocatorSignature).U32(0).U64(directory_offset + directory_size).U32(1).Take();
}

bool ApplyZip64Extra(std::string_view extra, ZipItemInfo& item, std::uint32_t& start_disk) {
  std::optional<std::string_view> data = FindExtraField(extra, Zip64ExtraId);
  if (!data) return true;
  FieldReader fields(*data);
  std::uint64_t disk = start_disk;
  bool ok = (item.FUncompressedSize != Zip64SizeMark || fields.Take(8, item.FUncompressedSize)) &&
            (item.FCompressedSize != Zip64SizeMark || fields.Take(8, item.FCompressedSize)) &&
            (item.FLocalHeaderOffset != Zip64SizeMark || fields.Take(8, item.FLocalHeaderOffset)) &&
            (start_disk != StartDiskMark || fields.Take(4, disk));
  start_disk = static_cast<std::uint32_t>(disk);
  return ok;
}

bool ParseZip64EndRecord(const std::uint8_t* p, Zip64EndRecord& record) {
  if (LoadU32(p) != Zip64EndRecordSignature) return false;
  record.FDisk = LoadU32(p + 16);
  record.FDirectoryDisk = LoadU32(p + 20);
  record.FItemsOnDisk = LoadU64(p + 24);
  record.FItems = LoadU64(p + 32);
  record.FDirectorySize = LoadU64(p + 40);
  record.FDirectoryOffset = LoadU64(p + 48);
  return true;
}

bool ParseZip64Locator(const std::uint8_t* p, Zip64Locator& locator) {
  if (LoadU32(p) != Zip64LocatorSignature) return false;
  locator.FRecordDisk = LoadU32(p + 4);
  locator.FRecordOffset = LoadU64(p + 8);
  locator.FDisks = LoadU32(p + 16);
  return true;
}

}  // namespace volok::archive
