#include "archive/zip_codec.h"

#include <array>
#include <limits>

#include "common/error.h"

namespace volok::archive {

namespace {

constexpr int RawWindowBits = -15;
constexpr std::size_t OutputChunk = 64 * 1024;
// Large enough that a big item is written in few system calls.
constexpr std::size_t InflateChunk = 256 * 1024;
// zlib counts in uInt; feed it at most this much per call.
constexpr std::size_t MaxFeed = 1u << 30;

[[noreturn]] void ThrowZlib(const char* what) {
  throw Error(std::string("Ошибка библиотеки zlib: ") + what);
}

}  // namespace

RawDeflater::RawDeflater() {
  if (deflateInit2(&FStream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, RawWindowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    ThrowZlib("deflateInit2");
}

RawDeflater::~RawDeflater() { deflateEnd(&FStream); }

void RawDeflater::Feed(const std::uint8_t* data, std::size_t size, bool finish, const ByteSink& sink) {
  std::array<std::uint8_t, OutputChunk> out;
  do {
    std::size_t part = size < MaxFeed ? size : MaxFeed;
    FStream.next_in = const_cast<Bytef*>(data);
    FStream.avail_in = static_cast<uInt>(part);
    data += part;
    size -= part;
    int flush = finish && size == 0 ? Z_FINISH : Z_NO_FLUSH;
    int rc;
    do {
      FStream.next_out = out.data();
      FStream.avail_out = static_cast<uInt>(out.size());
      rc = deflate(&FStream, flush);
      if (rc == Z_STREAM_ERROR) ThrowZlib("deflate");
      std::size_t produced = out.size() - FStream.avail_out;
      if (produced > 0) sink(out.data(), produced);
    } while (FStream.avail_out == 0 || (flush == Z_FINISH && rc != Z_STREAM_END));
  } while (size > 0);
}

RawInflater::RawInflater() : FOutput(InflateChunk) {
  if (inflateInit2(&FStream, RawWindowBits) != Z_OK) ThrowZlib("inflateInit2");
}

RawInflater::~RawInflater() { inflateEnd(&FStream); }

void RawInflater::Reset() {
  if (inflateReset(&FStream) != Z_OK) ThrowZlib("inflateReset");
  FEnded = false;
}

bool RawInflater::Feed(const std::uint8_t* data, std::size_t size, const ByteSink& sink) {
  std::vector<std::uint8_t>& out = FOutput;
  while (!FEnded && size > 0) {
    std::size_t part = size < MaxFeed ? size : MaxFeed;
    FStream.next_in = const_cast<Bytef*>(data);
    FStream.avail_in = static_cast<uInt>(part);
    do {
      FStream.next_out = out.data();
      FStream.avail_out = static_cast<uInt>(out.size());
      int rc = inflate(&FStream, Z_NO_FLUSH);
      if (rc == Z_NEED_DICT || rc == Z_DATA_ERROR || rc == Z_MEM_ERROR || rc == Z_STREAM_ERROR)
        throw Error("Повреждённые сжатые данные в архиве");
      std::size_t produced = out.size() - FStream.avail_out;
      if (produced > 0) sink(out.data(), produced);
      if (rc == Z_STREAM_END) FEnded = true;
      // Z_BUF_ERROR only says no progress was possible: more input is needed.
      if (rc == Z_BUF_ERROR) break;
    } while (!FEnded && (FStream.avail_in > 0 || FStream.avail_out == 0));
    std::size_t used = part - FStream.avail_in;
    data += used;
    size -= used;
    if (!FEnded && used < part) break;
  }
  return FEnded;
}

}  // namespace volok::archive
