// The ZIP container's records as APPNOTE lays them out: local header, data
// descriptor, central directory header and end of central directory. All
// numbers are little-endian. Sizes, offsets and counts that do not fit the
// 32-bit (16-bit for counts) fields go into APPNOTE's ZIP64 records
// (zip64.h); an archive that needs none of them has none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace volok::archive {

inline constexpr std::uint32_t LocalHeaderSignature = 0x04034B50;
inline constexpr std::uint32_t CentralHeaderSignature = 0x02014B50;
inline constexpr std::uint32_t EndRecordSignature = 0x06054B50;
inline constexpr std::uint32_t DataDescriptorSignature = 0x08074B50;

inline constexpr std::size_t LocalHeaderSize = 30;
inline constexpr std::size_t CentralHeaderSize = 46;
inline constexpr std::size_t EndRecordSize = 22;
inline constexpr std::size_t DataDescriptorSize = 16;

// A 32-bit field holding 0xFFFFFFFF (a 16-bit one 0xFFFF) says "see the
// ZIP64 record", so these values themselves already need ZIP64.
inline constexpr std::uint64_t Zip64SizeMark = 0xFFFFFFFFu;
inline constexpr std::uint64_t Zip64CountMark = 0xFFFF;

// General-purpose flag bits.
inline constexpr std::uint16_t FlagEncrypted = 0x0001;
inline constexpr std::uint16_t FlagDataDescriptor = 0x0008;
inline constexpr std::uint16_t FlagUtf8Name = 0x0800;

inline constexpr std::uint16_t MethodStored = 0;
inline constexpr std::uint16_t MethodDeflated = 8;

// Windows attribute bits as ZIP tools of the FAT host store them.
inline constexpr std::uint32_t AttributeReadOnly = 0x01;
inline constexpr std::uint32_t AttributeHidden = 0x02;
inline constexpr std::uint32_t AttributeSystem = 0x04;
inline constexpr std::uint32_t AttributeDirectory = 0x10;
inline constexpr std::uint32_t AttributeArchive = 0x20;

// The host systems of "version made by" that this component writes: the
// external attributes hold Windows attribute bits (NTFS), or in addition a
// POSIX mode in their high half (Unix), as Info-ZIP numbers them.
inline constexpr std::uint8_t HostNtfs = 11;
inline constexpr std::uint8_t HostUnix = 3;

// One item as the central directory describes it.
struct ZipItemInfo {
  std::string FName;  // UTF-8, "/" separators; a folder's ends with "/"
  std::uint16_t FFlags = 0;
  std::uint16_t FMethod = MethodStored;
  std::uint32_t FDosDateTime = 0;  // DOS date in the high half, time in the low
  std::uint32_t FCrc32 = 0;
  std::uint64_t FCompressedSize = 0;  // encryption header included
  std::uint64_t FUncompressedSize = 0;
  std::uint32_t FExternalAttributes = 0;
  std::uint8_t FHost = HostNtfs;  // high byte of "version made by"
  std::uint64_t FLocalHeaderOffset = 0;
  // Written with a ZIP64 extra field in its local header, so its data
  // descriptor carries 8-byte sizes (decided before the data is known).
  bool FLocalZip64 = false;

  bool IsFolder() const;
  // The POSIX mode (type and permission bits) an item made on a Unix host
  // carries in the high half of its external attributes; 0 when none.
  std::uint32_t PosixMode() const { return FHost == HostUnix ? FExternalAttributes >> 16 : 0; }
  bool IsEncrypted() const { return (FFlags & FlagEncrypted) != 0; }
  // The byte the encryption header must end with: the high byte of the DOS
  // time when a data descriptor follows the data, else of the CRC.
  std::uint8_t CheckByte() const;
};

// Records as bytes; the name is written as it stands (UTF-8). With flag
// bit 3 the local header carries zero CRC and sizes, as APPNOTE asks. An
// item with FLocalZip64, or whose offset does not fit 32 bits, gets a ZIP64
// extra field and version 4.5.
std::string EncodeLocalHeader(const ZipItemInfo& item);
std::string EncodeDataDescriptor(const ZipItemInfo& item);
std::string EncodeCentralHeader(const ZipItemInfo& item);
// The end of the archive after its central directory, which ends at
// directory_offset + directory_size: the end record, preceded by the ZIP64
// end record and its locator when a count, size or offset needs them.
std::string EncodeArchiveEnd(std::uint64_t items, std::uint64_t directory_size, std::uint64_t directory_offset);

struct ZipEndRecord {
  std::uint16_t FDisk = 0;
  std::uint16_t FDirectoryDisk = 0;
  std::uint16_t FItemsOnDisk = 0;
  std::uint16_t FItems = 0;
  std::uint32_t FDirectorySize = 0;
  std::uint32_t FDirectoryOffset = 0;
  std::uint16_t FCommentLength = 0;
};

// The fixed part of a central directory header; the variable parts follow
// it in the file in this order.
struct ZipCentralFixed {
  ZipItemInfo FItem;  // without the name
  std::uint16_t FNameLength = 0;
  std::uint16_t FExtraLength = 0;
  std::uint16_t FCommentLength = 0;
  std::uint16_t FStartDisk = 0;
};

// The fixed part of a local header.
struct ZipLocalFixed {
  std::uint16_t FFlags = 0;
  std::uint16_t FMethod = 0;
  std::uint32_t FDosDateTime = 0;
  std::uint16_t FNameLength = 0;
  std::uint16_t FExtraLength = 0;
};

// Each parser reads exactly its record's fixed size from `bytes` and
// answers false when the signature does not match.
[[nodiscard]] bool ParseEndRecord(const std::uint8_t* bytes, ZipEndRecord& record);
[[nodiscard]] bool ParseCentralFixed(const std::uint8_t* bytes, ZipCentralFixed& record);
[[nodiscard]] bool ParseLocalFixed(const std::uint8_t* bytes, ZipLocalFixed& record);

// Little-endian fields inside an extra-field block.
std::uint16_t LoadU16(const std::uint8_t* bytes);
std::uint32_t LoadU32(const std::uint8_t* bytes);
std::uint64_t LoadU64(const std::uint8_t* bytes);

// The data of the first extra field with `id` in an extra-field block.
std::optional<std::string_view> FindExtraField(std::string_view extra, std::uint16_t id);

// Appends little-endian fields to a record under construction.
class ByteWriter final {
 public:
  explicit ByteWriter(std::size_t capacity) { FBytes.reserve(capacity); }
  ByteWriter& U16(std::uint64_t value);
  ByteWriter& U32(std::uint64_t value);
  ByteWriter& U64(std::uint64_t value);
  ByteWriter& Text(std::string_view text);
  std::string Take() { return std::move(FBytes); }

 private:
  std::string FBytes;
};

}  // namespace volok::archive
