#include "archive/zip_item_reader.h"

#include <algorithm>

#include "archive/archive_stream.h"
#include "common/crc32.h"
#include "common/error.h"

namespace volok::archive {

namespace {

constexpr std::size_t ReadChunk = 256 * 1024;
// Room for the name and extra fields of a local header in the first read;
// a longer header costs one more read.
constexpr std::size_t LikelyHeaderExtra = 1024;

[[noreturn]] void ThrowDamaged() { throw Error("Данные файла в архиве повреждены"); }

}  // namespace

ZipReadScratch::ZipReadScratch() : FInput(ReadChunk) {}

ZipItemReader::ZipItemReader(const ZipItemSource& source, const ZipItemInfo& item, ZipReadScratch& scratch)
    : FArchive(source.FArchive), FItem(item), FScratch(scratch) {
  if (item.FMethod != MethodStored && item.FMethod != MethodDeflated)
    throw Error("Неподдерживаемый метод сжатия: " + std::to_string(item.FMethod));
  const std::uint64_t limit = source.FDataLimit;
  if (item.FLocalHeaderOffset > limit || limit - item.FLocalHeaderOffset < LocalHeaderSize) ThrowDamaged();
  std::size_t got = ReadFirstBlock(limit);
  ZipLocalFixed local;
  if (got < LocalHeaderSize || !ParseLocalFixed(FScratch.FInput.data(), local)) ThrowDamaged();
  std::size_t header = LocalHeaderSize + local.FNameLength + local.FExtraLength;
  FDataOffset = item.FLocalHeaderOffset + header;
  if (FDataOffset > limit || item.FCompressedSize > limit - FDataOffset) ThrowDamaged();
  FDataSize = item.FCompressedSize;
  if (item.IsEncrypted()) {
    if (FDataSize < ZipCryptHeaderSize) ThrowDamaged();
    ZipCryptHeader crypt;
    if (got >= header + crypt.size()) {
      std::copy_n(FScratch.FInput.data() + header, crypt.size(), crypt.data());
    } else if (ReadSomeAt(FArchive, FDataOffset, crypt.data(), crypt.size()) != crypt.size()) {
      ThrowDamaged();
    }
    header += crypt.size();
    FDataOffset += ZipCryptHeaderSize;
    FDataSize -= ZipCryptHeaderSize;
    FCrypto.emplace(source.FPassword);
    if (!FCrypto->AcceptHeader(crypt, item.CheckByte())) throw Error("Неверный пароль архива");
  }
  // Stored data is the file itself: a length that differs from the
  // recorded size is damage known before anything is written.
  if (item.FMethod == MethodStored && FDataSize != item.FUncompressedSize) ThrowDamaged();
  if (got > header) {
    FBufferedStart = header;
    FBufferedSize = static_cast<std::size_t>(std::min<std::uint64_t>(got - header, FDataSize));
  }
}

std::size_t ZipItemReader::ReadFirstBlock(std::uint64_t limit) {
  // One read brings the local header, the encryption header and, for a
  // small item, all of its data: most payload files are small, and every
  // read is a system call (a server round trip under Wine).
  std::uint64_t wanted = LocalHeaderSize + LikelyHeaderExtra + ZipCryptHeaderSize + FItem.FCompressedSize;
  wanted = std::min({wanted, limit - FItem.FLocalHeaderOffset, std::uint64_t{FScratch.FInput.size()}});
  return ReadSomeAt(FArchive, FItem.FLocalHeaderOffset, FScratch.FInput.data(), static_cast<std::size_t>(wanted));
}

void ZipItemReader::ReadRaw(const ByteSink& sink) {
  std::vector<std::uint8_t>& buffer = FScratch.FInput;
  std::uint64_t offset = FDataOffset + FBufferedSize;
  std::uint64_t remaining = FDataSize - FBufferedSize;
  if (FBufferedSize > 0) {
    std::uint8_t* data = buffer.data() + FBufferedStart;
    if (FCrypto) FCrypto->Decrypt(data, FBufferedSize);
    sink(data, FBufferedSize);
  }
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
