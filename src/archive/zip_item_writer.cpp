#include "archive/zip_item_writer.h"

#include <memory>
#include <vector>

#include "archive/zip_codec.h"
#include "archive/zip_crypto.h"
#include "archive/zip_time.h"
#include "common/crc32.h"
#include "common/error.h"

namespace volok::archive {

namespace {

constexpr std::size_t ReadChunk = 256 * 1024;

// What one pass over the source produced.
struct BodyResult {
  std::uint32_t FCrc32 = 0;
  std::uint64_t FSize = 0;
  std::uint64_t FPacked = 0;  // data bytes after the encryption header
  bool FShrank = true;        // false: deflate gave up, the output is unusable
};

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::unique_ptr<platform::File> OpenSource(const std::string& path) {
  std::unique_ptr<platform::File> file;
  // Others may hold the file open for writing (a log, say); read it anyway.
  platform::Status status =
      platform::FileSystem::Default().OpenFile(path, platform::FileAccess::ReadExisting, platform::FileShare::ReadWrite,
                                               file);
  if (!status.ok()) throw Error("Не удалось открыть файл для архивации: " + status.message());
  return file;
}

// One pass: reads the source from its start, encrypts the (deflated) data
// and writes it. A deflate pass stops as soon as its output outgrows the
// file, since the item will be stored anyway.
BodyResult WriteBody(ArchiveOutput& out, platform::File& source, std::uint64_t size_hint, bool deflate,
                     ZipCrypto& crypto) {
  BodyResult result;
  std::uint32_t crc = 0xFFFFFFFF;
  std::unique_ptr<RawDeflater> deflater;
  if (deflate) deflater = std::make_unique<RawDeflater>();
  ByteSink sink = [&](std::uint8_t* data, std::size_t size) {
    crypto.Encrypt(data, size);
    out.Write(data, size);
    result.FPacked += size;
  };
  std::vector<std::uint8_t> buffer(ReadChunk);
  ThrowIfFailed(source.Seek(0));
  for (;;) {
    std::size_t got = ReadSome(source, buffer.data(), buffer.size());
    Crc32Update(buffer.data(), static_cast<std::uint32_t>(got), crc);
    result.FSize += got;
    if (result.FSize > MaxZipSize - ZipCryptHeaderSize) throw Error("Файл слишком велик для архива (4 ГиБ и больше)");
    bool last = got == 0;
    if (deflater) {
      deflater->Feed(buffer.data(), got, last, sink);
      if (result.FPacked > size_hint && result.FPacked > result.FSize) {
        result.FShrank = false;
        return result;
      }
    } else {
      sink(buffer.data(), got);
    }
    if (last) break;
  }
  result.FCrc32 = ~crc;
  if (deflater && result.FPacked > result.FSize) result.FShrank = false;
  return result;
}

ZipItemInfo BaseInfo(const ZipSource& source) {
  ZipItemInfo item;
  item.FName = source.FName;
  item.FDosDateTime = FileTimeToDos(source.FLastWriteTime);
  item.FExternalAttributes = source.FAttributes & (AttributeReadOnly | AttributeHidden | AttributeSystem |
                                                   AttributeDirectory | AttributeArchive);
  if (!IsAscii(item.FName)) item.FFlags |= FlagUtf8Name;
  return item;
}

ZipItemInfo WriteFolder(ArchiveOutput& out, ZipItemInfo item) {
  item.FExternalAttributes |= AttributeDirectory;
  item.FLocalHeaderOffset = out.Position();
  out.Write(EncodeLocalHeader(item));
  return item;
}

// Writes header, encryption header and body with one method; answers the
// body's outcome with the item filled in.
BodyResult WriteFileAttempt(ArchiveOutput& out, platform::File& source, std::uint64_t size_hint,
                            std::string_view password, ZipItemInfo& item) {
  item.FLocalHeaderOffset = out.Position();
  out.Write(EncodeLocalHeader(item));
  ZipCrypto crypto(password);
  ZipCryptHeader header = crypto.MakeHeader(item.CheckByte());
  out.Write(header.data(), header.size());
  BodyResult body = WriteBody(out, source, size_hint, item.FMethod == MethodDeflated, crypto);
  item.FCrc32 = body.FCrc32;
  item.FUncompressedSize = body.FSize;
  item.FCompressedSize = body.FPacked + ZipCryptHeaderSize;
  return body;
}

ZipItemInfo WriteFile(ArchiveOutput& out, const ZipSource& source, std::string_view password, ZipItemInfo item) {
  std::unique_ptr<platform::File> file = OpenSource(source.FPath);
  std::uint64_t size_hint = 0;
  ThrowIfFailed(file->Size(size_hint));
  item.FFlags |= FlagEncrypted | FlagDataDescriptor;
  std::uint64_t start = out.Position();
  item.FMethod = size_hint > 0 ? MethodDeflated : MethodStored;
  if (!WriteFileAttempt(out, *file, size_hint, password, item).FShrank) {
    out.Rewind(start);
    item.FMethod = MethodStored;
    WriteFileAttempt(out, *file, size_hint, password, item);
  }
  out.Write(EncodeDataDescriptor(item));
  return item;
}

}  // namespace

ZipItemInfo WriteZipItem(ArchiveOutput& out, const ZipSource& source, std::string_view password) {
  ZipItemInfo item = BaseInfo(source);
  if (source.FFolder) return WriteFolder(out, std::move(item));
  return WriteFile(out, source, password, std::move(item));
}

void WriteZipArchive(platform::File& file, const std::vector<ZipSource>& sources, std::string_view password) {
  if (sources.size() > MaxZipItems) throw Error("Слишком много файлов для архива (больше 65535)");
  ArchiveOutput out(file);
  std::vector<ZipItemInfo> items;
  items.reserve(sources.size());
  for (const ZipSource& source : sources) {
    items.push_back(WriteZipItem(out, source, password));
    if (out.Position() > MaxZipSize) throw Error("Архив больше 4 ГиБ");
  }
  std::uint64_t directory_offset = out.Position();
  for (const ZipItemInfo& item : items) out.Write(EncodeCentralHeader(item));
  std::uint64_t directory_size = out.Position() - directory_offset;
  if (out.Position() > MaxZipSize) throw Error("Архив больше 4 ГиБ");
  out.Write(EncodeEndRecord(items.size(), directory_size, directory_offset));
  out.Finish();
}

}  // namespace volok::archive
