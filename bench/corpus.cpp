// Generates the benchmark corpora from a fixed seed, so every run and every
// machine measures the same bytes.
//
//   bench_corpus mixed <folder> [MiB = 200]   text, incompressible data, a few large
//                                             moderately compressible files, empty
//                                             files, Cyrillic names
//   bench_corpus small <folder> [count = 20000]  files of 1-8 KiB in 100 folders
//   bench_corpus big <file> <MiB>             one moderately compressible file
//   bench_corpus payload <folder> <MiB>       four equal files of incompressible data
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMiB = 1ull << 20;

using Generator = std::mt19937_64;

void AppendWords(std::string& out, std::size_t size, Generator& random) {
  static const char* const words[] = {"installer", "package", "folder",  "value",   "registry", "shortcut",
                                      "archive",   "version", "program", "setup",   "file",     "data",
                                      "Windows",   "options", "Установка", "папка", "файл",     "\r\n"};
  constexpr std::size_t count = sizeof words / sizeof words[0];
  while (out.size() < size) {
    std::uint64_t r = random();
    out += words[r % count];
    out += (r >> 8) % 7 ? ' ' : static_cast<char>('0' + (r >> 16) % 10);
  }
  out.resize(size);
}

void AppendRandom(std::string& out, std::size_t size, Generator& random) {
  std::size_t start = out.size();
  out.resize(start + size);
  for (std::size_t i = start; i < out.size(); i += 8) {
    std::uint64_t r = random();
    std::memcpy(&out[i], &r, std::min<std::size_t>(8, out.size() - i));
  }
}

// Runs of words between runs of random bytes: deflate gets it to roughly
// 60-70 % of its size, like program binaries and resources.
void AppendModerate(std::string& out, std::size_t size, Generator& random) {
  std::string part;
  while (out.size() < size) {
    part.clear();
    AppendWords(part, 32 + random() % 96, random);
    out += part;
    AppendRandom(out, 16 + random() % 48, random);
  }
  out.resize(size);
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// About `total` bytes: a third in many text files of 1 KiB - 1 MiB, a
// quarter incompressible, the rest in five large moderately compressible
// files; empty files and an empty folder; Cyrillic file and folder names.
void MakeMixed(const fs::path& root, std::uint64_t total) {
  Generator random(20261209);
  std::string bytes;
  for (int i = 0; i < 5; ++i) {
    bytes.clear();
    AppendModerate(bytes, total * 40 / 100 / 5, random);
    WriteFile(root / "large" / ("resources" + std::to_string(i) + ".pak"), bytes);
  }
  std::uint64_t made = total * 40 / 100;
  for (int i = 0; made < total; ++i) {
    bool incompressible = i % 4 == 0;
    std::size_t size = 1024 + random() % (incompressible ? 2 * kMiB : kMiB);
    bytes.clear();
    if (incompressible)
      AppendRandom(bytes, size, random);
    else
      AppendWords(bytes, size, random);
    fs::path folder = root / (i % 3 == 0 ? "Документы" : "src") / ("part" + std::to_string(i % 7));
    std::string name = (i % 5 == 0 ? "отчёт " : "file") + std::to_string(i) + (incompressible ? ".bin" : ".txt");
    WriteFile(folder / name, bytes);
    made += size;
  }
  for (int i = 0; i < 5; ++i) WriteFile(root / "empty" / ("пусто" + std::to_string(i) + ".dat"), "");
  fs::create_directories(root / "empty folder");
}

void MakeSmall(const fs::path& root, int count) {
  Generator random(42);
  std::string bytes;
  for (int i = 0; i < count; ++i) {
    bytes.clear();
    std::size_t size = 1024 + random() % (7 * 1024 + 1);
    if (i % 4 == 0)
      AppendRandom(bytes, size, random);
    else
      AppendWords(bytes, size, random);
    WriteFile(root / ("d" + std::to_string(i % 100)) / ("f" + std::to_string(i) + ".txt"), bytes);
  }
}

// One large file written from a 16 MiB pool with a counter stamped into
// every 64 KiB, so no two blocks are alike but generation stays fast.
void MakeBig(const fs::path& file, std::uint64_t size) {
  Generator random(7);
  std::string pool;
  AppendModerate(pool, 16 * kMiB, random);
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary);
  for (std::uint64_t written = 0, block = 0; written < size; ++block) {
    for (std::size_t at = 0; at < pool.size(); at += 64 * 1024)
      std::memcpy(&pool[at], &block, sizeof block), ++block;
    std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(pool.size(), size - written));
    out.write(pool.data(), static_cast<std::streamsize>(part));
    written += part;
  }
  if (!out) throw std::runtime_error("cannot write " + file.string());
}

void MakePayload(const fs::path& root, std::uint64_t total) {
  Generator random(99);
  std::string pool;
  AppendRandom(pool, 16 * kMiB, random);
  for (int i = 0; i < 4; ++i) {
    fs::create_directories(root);
    std::ofstream out(root / ("payload" + std::to_string(i) + ".bin"), std::ios::binary);
    for (std::uint64_t written = 0, block = i * 1000000ull; written < total / 4; ++block) {
      std::memcpy(&pool[0], &block, sizeof block);
      std::size_t part = static_cast<std::size_t>(std::min<std::uint64_t>(pool.size(), total / 4 - written));
      out.write(pool.data(), static_cast<std::streamsize>(part));
      written += part;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: bench_corpus mixed|small|big|payload <path> [size]\n");
    return 2;
  }
  std::string kind = argv[1];
  fs::path path = argv[2];
  std::uint64_t size = argc > 3 ? std::strtoull(argv[3], nullptr, 10) : 0;
  try {
    if (kind == "mixed") {
      MakeMixed(path, (size ? size : 200) * kMiB);
    } else if (kind == "small") {
      MakeSmall(path, size ? static_cast<int>(size) : 20000);
    } else if (kind == "big" && size) {
      MakeBig(path, size * kMiB);
    } else if (kind == "payload" && size) {
      MakePayload(path, size * kMiB);
    } else {
      std::fprintf(stderr, "unknown corpus %s\n", kind.c_str());
      return 2;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
