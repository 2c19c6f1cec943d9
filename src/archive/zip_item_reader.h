// Reads one item's data back: locates it through its local header, checks
// the password, then decrypts and decompresses it in bounded chunks while
// checking size and CRC-32.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "archive/zip_codec.h"
#include "archive/zip_crypto.h"
#include "archive/zip_format.h"
#include "platform/file_system.h"

namespace volok::archive {

// Where items are read from. The archive is only read through ReadAt, so
// several item readers on several threads may share it.
struct ZipItemSource {
  platform::File& FArchive;
  std::uint64_t FDataLimit = 0;  // item data ends before this (the central directory)
  std::string_view FPassword;
};

// The memory one thread reuses for item after item.
struct ZipReadScratch {
  ZipReadScratch();
  std::vector<std::uint8_t> FInput;
  RawInflater FInflater;
};

class ZipItemReader final {
 public:
  // Checks the item's local header and the encryption header's check byte.
  // Throws Error for a wrong password, a damaged header, data outside the
  // archive's data area, a stored item whose data is not as long as
  // recorded, or an unsupported method, before any data is produced.
  ZipItemReader(const ZipItemSource& source, const ZipItemInfo& item, ZipReadScratch& scratch);
  ZipItemReader(const ZipItemReader&) = delete;
  ZipItemReader& operator=(const ZipItemReader&) = delete;

  // Hands the plain data to `sink` chunk by chunk, never more than the
  // recorded uncompressed size in all, then throws Error when the data is
  // damaged, longer or shorter than recorded, or fails its CRC-32. Call
  // once.
  void ReadTo(const ByteSink& sink);

 private:
  std::size_t ReadFirstBlock(std::uint64_t limit);
  void ReadRaw(const ByteSink& sink);

  platform::File& FArchive;
  const ZipItemInfo& FItem;
  ZipReadScratch& FScratch;
  std::uint64_t FDataOffset = 0;  // after the encryption header
  std::uint64_t FDataSize = 0;
  // The start of the data, read along with the headers into FScratch.FInput.
  std::size_t FBufferedStart = 0;
  std::size_t FBufferedSize = 0;
  std::optional<ZipCrypto> FCrypto;
};

}  // namespace volok::archive
