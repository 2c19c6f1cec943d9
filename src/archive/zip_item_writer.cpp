#include "archive/zip_item_writer.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "archive/archive_stream.h"
#include "archive/zip64.h"
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
  if (!status.ok()) throw Error("Не удалось открыть файл для архивации " + path + ": " + status.message());
  return file;
}

void WriteText(ZipItemSink& sink, const std::string& bytes) {
  sink.Write(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// One pass: reads the source from its start, encrypts the (deflated) data
// and writes it. A deflate pass stops as soon as its output outgrows the
// file, since the item will be stored anyway.
BodyResult WriteBody(ZipItemSink& out, platform::File& source, std::uint64_t size_hint, bool deflate,
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
  // Sized to the file when it is small: thousands of small files would
  // otherwise each pay for clearing a whole chunk.
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min<std::uint64_t>(ReadChunk, size_hint + 1)));
  ThrowIfFailed(source.Seek(0));
  for (;;) {
    std::size_t got = ReadSome(source, buffer.data(), buffer.size());
    Crc32Update(buffer.data(), static_cast<std::uint32_t>(got), crc);
    result.FSize += got;
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
  // Packed on POSIX: the mode goes beside the Windows bits, so execute
  // bits survive for POSIX readers and Windows readers see what they did.
  if (source.FPosixMode != 0) {
    item.FHost = HostUnix;
    item.FExternalAttributes |= source.FPosixMode << 16;
  }
  return item;
}

ZipItemInfo EncodeFolder(ZipItemSink& out, ZipItemInfo item) {
  item.FExternalAttributes |= AttributeDirectory;
  WriteText(out, EncodeLocalHeader(item));
  return item;
}

// Writes header, encryption header and body with one method; answers the
// body's outcome with the item filled in.
BodyResult EncodeFileAttempt(ZipItemSink& out, platform::File& source, std::uint64_t size_hint,
                             std::string_view password, ZipItemInfo& item) {
  WriteText(out, EncodeLocalHeader(item));
  ZipCrypto crypto(password);
  ZipCryptHeader header =
      crypto.MakeHeader(item.CheckByte(), ZipCrypto::HeaderSeed(item.FName, item.FDosDateTime, size_hint));
  out.Write(header.data(), header.size());
  BodyResult body = WriteBody(out, source, size_hint, item.FMethod == MethodDeflated, crypto);
  item.FCrc32 = body.FCrc32;
  item.FUncompressedSize = body.FSize;
  item.FCompressedSize = body.FPacked + ZipCryptHeaderSize;
  return body;
}

// A source whose reads fail gets named, so the build's warning says which.
class NamedSource final : public platform::FileWrapper {
 public:
  NamedSource(std::unique_ptr<platform::File> file, const std::string& path)
      : FileWrapper(std::move(file)), FPath(path) {}
  platform::Status Read(void* buffer, std::size_t size, std::size_t& done) override {
    platform::Status status = FileWrapper::Read(buffer, size, done);
    if (status.ok()) return status;
    return platform::Status::Failure("Не удалось прочитать файл для архивации " + FPath + ": " + status.message());
  }

 private:
  const std::string& FPath;
};

ZipItemInfo EncodeFile(ZipItemSink& out, const ZipSource& source, std::string_view password, ZipItemInfo item) {
  auto file = std::make_unique<NamedSource>(OpenSource(source.FPath), source.FPath);
  std::uint64_t size_hint = 0;
  ThrowIfFailed(file->Size(size_hint));
  item.FFlags |= FlagEncrypted | FlagDataDescriptor;
  // The local header is written before the data, so whether the sizes
  // need 8 bytes is decided by the size the file has now.
  item.FLocalZip64 = NeedsLocalZip64(size_hint);
  item.FMethod = size_hint > 0 ? MethodDeflated : MethodStored;
  if (!EncodeFileAttempt(out, *file, size_hint, password, item).FShrank) {
    out.Restart();
    item.FMethod = MethodStored;
    EncodeFileAttempt(out, *file, size_hint, password, item);
  }
  if (!item.FLocalZip64 && (NeedsZip64(item.FCompressedSize) || NeedsZip64(item.FUncompressedSize)))
    throw Error("Файл вырос до 4 ГиБ во время архивации: " + source.FPath);
  WriteText(out, EncodeDataDescriptor(item));
  return item;
}

// A link's data is its text, stored: a few bytes that deflate cannot
// shrink.
ZipItemInfo EncodeLink(ZipItemSink& out, const ZipSource& source, std::string_view password, ZipItemInfo item) {
  item.FFlags |= FlagEncrypted | FlagDataDescriptor;
  item.FMethod = MethodStored;
  std::vector<std::uint8_t> data(source.FLinkText.begin(), source.FLinkText.end());
  std::uint32_t crc = 0xFFFFFFFF;
  Crc32Update(data.data(), static_cast<std::uint32_t>(data.size()), crc);
  item.FCrc32 = ~crc;
  item.FUncompressedSize = data.size();
  item.FCompressedSize = data.size() + ZipCryptHeaderSize;
  WriteText(out, EncodeLocalHeader(item));
  ZipCrypto crypto(password);
  ZipCryptHeader header =
      crypto.MakeHeader(item.CheckByte(), ZipCrypto::HeaderSeed(item.FName, item.FDosDateTime, data.size()));
  out.Write(header.data(), header.size());
  crypto.Encrypt(data.data(), data.size());
  out.Write(data.data(), data.size());
  WriteText(out, EncodeDataDescriptor(item));
  return item;
}

}  // namespace

ZipItemInfo EncodeZipItem(const ZipSource& source, std::string_view password, ZipItemSink& sink) {
  ZipItemInfo item = BaseInfo(source);
  if (source.FFolder) return EncodeFolder(sink, std::move(item));
  if (!source.FLinkText.empty()) return EncodeLink(sink, source, password, std::move(item));
  return EncodeFile(sink, source, password, std::move(item));
}

}  // namespace volok::archive
