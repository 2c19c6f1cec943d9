#include "archive/zip_format.h"

#include <algorithm>

#include "archive/zip64.h"

namespace volok::archive {

namespace {

// Version 2.0: deflate, folders and traditional encryption. The high byte
// of "made by" is the item's host: 11, Windows NTFS as Info-ZIP and 7-Zip
// number it (APPNOTE lists 10, which both show as TOPS-20), where readers
// take the external attributes as Windows attribute bits; or 3, Unix, where
// they also take a POSIX mode from the high half. On both Info-ZIP unzip
// keeps UTF-8 names as they are (for host 0, FAT, it converts them from the
// DOS code page even under flag bit 11).
constexpr std::uint16_t VersionNeeded = 20;

// The part local and central headers share, from the flags to the name's
// length. Sizes in a ZIP64 extra field are marked 0xFFFFFFFF here, even
// when flag bit 3 zeroes the rest.
void WriteItemCore(ByteWriter& out, const ZipItemInfo& item, bool zero_sums) {
  out.U16(item.FFlags).U16(item.FMethod).U32(item.FDosDateTime);
  out.U32(zero_sums ? 0 : item.FCrc32);
  if (item.FLocalZip64) {
    out.U32(Zip64SizeMark).U32(Zip64SizeMark);
  } else if (zero_sums) {
    out.U32(0).U32(0);
  } else {
    out.U32(item.FCompressedSize).U32(item.FUncompressedSize);
  }
  out.U16(item.FName.size());
}

}  // namespace

ByteWriter& ByteWriter::U16(std::uint64_t value) {
  FBytes += static_cast<char>(value & 0xFF);
  FBytes += static_cast<char>((value >> 8) & 0xFF);
  return *this;
}

ByteWriter& ByteWriter::U32(std::uint64_t value) {
  U16(value & 0xFFFF);
  return U16((value >> 16) & 0xFFFF);
}

ByteWriter& ByteWriter::U64(std::uint64_t value) {
  U32(value & 0xFFFFFFFFu);
  return U32(value >> 32);
}

ByteWriter& ByteWriter::Text(std::string_view text) {
  FBytes += text;
  return *this;
}

std::uint16_t LoadU16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

std::uint32_t LoadU32(const std::uint8_t* bytes) {
  return static_cast<std::uint32_t>(LoadU16(bytes)) | (static_cast<std::uint32_t>(LoadU16(bytes + 2)) << 16);
}

std::uint64_t LoadU64(const std::uint8_t* bytes) {
  return static_cast<std::uint64_t>(LoadU32(bytes)) | (static_cast<std::uint64_t>(LoadU32(bytes + 4)) << 32);
}

bool ZipItemInfo::IsFolder() const {
  return (!FName.empty() && FName.back() == '/') || (FExternalAttributes & AttributeDirectory) != 0;
}

std::uint8_t ZipItemInfo::CheckByte() const {
  if (FFlags & FlagDataDescriptor) return static_cast<std::uint8_t>((FDosDateTime >> 8) & 0xFF);
  return static_cast<std::uint8_t>(FCrc32 >> 24);
}

std::string EncodeLocalHeader(const ZipItemInfo& item) {
  std::string extra = item.FLocalZip64 ? EncodeLocalZip64Extra() : std::string();
  ByteWriter out(LocalHeaderSize + item.FName.size() + extra.size());
  out.U32(LocalHeaderSignature).U16(extra.empty() ? VersionNeeded : Zip64Version);
  WriteItemCore(out, item, (item.FFlags & FlagDataDescriptor) != 0);
  return out.U16(extra.size()).Text(item.FName).Text(extra).Take();
}

std::string EncodeDataDescriptor(const ZipItemInfo& item) {
  ByteWriter out(DataDescriptorSize + 8);
  out.U32(DataDescriptorSignature).U32(item.FCrc32);
  if (item.FLocalZip64) return out.U64(item.FCompressedSize).U64(item.FUncompressedSize).Take();
  return out.U32(item.FCompressedSize).U32(item.FUncompressedSize).Take();
}

std::string EncodeCentralHeader(const ZipItemInfo& item) {
  std::string extra = EncodeCentralZip64Extra(item);
  std::uint16_t version = extra.empty() ? VersionNeeded : Zip64Version;
  ByteWriter out(CentralHeaderSize + item.FName.size() + extra.size());
  out.U32(CentralHeaderSignature).U16((item.FHost << 8) | version).U16(version);
  WriteItemCore(out, item, false);
  // Extra and comment length, start disk, internal attributes.
  out.U16(extra.size()).U16(0).U16(0).U16(0).U32(item.FExternalAttributes);
  out.U32(NeedsZip64(item.FLocalHeaderOffset) ? Zip64SizeMark : item.FLocalHeaderOffset);
  return out.Text(item.FName).Text(extra).Take();
}

std::string EncodeArchiveEnd(std::uint64_t items, std::uint64_t directory_size, std::uint64_t directory_offset) {
  bool zip64 = items >= Zip64CountMark || NeedsZip64(directory_size) || NeedsZip64(directory_offset);
  std::string prefix = zip64 ? EncodeZip64End(items, directory_size, directory_offset) : std::string();
  ByteWriter out(prefix.size() + EndRecordSize);
  out.Text(prefix).U32(EndRecordSignature).U16(0).U16(0);
  std::uint64_t count = std::min(items, Zip64CountMark);
  out.U16(count).U16(count).U32(std::min(directory_size, Zip64SizeMark));
  return out.U32(std::min(directory_offset, Zip64SizeMark)).U16(0).Take();
}

std::optional<std::string_view> FindExtraField(std::string_view extra, std::uint16_t id) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(extra.data());
  std::size_t pos = 0;
  while (pos + 4 <= extra.size()) {
    std::uint16_t field_id = LoadU16(p + pos);
    std::size_t size = LoadU16(p + pos + 2);
    pos += 4;
    if (size > extra.size() - pos) return std::nullopt;
    if (field_id == id) return extra.substr(pos, size);
    pos += size;
  }
  return std::nullopt;
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
  item.FHost = p[5];
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
