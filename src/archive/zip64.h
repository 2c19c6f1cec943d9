// APPNOTE's ZIP64 extensions: the extended information extra field (0x0001)
// that carries 8-byte sizes and offsets of one item, and the ZIP64 end of
// central directory record with its locator that carry the archive's
// 8-byte count, size and offset of the central directory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "archive/zip_format.h"

namespace volok::archive {

inline constexpr std::uint16_t Zip64ExtraId = 0x0001;
inline constexpr std::uint32_t Zip64EndRecordSignature = 0x06064B50;
inline constexpr std::uint32_t Zip64LocatorSignature = 0x07064B50;
inline constexpr std::size_t Zip64EndRecordSize = 56;
inline constexpr std::size_t Zip64LocatorSize = 20;

// Version 4.5 "needed to extract": ZIP64 format extensions.
inline constexpr std::uint16_t Zip64Version = 45;

[[nodiscard]] constexpr bool NeedsZip64(std::uint64_t size_or_offset) { return size_or_offset >= Zip64SizeMark; }

// Whether an item whose source holds `size` bytes must announce ZIP64 in
// its local header: its stored form (data plus encryption header) may
// reach the 32-bit mark. Deflated data that would be larger is stored.
[[nodiscard]] bool NeedsLocalZip64(std::uint64_t size);

// The local header's extra field: both sizes, zero, since flag bit 3
// puts the real ones in the data descriptor.
std::string EncodeLocalZip64Extra();
// The central header's extra field for the fields the header marks:
// both sizes when the item has FLocalZip64, the offset when it needs it.
// Empty when nothing is marked.
std::string EncodeCentralZip64Extra(const ZipItemInfo& item);
// The ZIP64 end record and its locator, for a directory that ends where
// they begin.
std::string EncodeZip64End(std::uint64_t items, std::uint64_t directory_size, std::uint64_t directory_offset);

// Replaces the item's marked sizes and offset (and the start disk) with
// the values of its ZIP64 extra field, in APPNOTE's fixed order. Answers
// false when the field is present but too short for what is marked; an
// item without the field keeps its 32-bit values.
[[nodiscard]] bool ApplyZip64Extra(std::string_view extra, ZipItemInfo& item, std::uint32_t& start_disk);

struct Zip64EndRecord {
  std::uint32_t FDisk = 0;
  std::uint32_t FDirectoryDisk = 0;
  std::uint64_t FItemsOnDisk = 0;
  std::uint64_t FItems = 0;
  std::uint64_t FDirectorySize = 0;
  std::uint64_t FDirectoryOffset = 0;
};

struct Zip64Locator {
  std::uint32_t FRecordDisk = 0;
  std::uint64_t FRecordOffset = 0;
  std::uint32_t FDisks = 0;
};

// Each parser reads exactly its record's fixed size and answers false when
// the signature does not match.
[[nodiscard]] bool ParseZip64EndRecord(const std::uint8_t* bytes, Zip64EndRecord& record);
[[nodiscard]] bool ParseZip64Locator(const std::uint8_t* bytes, Zip64Locator& locator);

}  // namespace volok::archive
