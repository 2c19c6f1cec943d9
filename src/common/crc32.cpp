#include "common/crc32.h"

#include <zlib.h>

#include <memory>
#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

#include "platform/file_system.h"

namespace volok {

namespace {

// Large reads: with zlib's table-free crc32() the per-read system call, not
// the checksum, is what a 64 KiB block spends its time on. Memory stays one
// buffer whatever the file's size.
constexpr std::size_t kBlockSize = 1 << 20;

// zlib's crc32() starts from and ends with an inverted value; the running
// value here is kept un-inverted, so invert on the way in and out.
std::uint32_t ZlibUpdate(const unsigned char* data, std::size_t size, std::uint32_t value) {
  return static_cast<std::uint32_t>(crc32(value ^ 0xFFFFFFFFu, data, static_cast<uInt>(size))) ^ 0xFFFFFFFFu;
}

#if defined(__x86_64__) || defined(__i386__)

// Carry-less multiplication folds 64 bytes at a time into four 128-bit
// lanes, which keeps the multiplier busy; the constants are powers of x
// modulo the polynomial (bit-reflected), for a fold over 512 and 128 bits.
// The folded lanes keep the running value's remainder, so the last 16 bytes
// they leave are finished by the plain routine from a zero value. This runs
// several times faster than zlib's table-free loop, which matters because
// the start-up check hashes the payload in the same read.
#define VOLOK_FOLD_TARGET __attribute__((target("sse2,pclmul")))

VOLOK_FOLD_TARGET inline __m128i load(const unsigned char* at) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// `lane` moved forward by the distance `by` stands for, added to `next`.
VOLOK_FOLD_TARGET inline __m128i fold(__m128i lane, __m128i by, __m128i next) {
  return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(lane, by, 0x00), _mm_clmulepi64_si128(lane, by, 0x11)),
                       next);
}

VOLOK_FOLD_TARGET std::uint32_t FoldedUpdate(const unsigned char* data, std::size_t size, std::uint32_t value) {
  const __m128i by4 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
  const __m128i by1 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
  __m128i x1 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(static_cast<int>(value)));
  __m128i x2 = load(data + 16), x3 = load(data + 32), x4 = load(data + 48);
  data += 64;
  size -= 64;
  for (; size >= 64; data += 64, size -= 64) {
    x1 = fold(x1, by4, load(data));
    x2 = fold(x2, by4, load(data + 16));
    x3 = fold(x3, by4, load(data + 32));
    x4 = fold(x4, by4, load(data + 48));
  }
  x1 = fold(fold(fold(x1, by1, x2), by1, x3), by1, x4);
  for (; size >= 16; data += 16, size -= 16) x1 = fold(x1, by1, load(data));
  alignas(16) unsigned char rest[16];
  _mm_store_si128(reinterpret_cast<__m128i*>(rest), x1);
  return ZlibUpdate(data, size, ZlibUpdate(rest, sizeof rest, 0));
}

bool CanFold() {
  static const bool supported = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
  }();
  return supported;
}

#else

std::uint32_t FoldedUpdate(const unsigned char* data, std::size_t size, std::uint32_t value) {
  return ZlibUpdate(data, size, value);
}
bool CanFold() { return false; }

#endif

}  // namespace

void Crc32Update(const void* buffer, std::uint32_t size, std::uint32_t& value) {
  // zlib answers its initial value for a null buffer, whatever it was given.
  if (size == 0) return;
  const unsigned char* data = static_cast<const unsigned char*>(buffer);
  value = size >= 64 && CanFold() ? FoldedUpdate(data, size, value) : ZlibUpdate(data, size, value);
}

bool StreamCrc32(platform::File& stream, std::uint32_t& result) {
  result = 0xFFFFFFFFu;
  bool outcome = stream.Seek(0).ok();
  std::unique_ptr<unsigned char[]> buffer(new unsigned char[kBlockSize]);
  // The stream ends where a read answers 0 bytes, not at the first short
  // read: a stream that delivers less than asked still gets its whole sum.
  std::size_t done = 0;
  while (outcome && (outcome = stream.Read(buffer.get(), kBlockSize, done).ok()) && done > 0)
    Crc32Update(buffer.get(), static_cast<std::uint32_t>(done), result);
  result ^= 0xFFFFFFFFu;
  return outcome;
}

bool FileCrc32(const std::string& file_name, std::uint32_t& result) {
  result = 0;
  std::unique_ptr<platform::File> file;
  if (!platform::FileSystem::Default()
           .OpenFile(file_name, platform::FileAccess::ReadExisting, platform::FileShare::ReadWrite, file)
           .ok())
    return false;
  return StreamCrc32(*file, result);
}

}  // namespace volok
