// Raw DEFLATE streams (RFC 1951, no zlib wrapper) through zlib, fed and
// drained in bounded chunks so that no item is ever held whole in memory.
#pragma once

#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace volok::archive {

// Receives produced bytes; may modify them in place (encryption does).
using ByteSink = std::function<void(std::uint8_t* data, std::size_t size)>;

class RawDeflater final {
 public:
  RawDeflater();  // zlib's default level 6: the normal level of ZIP tools
  ~RawDeflater();
  RawDeflater(const RawDeflater&) = delete;
  RawDeflater& operator=(const RawDeflater&) = delete;

  // Compresses `size` bytes; `finish` on the last call ends the stream.
  void Feed(const std::uint8_t* data, std::size_t size, bool finish, const ByteSink& sink);

 private:
  z_stream FStream{};
};

// One inflater can decode many streams in turn (Reset between them), so
// that thousands of small items cost no allocation each.
class RawInflater final {
 public:
  RawInflater();
  ~RawInflater();
  RawInflater(const RawInflater&) = delete;
  RawInflater& operator=(const RawInflater&) = delete;

  // Starts a new stream, keeping the memory of the previous one.
  void Reset();
  // Decompresses up to `size` bytes; answers true once the stream has ended
  // (later input is not consumed). Hands the output to `sink` in chunks of
  // at most 256 KiB. Throws Error on damaged data.
  bool Feed(const std::uint8_t* data, std::size_t size, const ByteSink& sink);

 private:
  z_stream FStream{};
  bool FEnded = false;
  std::vector<std::uint8_t> FOutput;
};

}  // namespace volok::archive
