#include "archive/zip_item_reader.h"

#include <vector>

#include "archive/archive_stream.h"
#include "common/crc32.h"
#include "common/error.h"

namespace volok::archive {

namespace {

constexpr std::size_t ReadChunk = 256 * 1024;

[[noreturn]] void ThrowDamaged() { throw Error("Данные файла в архиве повреждены"); }

}  // namespace

ZipItemReader::ZipItemReader(platform::File& archive, std::uint64_t data_limit, const ZipItemInfo& item,
                             std::string_view password)
    : FArchive(archive), FItem(item) {
  if (item.FMethod != MethodStored && item.FMethod != MethodDeflated)
    throw Error("Неподдерживаемый метод сжатия: " + std::to_string(item.FMethod));
  std::uint8_t fixed[LocalHeaderSize];
  if (item.FLocalHeaderOffset + LocalHeaderSize > data_limit) ThrowDamaged();
  ReadExactly(archive, item.FLocalHeaderOffset, fixed, sizeof fixed);
  ZipLocalFixed local;
  if (!ParseLocalFixed(fixed, local)) ThrowDamaged();
  std::uint64_t data_start = item.FLocalHeaderOffset + LocalHeaderSize + local.FNameLength + local.FExtraLength;
  if (data_start > data_limit || item.FCompressedSize > data_limit - data_start) ThrowDamaged();
  ThrowIfFailed(archive.Seek(data_start));
  FDataSize = item.FCompressedSize;
  if (!item.IsEncrypted()) return;
  if (FDataSize < ZipCryptHeaderSize) ThrowDamaged();
  FDataSize -= ZipCryptHeaderSize;
  ZipCryptHeader header;
  if (ReadSome(archive, header.data(), header.size()) != header.size()) ThrowDamaged();
  FCrypto.emplace(password);
  if (!FCrypto->AcceptHeader(header, item.CheckByte())) throw Error("Неверный пароль архива");
}

void ZipItemReader::ReadRaw(const ByteSink& sink) {
  std::vector<std::uint8_t> buffer(ReadChunk);
  std::uint64_t remaining = FDataSize;
  while (remaining > 0) {
    std::size_t want = remaining < buffer.size() ? static_cast<std::size_t>(remaining) : buffer.size();
    if (ReadSome(FArchive, buffer.data(), want) != want) ThrowDamaged();
    remaining -= want;
    if (FCrypto) FCrypto->Decrypt(buffer.data(), want);
    sink(buffer.data(), want);
  }
}

void ZipItemReader::ReadTo(const ByteSink& sink) {
  std::uint32_t crc = 0xFFFFFFFF;
  std::uint64_t produced = 0;
  // Never write more than the directory promised: a forged size cannot
  // fill the disk.
  ByteSink checked = [&](std::uint8_t* data, std::size_t size) {
    produced += size;
    if (produced > FItem.FUncompressedSize) ThrowDamaged();
    Crc32Update(data, static_cast<std::uint32_t>(size), crc);
    sink(data, size);
  };
  if (FItem.FMethod == MethodStored) {
    ReadRaw(checked);
  } else {
    RawInflater inflater;
    bool ended = false;
    ReadRaw([&](std::uint8_t* data, std::size_t size) {
      if (ended) return;  // padding after the stream's end is harmless
      ended = inflater.Feed(data, size, checked);
    });
    if (!ended) ThrowDamaged();
  }
  if (produced != FItem.FUncompressedSize) ThrowDamaged();
  if (~crc != FItem.FCrc32) throw Error("Ошибка контрольной суммы файла в архиве");
}

}  // namespace volok::archive
