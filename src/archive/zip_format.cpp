#include "archive/zip_format.h"

namespace volok::archive {

namespace {

// Version 2.0: deflate, folders and traditional encryption. The high byte
// of "made by" is host 11, Windows NTFS as Info-ZIP and 7-Zip number it
// (APPNOTE lists 10, which both show as TOPS-20): readers take the external
// attributes as Windows attribute bits, and Info-ZIP unzip keeps UTF-8 names
// as they are (for host 0, FAT, it converts them from the DOS code page even
// under flag bit 11).
constexpr std::uint16_t VersionNeeded = 20;
constexpr std::uint16_t VersionMadeBy = (11 << 8) | 20;

class ByteWriter final {
 public:
  explicit ByteWriter(std::size_t capacity) { FBytes.reserve(capacity); }
  ByteWriter& U16(std::uint32_t value) {
    FBytes += static_cast<char>(value & 0xFF);
    FBytes += static_cast<char>((value >> 8) & 0xFF);
    return *this;
  }
  ByteWriter& U32(std::uint64_t value) {
    U16(static_cast<std::uint32_t>(value & 0xFFFF));
    return U16(static_cast<std::uint32_t>((value >> 16) & 0xFFFF));
  }
  ByteWriter& Text(std::string_view text) {
    FBytes += text;
    return *this;
  }
  std::string Take() { return std::move(FBytes); }

 private:
  std::string FBytes;
};

void WriteItemCore(ByteWriter& out, const ZipItemInfo& item, bool zero_sums) {
  out.U16(item.FFlags).U16(item.FMethod).U32(item.FDosDateTime);
  if (zero_sums) {
    out.U32(0).U32(0).U32(0);
  } else {
    out.U32(item.FCrc32).U32(item.FCompressedSize).U32(item.FUncompressedSize);
  }
  out.U16(static_cast<std::uint32_t>(item.FName.size()));
}

}  // namespace

std::uint16_t LoadU16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t LoadU32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(LoadU16(bytes)) | (static_cast<std::uint32_t>(LoadU16(bytes + 2)) << 16);
}

bool ZipItemInfo::IsFolder() const {
  return (!FName.empty() && FName.back() == '/') || (FExternalAttributes & AttributeDirectory) != 0;
}

std::uint8_t ZipItemInfo::CheckByte() const {
  if (FFlags & FlagDataDescriptor) return static_cast<std::uint8_t>((FDosDateTime >> 8) & 0xFF);
  return static_cast<std::uint8_t>(FCrc32 >> 24);
}

std::string EncodeLocalHeader(const ZipItemInfo& item) {
  ByteWriter out(LocalHeaderSize + item.FName.size());
  out.U32(LocalHeaderSignature).U16(VersionNeeded);
  WriteItemCore(out, item, (item.FFlags & FlagDataDescriptor) != 0);
  return out.U16(0).Text(item.FName).Take();
}

std::string EncodeDataDescriptor(const ZipItemInfo& item) {
  ByteWriter out(DataDescriptorSize);
  out.U32(DataDescriptorSignature).U32(item.FCrc32).U32(item.FCompressedSize).U32(item.FUncompressedSize);
  return out.Take();
}

std::string EncodeCentralHeader(const ZipItemInfo& item) {
  ByteWriter out(CentralHeaderSize + item.FName.size());
  out.U32(CentralHeaderSignature).U16(VersionMadeBy).U16(VersionNeeded);
  WriteItemCore(out, item, false);
  // Extra and comment length, start disk, internal attributes.
  out.U16(0).U16(0).U16(0).U16(0);
  return out.U32(item.FExternalAttributes).U32(item.FLocalHeaderOffset).Text(item.FName).Take();
}

std::string EncodeEndRecord(std::size_t items, std::uint64_t directory_size, std::uint64_t directory_offset) {
  ByteWriter out(EndRecordSize);
  out.U32(EndRecordSignature).U16(0).U16(0).U16(static_cast<std::uint32_t>(items));
  out.U16(static_cast<std::uint32_t>(items)).U32(directory_size).U32(directory_offset);
  return out.U16(0).Take();
}

bool ParseEndRecord(const std::uint8_t* p, ZipEndRecord& record) {
  if (LoadU32(p) != EndRecordSignature) return false;
  record.FDisk = LoadU16(p + 4);
  record.FDirectoryDisk = LoadU16(p + 6);
  record.FItemsOnDisk = LoadU16(p + 8);
  record.FItems = LoadU16(p + 10);
  record.FDirectorySize = LoadU32(p + 12);
  record.FDirectoryOffset = LoadU32(p + 16);
  record.FCommentLength = LoadU16(p + 20);
  return true;
}

bool ParseCentralFixed(const std::uint8_t* p, ZipCentralFixed& record) {
  if (LoadU32(p) != CentralHeaderSignature) return false;
  ZipItemInfo& item = record.FItem;
  item.FFlags = LoadU16(p + 8);
  item.FMethod = LoadU16(p + 10);
  item.FDosDateTime = LoadU32(p + 12);
  item.FCrc32 = LoadU32(p + 16);
  item.FCompressedSize = LoadU32(p + 20);
  item.FUncompressedSize = LoadU32(p + 24);
  record.FNameLength = LoadU16(p + 28);
  record.FExtraLength = LoadU16(p + 30);
  record.FCommentLength = LoadU16(p + 32);
  record.FStartDisk = LoadU16(p + 34);
  item.FExternalAttributes = LoadU32(p + 38);
  item.FLocalHeaderOffset = LoadU32(p + 42);
  return true;
}

bool ParseLocalFixed(const std::uint8_t* p, ZipLocalFixed& record) {
  if (LoadU32(p) != LocalHeaderSignature) return false;
  record.FFlags = LoadU16(p + 6);
  record.FMethod = LoadU16(p + 8);
  record.FDosDateTime = LoadU32(p + 10);
  record.FNameLength = LoadU16(p + 26);
  record.FExtraLength = LoadU16(p + 28);
  return true;
}

}  // namespace volok::archive
