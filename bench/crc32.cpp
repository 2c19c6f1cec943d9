// FileCrc32 throughput on a cached file beside a byte-at-a-time table loop
// and, where it exists, the system's cksum, all in one run. Figures only.
//   bench_crc32 [file]   (default: a 256 MiB file in the temporary folder)
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/crc32.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t kDefaultSize = 256ull << 20;

double Seconds(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

void Report(const char* what, std::uint64_t bytes, double seconds, std::uint32_t crc) {
  std::printf("%-28s %8.1f MiB/s  %6.3f s  crc %08X\n", what, bytes / 1048576.0 / seconds, seconds, crc);
}

void MakeFile(const fs::path& path, std::uint64_t size) {
  std::vector<char> block(1 << 20);
  std::uint32_t state = 12345;
  std::ofstream out(path, std::ios::binary);
  for (std::uint64_t written = 0; written < size; written += block.size()) {
    for (char& c : block) c = static_cast<char>((state = state * 1103515245u + 12345u) >> 24);
    out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
}

// The classic reflected table loop, one byte per step: the baseline.
std::uint32_t TableLoop(const fs::path& path) {
  std::uint32_t table[256];
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = c & 1 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  std::ifstream in(path, std::ios::binary);
  std::vector<unsigned char> buffer(65536);
  std::uint32_t value = 0xFFFFFFFFu;
  while (in.read(reinterpret_cast<char*>(buffer.data()), static_cast<std::streamsize>(buffer.size())) ||
         in.gcount() > 0) {
    for (std::streamsize i = 0; i < in.gcount(); ++i) value = table[(value ^ buffer[i]) & 0xFF] ^ (value >> 8);
  }
  return value ^ 0xFFFFFFFFu;
}

std::string WindowsPath(const fs::path& native) {
#ifdef _WIN32
  return native.string();
#else
  std::string result = "Z:";
  for (char c : fs::absolute(native).string()) result += c == '/' ? '\\' : c;
  return result;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  fs::path path = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "volok-bench-crc32.bin";
  bool made = argc <= 1 && !fs::exists(path);
  if (made) MakeFile(path, kDefaultSize);
  std::uint64_t size = fs::file_size(path);
  std::uint32_t crc = 0;
  (void)volok::FileCrc32(WindowsPath(path), crc);  // warms the page cache
  std::printf("file %s, %.1f MiB, cached\n", path.string().c_str(), size / 1048576.0);

  Clock::time_point start = Clock::now();
  bool ok = volok::FileCrc32(WindowsPath(path), crc);
  Report(ok ? "FileCrc32 (zlib crc32)" : "FileCrc32 FAILED", size, Seconds(start), crc);

  start = Clock::now();
  std::uint32_t table_crc = TableLoop(path);
  Report("byte-at-a-time table", size, Seconds(start), table_crc);
  if (table_crc != crc) std::printf("MISMATCH between FileCrc32 and the table loop\n");

#ifndef _WIN32
  // cksum computes the POSIX CRC (another polynomial, length appended):
  // a throughput peer, not a value to compare.
  std::string command = "cksum '" + path.string() + "' >/dev/null";
  start = Clock::now();
  if (std::system(command.c_str()) == 0) Report("cksum (POSIX CRC)", size, Seconds(start), 0);
#endif
  if (made) fs::remove(path);
  return table_crc == crc && ok ? 0 : 1;
}
