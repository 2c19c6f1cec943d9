#include "archive/zip_item_reader.h"

#include "archive/archive_stream.h"
#include "common/crc32.h"
#include "common/error.h"

namespace volok::archive {

namespace {

constexpr std::size_t ReadChunk = 256 * 1024;

[[noreturn]] void ThrowDamaged() { throw Error("Данные файла в архиве повреждены"); }

}  // namespace

ZipReadScratch::ZipReadScratch() : FInput(ReadChunk) {}

ZipItemReader::ZipItemReader(const ZipItemSource& source, const ZipItemInfo& item, ZipReadScratch& scratch)
    : FArchive(source.FArchive), FItem(item), FScratch(scratch) {
  if (item.FMethod != MethodStored && item.FMethod != MethodDeflated)
    throw Error("Неподдерживаемый метод сжатия: " + std::to_string(item.FMethod));
  const std::uint64_t limit = source.FDataLimit;
  std::uint8_t fixed[LocalHeaderSize];
  if (item.FLocalHeaderOffset > limit || limit - item.FLocalHeaderOffset < LocalHeaderSize) ThrowDamaged();
  if (ReadSomeAt(FArchive, item.FLocalHeaderOffset, fixed, sizeof fixed) != sizeof fixed) ThrowDamaged();
  ZipLocalFixed local;
  if (!ParseLocalFixed(fixed, local)) ThrowDamaged();
  FDataOffset = item.FLocalHeaderOffset + LocalHeaderSize + local.FNameLength + local.FExtraLength;
  if (FDataOffset > limit || item.FCompressedSize > limit - FDataOffset) ThrowDamaged();
  FDataSize = item.FCompressedSize;
  if (item.IsEncrypted()) {
    if (FDataSize < ZipCryptHeaderSize) ThrowDamaged();
    ZipCryptHeader header;
    if (ReadSomeAt(FArchive, FDataOffset, header.data(), header.size()) != header.size()) ThrowDamaged();
    FDataOffset += ZipCryptHeaderSize;
    FDataSize -= ZipCryptHeaderSize;
    FCrypto.emplace(source.FPassword);
    if (!FCrypto->AcceptHeader(header, item.CheckByte())) throw Error("Неверный пароль архива");
  }
  // Stored data is the file itself: a length that differs from the
  // recorded size is damage known before anything is written.
  if (item.FMethod == MethodStored && FDataSize != item.FUncompressedSize) ThrowDamaged();
}

void ZipItemReader::ReadRaw(const ByteSink& sink) {
  std::vector<std::uint8_t>& buffer = FScratch.FInput;
  std::uint64_t offset = FDataOffset;
  std::uint64_t remaining = FDataSize;
  while (remaining > 0) {
    std::size_t want = remaining < buffer.size() ? static_cast<std::size_t>(remaining) : buffer.size();
    if (ReadSomeAt(FArchive, offset, buffer.data(), want) != want) ThrowDamaged();
    offset += want;
    remaining -= want;
    if (FCrypto) FCrypto->Decrypt(buffer.data(), want);
    sink(buffer.data(), want);
  }
}

void ZipItemReader::ReadTo(const ByteSink& sink) {
  std::uint32_t crc = 0xFFFFFFFF;
  std::uint64_t produced = 0;
  // Never write more than the directory promised: data that inflates
  // beyond it (a bomb, or a forged size) is cut there and fails, so it
  // cannot fill the disk.
  ByteSink checked = [&](std::uint8_t* data, std::size_t size) {
    if (size > FItem.FUncompressedSize - produced) ThrowDamaged();
    produced += size;
    Crc32Update(data, static_cast<std::uint32_t>(size), crc);
    sink(data, size);
  };
  if (FItem.FMethod == MethodStored) {
    ReadRaw(checked);
  } else {
    RawInflater& inflater = FScratch.FInflater;
    inflater.Reset();
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
