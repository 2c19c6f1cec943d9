// Reads one item's data back: locates it through its local header, checks
// the password, then decrypts and decompresses it in bounded chunks while
// checking size and CRC-32.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "archive/zip_codec.h"
#include "archive/zip_crypto.h"
#include "archive/zip_format.h"
#include "platform/file_system.h"

namespace volok::archive {

class ZipItemReader final {
 public:
  // Positions at the item's data, which must end before `data_limit` (the
  // central directory), and checks the encryption header's check byte.
  // Throws Error for a wrong password, a damaged header or an unsupported
  // method, before any data is produced.
  ZipItemReader(platform::File& archive, std::uint64_t data_limit, const ZipItemInfo& item,
                std::string_view password);
  ZipItemReader(const ZipItemReader&) = delete;
  ZipItemReader& operator=(const ZipItemReader&) = delete;

  // Hands the plain data to `sink` chunk by chunk, then throws Error when
  // the data is damaged, longer or shorter than recorded, or fails its
  // CRC-32. Call once.
  void ReadTo(const ByteSink& sink);

 private:
  void ReadRaw(const ByteSink& sink);

  platform::File& FArchive;
  const ZipItemInfo& FItem;
  std::uint64_t FDataSize = 0;  // after the encryption header
  std::optional<ZipCrypto> FCrypto;
};

}  // namespace volok::archive
