// CRC-32 of a (cached) file, timed inside the process so only the reading
// and the checksum count. scripts/bench runs each way several times.
//
//   bench_crc32 filecrc32 <file>   the engine's FileCrc32
//   bench_crc32 zlib <file>        zlib crc32() over 1 MiB reads: the peer
//   bench_crc32 table <file>       the classic byte-at-a-time table loop
//
// Prints "seconds=" and "crc=" (the three must agree).
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench_paths.h"
#include "common/crc32.h"

namespace {

constexpr std::size_t kReadSize = 1 << 20;

using Feed = void (*)(const unsigned char* data, std::size_t size, std::uint32_t& value);

// Reads the file in large blocks through stdio without its own buffering.
bool ReadAll(const std::string& path, Feed feed, std::uint32_t& value) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) return false;
  std::setvbuf(file.get(), nullptr, _IONBF, 0);
  std::vector<unsigned char> buffer(kReadSize);
  std::size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), file.get())) > 0) feed(buffer.data(), got, value);
  return std::ferror(file.get()) == 0;
}

void ZlibFeed(const unsigned char* data, std::size_t size, std::uint32_t& value) {
  value = static_cast<std::uint32_t>(crc32(value, data, static_cast<uInt>(size)));
}

std::uint32_t TableEntry(std::uint32_t n) {
  for (int k = 0; k < 8; ++k) n = n & 1 ? 0xEDB88320u ^ (n >> 1) : n >> 1;
  return n;
}

void TableFeed(const unsigned char* data, std::size_t size, std::uint32_t& value) {
  static const auto table = [] {
    std::vector<std::uint32_t> t(256);
    for (std::uint32_t n = 0; n < 256; ++n) t[n] = TableEntry(n);
    return t;
  }();
  std::uint32_t c = ~value;
  for (std::size_t i = 0; i < size; ++i) c = table[(c ^ data[i]) & 0xFF] ^ (c >> 8);
  value = ~c;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: bench_crc32 filecrc32|zlib|table <file>\n");
    return 2;
  }
  std::string mode = argv[1];
  std::string path = argv[2];
  std::uint32_t crc = 0;
  bool ok = false;
  bench::Clock::time_point start = bench::Clock::now();
  if (mode == "filecrc32") {
    ok = volok::FileCrc32(bench::EnginePath(path), crc);
  } else if (mode == "zlib" || mode == "table") {
    ok = ReadAll(path, mode == "zlib" ? &ZlibFeed : &TableFeed, crc);
  } else {
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
  }
  bench::ReportSeconds(bench::SecondsSince(start));
  std::printf("crc=%08X\n", static_cast<unsigned>(crc));
  return ok ? 0 : 1;
}
